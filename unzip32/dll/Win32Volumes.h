#pragma once
#include "unzip32/core/Volumes.h"
#include "unzip32/dll/Win32Host.h"

#include <map>
#include <memory>
#include <string>

namespace unzip {

// The volumes of a split archive, beside the file the caller named and named after it. Each is
// opened as the archive is (shared read, long paths), when it is first asked for, and stays open
// until the set ends. Names are given in the caller's code page, as messages are printed.
class Win32Volumes : public VolumeSet {
public:
    // The set that `archive` (the path the caller gave) belongs to by its name: name.NNN (digits,
    // from .001), name.partN.rar, name.rar with a name.r00 beside it, name.zip with a name.z01
    // beside it. Null for any other name.
    static std::unique_ptr<Win32Volumes> ForArchive(const std::wstring& archive);

    VolumeNaming Naming() const override { return naming_; }
    Source* Volume(unsigned number) override;
    std::string VolumeName(unsigned number) const override;
    // The path of volume `number`, as the named file's path is given, whether or not it exists.
    std::wstring Path(unsigned number) const { return folder_ + FileName(number); }

private:
    Win32Volumes(VolumeNaming naming, std::wstring folder, std::wstring stem, std::wstring suffix, size_t width);
    std::wstring FileName(unsigned number) const;

    VolumeNaming naming_;
    std::wstring folder_;  // with its separator, or empty
    std::wstring stem_;    // the name before the volume's number: "photos.7z", "photos.part", "photos"
    std::wstring suffix_;  // what follows the number in RarParts (".rar"); RarOld's and ZipSpanned's extension
    size_t width_;         // the number's digits (Numbered, RarParts)
    std::map<unsigned, std::unique_ptr<Win32Source>> opened_;  // null where the file is not there
};

}  // namespace unzip
