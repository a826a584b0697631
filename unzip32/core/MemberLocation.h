#pragma once
#include "unzip32/core/Directory.h"
#include "unzip32/core/Source.h"
#include "unzip32/core/Status.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace unzip {

// Where each member's data lies, checked against its local record and its neighbours.
struct DataSpan {
    Status status = Status::Ok;
    uint64_t start = 0;
    uint64_t length = 0;  // bytes of member data to read
};

// The start of the record that follows each local record (the next one by offset, or the
// directory): a member's data must end before it, so no two members can share bytes.
class RecordLimits {
public:
    explicit RecordLimits(const Directory& directory)
    {
        offsets_.reserve(directory.entries.size());
        for (const Entry& entry : directory.entries)
            offsets_.push_back(entry.localOffset);
        std::sort(offsets_.begin(), offsets_.end());
        end_ = directory.directoryStart;
        prefix_ = directory.prefix;
    }
    // The offset at which a record may also be looked for when it is not where the shifted
    // offsets put it: some writers leave out of the offsets the bytes they write ahead of the
    // first record's neighbours (a data descriptor the directory does not mention), which then
    // looks like bytes in front of the archive. Only the first record may be read unshifted:
    // nothing lies between it and the start of the file.
    bool UnshiftedOffset(uint64_t offset, uint64_t& unshifted) const
    {
        if (prefix_ == 0 || offsets_.empty() || offset != offsets_.front() || offset < prefix_)
            return false;
        unshifted = offset - prefix_;
        return true;
    }
    bool IsShared(uint64_t offset) const
    {
        auto range = std::equal_range(offsets_.begin(), offsets_.end(), offset);
        return range.second - range.first > 1;
    }
    uint64_t NextAfter(uint64_t offset) const
    {
        auto next = std::upper_bound(offsets_.begin(), offsets_.end(), offset);
        return next != offsets_.end() ? std::min(*next, end_) : end_;
    }

private:
    std::vector<uint64_t> offsets_;
    uint64_t end_ = 0;
    uint64_t prefix_ = 0;
};

// Where the member's data lies, checked against its local record and the records around it: Ok
// with the span, or why it cannot be read.
DataSpan LocateData(Source& source, const Entry& entry, const RecordLimits& limits);

}  // namespace unzip
