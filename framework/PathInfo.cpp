#include "framework/PathInfo.h"

#include "framework/FileSystem.h"
#include "framework/Text.h"

#include <cstring>
#include <ctime>
#include <string>

namespace fw {

namespace {

const char kDefaultDateFormat[] = "%B %d, %Y";
// 100-nanosecond intervals from 1 January 1601 (FILETIME) to 1 January 1970 (C calendar time).
const unsigned long long kUnixEpochAsFileTime = 116444736000000000ULL;

// The kinds read whole by their extension, a compound one before the ending it shares (.tar.gz before
// .gz). ZIP has its own rule (ZipSuffixLength).
const char* const kArchiveExtensions[] = {".tar.gz", ".tar.bz2", ".tar.xz", ".tar.zst", ".7z", ".rar", ".tar", ".tgz",
    ".tbz2", ".tbz", ".txz", ".tzst", ".gz", ".bz2", ".xz", ".zst", ".lzma", ".cab", ".iso"};

bool EndsWithAt(const std::string& text, size_t end, const char* suffix)
{
    const size_t length = std::strlen(suffix);
    return end >= length && text.compare(end - length, length, suffix) == 0;
}

// ZIP's rule: the last extension before `end` starts with ".zip" (.zip, .zipx).
size_t ZipSuffixLength(const std::string& lower, size_t end)
{
    if (end == 0)
        return 0;
    const size_t dot = lower.rfind('.', end - 1);
    if (dot == std::string::npos || lower.compare(dot, 4, ".zip") != 0 || dot + 4 > end)
        return 0;
    return end - dot;
}

// The length of one kind's suffix ending at `end` of the lower-cased name, a RAR set's ".partN"
// included; 0 for none and for a RAR part other than the first. A dot is never the second byte of a
// double-byte character, so a suffix matched from its dot is whole characters.
size_t KindSuffixLength(const std::string& lower, size_t end)
{
    if (size_t zip = ZipSuffixLength(lower, end))
        return zip;
    for (const char* extension : kArchiveExtensions) {
        if (!EndsWithAt(lower, end, extension))
            continue;
        size_t length = std::strlen(extension);
        if (std::strcmp(extension, ".rar") != 0)
            return length;
        size_t digits = end - length;
        while (digits > 0 && lower[digits - 1] >= '0' && lower[digits - 1] <= '9')
            --digits;
        if (digits == end - length || !EndsWithAt(lower, digits, ".part"))
            return length;  // a whole archive, or the first file of an old-style set (.rar, .r00, ...)
        const std::string number = lower.substr(digits, end - length - digits);
        if (number.find_first_not_of('0') != number.size() - 1 || number.back() != '1')
            return 0;  // .part2.rar and later
        return end - (digits - 5);
    }
    return 0;
}

bool FindFirstMatch(const std::string& path, WIN32_FIND_DATAA& data)
{
    HANDLE find = fw::FindFirst(path, data);
    if (find == INVALID_HANDLE_VALUE)
        return false;
    ::FindClose(find);
    return true;
}

}  // namespace

PathInfo::PathInfo() : PathInfo(std::string()) { }

PathInfo::PathInfo(const std::string& text) : path(text), findData_(), hasFindData_(false) { }

PathInfo::PathInfo(const std::string& text, const WIN32_FIND_DATAA& found)
    : path(text), findData_(found), hasFindData_(true)
{
}

PathInfo::~PathInfo() = default;

std::string PathInfo::SetPath(const std::string& text)
{
    path = text;
    hasFindData_ = false;
    return path;
}

// The first match of a file search for the path, or the data the path was made with.
const WIN32_FIND_DATAA* PathInfo::FoundData(WIN32_FIND_DATAA& lookup) const
{
    if (hasFindData_)
        return &findData_;
    return FindFirstMatch(path, lookup) ? &lookup : nullptr;
}

// The C runtime's rules: a drive is the first two characters when the second is a colon; the folder
// part runs to the last backslash or slash; the name ends at the last dot of what remains.
void PathInfo::Split()
{
    const char* text = path.c_str();
    const char* rest = text;
    if (path.size() >= 2 && text[1] == ':')
        rest = text + 2;
    const char* nameStart = rest;
    const char* dot = nullptr;
    for (const char* c = rest; *c != '\0'; c = ::CharNextA(c)) {
        if (*c == '\\' || *c == '/') {
            nameStart = c + 1;
            dot = nullptr;
        } else if (*c == '.') {
            dot = c;
        }
    }
    const char* end = text + path.size();
    if (dot == nullptr)
        dot = end;
    drive.assign(text, rest);
    dir.assign(rest, nameStart);
    name.assign(nameStart, dot);
    ext.assign(dot, end);
}

std::string PathInfo::FileName()
{
    Split();
    return name + ext;
}

std::string PathInfo::Title()
{
    Split();
    return name;
}

std::string PathInfo::Extension()
{
    Split();
    // Only A to Z: multibyte text must not be touched by a locale's idea of case.
    for (char& c : ext) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return ext;
}

std::string PathInfo::Folder()
{
    Split();
    return drive + dir;
}

bool PathInfo::IsFolder()
{
    Split();
    // A path ending in a backslash, and a listing's "." and "..", have no name part to be a folder.
    if (name.empty() || name == "." || name == "..")
        return false;
    std::string query = WithBackslash(fw::Trimmed(path));
    if (query.size() <= 4)
        return false;
    // An enumerated entry already carries its attributes.
    if (hasFindData_)
        return (findData_.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    // With the trailing backslash the query fails for anything but a folder; the failure value is -1.
    LONG attributes = static_cast<LONG>(fw::FileAttributes(query));
    return attributes >= static_cast<LONG>(FILE_ATTRIBUTE_DIRECTORY);
}

bool PathInfo::IsRoot() const
{
    return path.size() <= 4;
}

bool PathInfo::IsZipArchive()
{
    return Extension().find(".zip") != std::string::npos;
}

bool PathInfo::IsArchive()
{
    return ArchiveSuffixLength(FileName()) != 0;
}

std::string PathInfo::ArchiveTitle()
{
    const std::string fileName = FileName();
    const size_t suffix = ArchiveSuffixLength(fileName);
    return suffix == 0 ? name : fileName.substr(0, fileName.size() - suffix);
}

std::string PathInfo::SizeText() const
{
    WIN32_FIND_DATAA lookup;
    const WIN32_FIND_DATAA* data = FoundData(lookup);
    if (data == nullptr)
        return "0";
    return std::to_string(static_cast<unsigned long>(data->nFileSizeLow));
}

// Uses the runtime's 64-bit calendar time, so dates after January 2038 show; times before 1970 or
// beyond what the runtime's local-time conversion accepts give empty text.
std::string PathInfo::DateText(int which, const char* format) const
{
    WIN32_FIND_DATAA lookup;
    const WIN32_FIND_DATAA* data = FoundData(lookup);
    if (data == nullptr)
        return std::string();
    const FILETIME* time = &data->ftCreationTime;
    if (which == 1)
        time = &data->ftLastWriteTime;
    else if (which == 2)
        time = &data->ftLastAccessTime;

    unsigned long long ticks = (static_cast<unsigned long long>(time->dwHighDateTime) << 32) | time->dwLowDateTime;
    if (ticks < kUnixEpochAsFileTime)
        return std::string();
    __time64_t seconds = static_cast<__time64_t>((ticks - kUnixEpochAsFileTime) / 10000000ULL);
    struct tm local { };
    if (_localtime64_s(&local, &seconds) != 0)
        return std::string();
    char buffer[128];
    size_t length = std::strftime(buffer, sizeof buffer, format != nullptr ? format : kDefaultDateFormat, &local);
    if (length == 0)
        return std::string();
    return std::string(buffer, length);
}

size_t ArchiveSuffixLength(const std::string& name)
{
    // Only A to Z: multibyte text must not be touched by a locale's idea of case.
    std::string lower = name;
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    // A set cut by a file splitter: its first piece, after the name of a kind (.7z.001, .zip.001).
    if (EndsWithAt(lower, lower.size(), ".001")) {
        const size_t kind = KindSuffixLength(lower, lower.size() - 4);
        return kind == 0 ? 0 : kind + 4;
    }
    return KindSuffixLength(lower, lower.size());
}

std::string WithBackslash(const std::string& folder)
{
    if (folder.empty() || folder.back() != '\\')
        return folder + '\\';
    return folder;
}

}  // namespace fw
