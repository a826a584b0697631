#include "unzip32/core/Bzip2Block.h"

#include <cstring>

namespace unzip {

namespace {

const int kMaxGroups = 6;
const int kMaxAlphabet = 258;
const int kMaxSelectors = 18002;
const int kLongestCode = 20;
const int kGroupSize = 50;
const uint32_t kLargestBlock = 900000;
// Codes up to this long are read with one table lookup; longer ones bit by bit as libbz2 does.
const int kFastBits = 10;

const uint64_t kBlockSignature = 0x314159265359ull;
const uint64_t kEndSignature = 0x177245385090ull;

// bzip2's CRC: CRC-32 shifted out from the top.
struct CrcTable {
    uint32_t values[256];
    CrcTable()
    {
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i << 24;
            for (int k = 0; k < 8; ++k)
                c = (c & 0x80000000u) != 0 ? (c << 1) ^ 0x04C11DB7u : c << 1;
            values[i] = c;
        }
    }
};
const CrcTable kCrc;

// Reads bits from the top of each byte. Past the end it reads zeros and says so in Overrun().
class BitReader {
public:
    BitReader(const uint8_t* data, size_t size) : data_(data), size_(size) { }

    void Refill()
    {
        if (pos_ + 8 <= size_) {
            uint64_t v = 0;
            for (size_t i = 0; i < 8; ++i)
                v = (v << 8) | data_[pos_ + i];
            buffer_ |= v >> count_;
            pos_ += (63 - count_) >> 3;
            count_ |= 56;
            return;
        }
        while (count_ <= 56) {
            buffer_ |= uint64_t(pos_ < size_ ? data_[pos_] : 0) << (56 - count_);
            ++pos_;
            count_ += 8;
        }
    }
    // Up to 32 bits; the buffer needs `n` of them (Refill first).
    uint32_t Peek(unsigned n) const { return static_cast<uint32_t>(buffer_ >> (64 - n)); }
    void Skip(unsigned n)
    {
        buffer_ <<= n;
        count_ -= n;
    }
    uint32_t Get(unsigned n)
    {
        if (count_ < n)
            Refill();
        const uint32_t value = Peek(n);
        Skip(n);
        return value;
    }
    uint64_t Get48()
    {
        const uint64_t high = Get(24);
        return (high << 24) | Get(24);
    }
    unsigned Count() const { return count_; }
    // The bits taken so far.
    uint64_t Position() const { return uint64_t(pos_) * 8 - count_; }
    bool Overrun() const { return Position() > uint64_t(size_) * 8; }

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
    uint64_t buffer_ = 0;
    unsigned count_ = 0;
};

}  // namespace

// One Huffman table per group, laid out as libbz2 lays out its own (limit, base and perm by code
// length), with a lookup of the first kFastBits bits in front: each entry is the symbol and the
// length of the code those bits start with, or 0 where the code is longer (or where libbz2 would
// find no symbol, which is then left to it).
struct Bzip2Block::Tables {
    struct Group {
        uint16_t fast[1u << kFastBits];
        int32_t limit[kLongestCode + 3];
        int32_t base[kLongestCode + 3];
        int32_t perm[kMaxAlphabet];
        int minLength;
    };
    Group groups[kMaxGroups];
    uint8_t selectors[kMaxSelectors];
    uint8_t lengths[kMaxGroups][kMaxAlphabet];
};

const uint32_t Bzip2Block::kChunks = (kLargestBlock + kChunk - 1) / kChunk + kMaxSegments;

const size_t Bzip2Block::kMemory =
    sizeof(Bzip2Block::Tables) + kLargestBlock * sizeof(uint32_t) + size_t(kChunks) * (kChunk + sizeof(uint32_t));

Bzip2Block::Bzip2Block()
    : tables_(new Tables),
      tt_(new uint32_t[kLargestBlock]),
      raw_(new uint8_t[size_t(kChunks) * kChunk]),
      nextChunk_(new uint32_t[kChunks])
{
}

Bzip2Block::~Bzip2Block() = default;

namespace {

// libbz2's decoding tables for one group, and the fast lookup in front of them. False when a
// code could decode to no symbol of the alphabet.
void MakeGroup(
    const uint8_t* length, int alphabet, int32_t* limit, int32_t* base, int32_t* perm, int& minLength, uint16_t* fast)
{
    int minLen = 32;
    int maxLen = 0;
    for (int i = 0; i < alphabet; ++i) {
        if (length[i] > maxLen)
            maxLen = length[i];
        if (length[i] < minLen)
            minLen = length[i];
    }
    int pp = 0;
    for (int i = minLen; i <= maxLen; ++i)
        for (int j = 0; j < alphabet; ++j)
            if (length[j] == i)
                perm[pp++] = j;
    for (int i = 0; i < kLongestCode + 3; ++i)
        base[i] = 0;
    for (int i = 0; i < alphabet; ++i)
        base[length[i] + 1]++;
    for (int i = 1; i < kLongestCode + 3; ++i)
        base[i] += base[i - 1];
    for (int i = 0; i < kLongestCode + 3; ++i)
        limit[i] = 0;
    int32_t vec = 0;
    for (int i = minLen; i <= maxLen; ++i) {
        vec += base[i + 1] - base[i];
        limit[i] = vec - 1;
        vec <<= 1;
    }
    for (int i = minLen + 1; i <= maxLen; ++i)
        base[i] = ((limit[i - 1] + 1) << 1) - base[i];
    minLength = minLen;

    // What libbz2's bit-by-bit search finds for each start of kFastBits bits.
    for (uint32_t bits = 0; bits < (1u << kFastBits); ++bits) {
        uint16_t entry = 0;
        if (minLen <= kFastBits) {
            int zn = minLen;
            int32_t zvec = static_cast<int32_t>(bits >> (kFastBits - zn));
            for (;;) {
                if (zvec <= limit[zn]) {
                    const int32_t index = zvec - base[zn];
                    if (index >= 0 && index < alphabet)
                        entry = static_cast<uint16_t>((perm[index] << 5) | zn);
                    break;
                }
                if (++zn > kFastBits)
                    break;
                zvec = (zvec << 1) | static_cast<int32_t>((bits >> (kFastBits - zn)) & 1);
            }
        }
        fast[bits] = entry;
    }
}

}  // namespace

// The block's bytes in the order of the walk: from `first`, each entry of tt_ gives a byte and the
// position of the next. Each step waits for memory (the entries lie all over 3.6 MB), so the walk
// goes along several stretches at once: further walkers start at positions spread over tt_, and a
// walker stops where it reaches the start of another stretch, then starts again at a position no
// one has been to while much is left. The stretches are chained in order afterwards. False when the
// entries do not make one cycle of `count` steps from `first` (a damaged block: libbz2 decides).
bool Bzip2Block::Walk(uint32_t first, uint32_t count)
{
    const int kWalkers = 8;
    // Walkers start again only while more than this is left for them.
    const uint32_t kLeastLeft = 1u << 14;
    const uint32_t kStart = 1u << 31;
    const uint32_t kSeen = 1u << 30;
    const uint32_t kNext = 0x0FFFFFFFu;
    uint32_t* tt = tt_.get();
    uint8_t* raw = raw_.get();
    uint32_t used = 0;
    segments_ = 0;

    struct Walker {
        uint32_t position;
        uint32_t segment;
        uint32_t steps;
        uint8_t* at;
        uint8_t* end;
        bool active;
    };
    Walker walkers[kWalkers];
    auto begin = [&](Walker& walker, uint32_t position) {
        Segment& segment = segment_[segments_];
        segment.start = position;
        segment.end = 0;
        segment.firstChunk = segment.lastChunk = used;
        segment.length = 0;
        walker.position = position;
        walker.segment = segments_;
        walker.steps = 0;
        walker.at = raw + size_t(used) * kChunk;
        walker.end = walker.at + kChunk;
        walker.active = true;
        ++used;
        ++segments_;
        tt[position] |= kStart;
    };

    const int walking = count >= kLeastLeft ? kWalkers : 1;
    int active = 0;
    for (int k = 0; k < kWalkers; ++k) {
        walkers[k].active = false;
        const uint32_t position =
            k == 0 ? first : static_cast<uint32_t>(uint64_t(count) * unsigned(k) / unsigned(walking));
        if (k < walking && (tt[position] & kStart) == 0) {
            begin(walkers[k], position);
            ++active;
        }
    }
    uint32_t visited = 0;
    uint32_t cursor = 0;
    while (active > 0) {
        for (Walker& walker : walkers) {
            if (!walker.active)
                continue;
            const uint32_t item = tt[walker.position];
            if ((item & kStart) != 0 && walker.steps > 0) {
                Segment& segment = segment_[walker.segment];
                segment.end = walker.position;
                segment.length = walker.steps;
                walker.active = false;
                --active;
                if (segments_ < kMaxSegments && count - visited > kLeastLeft) {
                    while (cursor < count && (tt[cursor] & (kStart | kSeen)) != 0)
                        ++cursor;
                    if (cursor < count) {
                        begin(walker, cursor);
                        ++active;
                    }
                }
                continue;
            }
            tt[walker.position] = item | kSeen;
            if (walker.at == walker.end) {
                if (used >= kChunks)
                    return false;
                Segment& segment = segment_[walker.segment];
                nextChunk_[segment.lastChunk] = used;
                segment.lastChunk = used;
                walker.at = raw + size_t(used) * kChunk;
                walker.end = walker.at + kChunk;
                ++used;
            }
            *walker.at++ = static_cast<uint8_t>(item);
            ++walker.steps;
            ++visited;
            walker.position = (item & kNext) >> 8;
        }
    }

    // The chain from the first stretch; it has to come back to `first` after all `count` steps.
    uint32_t total = 0;
    uint32_t s = 0;
    for (uint32_t hops = 0;; ++hops) {
        if (hops >= segments_)
            return false;
        total += segment_[s].length;
        const uint32_t end = segment_[s].end;
        if (end == first) {
            order_[s] = kMaxSegments;
            break;
        }
        uint32_t t = 0;
        while (t < segments_ && segment_[t].start != end)
            ++t;
        if (t == segments_)
            return false;
        order_[s] = t;
        s = t;
    }
    return total == count;
}

bool Bzip2Block::Decode(const uint8_t* data, size_t size, uint8_t* out, size_t capacity, size_t& produced)
{
    produced = 0;
    if (size < 4 + 10 || data[0] != 'B' || data[1] != 'Z' || data[2] != 'h' || data[3] < '1' || data[3] > '9')
        return false;
    const uint32_t blockMax = 100000u * static_cast<uint32_t>(data[3] - '0');
    Tables& t = *tables_;
    BitReader in(data + 4, size - 4);

    if (in.Get48() != kBlockSignature)
        return false;
    const uint32_t storedCrc = (in.Get(16) << 16) | in.Get(16);
    if (in.Get(1) != 0)
        return false;  // randomised: an old form, left to libbz2
    const uint32_t origin = in.Get(24);
    if (origin > 10 + blockMax)
        return false;

    uint8_t seqToUnseq[256];
    int inUse = 0;
    const uint32_t used16 = in.Get(16);
    for (int i = 0; i < 16; ++i) {
        if ((used16 & (0x8000u >> i)) == 0)
            continue;
        const uint32_t used = in.Get(16);
        for (int j = 0; j < 16; ++j)
            if ((used & (0x8000u >> j)) != 0)
                seqToUnseq[inUse++] = static_cast<uint8_t>(i * 16 + j);
    }
    if (inUse == 0)
        return false;
    const int alphabet = inUse + 2;

    const int groups = static_cast<int>(in.Get(3));
    if (groups < 2 || groups > kMaxGroups)
        return false;
    const int selectors = static_cast<int>(in.Get(15));
    if (selectors < 1 || selectors > kMaxSelectors)
        return false;
    uint8_t order[kMaxGroups];
    for (int v = 0; v < groups; ++v)
        order[v] = static_cast<uint8_t>(v);
    for (int i = 0; i < selectors; ++i) {
        int j = 0;
        while (in.Get(1) != 0)
            if (++j >= groups)
                return false;
        const uint8_t chosen = order[j];
        for (; j > 0; --j)
            order[j] = order[j - 1];
        order[0] = chosen;
        t.selectors[i] = chosen;
        if (in.Overrun())
            return false;
    }

    for (int g = 0; g < groups; ++g) {
        int current = static_cast<int>(in.Get(5));
        for (int i = 0; i < alphabet; ++i) {
            for (;;) {
                if (current < 1 || current > kLongestCode)
                    return false;
                if (in.Get(1) == 0)
                    break;
                current += in.Get(1) == 0 ? 1 : -1;
            }
            t.lengths[g][i] = static_cast<uint8_t>(current);
        }
        Tables::Group& group = t.groups[g];
        MakeGroup(t.lengths[g], alphabet, group.limit, group.base, group.perm, group.minLength, group.fast);
    }
    if (in.Overrun())
        return false;

    // The symbols: move-to-front indexes, with runs of the front byte counted in RUNA/RUNB digits.
    const int endOfBlock = inUse + 1;
    uint8_t front[256];
    for (int i = 0; i < 256; ++i)
        front[i] = static_cast<uint8_t>(i);
    uint32_t counts[256] = {};
    uint32_t* tt = tt_.get();
    uint32_t count = 0;
    int groupNo = -1;
    int groupLeft = 0;
    const Tables::Group* group = nullptr;
    uint32_t run = 0;
    uint32_t runWeight = 1;
    for (;;) {
        if (groupLeft == 0) {
            if (++groupNo >= selectors)
                return false;
            groupLeft = kGroupSize;
            group = &t.groups[t.selectors[groupNo]];
        }
        --groupLeft;
        if (in.Count() < 32)
            in.Refill();
        int symbol;
        const uint16_t entry = group->fast[in.Peek(kFastBits)];
        if (entry != 0) {
            in.Skip(entry & 31);
            symbol = entry >> 5;
        } else {
            int zn = group->minLength;
            int32_t zvec = static_cast<int32_t>(in.Get(static_cast<unsigned>(zn)));
            for (;;) {
                if (zn > kLongestCode)
                    return false;
                if (zvec <= group->limit[zn])
                    break;
                ++zn;
                zvec = (zvec << 1) | static_cast<int32_t>(in.Get(1));
            }
            const int32_t index = zvec - group->base[zn];
            if (index < 0 || index >= alphabet)
                return false;
            symbol = group->perm[index];
        }

        if (symbol <= 1) {  // RUNA, RUNB
            if (runWeight >= (2u << 20))
                return false;
            run += runWeight << symbol;
            runWeight <<= 1;
            continue;
        }
        if (run > 0) {
            if (run > blockMax - count)
                return false;
            const uint8_t byte = seqToUnseq[front[0]];
            counts[byte] += run;
            for (uint32_t k = 0; k < run; ++k)
                tt[count + k] = byte;
            count += run;
            run = 0;
            runWeight = 1;
        }
        if (symbol == endOfBlock)
            break;
        if (count >= blockMax)
            return false;
        const int at = symbol - 1;
        const uint8_t moved = front[at];
        if (at < 16) {
            for (int k = at; k > 0; --k)
                front[k] = front[k - 1];
        } else {
            std::memmove(front + 1, front, static_cast<size_t>(at));
        }
        front[0] = moved;
        const uint8_t byte = seqToUnseq[moved];
        ++counts[byte];
        tt[count++] = byte;
    }
    if (in.Overrun() || origin >= count)
        return false;

    // The end of the stream must follow: its signature, the block's CRC as the combined CRC, and
    // no more than the bits that fill the last byte.
    if (in.Get48() != kEndSignature)
        return false;
    const uint32_t combinedCrc = (in.Get(16) << 16) | in.Get(16);
    if (combinedCrc != storedCrc || in.Overrun() || (in.Position() + 7) / 8 != size - 4)
        return false;

    // Sorted back: each position gets the index of the byte that follows it.
    uint32_t next[256];
    uint32_t sum = 0;
    for (int i = 0; i < 256; ++i) {
        next[i] = sum;
        sum += counts[i];
    }
    for (uint32_t i = 0; i < count; ++i)
        tt[next[tt[i] & 0xFF]++] |= i << 8;

    // The walk, on several paths at once (see Walk), then bzip2's first run-length coding undone:
    // four equal bytes are followed by the count of the further copies.
    if (!Walk(tt[origin] >> 8, count))
        return false;
    size_t written = 0;
    uint32_t crc = 0xFFFFFFFFu;
    int previous = -1;
    int same = 0;
    for (uint32_t s = 0; s < segments_; s = order_[s]) {
        const Segment& segment = segment_[s];
        uint32_t left = segment.length;
        for (uint32_t chunk = segment.firstChunk; left > 0; chunk = nextChunk_[chunk]) {
            const uint8_t* bytes = raw_.get() + size_t(chunk) * kChunk;
            const uint32_t take = left < kChunk ? left : kChunk;
            left -= take;
            for (uint32_t i = 0; i < take; ++i) {
                const uint8_t byte = bytes[i];
                if (same == 4) {
                    if (byte > capacity - written)
                        return false;
                    for (uint32_t k = 0; k < byte; ++k)
                        crc = (crc << 8) ^ kCrc.values[(crc >> 24) ^ static_cast<uint8_t>(previous)];
                    std::memset(out + written, previous, byte);
                    written += byte;
                    previous = -1;
                    same = 0;
                    continue;
                }
                if (written >= capacity)
                    return false;
                out[written++] = byte;
                crc = (crc << 8) ^ kCrc.values[(crc >> 24) ^ byte];
                if (byte == previous) {
                    ++same;
                } else {
                    previous = byte;
                    same = 1;
                }
            }
        }
    }
    if (~crc != storedCrc)
        return false;
    produced = written;
    return true;
}

}  // namespace unzip
