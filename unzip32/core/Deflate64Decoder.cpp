#include "unzip32/core/Deflate64Decoder.h"

#include <algorithm>
#include <cstring>

namespace unzip {

namespace {

using Code = Deflate64Decoder::Code;

const size_t kHistory = 64u << 10;  // the window: distances reach back at most 65536 bytes
const size_t kChunk = 1u << 20;     // new output per slide of the window
const size_t kSlack = 16;           // matches are copied 8 bytes at a time and may write past their end

const int kLiteralRoot = 10;
const int kDistanceRoot = 8;
const int kLengthCodeRoot = 7;

// Table entry kinds (Code::op). A literal's value is the byte; a length or distance entry holds
// its base value and, in the low bits of op, the count of extra bits that follow the code; a root
// entry of a long code points (value) at a sub-table of 2^(op & 15) entries, indexed by the bits
// after the root's; in a sub-table, `bits` counts only the bits beyond the root.
const uint8_t kLiteral = 0x00;
const uint8_t kInvalid = 0x10;
const uint8_t kEndOfBlock = 0x20;
const uint8_t kSubTable = 0x40;
const uint8_t kBase = 0x80;

const uint16_t kLengthBase[29] = {
    3, 4, 5, 6, 7, 8, 9, 10, 11, 13, 15, 17, 19, 23, 27, 31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 3};
const uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5,
    16};  // Deflate64: code 285 is 3 + 16 bits, not 258
const uint16_t kDistanceBase[32] = {1, 2, 3, 4, 5, 7, 9, 13, 17, 25, 33, 49, 65, 97, 129, 193, 257, 385, 513, 769, 1025,
    1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577, 32769, 49153};
const uint8_t kDistanceExtra[32] = {
    0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13, 14, 14};
// The order in which a dynamic block gives the lengths of the code-length code.
const uint8_t kLengthCodeOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

struct Symbols {
    Code literals[288];
    Code distances[32];
    Code lengthCodes[19];
    Symbols()
    {
        for (unsigned i = 0; i < 288; ++i) {
            if (i < 256)
                literals[i] = {static_cast<uint16_t>(i), 0, kLiteral};
            else if (i == 256)
                literals[i] = {0, 0, kEndOfBlock};
            else if (i < 286)
                literals[i] = {kLengthBase[i - 257], 0, static_cast<uint8_t>(kBase | kLengthExtra[i - 257])};
            else
                literals[i] = {0, 0, kInvalid};
        }
        for (unsigned i = 0; i < 32; ++i)
            distances[i] = {kDistanceBase[i], 0, static_cast<uint8_t>(kBase | kDistanceExtra[i])};
        for (unsigned i = 0; i < 19; ++i)
            lengthCodes[i] = {static_cast<uint16_t>(i), 0, kLiteral};
    }
};
const Symbols kSymbols;

unsigned Reverse(unsigned code, int length)
{
    unsigned reversed = 0;
    for (int i = 0; i < length; ++i) {
        reversed = (reversed << 1) | (code & 1);
        code >>= 1;
    }
    return reversed;
}

// Builds the lookup table of a canonical Huffman code from its code lengths (0: symbol unused).
// False for lengths that over-subscribe the code, or leave it incomplete where that is not
// allowed: deflate permits an incomplete code only when it is a single code of one bit (a block
// with one distance), and a code without any symbol (a block without matches).
bool BuildTable(const uint8_t* lengths, unsigned count, const Code* symbols, int root, bool allowIncomplete,
    Code* table, size_t tableSize)
{
    unsigned perLength[16] = {};
    int longest = 0;
    for (unsigned s = 0; s < count; ++s) {
        ++perLength[lengths[s]];
        longest = std::max<int>(longest, lengths[s]);
    }
    const size_t rootSize = size_t(1) << root;
    const Code invalid = {0, 1, kInvalid};
    std::fill(table, table + rootSize, invalid);
    if (longest == 0)
        return allowIncomplete;
    int left = 1;
    for (int length = 1; length <= 15; ++length) {
        left = (left << 1) - static_cast<int>(perLength[length]);
        if (left < 0)
            return false;
    }
    if (left > 0 && !(allowIncomplete && longest == 1))
        return false;

    // The first code of each length (canonical order: shorter codes first, then by symbol).
    unsigned next[16] = {};
    unsigned code = 0;
    for (int length = 2; length <= 15; ++length) {
        code = (code + perLength[length - 1]) << 1;
        next[length] = code;
    }
    // Sub-tables: for every root prefix of a code longer than the root, as many index bits as its
    // longest code needs beyond the root.
    uint8_t subBits[1024] = {};
    if (longest > root) {
        unsigned probe[16];
        std::memcpy(probe, next, sizeof probe);
        for (unsigned s = 0; s < count; ++s) {
            const int length = lengths[s];
            if (length <= root)
                continue;
            const size_t prefix = Reverse(probe[length]++, length) & (rootSize - 1);
            subBits[prefix] = static_cast<uint8_t>(std::max(subBits[prefix], static_cast<uint8_t>(length - root)));
        }
        size_t offset = rootSize;
        for (size_t prefix = 0; prefix < rootSize; ++prefix) {
            if (subBits[prefix] == 0)
                continue;
            const size_t size = size_t(1) << subBits[prefix];
            if (offset + size > tableSize)
                return false;
            table[prefix] = {static_cast<uint16_t>(offset), static_cast<uint8_t>(root),
                static_cast<uint8_t>(kSubTable | subBits[prefix])};
            std::fill(table + offset, table + offset + size, invalid);
            offset += size;
        }
    }
    for (unsigned s = 0; s < count; ++s) {
        const int length = lengths[s];
        if (length == 0)
            continue;
        const unsigned reversed = Reverse(next[length]++, length);
        Code entry = symbols[s];
        if (length <= root) {
            entry.bits = static_cast<uint8_t>(length);
            for (size_t i = reversed; i < rootSize; i += size_t(1) << length)
                table[i] = entry;
        } else {
            const Code& link = table[reversed & (rootSize - 1)];
            const size_t size = size_t(1) << (link.op & 15);
            entry.bits = static_cast<uint8_t>(length - root);
            for (size_t i = reversed >> root; i < size; i += size_t(1) << (length - root))
                table[link.value + i] = entry;
        }
    }
    return true;
}

inline uint64_t Load64(const uint8_t* p)
{
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
#else
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i)
        v = (v << 8) | p[i];
    return v;
#endif
}

// Resolves the code at the bottom of `bits` in `table` (its root entry, then a sub-table for a
// long code) and drops the code's bits.
inline Code Lookup(const Code* table, int root, uint64_t& bits, int& count)
{
    Code entry = table[bits & ((uint64_t(1) << root) - 1)];
    if (entry.op & kSubTable) {
        bits >>= root;
        count -= root;
        entry = table[entry.value + (bits & ((1u << (entry.op & 15)) - 1))];
    }
    bits >>= entry.bits;
    count -= entry.bits;
    return entry;
}

// A length's or distance's base plus the extra bits that follow its code, which are dropped.
inline uint32_t WithExtra(const Code& entry, uint64_t& bits, int& count)
{
    const int extra = entry.op & 0x1F;
    const uint32_t value = entry.value + static_cast<uint32_t>(bits & ((uint64_t(1) << extra) - 1));
    bits >>= extra;
    count -= extra;
    return value;
}

// Copies a match of `count` bytes from `distance` back. May write up to 7 bytes past the end.
inline void CopyMatch(uint8_t* to, size_t distance, size_t count)
{
    const uint8_t* from = to - distance;
    if (distance >= 8) {
        // Each 8-byte piece reads only bytes that are already in place.
        uint8_t* const end = to + count;
        while (to < end) {
            std::memcpy(to, from, 8);
            to += 8;
            from += 8;
        }
    } else if (distance == 1) {
        std::memset(to, *from, count);
    } else {
        for (size_t i = 0; i < count; ++i)
            to[i] = from[i];
    }
}

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
        BuildTable(lengths, 288, kSymbols.literals, kLiteralRoot, false, literals_, 2560);
        BuildTable(lengths + 288, 32, kSymbols.distances, kDistanceRoot, false, distances_, 768);
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
            lengthCodeLengths, 19, kSymbols.lengthCodes, kLengthCodeRoot, false, lengthCodes, 1 << kLengthCodeRoot))
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
    if (!BuildTable(lengths, literalCount, kSymbols.literals, kLiteralRoot, true, literals_, 2560) ||
        !BuildTable(lengths + literalCount, distanceCount, kSymbols.distances, kDistanceRoot, true, distances_, 768))
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
    CopyMatch(window_.get() + pos_, matchDistance_, now);
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
            CopyMatch(out + pos, back, now);
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
