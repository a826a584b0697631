#pragma once
#include <string>

namespace fw {

// The programs keep their text in the ANSI code page; these convert at the platform interfaces
// that want UTF-16 (shell, COM, URL monikers). Text that does not convert gives an empty string.
std::wstring Widen(const std::string& text);
// Characters the code page lacks become look-alikes or its default character ('?'): for text that
// is shown, and for paths with no better form to take (the program's own file, a shell folder).
std::string Narrow(const wchar_t* text);
inline std::string Narrow(const std::wstring& text)
{
    return Narrow(text.c_str());
}
// The text in the ANSI code page character for character; false (and `ansi` empty) when a character
// has no place in it. A look-alike would make a name that names another file.
bool NarrowExact(const std::wstring& text, std::string& ansi);

// Copies as much of `text` as fits a buffer of `size` units, terminator included, without cutting
// a character in two (a multibyte sequence of the code page, a UTF-16 surrogate pair).
void CopyCut(const std::string& text, char* buffer, int size);
void CopyCut(const std::string& text, wchar_t* buffer, int size);

// Without leading and trailing blanks (space, tab, line ends, vertical tab, form feed).
std::string Trimmed(const std::string& text);

}  // namespace fw
