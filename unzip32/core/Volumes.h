#pragma once
#include "unzip32/core/Source.h"

#include <string>

namespace unzip {

// How the files of an archive split into volumes are named, after the file the caller named.
enum class VolumeNaming {
    Numbered,    // name.7z.001, name.7z.002, ... (also .zip.001 and any file splitter's .001)
    RarParts,    // name.part1.rar, name.part2.rar, ... (the digits keep their width: part01)
    RarOld,      // name.rar, name.r00, name.r01, ... name.r99, name.s00, ...
    ZipSpanned,  // name.z01, name.z02, ..., name.zip: the named .zip is the last disk
};

// The files of an archive split into volumes, found beside the one the caller named. The set opens
// them when they are asked for and keeps them open until it ends.
class VolumeSet {
public:
    virtual ~VolumeSet() = default;
    virtual VolumeNaming Naming() const = 0;
    // The volume `number`, counting from 1 in reading order (for ZipSpanned: the .zNN file, the
    // named .zip itself being the last disk, which the caller already has); null when that file is
    // not there or cannot be opened.
    virtual Source* Volume(unsigned number) = 0;
    // The file name of volume `number` without its folder ("photos.7z.004"), for messages, whether
    // or not it exists.
    virtual std::string VolumeName(unsigned number) const = 0;
};

}  // namespace unzip
