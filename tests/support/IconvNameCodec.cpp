#include "tests/support/IconvNameCodec.h"

#include <cerrno>
#include <iconv.h>
#include <string>

namespace kvtest {
namespace {

bool Convert(const char* to, const char* from, const std::string& in, std::string& out)
{
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return false;
    out.assign(in.size() * 4 + 16, '\0');
    char* inPtr = const_cast<char*>(in.data());
    size_t inLeft = in.size();
    char* outPtr = &out[0];
    size_t outLeft = out.size();
    size_t done = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
    // Pages with combining marks (CP1258) hold the last character back until the end is told.
    if (done != static_cast<size_t>(-1))
        done = iconv(cd, nullptr, nullptr, &outPtr, &outLeft);
    iconv_close(cd);
    if (done == static_cast<size_t>(-1) || inLeft != 0)
        return false;
    out.resize(out.size() - outLeft);
    return true;
}

std::string PageName(unsigned page) { return "CP" + std::to_string(page); }

}  // namespace

bool IconvNameCodec::ToUtf8(unsigned page, const std::string& bytes, std::string& utf8) const
{
    return Convert("UTF-8", PageName(page).c_str(), bytes, utf8);
}

bool IconvNameCodec::FromUtf8(unsigned page, const std::string& utf8, std::string& bytes) const
{
    return Convert(PageName(page).c_str(), "UTF-8", utf8, bytes);
}

}  // namespace kvtest
