#pragma once
#include <string>

namespace fw {

// The programs keep their text in the ANSI code page; these convert at the platform interfaces
// that want UTF-16 (shell, COM, URL monikers). Text that does not convert gives an empty string.
std::wstring Widen(const std::string& text);
std::string Narrow(const wchar_t* text);
inline std::string Narrow(const std::wstring& text)
{
    return Narrow(text.c_str());
}

// Copies as much of `text` as fits a buffer of `size` units, terminator included, without cutting
// a character in two (a multibyte sequence of the code page, a UTF-16 surrogate pair).
void CopyCut(const std::string& text, char* buffer, int size);
void CopyCut(const std::string& text, wchar_t* buffer, int size);

// Without leading and trailing blanks (space, tab, line ends, vertical tab, form feed).
std::string Trimmed(const std::string& text);

}  // namespace fw
