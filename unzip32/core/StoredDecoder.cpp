#include "unzip32/core/StoredDecoder.h"

#include <algorithm>

namespace unzip {

Status StoredDecoder::Start()
{
    // Nothing but the two sizes says where stored data ends: they must agree.
    return input_.Length() == entry_.size ? Status::Ok : Status::SizeMismatch;
}

Status StoredDecoder::Decode(uint8_t* buffer, size_t capacity, const uint8_t*& data, size_t& size, bool& finished)
{
    (void)buffer;
    size = 0;
    if (input_.available == 0 && !input_.Fill()) {
        if (input_.Failed())
            return Status::Truncated;
        finished = true;
        return Status::Ok;
    }
    data = input_.next;
    size = std::min(capacity, input_.available);
    input_.next += size;
    input_.available -= size;
    finished = input_.AtEnd();
    return Status::Ok;
}

}  // namespace unzip
