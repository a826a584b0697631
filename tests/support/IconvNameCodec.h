#pragma once
#include "unzip32/core/NameCodec.h"

namespace kvtest {

// The native tests' NameCodec: glibc's iconv tables under the Windows page numbers ("CP866", ...),
// with the user's pages given (a US system by default).
class IconvNameCodec : public unzip::NameCodec {
public:
    explicit IconvNameCodec(unsigned oemPage = 437, unsigned ansiPage = 1252) : oem_(oemPage), ansi_(ansiPage) {}
    unsigned OemPage() const override { return oem_; }
    unsigned AnsiPage() const override { return ansi_; }
    bool ToUtf8(unsigned page, const std::string& bytes, std::string& utf8) const override;
    bool FromUtf8(unsigned page, const std::string& utf8, std::string& bytes) const override;

private:
    unsigned oem_;
    unsigned ansi_;
};

}  // namespace kvtest
