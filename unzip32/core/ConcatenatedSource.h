#pragma once
#include "unzip32/core/ArchiveReader.h"
#include "unzip32/core/Source.h"
#include "unzip32/core/Volumes.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace unzip {

// Several sources read one after another as one: the volumes of an archive split into files. The
// parts are the volume set's; they must outlive this. Reads may come from several threads at once
// (as the parts allow).
class ConcatenatedSource : public Source {
public:
    explicit ConcatenatedSource(std::vector<Source*> parts);
    uint64_t Size() const override { return starts_.back(); }
    bool Read(uint64_t offset, void* buffer, size_t count) override;

    size_t Parts() const { return parts_.size(); }
    // Where each part starts in the whole, in order (the first at 0).
    std::vector<uint64_t> Starts() const { return std::vector<uint64_t>(starts_.begin(), starts_.end() - 1); }
    uint64_t PartSize(size_t index) const { return starts_[index + 1] - starts_[index]; }

private:
    size_t PartAt(uint64_t offset) const;

    std::vector<Source*> parts_;
    std::vector<uint64_t> starts_;  // one more than parts_: the last is the whole size
};

// The volumes 1, 2, ... of the set up to the first that is missing, followed by `last` where it is
// given (a spanned ZIP's named .zip), as one source; null when not even the first is there.
std::unique_ptr<ConcatenatedSource> JoinVolumes(VolumeSet& volumes, Source* last = nullptr);

// Why a joined set of numbered volumes ends before its archive does: the volume after the last
// one found is missing (a later one is there, or the last one found is as long as the first, as
// every volume but the last is), or else the last volume is damaged. Asks the set for the volume
// after the missing one.
std::string VolumeProblem(VolumeSet& volumes, const ConcatenatedSource& joined);

// The first .zNN file of a spanned ZIP named `zipName` ("photos.zip" -> "photos.z01").
std::string FirstSpannedDisk(const std::string& zipName);

// A reader over a joined set whose data ending early is told as `problem` (VolumeProblem's, found
// before reading: the reader may read on another thread, where the volume set is not asked).
std::unique_ptr<ArchiveReader> NameVolumesOnFailure(std::unique_ptr<ArchiveReader> reader, const std::string& problem);

}  // namespace unzip
