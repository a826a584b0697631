#include "unzip32/core/ConcatenatedSource.h"

#include <algorithm>

namespace unzip {

ConcatenatedSource::ConcatenatedSource(std::vector<Source*> parts) : parts_(std::move(parts))
{
    starts_.push_back(0);
    for (Source* part : parts_)
        starts_.push_back(starts_.back() + part->Size());
}

size_t ConcatenatedSource::PartAt(uint64_t offset) const
{
    // The last part that starts at or before the offset (empty parts are passed over).
    return static_cast<size_t>(std::upper_bound(starts_.begin(), starts_.end() - 1, offset) - starts_.begin()) - 1;
}

bool ConcatenatedSource::Read(uint64_t offset, void* buffer, size_t count)
{
    if (offset > Size() || count > Size() - offset)
        return false;
    auto* bytes = static_cast<uint8_t*>(buffer);
    size_t part = PartAt(offset);
    while (count > 0) {
        const uint64_t inPart = offset - starts_[part];
        const size_t piece = static_cast<size_t>(std::min<uint64_t>(count, PartSize(part) - inPart));
        if (piece > 0 && !parts_[part]->Read(inPart, bytes, piece))
            return false;
        bytes += piece;
        offset += piece;
        count -= piece;
        ++part;
    }
    return true;
}

std::unique_ptr<ConcatenatedSource> JoinVolumes(VolumeSet& volumes, Source* last)
{
    std::vector<Source*> parts;
    // No set counts more volumes than ZIP's disk numbers do.
    for (unsigned number = 1; number <= 0xFFFF; ++number) {
        Source* volume = volumes.Volume(number);
        if (volume == nullptr)
            break;
        parts.push_back(volume);
    }
    if (last != nullptr)
        parts.push_back(last);
    if (parts.empty())
        return nullptr;
    return std::make_unique<ConcatenatedSource>(std::move(parts));
}

std::string VolumeProblem(VolumeSet& volumes, const ConcatenatedSource& joined)
{
    const unsigned found = static_cast<unsigned>(joined.Parts());
    const bool laterOne = volumes.Volume(found + 2) != nullptr;
    const bool lastIsFull = found == 1 || joined.PartSize(found - 1) >= joined.PartSize(0);
    if (laterOne || lastIsFull)
        return "the volume " + volumes.VolumeName(found + 1) + " is missing";
    return "the split archive is damaged: it ends early in its last volume " + volumes.VolumeName(found);
}

std::string FirstSpannedDisk(const std::string& zipName)
{
    const size_t dot = zipName.find_last_of('.');
    const std::string stem = dot == std::string::npos ? zipName : zipName.substr(0, dot);
    // The disks' suffix in the case of the named one's.
    const bool upper = dot != std::string::npos && dot + 1 < zipName.size() && zipName[dot + 1] == 'Z';
    return stem + (upper ? ".Z01" : ".z01");
}

namespace {

class VolumeNamingReader : public ArchiveReader {
public:
    VolumeNamingReader(std::unique_ptr<ArchiveReader> reader, std::string problem)
        : reader_(std::move(reader)), problem_(std::move(problem))
    {
    }
    Status Next(Entry& entry, bool& end) override { return Name(reader_->Next(entry, end)); }
    Status Read(uint8_t* buffer, size_t capacity, const uint8_t*& data, size_t& size, bool& finished) override
    {
        return Name(reader_->Read(buffer, capacity, data, size, finished));
    }
    uint64_t MemoryInUse() const override { return reader_->MemoryInUse(); }

private:
    Status Name(Status status)
    {
        if (status != Status::Ok)
            detail_ = status == Status::Truncated ? problem_ : reader_->Detail();
        return status;
    }

    std::unique_ptr<ArchiveReader> reader_;
    std::string problem_;
};

}  // namespace

std::unique_ptr<ArchiveReader> NameVolumesOnFailure(std::unique_ptr<ArchiveReader> reader, const std::string& problem)
{
    return std::make_unique<VolumeNamingReader>(std::move(reader), problem);
}

}  // namespace unzip
