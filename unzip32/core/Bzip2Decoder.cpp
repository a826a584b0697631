#include "unzip32/core/Bzip2Decoder.h"

#include <algorithm>
#include <climits>
#include <cstdlib>

// bzlib calls this only on broken internal invariants (states its decoder cannot reach).
extern "C" void bz_internal_error(int errcode)
{
    (void)errcode;
    std::abort();
}

namespace unzip {

Bzip2Decoder::Bzip2Decoder(MemberInput& input) : input_(input) {}

Bzip2Decoder::~Bzip2Decoder()
{
    if (started_)
        BZ2_bzDecompressEnd(&stream_);
}

Status Bzip2Decoder::Start()
{
    // The block size (at most 900 kB, about 3.6 MB of decoder memory) is well inside the limit.
    stream_ = bz_stream();
    const int code = BZ2_bzDecompressInit(&stream_, 0, 0);
    if (code != BZ_OK)
        return code == BZ_MEM_ERROR ? Status::OutOfMemory : Status::Internal;
    started_ = true;
    return Status::Ok;
}

// Another stream follows when the member's data goes on with a stream signature ("BZh"). A
// signature split between two input pieces is not looked for: such bytes count as trailing.
bool Bzip2Decoder::AnotherStreamFollows()
{
    if (input_.available == 0 && !input_.Fill())
        return false;
    return input_.available >= 3 && input_.next[0] == 'B' && input_.next[1] == 'Z' && input_.next[2] == 'h';
}

Status Bzip2Decoder::Decode(uint8_t* buffer, size_t capacity, const uint8_t*& data, size_t& size, bool& finished)
{
    data = buffer;
    size = 0;
    while (size == 0) {
        if (input_.available == 0 && !input_.Fill() && input_.Failed())
            return Status::Truncated;
        const unsigned offered = static_cast<unsigned>(std::min<size_t>(input_.available, UINT_MAX));
        stream_.next_in = reinterpret_cast<char*>(const_cast<uint8_t*>(input_.next));
        stream_.avail_in = offered;
        stream_.next_out = reinterpret_cast<char*>(buffer);
        stream_.avail_out = static_cast<unsigned>(std::min<size_t>(capacity, UINT_MAX));
        const int code = BZ2_bzDecompress(&stream_);
        const unsigned taken = offered - stream_.avail_in;
        input_.next += taken;
        input_.available -= taken;
        size = static_cast<size_t>(reinterpret_cast<uint8_t*>(stream_.next_out) - buffer);
        if (code == BZ_STREAM_END) {
            if (!AnotherStreamFollows()) {
                if (input_.Failed())
                    return Status::Truncated;
                finished = true;
                return Status::Ok;
            }
            BZ2_bzDecompressEnd(&stream_);
            started_ = false;
            const Status restarted = Start();
            if (restarted != Status::Ok)
                return restarted;
            continue;
        }
        if (code == BZ_MEM_ERROR)
            return Status::OutOfMemory;
        if (code != BZ_OK)
            return Status::DataError;
        if (size == 0 && taken == 0)
            return Status::DataError;  // the data ends inside the stream
    }
    return Status::Ok;
}

}  // namespace unzip
