#include "app/RecycleBin.h"

#include "framework/FileSystem.h"

#include <shellapi.h>

#include <algorithm>
#include <set>

namespace app {

namespace {

bool IsFile(const std::string& path)
{
    const DWORD attributes = fw::FileAttributes(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool AllDigits(const std::string& text)
{
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Only A to Z are folded: multibyte text must not be touched by a locale's idea of case.
char LowerAscii(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EndsWithNoCase(const std::string& text, const std::string& ending)
{
    if (text.size() < ending.size())
        return false;
    for (size_t i = 0; i < ending.size(); ++i) {
        if (LowerAscii(text[text.size() - ending.size() + i]) != ending[i])
            return false;
    }
    return true;
}

std::string Padded(unsigned number, size_t width)
{
    std::string digits = std::to_string(number);
    return digits.size() < width ? std::string(width - digits.size(), '0') + digits : digits;
}

// Adds name(1), name(2), ... for as long as each is there; false when name(1) was not.
template <typename Name> bool AddWhileThere(std::vector<std::string>& files, Name name, unsigned last = 100000)
{
    const size_t before = files.size();
    for (unsigned number = 1; number <= last; ++number) {
        std::string path = name(number);
        if (!IsFile(path))
            break;
        files.push_back(std::move(path));
    }
    return files.size() > before;
}

// The path as the shell takes it: absolute, UTF-16, no \\?\ form (SHFileOperation knows none);
// empty when it cannot be given so. Only a fully qualified name is recycled: for any other the shell
// would ignore FOF_ALLOWUNDO and delete.
std::wstring ShellPath(const std::string& path)
{
    const int length = ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, path.c_str(), -1, nullptr, 0);
    if (length <= 1)
        return std::wstring();
    std::wstring wide(static_cast<size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, path.c_str(), -1, &wide[0], length);
    wide.resize(static_cast<size_t>(length - 1));
    wchar_t full[MAX_PATH];
    const DWORD fullLength = ::GetFullPathNameW(wide.c_str(), MAX_PATH, full, nullptr);
    if (fullLength == 0 || fullLength >= MAX_PATH)
        return std::wstring();
    return full;
}

// The key two spellings of one path share: Windows compares names without regard to case.
std::wstring FoldedPath(std::wstring path)
{
    if (!path.empty())
        ::CharUpperBuffW(&path[0], static_cast<DWORD>(path.size()));
    return path;
}

}  // namespace

std::vector<std::string> ArchiveVolumes(const std::string& archive)
{
    std::vector<std::string> files;
    const size_t slash = archive.find_last_of("\\/:");
    const std::string folder = slash == std::string::npos ? std::string() : archive.substr(0, slash + 1);
    const std::string name = archive.substr(folder.size());
    const size_t dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0 && dot + 1 < name.size()) {
        const std::string stem = folder + name.substr(0, dot);
        const std::string extension = name.substr(dot + 1);
        // The letters of .r00 and .z01 follow the case of the named file's extension.
        const bool upper = extension[0] >= 'A' && extension[0] <= 'Z';
        if (AllDigits(extension) && extension.size() >= 3) {
            // A splitter's pieces: name.001, name.002, ...
            if (AddWhileThere(files, [&](unsigned n) { return stem + "." + Padded(n, extension.size()); }))
                return files;
        } else if (EndsWithNoCase(name, ".rar")) {
            const std::string bare = name.substr(0, dot);
            const size_t part = bare.find_last_of('.');
            const std::string number = part == std::string::npos ? std::string() : bare.substr(part + 1);
            if (number.size() > 4 && EndsWithNoCase(number.substr(0, 4), "part") && AllDigits(number.substr(4))) {
                // name.part1.rar, name.part2.rar, ... (the first's digits give the width).
                const std::string prefix = folder + bare.substr(0, part + 5);
                const std::string suffix = name.substr(dot);
                if (AddWhileThere(files, [&](unsigned n) { return prefix + Padded(n, number.size() - 4) + suffix; }))
                    return files;
            } else if (IsFile(stem + (upper ? ".R00" : ".r00")) && IsFile(archive)) {
                // name.rar, then name.r00 to .r99, .s00 ...
                files.push_back(archive);
                AddWhileThere(
                    files,
                    [&](unsigned n) {
                        const unsigned index = n - 1;
                        const char letter = static_cast<char>((upper ? 'R' : 'r') + index / 100);
                        return stem + "." + letter + Padded(index % 100, 2);
                    },
                    900);
                return files;
            }
        } else if (EndsWithNoCase(name, ".zip") && IsFile(stem + (upper ? ".Z01" : ".z01")) && IsFile(archive)) {
            // name.z01, name.z02, ..., and name.zip as the last volume.
            AddWhileThere(files, [&](unsigned n) { return stem + "." + (upper ? 'Z' : 'z') + Padded(n, 2); });
            files.push_back(archive);
            return files;
        }
    }
    if (IsFile(archive))
        files.push_back(archive);
    return files;
}

bool HasRecycleBin(const std::string& path)
{
    const char drive = LowerAscii(path.empty() ? '\0' : path[0]);
    if (path.size() < 3 || drive < 'a' || drive > 'z' || path[1] != ':' || (path[2] != '\\' && path[2] != '/'))
        return false;
    const char root[] = {path[0], ':', '\\', '\0'};
    return ::GetDriveTypeA(root) == DRIVE_FIXED;
}

std::vector<bool> RecycleArchives(HWND owner, const std::vector<std::vector<std::string>>& archives)
{
    std::vector<bool> handed(archives.size(), false);
    std::set<std::wstring> listed;
    std::wstring list;
    for (size_t i = 0; i < archives.size(); ++i) {
        const std::vector<std::string>& files = archives[i];
        std::vector<std::wstring> paths;
        for (const std::string& file : files) {
            std::wstring path = HasRecycleBin(file) ? ShellPath(file) : std::wstring();
            if (path.empty())
                break;
            paths.push_back(std::move(path));
        }
        // An archive goes as a whole or not at all.
        if (files.empty() || paths.size() != files.size())
            continue;
        handed[i] = true;
        for (std::wstring& path : paths) {
            // The shell fails the whole request when a name in it is not there (any more): each once.
            if (listed.insert(FoldedPath(path)).second) {
                list += path;
                list += L'\0';
            }
        }
    }
    if (!listed.empty()) {
        list += L'\0';
        SHFILEOPSTRUCTW request {};
        request.hwnd = owner;
        request.wFunc = FO_DELETE;
        request.pFrom = list.c_str();
        // FOF_WANTNUKEWARNING: where the bin cannot take a file after all, the shell asks before it
        // deletes for good (without it, FOF_NOCONFIRMATION lets the shell delete in silence).
        request.fFlags = FOF_ALLOWUNDO | FOF_NOCONFIRMATION | FOF_NOERRORUI | FOF_SILENT | FOF_WANTNUKEWARNING;
        ::SHFileOperationW(&request);
    }
    // What the shell did is read off the disk: a file that is gone went to the bin.
    std::vector<bool> moved(archives.size(), false);
    for (size_t i = 0; i < archives.size(); ++i) {
        moved[i] = handed[i] && std::none_of(archives[i].begin(), archives[i].end(), [](const std::string& file) {
            return fw::FileAttributes(file) != INVALID_FILE_ATTRIBUTES;
        });
    }
    return moved;
}

}  // namespace app
