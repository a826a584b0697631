#include "unzip32/dll/ZoneMark.h"

#include "unzip32/dll/Win32Host.h"

#include <cstdlib>
#include <cstring>

namespace unzip {

namespace {

// On NTFS a file's stream is named after the file; under Wine the same name is a file of its own
// beside it, which the same name reads and writes back.
const wchar_t kStreamSuffix[] = L":Zone.Identifier";
// A mark is a few lines; anything past this is not read.
const DWORD kLongestMark = 65536;

std::string Trimmed(const std::string& text)
{
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return std::string();
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

bool SameNoCase(const std::string& text, const char* name)
{
    if (text.size() != std::strlen(name))
        return false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char a = text[i] >= 'a' && text[i] <= 'z' ? static_cast<char>(text[i] - 'a' + 'A') : text[i];
        const char b = name[i] >= 'a' && name[i] <= 'z' ? static_cast<char>(name[i] - 'a' + 'A') : name[i];
        if (a != b)
            return false;
    }
    return true;
}

// The stream's text in the ANSI code page: Windows writes it in that page, other writers in UTF-8
// or UTF-16 with a byte-order mark.
std::string AsAnsi(const std::string& bytes)
{
    if (bytes.size() >= 2 && static_cast<uint8_t>(bytes[0]) == 0xFF && static_cast<uint8_t>(bytes[1]) == 0xFE) {
        std::wstring wide((bytes.size() - 2) / 2, L'\0');
        if (!wide.empty())
            std::memcpy(&wide[0], bytes.data() + 2, wide.size() * sizeof(wchar_t));
        return WideToAnsi(wide);
    }
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0)
        return WideToAnsi(Utf8ToWide(bytes.substr(3)));
    return bytes;
}

// The [ZoneTransfer] section's ZoneId and HostUrl, read as the profile functions read an INI text:
// section and value names in any case, blanks around them and around values dropped, the first of
// a name counting. False without a ZoneId of digits.
bool ParseZoneTransfer(const std::string& text, unsigned long& zone, std::string& hostUrl)
{
    bool inSection = false;
    bool haveZone = false;
    bool haveHost = false;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find_first_of("\r\n", start);
        if (end == std::string::npos)
            end = text.size();
        const std::string line = Trimmed(text.substr(start, end - start));
        start = end + 1;
        if (!line.empty() && line[0] == '[') {
            const size_t close = line.find(']');
            inSection = close != std::string::npos && SameNoCase(Trimmed(line.substr(1, close - 1)), "ZoneTransfer");
            continue;
        }
        const size_t equals = line.find('=');
        if (!inSection || equals == std::string::npos)
            continue;
        const std::string name = Trimmed(line.substr(0, equals));
        const std::string value = Trimmed(line.substr(equals + 1));
        if (!haveZone && SameNoCase(name, "ZoneId")) {
            if (value.empty() || value.size() > 9 || value.find_first_not_of("0123456789") != std::string::npos)
                return false;
            zone = std::strtoul(value.c_str(), nullptr, 10);
            haveZone = true;
        } else if (!haveHost && SameNoCase(name, "HostUrl")) {
            hostUrl = value;
            haveHost = true;
        }
    }
    return haveZone;
}

// Errors of a file system without streams (FAT, exFAT, some network shares): the colon of the
// stream's name is refused as part of a file name, or streams are refused outright.
bool NoStreams(DWORD error)
{
    return error == ERROR_INVALID_NAME || error == ERROR_INVALID_PARAMETER || error == ERROR_NOT_SUPPORTED ||
        error == ERROR_INVALID_FUNCTION;
}

}  // namespace

void ZoneMark::Read(const std::wstring& marked, const std::wstring& referrer)
{
    text_.clear();
    HANDLE file = ::CreateFileW(LongForm(marked + kStreamSuffix).c_str(), GENERIC_READ,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    std::string bytes(kLongestMark, '\0');
    DWORD got = 0;
    const bool read = ::ReadFile(file, &bytes[0], kLongestMark, &got, nullptr) != 0;
    ::CloseHandle(file);
    if (!read)
        return;
    bytes.resize(got);
    unsigned long zone = 0;
    std::string hostUrl;
    // Zones 0 to 2 (this computer, the intranet, trusted sites) are not carried, as by Explorer.
    if (!ParseZoneTransfer(AsAnsi(bytes), zone, hostUrl) || (zone != 3 && zone != 4))
        return;
    text_ = "[ZoneTransfer]\r\nZoneId=" + std::to_string(zone) + "\r\nReferrerUrl=" + WideToAnsi(referrer) + "\r\n";
    if (!hostUrl.empty())
        text_ += "HostUrl=" + hostUrl + "\r\n";
}

// A mark that could not be written whole is removed again: a cut one would mean nothing.
void ZoneMark::Put(const std::wstring& path, const std::wstring& shown)
{
    if (text_.empty())
        return;
    const std::wstring stream = LongForm(path + kStreamSuffix);
    DWORD error = ERROR_SUCCESS;
    HANDLE file = ::CreateFileW(stream.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = ::GetLastError();
    } else {
        DWORD written = 0;
        if (!::WriteFile(file, text_.data(), static_cast<DWORD>(text_.size()), &written, nullptr) ||
            written != text_.size())
            error = ::GetLastError() != ERROR_SUCCESS ? ::GetLastError() : ERROR_WRITE_FAULT;
        if (!::CloseHandle(file) && error == ERROR_SUCCESS)
            error = ::GetLastError();
        if (error != ERROR_SUCCESS)
            ::DeleteFileW(stream.c_str());
    }
    if (error == ERROR_SUCCESS)
        return;
    Win32LockHeld held(lock_);
    failed_.emplace_back(shown, error);
    ++failures_;
}

std::vector<std::string> ZoneMark::TakeFailures()
{
    std::vector<std::pair<std::wstring, DWORD>> failed;
    {
        Win32LockHeld held(lock_);
        failed.swap(failed_);
    }
    std::vector<std::string> lines;
    for (const auto& file : failed)
        lines.push_back("not marked: " + WideToAnsi(file.first) +
            (NoStreams(file.second) ? " (the drive cannot keep the mark of the web)\n"
                                    : " (its mark of the web could not be written)\n"));
    return lines;
}

}  // namespace unzip
