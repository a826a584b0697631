#include "unzip32/core/BlockInflater.h"

#include <algorithm>
#include <cstring>

namespace unzip {

namespace {

using Code = BlockInflater::Code;
using Result = BlockInflater::Result;

using namespace inflating;

// The fast loop's margins: output for two literals and the longest deflate match, and input for two
// refills of the bit buffer.
const size_t kFastRoom = 2 + 258;
const size_t kFastInput = 16;

// CopyBytes for wider items: the bytes of the items, a byte apart as far as the items are.
template <typename T>
inline void CopyMatch(T* to, size_t distance, size_t count)
{
    if (distance * sizeof(T) >= 16) {
        // 16-byte pieces, each reading only bytes already in place; the first two always (most
        // matches are no longer), so up to 31 bytes past the end.
        uint8_t* at = reinterpret_cast<uint8_t*>(to);
        const uint8_t* from = at - distance * sizeof(T);
        uint8_t* const end = at + count * sizeof(T);
        std::memcpy(at, from, 16);
        std::memcpy(at + 16, from + 16, 16);
        at += 32;
        from += 32;
        while (at < end) {
            std::memcpy(at, from, 16);
            at += 16;
            from += 16;
        }
        return;
    }
    if (sizeof(T) > 1 && distance == 1)
        std::fill(to, to + count, to[-1]);
    else
        CopyBytes(reinterpret_cast<uint8_t*>(to), distance * sizeof(T), count * sizeof(T));
}

// What four code lengths of the code-length code (3 bits each, 0 for unused) add to its Kraft sum,
// in units of 2^-7.
struct KraftOfFour {
    uint16_t sums[1 << 12];
    KraftOfFour()
    {
        for (unsigned v = 0; v < (1u << 12); ++v) {
            unsigned sum = 0;
            for (unsigned i = 0; i < 4; ++i) {
                const unsigned length = (v >> (3 * i)) & 7;
                if (length != 0)
                    sum += 128u >> length;
            }
            sums[v] = static_cast<uint16_t>(sum);
        }
    }
};
const KraftOfFour kKraftOfFour;

}  // namespace

void BlockInflater::Reset(uint64_t bit)
{
    stage_ = Stage::Header;
    bit_ = bit;
    last_ = false;
    blockEnded_ = false;
    storedLeft_ = 0;
    matchLeft_ = 0;
    matchDistance_ = 0;
}

bool BlockInflater::MayStartBlock(const uint8_t* data, uint64_t bit, bool deflate64)
{
    const uint64_t word = Load64(data + bit / 8) >> (bit % 8);
    const unsigned header = static_cast<unsigned>(word & 7);
    if (header == 4) {
        // Dynamic: counts in range, and a complete code-length code (as the decoder requires).
        if (((word >> 3) & 31) > 29 || (!deflate64 && ((word >> 8) & 31) > 29))
            return false;
        const unsigned lengthCodes = static_cast<unsigned>((word >> 13) & 15) + 4;
        const uint64_t from = bit + 17;
        // 56 bits or more: 18 lengths, four at a time (unused ones are masked to zero).
        const unsigned first = std::min(lengthCodes, 18u);
        uint64_t lengths = (Load64(data + from / 8) >> (from % 8)) & ((uint64_t(1) << (3 * first)) - 1);
        unsigned kraft = 0;
        for (; lengths != 0; lengths >>= 12)
            kraft += kKraftOfFour.sums[lengths & 0xFFF];
        if (lengthCodes == 19) {
            const unsigned last = static_cast<unsigned>(Load64(data + (from + 54) / 8) >> ((from + 54) % 8)) & 7;
            kraft += kKraftOfFour.sums[last];
        }
        return kraft == 128;
    }
    if (header == 0) {
        // Stored: the bits up to the byte boundary are zero, as encoders write them, and the
        // length is followed by its complement.
        const unsigned pad = static_cast<unsigned>((8 - (bit + 3) % 8) % 8);
        if (((word >> 3) & ((1u << pad) - 1)) != 0)
            return false;
        const uint8_t* p = data + (bit + 3 + pad) / 8;
        const unsigned length = p[0] | (unsigned(p[1]) << 8);
        const unsigned complement = p[2] | (unsigned(p[3]) << 8);
        return length == (~complement & 0xFFFF);
    }
    return false;
}

uint64_t BlockInflater::NextBlockStart(const uint8_t* data, uint64_t bit, uint64_t end, bool deflate64)
{
    for (; bit < end; ++bit) {
        // Most places fail on their first three bits: neither a stored nor a dynamic block that is
        // not the last.
        const unsigned header = ((data[bit / 8] | (unsigned(data[bit / 8 + 1]) << 8)) >> (bit % 8)) & 7;
        if ((header == 4 || header == 0) && MayStartBlock(data, bit, deflate64))
            return bit;
    }
    return end;
}

uint32_t BlockInflater::Take(const uint8_t* data, size_t size, int count)
{
    if (bit_ + static_cast<uint64_t>(count) > uint64_t(size) * 8) {
        overrun_ = true;
        bit_ += static_cast<uint64_t>(count);
        return 0;
    }
    const uint32_t value =
        static_cast<uint32_t>((Load64(data + bit_ / 8) >> (bit_ % 8)) & ((uint64_t(1) << count) - 1));
    bit_ += static_cast<uint64_t>(count);
    return value;
}

Result BlockInflater::ReadHeader(const uint8_t* data, size_t size, bool ended)
{
    if (!ended && bit_ / 8 + kLargestHeader > size)
        return Result::Starved;
    const uint64_t start = bit_;
    overrun_ = false;
    last_ = Take(data, size, 1) != 0;
    const uint32_t type = Take(data, size, 2);
    bool valid = true;
    if (type == 0) {
        bit_ = (bit_ + 7) / 8 * 8;  // stored data starts at a byte boundary
        const uint32_t length = Take(data, size, 16);
        valid = length == (~Take(data, size, 16) & 0xFFFF);
        storedLeft_ = length;
        stage_ = Stage::Stored;
    } else if (type == 1) {
        uint8_t lengths[288 + 32];
        std::fill(lengths, lengths + 144, 8);
        std::fill(lengths + 144, lengths + 256, 9);
        std::fill(lengths + 256, lengths + 280, 7);
        std::fill(lengths + 280, lengths + 288, 8);
        std::fill(lengths + 288, lengths + 320, 5);
        const Symbols& symbols = deflate64_ ? kDeflate64Symbols : kDeflateSymbols;
        BuildTable(lengths, 288, symbols.literals, kLiteralRoot, false, literals_, 2560);
        BuildTable(lengths + 288, 32, symbols.distances, kDistanceRoot, false, distances_, 768);
        stage_ = Stage::Codes;
    } else if (type == 2) {
        valid = ReadDynamicTables(data, size);
        stage_ = Stage::Codes;
    } else {
        valid = false;
    }
    if (overrun_) {
        if (!ended) {
            bit_ = start;
            stage_ = Stage::Header;
            return Result::Starved;
        }
        return Result::Bad;
    }
    return valid ? Result::Full : Result::Bad;  // Full: go on
}

bool BlockInflater::ReadDynamicTables(const uint8_t* data, size_t size)
{
    const unsigned literalCount = Take(data, size, 5) + 257;
    const unsigned distanceCount = Take(data, size, 5) + 1;
    const unsigned lengthCodeCount = Take(data, size, 4) + 4;
    if (literalCount > 286 || (!deflate64_ && distanceCount > 30))
        return false;
    uint8_t lengthCodeLengths[19] = {};
    for (unsigned i = 0; i < lengthCodeCount; ++i)
        lengthCodeLengths[kLengthCodeOrder[i]] = static_cast<uint8_t>(Take(data, size, 3));
    const Symbols& symbols = deflate64_ ? kDeflate64Symbols : kDeflateSymbols;
    Code lengthCodes[1 << kLengthCodeRoot];
    if (!BuildTable(
            lengthCodeLengths, 19, symbols.lengthCodes, kLengthCodeRoot, false, lengthCodes, 1 << kLengthCodeRoot))
        return false;
    uint8_t lengths[286 + 32] = {};
    const unsigned total = literalCount + distanceCount;
    unsigned i = 0;
    while (i < total) {
        if (overrun_)
            return false;
        const Code entry = lengthCodes[(Load64(data + bit_ / 8) >> (bit_ % 8)) & ((1u << kLengthCodeRoot) - 1)];
        if (entry.op != kLiteral)
            return false;
        Take(data, size, entry.bits);
        const unsigned symbol = entry.value;
        if (symbol < 16) {
            lengths[i++] = static_cast<uint8_t>(symbol);
            continue;
        }
        uint8_t repeated = 0;
        unsigned times;
        if (symbol == 16) {
            if (i == 0)
                return false;
            repeated = lengths[i - 1];
            times = 3 + Take(data, size, 2);
        } else if (symbol == 17) {
            times = 3 + Take(data, size, 3);
        } else {
            times = 11 + Take(data, size, 7);
        }
        if (times > total - i)
            return false;
        std::fill(lengths + i, lengths + i + times, repeated);
        i += times;
    }
    if (lengths[256] == 0)
        return false;  // a block must be able to end
    return BuildTable(lengths, literalCount, symbols.literals, kLiteralRoot, true, literals_, 2560) &&
        BuildTable(lengths + literalCount, distanceCount, symbols.distances, kDistanceRoot, true, distances_, 768);
}

template <typename T>
Result BlockInflater::CopyStored(const uint8_t* data, size_t size, bool ended, T* out, size_t& pos, size_t limit)
{
    const size_t at = static_cast<size_t>(bit_ / 8);
    const size_t available = size > at ? size - at : 0;
    const size_t piece = std::min({static_cast<size_t>(storedLeft_), limit - pos, available});
    std::copy(data + at, data + at + piece, out + pos);
    pos += piece;
    bit_ += uint64_t(piece) * 8;
    storedLeft_ -= static_cast<uint32_t>(piece);
    if (storedLeft_ == 0) {
        stage_ = Stage::Header;
        blockEnded_ = true;
        return Result::Full;  // go on
    }
    if (pos == limit)
        return Result::Full;
    return ended ? Result::Bad : Result::Starved;
}

// The hot loop: bit buffer, input and output position live in locals and go back at the end.
template <typename T>
Result BlockInflater::DecodeCodes(
    const uint8_t* data, size_t size, bool ended, T* out, size_t& posRef, size_t limit, size_t floor)
{
    size_t pos = posRef;
    if (matchLeft_ > 0) {
        const size_t now = std::min<size_t>(matchLeft_, limit - pos);
        CopyMatch(out + pos, matchDistance_, now);
        pos += now;
        matchLeft_ -= static_cast<uint32_t>(now);
        posRef = pos;
        if (matchLeft_ > 0)
            return Result::Full;
    }
    // Input past `safe` is not decoded from: more may follow (or, at the end, what lies past the
    // data is padding, and decoding into it is bad data).
    const uint8_t* const safe = ended ? data + size + 8 : data + (size > 24 ? size - 24 : 0);
    const uint8_t* in = data + bit_ / 8;
    uint64_t bits = Load64(in) >> (bit_ % 8);
    int count = 56 - static_cast<int>(bit_ % 8);  // a refill shifts by less than 64
    in += 7;
    // Tops the bit buffer up to at least 56 bits. Bits above `count` hold either zeros or the
    // very bits of the input bytes that follow, so OR-ing those in again changes nothing.
    auto refill = [&]() {
        bits |= Load64(in) << count;
        in += (63 - count) >> 3;
        count |= 56;
    };
    const Code* const literals = literals_;
    const Code* const distances = distances_;
    // A match: the length from its code's entry, then the distance, copied up to `limit` (the rest
    // of a longer Deflate64 match waits for the next call). False for an invalid distance or one
    // that reaches back too far.
    auto Match = [&](const Code& entry) {
        const uint32_t length = WithExtra(entry, bits, count);
        if (count < 29)
            refill();
        const Code distance = Lookup(distances, kDistanceRoot, bits, count);
        const size_t back = WithExtra(distance, bits, count);
        if (!(distance.op & kBase) || back > pos - floor)
            return false;
        const size_t now = std::min<size_t>(length, limit - pos);
        CopyMatch(out + pos, back, now);
        pos += now;
        if (now < length) {
            matchLeft_ = static_cast<uint32_t>(length - now);
            matchDistance_ = static_cast<uint32_t>(back);
        }
        return true;
    };
    Result result = Result::Full;
    // The fast loop, while the output has room for a whole deflate match after two literals and the
    // input has kFastInput bytes before `safe`: no bound is checked within a step. A step refills the
    // bit buffer to 56 bits or more, which hold two literals, or a literal and a length with its
    // extra bits; the buffer is refilled again before a distance.
    const size_t fastEnd = limit - pos > kFastRoom ? limit - kFastRoom : pos;
    bool stopped = false;
    while (pos < fastEnd && in + kFastInput <= safe) {
        refill();
        Code entry = Lookup(literals, kLiteralRoot, bits, count);
        if (entry.op == kLiteral) {
            out[pos++] = static_cast<T>(entry.value);
            entry = Lookup(literals, kLiteralRoot, bits, count);
            if (entry.op == kLiteral) {
                out[pos++] = static_cast<T>(entry.value);
                continue;
            }
        }
        if ((entry.op & kBase) && Match(entry))
            continue;
        if (entry.op == kEndOfBlock) {
            stage_ = Stage::Header;
            blockEnded_ = true;
        } else {
            result = Result::Bad;  // an invalid code or distance
        }
        stopped = true;
        break;
    }
    while (!stopped && pos < limit) {
        if (in > safe) {
            result = ended ? Result::Bad : Result::Starved;
            break;
        }
        if (count < 32)
            refill();
        const Code entry = Lookup(literals, kLiteralRoot, bits, count);
        if (entry.op == kLiteral) {
            out[pos++] = static_cast<T>(entry.value);
            continue;
        }
        if (entry.op & kBase) {
            if (Match(entry))
                continue;
            result = Result::Bad;
            break;
        }
        if (entry.op == kEndOfBlock) {
            stage_ = Stage::Header;
            blockEnded_ = true;
            break;
        }
        result = Result::Bad;  // an invalid code
        break;
    }
    bit_ = static_cast<uint64_t>(in - data) * 8 - static_cast<uint64_t>(count);
    posRef = pos;
    if (bit_ > uint64_t(size) * 8)
        return Result::Bad;  // decoded from past the data's end
    return result;
}

template <typename T>
Result BlockInflater::Run(const uint8_t* data, size_t size, bool ended, T* out, size_t& pos, size_t limit,
    size_t floor, uint64_t stopBit, bool pauseAtBlocks)
{
    for (;;) {
        Result result = Result::Full;
        switch (stage_) {
        case Stage::Header:
            if (last_ && blockEnded_) {
                stage_ = Stage::Done;
                return Result::End;
            }
            if (bit_ >= stopBit)
                return Result::Boundary;
            if (pauseAtBlocks && blockEnded_) {
                blockEnded_ = false;
                return Result::BlockEnd;
            }
            blockEnded_ = false;
            result = ReadHeader(data, size, ended);
            break;
        case Stage::Stored: result = CopyStored(data, size, ended, out, pos, limit); break;
        case Stage::Codes: result = DecodeCodes(data, size, ended, out, pos, limit, floor); break;
        case Stage::Done: return Result::End;
        }
        if (result != Result::Full)
            return result;
        if (pos == limit && stage_ != Stage::Header)
            return Result::Full;
    }
}

template Result BlockInflater::Run<uint8_t>(
    const uint8_t*, size_t, bool, uint8_t*, size_t&, size_t, size_t, uint64_t, bool);
template Result BlockInflater::Run<uint16_t>(
    const uint8_t*, size_t, bool, uint16_t*, size_t&, size_t, size_t, uint64_t, bool);
template Result BlockInflater::Run<uint32_t>(
    const uint8_t*, size_t, bool, uint32_t*, size_t&, size_t, size_t, uint64_t, bool);

}  // namespace unzip
