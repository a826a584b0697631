#include "unzip32/dll/Win32Volumes.h"

#include <cwctype>

namespace unzip {

namespace {

bool AllDigits(const std::wstring& text)
{
    if (text.empty())
        return false;
    for (wchar_t c : text) {
        if (c < L'0' || c > L'9')
            return false;
    }
    return true;
}

bool EndsWithNoCase(const std::wstring& text, const std::wstring& ending)
{
    if (text.size() < ending.size())
        return false;
    for (size_t i = 0; i < ending.size(); ++i) {
        if (std::towlower(text[text.size() - ending.size() + i]) != ending[i])
            return false;
    }
    return true;
}

bool FileExists(const std::wstring& path)
{
    const DWORD attributes = ::GetFileAttributesW(LongForm(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::wstring Padded(unsigned number, size_t width)
{
    std::wstring digits = std::to_wstring(number);
    return digits.size() < width ? std::wstring(width - digits.size(), L'0') + digits : digits;
}

}  // namespace

Win32Volumes::Win32Volumes(
    VolumeNaming naming, std::wstring folder, std::wstring stem, std::wstring suffix, size_t width)
    : naming_(naming), folder_(std::move(folder)), stem_(std::move(stem)), suffix_(std::move(suffix)), width_(width)
{
}

std::unique_ptr<Win32Volumes> Win32Volumes::ForArchive(const std::wstring& archive)
{
    const size_t slash = archive.find_last_of(L"\\/:");
    const std::wstring folder = slash == std::wstring::npos ? std::wstring() : archive.substr(0, slash + 1);
    const std::wstring name = archive.substr(folder.size());
    const size_t dot = name.find_last_of(L'.');
    if (dot == std::wstring::npos || dot == 0)
        return nullptr;
    const std::wstring stem = name.substr(0, dot);
    const std::wstring extension = name.substr(dot + 1);
    std::unique_ptr<Win32Volumes> set;
    // Splitters number from .001; a longer number (name.2024) is a set only with its first beside it.
    if (AllDigits(extension) && extension.size() >= 3 &&
        (extension.size() == 3 || FileExists(folder + stem + L"." + Padded(1, extension.size())))) {
        set.reset(new Win32Volumes(VolumeNaming::Numbered, folder, stem, L"", extension.size()));
    } else if (EndsWithNoCase(name, L".rar")) {
        // name.part1.rar: the digits after the last ".part".
        const size_t part = stem.size() >= 5 ? stem.find_last_of(L'.') : std::wstring::npos;
        const std::wstring number = part == std::wstring::npos ? std::wstring() : stem.substr(part + 1);
        if (number.size() > 4 && EndsWithNoCase(number.substr(0, 4), L"part") && AllDigits(number.substr(4))) {
            set.reset(new Win32Volumes(
                VolumeNaming::RarParts, folder, stem.substr(0, part + 5), name.substr(dot), number.size() - 4));
        } else if (FileExists(folder + stem + L".r00")) {
            set.reset(new Win32Volumes(VolumeNaming::RarOld, folder, stem, extension, 2));
        }
    } else if (EndsWithNoCase(name, L".zip") && FileExists(folder + stem + L".z01")) {
        set.reset(new Win32Volumes(VolumeNaming::ZipSpanned, folder, stem, extension, 2));
    }
    return set;
}

std::wstring Win32Volumes::FileName(unsigned number) const
{
    // The letters of RarOld's and ZipSpanned's extensions follow the case of the named file's.
    const bool upper = !suffix_.empty() && std::iswupper(suffix_[0]);
    switch (naming_) {
    case VolumeNaming::Numbered: return stem_ + L"." + Padded(number, width_);
    case VolumeNaming::RarParts: return stem_ + Padded(number, width_) + suffix_;
    case VolumeNaming::RarOld: {
        if (number <= 1)
            return stem_ + L"." + suffix_;
        // .r00 to .r99, then .s00 ...
        const unsigned index = number - 2;
        const wchar_t letter = static_cast<wchar_t>((upper ? L'R' : L'r') + index / 100);
        return stem_ + L"." + letter + Padded(index % 100, 2);
    }
    case VolumeNaming::ZipSpanned: return stem_ + L"." + (upper ? L'Z' : L'z') + Padded(number, 2);
    }
    return std::wstring();
}

Source* Win32Volumes::Volume(unsigned number)
{
    if (number == 0)
        return nullptr;
    auto known = opened_.find(number);
    if (known != opened_.end())
        return known->second.get();
    auto volume = std::make_unique<Win32Source>();
    if (!volume->Open(LongForm(folder_ + FileName(number))))
        volume.reset();
    Source* source = volume.get();
    opened_[number] = std::move(volume);
    return source;
}

std::string Win32Volumes::VolumeName(unsigned number) const
{
    return WideToAnsi(FileName(number));
}

}  // namespace unzip
