#pragma once
#include <string>

namespace unzip {

// Legacy names (no UTF-8 flag, no valid Unicode path extra) are bytes in some code page. The codec
// turns them into UTF-8 with the platform's own tables: MultiByteToWideChar in the library, iconv
// in the native tests. Its calls may come from any thread.
class NameCodec {
public:
    virtual ~NameCodec() = default;
    // The OEM and ANSI code pages of the user's locale (437 and 1252 on a US system), as the locale
    // names them, whatever the process's active code page is.
    virtual unsigned OemPage() const = 0;
    virtual unsigned AnsiPage() const = 0;
    // The UTF-8 form of `bytes` read in `page`; false (and `utf8` unspecified) when some byte or
    // sequence has no character there, or the page is not known.
    virtual bool ToUtf8(unsigned page, const std::string& bytes, std::string& utf8) const = 0;
    // `utf8` written in `page`; false when a character has no form there.
    virtual bool FromUtf8(unsigned page, const std::string& utf8, std::string& bytes) const = 0;
};

// Which code page legacy names are read in (ExtractOptions::namePage): these two choices, or a
// code page number.
constexpr unsigned kNamePageAutomatic = 0;  // the page that makes the archive's names most plausible
constexpr unsigned kNamePageAsWindows = 1;  // the OEM page of the user's locale, as Explorer does

}  // namespace unzip
