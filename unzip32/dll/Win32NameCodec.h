#pragma once
#include "unzip32/core/NameCodec.h"

namespace unzip {

// Legacy names through Windows' own code page tables (MultiByteToWideChar, WideCharToMultiByte).
// The locale's pages are asked for once, when the object is made; every call after that only
// converts, so any thread may call it.
class Win32NameCodec : public NameCodec {
public:
    Win32NameCodec();
    unsigned OemPage() const override { return oemPage_; }
    unsigned AnsiPage() const override { return ansiPage_; }
    bool ToUtf8(unsigned page, const std::string& bytes, std::string& utf8) const override;
    bool FromUtf8(unsigned page, const std::string& utf8, std::string& bytes) const override;

private:
    unsigned oemPage_;
    unsigned ansiPage_;
};

// Whether `page` is a legacy code page this system converts: one or two bytes per character
// (not UTF-8, UTF-7, UTF-16 or GB18030, not one of the symbolic pages such as CP_ACP).
bool IsLegacyCodePage(unsigned page);

}  // namespace unzip
