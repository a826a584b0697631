#include "unzip32/dll/Win32NameCodec.h"

#include <windows.h>

#include <climits>

namespace unzip {

namespace {

// The page the user's locale names for `type` (LOCALE_IDEFAULTCODEPAGE, the OEM page, or
// LOCALE_IDEFAULTANSICODEPAGE). Not GetOEMCP/GetACP: in a process that runs in the UTF-8 code page
// they answer 65001. A locale that has no legacy page of its own (some answer 0 or 1) gets the US
// one, as Windows itself falls back to.
unsigned LocalePage(LCTYPE type, unsigned fallback)
{
    DWORD page = 0;
    if (::GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, type | LOCALE_RETURN_NUMBER, reinterpret_cast<LPWSTR>(&page),
            sizeof page / sizeof(WCHAR)) == 0)
        return fallback;
    return IsLegacyCodePage(page) ? page : fallback;
}

// Pages that stand for another one (CP_ACP, CP_OEMCP, CP_MACCP, CP_THREAD_ACP) or are not legacy
// pages at all. Checked on every conversion, so without asking the system (IsLegacyCodePage does).
bool Symbolic(unsigned page)
{
    return page <= CP_THREAD_ACP || page == CP_UTF7 || page == CP_UTF8;
}

bool WideToUtf8(const std::wstring& wide, std::string& utf8)
{
    utf8.clear();
    if (wide.empty())
        return true;
    const int length = ::WideCharToMultiByte(
        CP_UTF8, WC_ERR_INVALID_CHARS, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    if (length <= 0)
        return false;
    utf8.resize(static_cast<size_t>(length));
    return ::WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide.data(), static_cast<int>(wide.size()), &utf8[0],
               length, nullptr, nullptr) == length;
}

bool MultiToWide(unsigned page, const std::string& bytes, std::wstring& wide)
{
    wide.clear();
    if (bytes.empty())
        return true;
    if (bytes.size() > INT_MAX)
        return false;
    const int length =
        ::MultiByteToWideChar(page, MB_ERR_INVALID_CHARS, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    if (length <= 0)
        return false;
    wide.resize(static_cast<size_t>(length));
    return ::MultiByteToWideChar(
               page, MB_ERR_INVALID_CHARS, bytes.data(), static_cast<int>(bytes.size()), &wide[0], length) == length;
}

}  // namespace

bool IsLegacyCodePage(unsigned page)
{
    if (Symbolic(page) || !::IsValidCodePage(page))
        return false;
    CPINFO info {};
    return ::GetCPInfo(page, &info) && (info.MaxCharSize == 1 || info.MaxCharSize == 2);
}

Win32NameCodec::Win32NameCodec()
    : oemPage_(LocalePage(LOCALE_IDEFAULTCODEPAGE, 437)), ansiPage_(LocalePage(LOCALE_IDEFAULTANSICODEPAGE, 1252))
{
}

bool Win32NameCodec::ToUtf8(unsigned page, const std::string& bytes, std::string& utf8) const
{
    std::wstring wide;
    return !Symbolic(page) && MultiToWide(page, bytes, wide) && WideToUtf8(wide, utf8);
}

// A character the page has no form for must fail, not turn into '?' or a look-alike: the bytes
// are compared with what a writer stored (a password), so a near miss is a wrong answer. The wide
// copy of the text is wiped, as the caller wipes its own forms of a password.
bool Win32NameCodec::FromUtf8(unsigned page, const std::string& utf8, std::string& bytes) const
{
    std::wstring wide;
    if (Symbolic(page) || !MultiToWide(CP_UTF8, utf8, wide))
        return false;
    bytes.clear();
    if (wide.empty())
        return true;
    BOOL defaulted = FALSE;
    const int count = static_cast<int>(wide.size());
    int length = ::WideCharToMultiByte(page, WC_NO_BEST_FIT_CHARS, wide.data(), count, nullptr, 0, nullptr, &defaulted);
    if (length > 0 && !defaulted) {
        bytes.resize(static_cast<size_t>(length));
        if (::WideCharToMultiByte(page, WC_NO_BEST_FIT_CHARS, wide.data(), count, &bytes[0], length, nullptr,
                &defaulted) != length)
            length = 0;
    }
    ::SecureZeroMemory(&wide[0], wide.size() * sizeof(wchar_t));
    if (length > 0 && !defaulted)
        return true;
    if (!bytes.empty())
        ::SecureZeroMemory(&bytes[0], bytes.size());
    bytes.clear();
    return false;
}

}  // namespace unzip
