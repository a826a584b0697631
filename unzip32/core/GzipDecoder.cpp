#include "unzip32/core/GzipDecoder.h"

#include "unzip32/core/ByteReader.h"
#include "unzip32/core/ParallelInflateDecoder.h"
#include "unzip32/core/StreamInflateDecoder.h"
#include "unzip32/core/WholeMember.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

namespace unzip {

namespace {

const uint8_t kHeaderCrc = 0x02;
const uint8_t kExtra = 0x04;
const uint8_t kName = 0x08;
const uint8_t kComment = 0x10;
const uint8_t kReserved = 0xE0;
const uint8_t kDeflated = 8;

// The deflated data is read in pieces of this size.
const size_t kInputPiece = 256u << 10;
// A member with less deflated data than this is a small one.
const uint64_t kSmallMember = 1u << 20;

// Reads a member's header field by field, keeping the CRC-32 of what it read for the header's own
// check (FHCRC). Truncated where the file ends inside it.
class HeaderReader {
public:
    HeaderReader(Source& source, uint64_t at) : source_(source), at_(at) { }
    uint64_t At() const { return at_; }
    uint32_t Crc() const { return crc_; }

    Status Take(uint8_t* to, size_t count)
    {
        if (source_.Size() - at_ < count)
            return Status::Truncated;
        if (!source_.Read(at_, to, count))
            return Status::ReadFailure;
        crc_ = static_cast<uint32_t>(crc32(crc_, to, static_cast<uInt>(count)));
        at_ += count;
        return Status::Ok;
    }

    Status Skip(size_t count)
    {
        uint8_t piece[256];
        Status status = Status::Ok;
        while (status == Status::Ok && count > 0) {
            const size_t take = std::min(count, sizeof(piece));
            status = Take(piece, take);
            count -= take;
        }
        return status;
    }

    // A zero-terminated field (the file name, the comment), of any length.
    Status SkipString()
    {
        uint8_t piece[256];
        for (;;) {
            const size_t take = static_cast<size_t>(std::min<uint64_t>(sizeof(piece), source_.Size() - at_));
            if (take == 0)
                return Status::Truncated;
            if (!source_.Read(at_, piece, take))
                return Status::ReadFailure;
            const uint8_t* zero = static_cast<const uint8_t*>(std::memchr(piece, 0, take));
            const size_t used = zero != nullptr ? static_cast<size_t>(zero - piece) + 1 : take;
            crc_ = static_cast<uint32_t>(crc32(crc_, piece, static_cast<uInt>(used)));
            at_ += used;
            if (zero != nullptr)
                return Status::Ok;
        }
    }

private:
    Source& source_;
    uint64_t at_;
    uint32_t crc_ = 0;
};

}  // namespace

GzipDecoder::GzipDecoder(Source& source, const DecoderHelpers& helpers, size_t chunk)
    : source_(source), helpers_(helpers), chunk_(chunk)
{
}

Status GzipDecoder::StartMember()
{
    HeaderReader header(source_, at_);
    uint8_t fixed[10];
    Status status = header.Take(fixed, sizeof(fixed));
    if (status == Status::Ok && (fixed[0] != 0x1F || fixed[1] != 0x8B)) {
        detail_ = "the gzip data has something else after a member";
        return Status::DataError;
    }
    if (status == Status::Ok && (fixed[2] != kDeflated || (fixed[3] & kReserved) != 0)) {
        detail_ = "the gzip data has a header gzip does not write";
        return Status::DataError;
    }
    const uint8_t flags = fixed[3];
    if (status == Status::Ok && (flags & kExtra) != 0) {
        uint8_t length[2];
        status = header.Take(length, 2);
        if (status == Status::Ok)
            status = header.Skip(ByteReader(length, sizeof(length)).U16());
    }
    if (status == Status::Ok && (flags & kName) != 0)
        status = header.SkipString();
    if (status == Status::Ok && (flags & kComment) != 0)
        status = header.SkipString();
    if (status == Status::Ok && (flags & kHeaderCrc) != 0) {
        const uint32_t crc = header.Crc();
        uint8_t stored[2];
        status = header.Take(stored, 2);
        if (status == Status::Ok && ByteReader(stored, sizeof(stored)).U16() != (crc & 0xFFFF)) {
            detail_ = "the gzip header's check failed: it is damaged";
            return Status::DataError;
        }
    }
    if (status == Status::ReadFailure)
        detail_ = "the archive cannot be read";
    if (status != Status::Ok)
        return status;

    // The deflated data, with all that follows it: where it ends is known only once it has.
    at_ = header.At();
    const uint64_t length = source_.Size() - at_;
    entry_ = Entry();
    entry_.actualMethod = kDeflated;
    entry_.compressedSize = length;
    entry_.size = UINT64_MAX;
    buffer_.resize(kInputPiece);
    input_.reset(new MemberInput(source_, at_, length, buffer_));
    unsigned helpers = 0;
    if (helpers_.threads != nullptr && (chunk_ > 0 || (!small_ && length >= kParallelFrom)))
        helpers = ParallelInflateDecoder::HelpersWithin(memoryLimit_, helpers_.count);
    if (helpers > 0) {
        inflate_.reset(new ParallelInflateDecoder(entry_, *input_, false, *helpers_.threads, helpers, chunk_));
        ++parallelMembers_;
    } else {
        inflate_.reset(new StreamInflateDecoder(entry_, *input_, false));
    }
    crc_ = 0;
    length_ = 0;
    return inflate_->Start();
}

// The trailer after the deflated data, and whether another member follows.
Status GzipDecoder::EndMember()
{
    const uint64_t used = inflate_->StreamEnd();
    inflate_.reset();
    input_.reset();
    if (used == kUnknownEnd || used > source_.Size() - at_)
        return Status::Internal;
    const uint64_t trailer = at_ + used;
    uint8_t bytes[8];
    if (source_.Size() - trailer < sizeof(bytes))
        return Status::Truncated;
    if (!source_.Read(trailer, bytes, sizeof(bytes))) {
        detail_ = "the archive cannot be read";
        return Status::ReadFailure;
    }
    ByteReader fields(bytes, sizeof(bytes));
    if (fields.U32() != crc_ || fields.U32() != static_cast<uint32_t>(length_))
        return Status::CrcMismatch;
    if (used < kSmallMember)
        small_ = true;
    at_ = trailer + sizeof(bytes);
    uint8_t next = 0;
    if (at_ >= source_.Size() || !source_.Read(at_, &next, 1) || next != 0x1F)
        ended_ = true;
    return Status::Ok;
}

// Fills `buffer` (copying what the inflater hands out of its own memory), so that a failure drops
// all of the piece it comes in: what the piece holds of the members in it is never handed out.
Status GzipDecoder::Decode(uint8_t* buffer, size_t capacity, const uint8_t*& data, size_t& size, bool& finished)
{
    data = buffer;
    size = 0;
    size_t filled = 0;
    while (filled < capacity && !ended_) {
        if (inflate_ == nullptr) {
            const Status started = StartMember();
            if (started != Status::Ok)
                return started;
        }
        const uint8_t* piece = nullptr;
        size_t count = 0;
        bool done = false;
        Status status = inflate_->Decode(buffer + filled, capacity - filled, piece, count, done);
        if (status == Status::Ok) {
            if (count > 0 && piece != buffer + filled)
                std::memmove(buffer + filled, piece, count);  // a redone decoder skips within the room
            crc_ = Crc32(crc_, buffer + filled, count);
            length_ += count;
            filled += count;
            if (done)
                status = EndMember();
            else if (count == 0)
                status = Status::Internal;  // no decoder stands still
        } else if (status == Status::Truncated) {
            // The decoders' word for data that cannot be read.
            status = Status::ReadFailure;
            detail_ = "the archive cannot be read";
        } else if (detail_.empty()) {
            detail_ = inflate_->Detail();
        }
        if (status != Status::Ok)
            return status;
    }
    size = filled;
    finished = ended_;
    return Status::Ok;
}

}  // namespace unzip
