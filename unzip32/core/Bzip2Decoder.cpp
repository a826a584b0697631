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

Bzip2Decoder::Bzip2Decoder(MemberInput& input) : input_(input) { }

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

// Another stream follows when the member's data goes on with a stream signature ("BZh"), which
// may be split across input pieces: it is taken out of them and decoded first. Other bytes are
// trailing bytes (the member's sizes and CRC settle whether anything is missing).
bool Bzip2Decoder::AnotherStreamFollows()
{
    static const char kSignature[] = "BZh";
    for (unsigned have = 0; have < 3; ++have) {
        if (input_.available == 0 && !input_.Fill())
            return false;
        if (*input_.next != static_cast<uint8_t>(kSignature[have]))
            return false;
        ++input_.next;
        --input_.available;
    }
    std::copy(kSignature, kSignature + 3, carried_);
    carriedCount_ = 3;
    return true;
}

Status Bzip2Decoder::Decode(uint8_t* buffer, size_t capacity, const uint8_t*& data, size_t& size, bool& finished)
{
    data = buffer;
    size = 0;
    while (size == 0) {
        if (input_.available == 0 && !input_.Fill() && input_.Failed())
            return Status::Truncated;
        const bool carried = carriedCount_ > 0;
        const unsigned offered =
            carried ? carriedCount_ : static_cast<unsigned>(std::min<size_t>(input_.available, UINT_MAX));
        stream_.next_in = carried ? carried_ : reinterpret_cast<char*>(const_cast<uint8_t*>(input_.next));
        stream_.avail_in = offered;
        stream_.next_out = reinterpret_cast<char*>(buffer);
        stream_.avail_out = static_cast<unsigned>(std::min<size_t>(capacity, UINT_MAX));
        const int code = BZ2_bzDecompress(&stream_);
        const unsigned taken = offered - stream_.avail_in;
        if (carried) {
            // bzlib takes what it is given into its own bit buffer.
            std::copy(carried_ + taken, carried_ + carriedCount_, carried_);
            carriedCount_ -= taken;
        } else {
            input_.next += taken;
            input_.available -= taken;
        }
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
