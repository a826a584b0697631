#include "unzip32/core/InflateDecoder.h"

#include <algorithm>

namespace unzip {

InflateDecoder::~InflateDecoder()
{
    if (started_)
        inflateEnd(&stream_);
}

Status InflateDecoder::Start()
{
    if (inflateInit2(&stream_, -MAX_WBITS) != Z_OK)
        return Status::OutOfMemory;
    started_ = true;
    return Status::Ok;
}

Status InflateDecoder::Decode(uint8_t* buffer, size_t capacity, const uint8_t*& data, size_t& size, bool& finished)
{
    data = buffer;
    size = 0;
    stream_.next_out = buffer;
    stream_.avail_out = static_cast<uInt>(std::min<size_t>(capacity, 1u << 30));
    while (size == 0) {
        if (input_.available == 0 && !input_.Fill() && input_.Failed())
            return Status::Truncated;
        stream_.next_in = const_cast<Bytef*>(input_.next);
        stream_.avail_in = static_cast<uInt>(std::min<size_t>(input_.available, 1u << 30));
        const uInt offered = stream_.avail_in;
        const int code = inflate(&stream_, Z_NO_FLUSH);
        input_.next += offered - stream_.avail_in;
        input_.available -= offered - stream_.avail_in;
        size = static_cast<size_t>(stream_.next_out - buffer);
        if (code == Z_STREAM_END) {
            finished = true;
            return Status::Ok;
        }
        if (code == Z_MEM_ERROR)
            return Status::OutOfMemory;
        // Z_BUF_ERROR: no progress was possible. With input left that cannot be (there was room
        // for output); without it the member's data ends before its deflate stream does.
        if (code != Z_OK)
            return Status::DataError;
    }
    return Status::Ok;
}

}  // namespace unzip
