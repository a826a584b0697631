#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace unzip {
namespace inflating {

// The decoding tables of deflate and Deflate64, shared by the one-stream Deflate64 decoder and the
// block decoder of parallel inflate.

// One table entry. `op` holds the kind: a literal's value is the byte; a length or distance entry
// holds its base value and, in the low bits of op, the count of extra bits that follow the code; a
// root entry of a long code points (value) at a sub-table of 2^(op & 15) entries, indexed by the
// bits after the root's; in a sub-table, `bits` counts only the bits beyond the root.
struct Code {
    uint16_t value;
    uint8_t bits;
    uint8_t op;
};

const uint8_t kLiteral = 0x00;
const uint8_t kInvalid = 0x10;
const uint8_t kEndOfBlock = 0x20;
const uint8_t kSubTable = 0x40;
const uint8_t kBase = 0x80;

// Bits resolved by the root of each table, and the tables' sizes with their sub-tables.
const int kLiteralRoot = 10;
const int kDistanceRoot = 8;
const int kLengthCodeRoot = 7;
const size_t kLiteralTableSize = 2560;
const size_t kDistanceTableSize = 768;

// The order in which a dynamic block gives the lengths of the code-length code.
extern const uint8_t kLengthCodeOrder[19];

// What each symbol of the three codes stands for; deflate and Deflate64 differ in length code 285
// (258, or 3 plus 16 extra bits) and in distance codes 30 and 31 (invalid, or 32769 and 49153).
struct Symbols {
    Code literals[288];
    Code distances[32];
    Code lengthCodes[19];
    explicit Symbols(bool deflate64);
};
extern const Symbols kDeflateSymbols;
extern const Symbols kDeflate64Symbols;

// Builds the lookup table of a canonical Huffman code from its code lengths (0: symbol unused).
// False for lengths that over-subscribe the code, or leave it incomplete where that is not
// allowed: deflate permits an incomplete code only when it is a single code of one bit (a block
// with one distance), and a code without any symbol (a block without matches).
bool BuildTable(const uint8_t* lengths, unsigned count, const Code* symbols, int root, bool allowIncomplete,
    Code* table, size_t tableSize);

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
inline void CopyBytes(uint8_t* to, size_t distance, size_t count)
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

}  // namespace inflating
}  // namespace unzip
