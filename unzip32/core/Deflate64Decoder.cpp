#include "unzip32/core/Deflate64Decoder.h"

#include <algorithm>
#include <cstring>

namespace unzip {

namespace {

using Code = Deflate64Decoder::Code;

const size_t kHistory = 64u << 10;  // the window: distances reach back at most 65536 bytes
const size_t kChunk = 1u << 20;     // new output per slide of the window
const size_t kSlack = 16;           // matches are copied 8 bytes at a time and may write past their end

using namespace inflating;

}  // namespace

Deflate64Decoder::Deflate64Decoder(const Entry& entry, MemberInput& input)
    : input_(input),
      end_(entry.size >= kHistory + kChunk ? kHistory + kChunk : static_cast<size_t>(entry.size) + 2),
      window_(new uint8_t[end_ + kSlack])  // not cleared: only bytes already written are read
{
}

bool Deflate64Decoder::Need(int count)
{
    while (count_ < count) {
        if (input_.available == 0 && !input_.Fill())
            return false;
        bits_ |= static_cast<uint64_t>(*input_.next++) << count_;
        --input_.available;
        count_ += 8;
    }
    return true;
}

uint32_t Deflate64Decoder::Take(int count)
{
    const uint32_t value = static_cast<uint32_t>(bits_ & ((uint64_t(1) << count) - 1));
    bits_ >>= count;
    count_ -= count;
    return value;
}

Status Deflate64Decoder::Short() const
{
    return input_.Failed() ? Status::Truncated : Status::DataError;
}

Status Deflate64Decoder::ReadHeader()
{
    if (last_) {
        stage_ = Stage::Done;
        return Status::Ok;
    }
    if (!Need(3))
        return Short();
    last_ = Take(1) != 0;
    switch (Take(2)) {
    case 0: {
        Take(count_ & 7);  // stored data starts at a byte boundary
        if (!Need(32))
            return Short();
        const uint32_t length = Take(16);
        if (length != (~Take(16) & 0xFFFF))
            return Status::DataError;
        storedLeft_ = length;
        stage_ = length > 0 ? Stage::Stored : Stage::Header;
        return Status::Ok;
    }
    case 1: {
        uint8_t lengths[288 + 32];
        std::fill(lengths, lengths + 144, 8);
        std::fill(lengths + 144, lengths + 256, 9);
        std::fill(lengths + 256, lengths + 280, 7);
        std::fill(lengths + 280, lengths + 288, 8);
        std::fill(lengths + 288, lengths + 320, 5);
        BuildTable(lengths, 288, kDeflate64Symbols.literals, kLiteralRoot, false, literals_, 2560);
        BuildTable(lengths + 288, 32, kDeflate64Symbols.distances, kDistanceRoot, false, distances_, 768);
        stage_ = Stage::Codes;
        return Status::Ok;
    }
    case 2: return ReadDynamicTables();
    default: return Status::DataError;
    }
}

Status Deflate64Decoder::ReadDynamicTables()
{
    if (!Need(14))
        return Short();
    const unsigned literalCount = Take(5) + 257;
    const unsigned distanceCount = Take(5) + 1;
    const unsigned lengthCodeCount = Take(4) + 4;
    if (literalCount > 286)
        return Status::DataError;
    uint8_t lengthCodeLengths[19] = {};
    for (unsigned i = 0; i < lengthCodeCount; ++i) {
        if (!Need(3))
            return Short();
        lengthCodeLengths[kLengthCodeOrder[i]] = static_cast<uint8_t>(Take(3));
    }
    Code lengthCodes[1 << kLengthCodeRoot];
    if (!BuildTable(
            lengthCodeLengths, 19, kDeflate64Symbols.lengthCodes, kLengthCodeRoot, false, lengthCodes, 1 << kLengthCodeRoot))
        return Status::DataError;

    uint8_t lengths[286 + 32] = {};
    const unsigned total = literalCount + distanceCount;
    unsigned i = 0;
    while (i < total) {
        // A code-length code is at most 7 bits; fewer may be left at the very end of the data.
        if (!Need(kLengthCodeRoot) && input_.Failed())
            return Status::Truncated;
        const Code entry = lengthCodes[bits_ & ((1u << kLengthCodeRoot) - 1)];
        if (entry.op != kLiteral || entry.bits > count_)
            return Status::DataError;
        Take(entry.bits);
        const unsigned symbol = entry.value;
        if (symbol < 16) {
            lengths[i++] = static_cast<uint8_t>(symbol);
            continue;
        }
        uint8_t repeated = 0;
        unsigned times;
        if (symbol == 16) {
            if (i == 0)
                return Status::DataError;
            repeated = lengths[i - 1];
            if (!Need(2))
                return Short();
            times = 3 + Take(2);
        } else if (symbol == 17) {
            if (!Need(3))
                return Short();
            times = 3 + Take(3);
        } else {
            if (!Need(7))
                return Short();
            times = 11 + Take(7);
        }
        if (times > total - i)
            return Status::DataError;
        std::fill(lengths + i, lengths + i + times, repeated);
        i += times;
    }
    if (lengths[256] == 0)
        return Status::DataError;  // a block must be able to end
    if (!BuildTable(lengths, literalCount, kDeflate64Symbols.literals, kLiteralRoot, true, literals_, 2560) ||
        !BuildTable(lengths + literalCount, distanceCount, kDeflate64Symbols.distances, kDistanceRoot, true, distances_, 768))
        return Status::DataError;
    stage_ = Stage::Codes;
    return Status::Ok;
}

Status Deflate64Decoder::CopyStored(size_t limit)
{
    uint8_t* const out = window_.get();
    // Whole bytes still in the bit buffer come first.
    while (count_ >= 8 && storedLeft_ > 0 && pos_ < limit) {
        out[pos_++] = static_cast<uint8_t>(bits_);
        bits_ >>= 8;
        count_ -= 8;
        --storedLeft_;
    }
    if (count_ == 0)
        bits_ = 0;  // what it held beyond its count is taken from the input directly now
    while (storedLeft_ > 0 && pos_ < limit) {
        if (input_.available == 0 && !input_.Fill())
            return Short();
        const size_t piece = std::min({static_cast<size_t>(storedLeft_), limit - pos_, input_.available});
        std::memcpy(out + pos_, input_.next, piece);
        pos_ += piece;
        input_.next += piece;
        input_.available -= piece;
        storedLeft_ -= static_cast<uint32_t>(piece);
    }
    if (storedLeft_ == 0)
        stage_ = Stage::Header;
    return Status::Ok;
}

Status Deflate64Decoder::CopyPendingMatch(size_t limit)
{
    const size_t now = std::min<size_t>(matchLeft_, limit - pos_);
    CopyBytes(window_.get() + pos_, matchDistance_, now);
    pos_ += now;
    matchLeft_ -= static_cast<uint32_t>(now);
    return Status::Ok;
}

// The hot loop: bit buffer, input and output position live in locals and go back at the end.
Status Deflate64Decoder::DecodeCodes(size_t limit)
{
    if (matchLeft_ > 0) {
        CopyPendingMatch(limit);
        if (matchLeft_ > 0)
            return Status::Ok;
    }
    uint8_t* const out = window_.get();
    size_t pos = pos_;
    uint64_t bits = bits_;
    int count = count_;
    const uint8_t* in = input_.next;
    size_t available = input_.available;
    Status status = Status::Ok;

    // Tops the bit buffer up to at least 56 bits where the input allows. Bits above `count` hold
    // either zeros or the very bits of the input bytes that follow, so OR-ing those in again
    // changes nothing.
    auto load = [&]() {
        bits |= Load64(in) << count;
        const size_t taken = static_cast<size_t>((63 - count) >> 3);
        in += taken;
        available -= taken;
        count |= 56;
    };
    auto refill = [&]() {
        if (available >= 8)
            return load();
        while (count <= 56) {
            if (available == 0) {
                input_.next = in;
                input_.available = 0;
                if (!input_.Fill())
                    return;  // the end of the data (or of what can be read): `count` runs short
                in = input_.next;
                available = input_.available;
                if (available >= 8)
                    return load();
            }
            bits |= static_cast<uint64_t>(*in++) << count;
            --available;
            count += 8;
        }
    };

    while (pos < limit) {
        if (count < 32)
            refill();
        const Code entry = Lookup(literals_, kLiteralRoot, bits, count);
        if (entry.op == kLiteral) {
            if (count < 0) {
                status = Status::DataError;
                break;
            }
            out[pos++] = static_cast<uint8_t>(entry.value);
            continue;
        }
        if (entry.op & kBase) {
            const uint32_t length = WithExtra(entry, bits, count);
            if (count < 29)
                refill();
            const Code distance = Lookup(distances_, kDistanceRoot, bits, count);
            const size_t back = WithExtra(distance, bits, count);
            // `pos` counts every byte of output still in the window: a match cannot reach past it.
            if (!(distance.op & kBase) || count < 0 || back > pos) {
                status = Status::DataError;
                break;
            }
            const size_t now = std::min<size_t>(length, limit - pos);
            CopyBytes(out + pos, back, now);
            pos += now;
            if (now < length) {
                matchLeft_ = static_cast<uint32_t>(length - now);
                matchDistance_ = static_cast<uint32_t>(back);
            }
            continue;
        }
        if (entry.op == kEndOfBlock && count >= 0) {
            stage_ = Stage::Header;
            break;
        }
        status = Status::DataError;  // an invalid code, or data that ends inside one
        break;
    }
    pos_ = pos;
    bits_ = bits;
    count_ = count;
    input_.next = in;
    input_.available = available;
    if (status != Status::Ok && input_.Failed())
        return Status::Truncated;
    return status;
}

Status Deflate64Decoder::Decode(uint8_t* buffer, size_t capacity, const uint8_t*& data, size_t& size, bool& finished)
{
    (void)buffer;
    if (end_ - pos_ < std::min(capacity, kHistory) && pos_ > kHistory) {
        // Keep the last 64 KiB as the window and make room behind it. (The buffer of a member
        // smaller than a chunk holds all of its output and is never full.)
        std::memmove(window_.get(), window_.get() + pos_ - kHistory, kHistory);
        pos_ = kHistory;
    }
    const size_t start = pos_;
    const size_t limit = pos_ + std::min(capacity, end_ - pos_);
    while (pos_ < limit && stage_ != Stage::Done) {
        Status status;
        switch (stage_) {
        case Stage::Header: status = ReadHeader(); break;
        case Stage::Stored: status = CopyStored(limit); break;
        default: status = DecodeCodes(limit); break;
        }
        if (status != Status::Ok)
            return status;
    }
    data = window_.get() + start;
    size = pos_ - start;
    finished = stage_ == Stage::Done;
    return Status::Ok;
}

}  // namespace unzip
