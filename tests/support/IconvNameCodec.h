#pragma once
#include "unzip32/core/NameCodec.h"

#include <iconv.h>

#include <map>
#include <mutex>
#include <string>
#include <utility>

namespace kvtest {

// The native tests' and the fuzzer's NameCodec: glibc's iconv tables under the Windows page numbers
// ("CP866", ...), with the user's pages given (a US system by default). Converters are opened once
// per direction and page and kept: opening one costs far more than a name's conversion.
class IconvNameCodec : public unzip::NameCodec {
public:
    explicit IconvNameCodec(unsigned oemPage = 437, unsigned ansiPage = 1252) : oem_(oemPage), ansi_(ansiPage) {}
    IconvNameCodec(const IconvNameCodec&) = delete;
    IconvNameCodec& operator=(const IconvNameCodec&) = delete;
    ~IconvNameCodec() override;
    unsigned OemPage() const override { return oem_; }
    unsigned AnsiPage() const override { return ansi_; }
    bool ToUtf8(unsigned page, const std::string& bytes, std::string& utf8) const override;
    bool FromUtf8(unsigned page, const std::string& utf8, std::string& bytes) const override;

private:
    bool Convert(unsigned page, bool toUtf8, const std::string& in, std::string& out) const;

    unsigned oem_;
    unsigned ansi_;
    mutable std::mutex lock_;
    mutable std::map<std::pair<unsigned, bool>, iconv_t> converters_;
};

}  // namespace kvtest
