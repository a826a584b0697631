#include "unzip32/core/Salvage.h"

#include "unzip32/core/ByteReader.h"
#include "unzip32/core/DecodePool.h"
#include "unzip32/core/NameDecoder.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace unzip {

namespace {

// Where a member's data may end when only its descriptor tells: the first few places that look like
// a descriptor giving that length are tried, no more.
const int kDescriptorTries = 8;
// What the found members may occupy in memory, as for a directory.
const size_t kSalvageBudget = 32u << 20;
const size_t kScanBlock = 256u << 10;

class Walk {
public:
    Walk(Source& source, const Progress& going)
        : source_(source),
          going_(going),
          size_(source.Size()),
          // Bytes scanned and compressed bytes decoded to prove members, in all.
          work_(size_ > (UINT64_MAX >> 3) ? UINT64_MAX : 4 * size_ + (1u << 20))
    {
    }

    uint64_t Size() const { return size_; }

    // Takes `count` bytes of work; false once the walk has done all it may.
    bool Spend(uint64_t count)
    {
        if (count > work_) {
            work_ = 0;
            return false;
        }
        work_ -= count;
        return true;
    }
    // Out of work, or told to stop.
    bool Exhausted() const { return work_ == 0 || stopped_; }
    bool Stopped() const { return stopped_; }

    bool Read(uint64_t offset, void* buffer, size_t count) { return source_.Read(offset, buffer, count); }

    // Decodes the member's data (`length` bytes at `start`) and checks its size and CRC, with the
    // memory its decoder asks for, as the extraction will.
    bool Proves(const Entry& entry, uint64_t start, uint64_t length)
    {
        if (!Spend(length))
            return false;
        Slot slot;
        slot.entry = &entry;
        slot.dataStart = start;
        slot.dataLength = length;
        const uint64_t needed = DecoderMemory(source_, entry, start, length);
        slot.memoryLimit = std::min(std::max(needed, kDecoderMemoryLimit), kLargestDecoderMemory);
        slot.decode = true;
        uint64_t produced = 0;
        RunSlot(source_, slot, DecoderHelpers(), input_, output_, [&](uint64_t now) {
            produced = now;
            if (!going_ || going_(proved_ + now))
                return true;
            stopped_ = true;
            return false;
        });
        proved_ += produced;
        return slot.status == Status::Ok;
    }

    // The next local record's signature after `from`; false when there is none (or no work left).
    bool NextLocal(uint64_t from, uint64_t& found)
    {
        bool signature = false;
        Scan(from, 4, [&](const uint8_t* at, uint64_t position) {
            if (ByteReader(at, 4).U32() != kLocalSignature)
                return false;
            found = position;
            signature = true;
            return true;
        });
        return signature;
    }

    // Where the data of a member that keeps its CRC and sizes in a descriptor ends: each place
    // from `start` on where a descriptor (with or without its signature, 32- or 64-bit sizes) gives
    // the length of the data before it is tried, in order, until one proves the member. Fills the
    // entry's CRC and sizes and `next`, the offset after the descriptor.
    bool FindDescriptor(Entry& entry, uint64_t start, uint64_t& next)
    {
        struct Form {
            size_t skip;  // the signature's four bytes, or none
            bool wide;
        };
        const Form forms[] = {{4, false}, {4, true}, {0, false}};
        int tries = 0;
        bool proved = false;
        Scan(start, 12, [&](const uint8_t* at, uint64_t position) {
            const uint64_t length = position - start;
            const bool signature = ByteReader(at, 4).U32() == kDescriptorSignature;
            for (const Form& form : forms) {
                if (form.skip == 4 && !signature)
                    continue;
                ByteReader d(at + form.skip, kLongestDescriptor - form.skip);
                const uint32_t crc = d.U32();
                const uint64_t compressed = form.wide ? d.U64() : d.U32();
                const uint64_t size = form.wide ? d.U64() : d.U32();
                const size_t used = form.skip + (form.wide ? 20u : 12u);
                if (compressed != length || used > size_ - position)
                    continue;
                Entry tried = entry;
                tried.crc = crc;
                tried.compressedSize = compressed;
                tried.size = size;
                if (Proves(tried, start, length)) {
                    entry = tried;
                    next = position + used;
                    proved = true;
                    return true;
                }
                if (++tries >= kDescriptorTries || Exhausted())
                    return true;
            }
            return false;
        });
        return proved;
    }

private:
    static constexpr size_t kLongestDescriptor = 24;

    // Calls `look` at each position from `from` on, with at least `least` bytes there (and up to
    // kLongestDescriptor where the file has them; zeros after its end), until it says true, the
    // file ends or the work is done. Blocks grow from small, so that a short member costs little.
    template <typename Look> void Scan(uint64_t from, size_t least, Look look)
    {
        std::vector<uint8_t> block;
        size_t blockSize = 4096;
        for (uint64_t at = from; at < size_ && size_ - at >= least;) {
            const size_t count = static_cast<size_t>(std::min<uint64_t>(blockSize + kLongestDescriptor, size_ - at));
            block.assign(count + kLongestDescriptor, 0);
            if (!source_.Read(at, block.data(), count))
                return;
            // Positions whose bytes are all in this block; the last block takes the rest.
            const size_t positions = count == size_ - at ? count - least + 1 : count - kLongestDescriptor;
            for (size_t i = 0; i < positions; ++i) {
                if (look(block.data() + i, at + i)) {
                    Spend(i + 1);
                    return;
                }
            }
            if (!Spend(positions) || count == size_ - at)
                return;
            at += positions;
            blockSize = std::min(blockSize * 2, kScanBlock);
        }
    }

    Source& source_;
    const Progress& going_;
    uint64_t proved_ = 0;  // bytes decoded to prove members, in all
    bool stopped_ = false;
    uint64_t size_;
    uint64_t work_;
    std::vector<uint8_t> input_;
    std::vector<uint8_t> output_;
};

}  // namespace

Status SalvageDirectory(
    Source& source, Directory& directory, const NameCodec* codec, unsigned namePage, const Progress& going)
{
    directory = Directory();
    Walk walk(source, going);
    uint8_t header[kLocalSize];
    if (walk.Size() < kLocalSize || !walk.Read(0, header, kLocalSize) ||
        ByteReader(header, kLocalSize).U32() != kLocalSignature)
        return Status::NotAnArchive;

    size_t used = 0;
    uint64_t pos = 0;
    std::vector<uint8_t> variable;
    // Each turn either ends the walk or moves `pos` forward.
    while (!walk.Exhausted() && walk.Size() - pos >= kLocalSize && walk.Read(pos, header, kLocalSize) &&
        ByteReader(header, kLocalSize).U32() == kLocalSignature) {
        ByteReader r(header, kLocalSize);
        r.Skip(6);
        Entry entry;
        entry.flags = r.U16();
        entry.method = r.U16();
        entry.actualMethod = entry.method;
        entry.dosTime = r.U16();
        entry.dosDate = r.U16();
        entry.crc = r.U32();
        const uint32_t compressed32 = r.U32();
        const uint32_t size32 = r.U32();
        entry.compressedSize = compressed32;
        entry.size = size32;
        const uint16_t nameLength = r.U16();
        const uint16_t extraLength = r.U16();
        entry.localOffset = pos;

        const uint64_t dataStart = pos + kLocalSize + nameLength + extraLength;
        variable.resize(static_cast<size_t>(nameLength) + extraLength);
        if (dataStart > walk.Size() || !walk.Read(pos + kLocalSize, variable.data(), variable.size()))
            break;  // cut inside the record: nothing after it is there
        entry.rawName.assign(reinterpret_cast<const char*>(variable.data()), nameLength);
        DecodeName(entry);
        ReadExtras(variable.data() + nameLength, extraLength, entry, size32 == 0xFFFFFFFFu, compressed32 == 0xFFFFFFFFu,
            false, false);

        const bool descriptor = (entry.flags & 0x0008) != 0;
        const bool known = !descriptor && !entry.shortZip64;
        const bool inside = known && entry.compressedSize <= walk.Size() - dataStart;
        uint64_t next = inside ? dataStart + entry.compressedSize : 0;
        bool take = false;
        if (entry.IsDirectory() && entry.size == 0 && entry.compressedSize == 0 && !descriptor) {
            take = true;
        } else if (entry.IsStronglyEncrypted() || !IsSupportedMethod(entry.actualMethod)) {
            // Not decoded here: skipped, as it would be from a directory.
        } else if (entry.IsEncrypted()) {
            take = inside;
        } else if (inside) {
            take = walk.Proves(entry, dataStart, entry.compressedSize);
        } else if (descriptor) {
            take = walk.FindDescriptor(entry, dataStart, next);
            entry.shortZip64 = false;
        }
        if (known && !inside)
            break;  // its data runs past the end: the file was cut here
        if (take) {
            used += sizeof(Entry) + 2 * entry.rawName.size() + entry.name.size() + 64;
            if (used > kSalvageBudget)
                break;
            directory.entries.push_back(std::move(entry));
            directory.directoryStart = next;
        }
        // Past what was taken; otherwise on at the next record's signature, which must be where
        // the record said it ends or, when that cannot be trusted, the next one found.
        uint64_t found = 0;
        if (take ||
            (next > pos && walk.Size() - next >= 4 && walk.Read(next, header, 4) &&
                ByteReader(header, 4).U32() == kLocalSignature))
            pos = next;
        else if (walk.NextLocal(pos + 4, found))
            pos = found;
        else
            break;
    }

    if (walk.Stopped())
        return Status::Stopped;
    const unsigned page = LegacyNamePage(directory.entries, codec, namePage);
    DecodeLegacyNames(directory.entries, codec, page);
    if (directory.entries.empty())
        directory.directoryStart = 0;
    return Status::Ok;
}

}  // namespace unzip
