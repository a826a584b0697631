#include "unzip32/core/DeflateTables.h"

#include <algorithm>

namespace unzip {
namespace inflating {

namespace {

const uint16_t kLengthBase[29] = {
    3, 4, 5, 6, 7, 8, 9, 10, 11, 13, 15, 17, 19, 23, 27, 31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
const uint8_t kLengthExtra[29] = {
    0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
const uint16_t kDistanceBase[32] = {1, 2, 3, 4, 5, 7, 9, 13, 17, 25, 33, 49, 65, 97, 129, 193, 257, 385, 513, 769, 1025,
    1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577, 32769, 49153};
const uint8_t kDistanceExtra[32] = {
    0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13, 14, 14};

unsigned Reverse(unsigned code, int length)
{
    unsigned reversed = 0;
    for (int i = 0; i < length; ++i) {
        reversed = (reversed << 1) | (code & 1);
        code >>= 1;
    }
    return reversed;
}

}  // namespace

const uint8_t kLengthCodeOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

Symbols::Symbols(bool deflate64)
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
    if (deflate64)
        literals[285] = {3, 0, static_cast<uint8_t>(kBase | 16)};
    for (unsigned i = 0; i < 32; ++i)
        distances[i] = {kDistanceBase[i], 0, static_cast<uint8_t>(kBase | kDistanceExtra[i])};
    if (!deflate64)
        distances[30] = distances[31] = {0, 0, kInvalid};
    for (unsigned i = 0; i < 19; ++i)
        lengthCodes[i] = {static_cast<uint16_t>(i), 0, kLiteral};
}

const Symbols kDeflateSymbols(false);
const Symbols kDeflate64Symbols(true);

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

    unsigned next[16] = {};
    unsigned code = 0;
    for (int length = 2; length <= 15; ++length) {
        code = (code + perLength[length - 1]) << 1;
        next[length] = code;
    }
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

}  // namespace inflating
}  // namespace unzip
