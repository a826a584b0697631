#include "tests/support/IconvNameCodec.h"

#include <string>

namespace kvtest {

IconvNameCodec::~IconvNameCodec()
{
    for (const auto& converter : converters_)
        if (converter.second != reinterpret_cast<iconv_t>(-1))
            iconv_close(converter.second);
}

bool IconvNameCodec::Convert(unsigned page, bool toUtf8, const std::string& in, std::string& out) const
{
    std::lock_guard<std::mutex> held(lock_);
    auto found = converters_.find({page, toUtf8});
    if (found == converters_.end()) {
        const std::string name = "CP" + std::to_string(page);
        iconv_t cd = toUtf8 ? iconv_open("UTF-8", name.c_str()) : iconv_open(name.c_str(), "UTF-8");
        found = converters_.emplace(std::make_pair(page, toUtf8), cd).first;
    }
    iconv_t cd = found->second;
    if (cd == reinterpret_cast<iconv_t>(-1))
        return false;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);  // a converter left mid-way by a failure starts afresh
    out.assign(in.size() * 4 + 16, '\0');
    char* inPtr = const_cast<char*>(in.data());
    size_t inLeft = in.size();
    char* outPtr = &out[0];
    size_t outLeft = out.size();
    size_t done = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
    // Pages with combining marks (CP1258) hold the last character back until the end is told.
    if (done != static_cast<size_t>(-1))
        done = iconv(cd, nullptr, nullptr, &outPtr, &outLeft);
    if (done == static_cast<size_t>(-1) || inLeft != 0)
        return false;
    out.resize(out.size() - outLeft);
    return true;
}

bool IconvNameCodec::ToUtf8(unsigned page, const std::string& bytes, std::string& utf8) const
{
    return Convert(page, true, bytes, utf8);
}

bool IconvNameCodec::FromUtf8(unsigned page, const std::string& utf8, std::string& bytes) const
{
    return Convert(page, false, utf8, bytes);
}

}  // namespace kvtest
