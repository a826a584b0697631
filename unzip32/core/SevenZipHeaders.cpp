#include "unzip32/core/SevenZipHeaders.h"

#include "unzip32/core/NameDecoder.h"
#include "unzip32/core/WholeMember.h"


#include <algorithm>

namespace unzip {
namespace sevenzip {

namespace {

enum Property : uint8_t {
    kEnd = 0,
    kHeader = 1,
    kArchiveProperties = 2,
    kAdditionalStreamsInfo = 3,
    kMainStreamsInfo = 4,
    kFilesInfo = 5,
    kPackInfo = 6,
    kUnpackInfo = 7,
    kSubStreamsInfo = 8,
    kSize = 9,
    kCrc = 10,
    kFolder = 11,
    kCodersUnpackSize = 12,
    kNumUnpackStream = 13,
    kEmptyStream = 14,
    kEmptyFile = 15,
    kAnti = 16,
    kName = 17,
    kMTime = 20,
    kWinAttributes = 21,
    kEncodedHeader = 23,
    kDummy = 25,
};

// The most coders, and streams of one coder, a folder may have (7-Zip writes at most 4 coders,
// BCJ2 has the most streams, 4 in).
const uint64_t kMaxCoders = 8;
const uint64_t kMaxCoderStreams = 4;

// Thrown as a value by the cursor below when the header is damaged; caught in ParseHeader.
struct Damaged {
    const char* what;
};

class Cursor {
public:
    Cursor(const uint8_t* data, size_t size) : p_(data), end_(data + size) { }

    size_t Left() const { return static_cast<size_t>(end_ - p_); }
    uint8_t Byte()
    {
        if (p_ == end_)
            throw Damaged {"the header ends early"};
        return *p_++;
    }
    uint64_t Number()
    {
        const uint8_t first = Byte();
        uint8_t mask = 0x80;
        uint64_t value = 0;
        for (int i = 0; i < 8; ++i) {
            if ((first & mask) == 0)
                return value | (static_cast<uint64_t>(first & (mask - 1)) << (8 * i));
            value |= static_cast<uint64_t>(Byte()) << (8 * i);
            mask >>= 1;
        }
        return value;
    }
    // A count of items that each take at least one byte of what is left.
    size_t Count()
    {
        const uint64_t n = Number();
        if (n > Left())
            throw Damaged {"a count in the header is larger than the header"};
        return static_cast<size_t>(n);
    }
    uint32_t Uint32()
    {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i)
            v |= static_cast<uint32_t>(Byte()) << (8 * i);
        return v;
    }
    uint64_t Uint64()
    {
        uint64_t v = 0;
        for (int i = 0; i < 8; ++i)
            v |= static_cast<uint64_t>(Byte()) << (8 * i);
        return v;
    }
    const uint8_t* Take(uint64_t n)
    {
        if (n > Left())
            throw Damaged {"the header ends early"};
        const uint8_t* at = p_;
        p_ += n;
        return at;
    }
    void Expect(uint8_t id)
    {
        if (Byte() != id)
            throw Damaged {"unexpected property in the header"};
    }

private:
    const uint8_t* p_;
    const uint8_t* end_;
};

std::vector<bool> Bits(Cursor& in, size_t count)
{
    if ((count + 7) / 8 > in.Left())
        throw Damaged {"the header ends early"};
    std::vector<bool> bits(count);
    uint8_t byte = 0;
    for (size_t i = 0; i < count; ++i) {
        if (i % 8 == 0)
            byte = in.Byte();
        bits[i] = (byte & (0x80 >> (i % 8))) != 0;
    }
    return bits;
}

std::vector<bool> DefinedBits(Cursor& in, size_t count)
{
    if (in.Byte() != 0)
        return std::vector<bool>(count, true);
    return Bits(in, count);
}

void Digests(Cursor& in, size_t count, std::vector<bool>& defined, std::vector<uint32_t>& crcs)
{
    defined = DefinedBits(in, count);
    crcs.assign(count, 0);
    for (size_t i = 0; i < count; ++i)
        if (defined[i])
            crcs[i] = in.Uint32();
}

void SkipProperty(Cursor& in)
{
    in.Take(in.Number());
}

void ReadPackInfo(Cursor& in, StreamsInfo& info, uint64_t archiveSize)
{
    info.packPos = in.Number();
    const size_t count = in.Count();
    info.packSizes.assign(count, 0);
    uint64_t total = 0;
    for (;;) {
        const uint8_t id = in.Byte();
        if (id == kEnd)
            break;
        if (id == kSize) {
            for (uint64_t& size : info.packSizes) {
                size = in.Number();
                if (size > archiveSize || total + size > archiveSize)
                    throw Damaged {"packed streams larger than the archive"};
                total += size;
            }
        } else if (id == kCrc) {
            std::vector<bool> defined;
            std::vector<uint32_t> crcs;
            Digests(in, count, defined, crcs);
        } else {
            SkipProperty(in);
        }
    }
    if (info.packPos > archiveSize || total > archiveSize - info.packPos)
        throw Damaged {"packed streams beyond the archive's end"};
}

void ReadFolder(Cursor& in, Folder& folder)
{
    const uint64_t coders = in.Number();
    if (coders == 0 || coders > kMaxCoders)
        throw Damaged {"a folder with a strange number of coders"};
    folder.coders.resize(static_cast<size_t>(coders));
    for (Coder& coder : folder.coders) {
        const uint8_t flags = in.Byte();
        if ((flags & 0x80) != 0)
            throw Damaged {"alternative coder methods are not decoded"};
        const unsigned idSize = flags & 0x0F;
        if (idSize > 8)
            throw Damaged {"a coder id longer than 8 bytes"};
        const uint8_t* id = in.Take(idSize);
        for (unsigned i = 0; i < idSize; ++i)
            coder.id = (coder.id << 8) | id[i];
        if ((flags & 0x10) != 0) {
            const uint64_t ins = in.Number();
            const uint64_t outs = in.Number();
            if (ins == 0 || outs == 0 || ins > kMaxCoderStreams || outs > kMaxCoderStreams)
                throw Damaged {"a coder with a strange number of streams"};
            coder.inStreams = static_cast<unsigned>(ins);
            coder.outStreams = static_cast<unsigned>(outs);
        }
        if ((flags & 0x20) != 0) {
            const size_t size = in.Count();
            const uint8_t* properties = in.Take(size);
            coder.properties.assign(properties, properties + size);
        }
    }
    const unsigned totalIn = folder.TotalIn();
    const unsigned totalOut = folder.TotalOut();
    if (totalOut == 0)
        throw Damaged {"a folder without output"};
    folder.bindPairs.resize(totalOut - 1);
    for (auto& pair : folder.bindPairs) {
        const uint64_t inIndex = in.Number();
        const uint64_t outIndex = in.Number();
        if (inIndex >= totalIn || outIndex >= totalOut)
            throw Damaged {"a bind pair outside the folder"};
        for (const auto& other : folder.bindPairs)
            if (&other != &pair && (other.first == inIndex || other.second == outIndex) && &other < &pair)
                throw Damaged {"a stream bound twice"};
        pair = {static_cast<unsigned>(inIndex), static_cast<unsigned>(outIndex)};
    }
    if (totalIn < folder.bindPairs.size() + 1)
        throw Damaged {"a folder without packed streams"};
    const size_t packed = totalIn - folder.bindPairs.size();
    if (packed == 1) {
        for (unsigned i = 0; i < totalIn; ++i)
            if (std::none_of(folder.bindPairs.begin(), folder.bindPairs.end(),
                    [i](const std::pair<unsigned, unsigned>& p) { return p.first == i; })) {
                folder.packedStreams.push_back(i);
                break;
            }
    } else {
        for (size_t i = 0; i < packed; ++i) {
            const uint64_t index = in.Number();
            if (index >= totalIn)
                throw Damaged {"a packed stream outside the folder"};
            folder.packedStreams.push_back(static_cast<unsigned>(index));
        }
    }
    if (folder.MainOut() < 0)
        throw Damaged {"a folder without a main stream"};
}

void ReadUnpackInfo(Cursor& in, StreamsInfo& info)
{
    in.Expect(kFolder);
    const size_t count = in.Count();
    // A folder takes at least three bytes: its coder count, a coder's flags and its unpacked size.
    if (count > in.Left() / 3)
        throw Damaged {"more folders than the header holds"};
    if (in.Byte() != 0)
        throw Damaged {"external folders are not read"};
    info.folders.resize(count);
    size_t packIndex = 0;
    for (Folder& folder : info.folders) {
        ReadFolder(in, folder);
        folder.firstPackStream = packIndex;
        packIndex += folder.packedStreams.size();
        if (packIndex > info.packSizes.size())
            throw Damaged {"folders use more packed streams than there are"};
    }
    in.Expect(kCodersUnpackSize);
    for (Folder& folder : info.folders) {
        folder.unpackSizes.resize(folder.TotalOut());
        for (uint64_t& size : folder.unpackSizes)
            size = in.Number();
    }
    for (;;) {
        const uint8_t id = in.Byte();
        if (id == kEnd)
            break;
        if (id == kCrc) {
            std::vector<bool> defined;
            std::vector<uint32_t> crcs;
            Digests(in, info.folders.size(), defined, crcs);
            for (size_t i = 0; i < info.folders.size(); ++i) {
                info.folders[i].hasCrc = defined[i];
                info.folders[i].crc = crcs[i];
            }
        } else {
            SkipProperty(in);
        }
    }
    uint64_t offset = info.packPos;
    size_t pack = 0;
    for (Folder& folder : info.folders) {
        folder.packOffset = offset;
        for (size_t i = 0; i < folder.packedStreams.size(); ++i)
            offset += info.packSizes[pack++];
    }
}

void ReadSubStreamsInfo(Cursor& in, StreamsInfo& info)
{
    uint8_t id = in.Byte();
    if (id == kNumUnpackStream) {
        size_t total = 0;
        for (Folder& folder : info.folders) {
            const uint64_t n = in.Number();
            // Each substream past a folder's first takes a size of at least one byte.
            if (n > in.Left() + 1)
                throw Damaged {"more substreams than the header holds"};
            folder.substreams = static_cast<size_t>(n);
            total += folder.substreams;
            if (total > in.Left() + info.folders.size())
                throw Damaged {"more substreams than the header holds"};
        }
        id = in.Byte();
    }
    for (Folder& folder : info.folders) {
        if (folder.substreams == 0)
            continue;
        uint64_t sum = 0;
        for (size_t i = 0; i + 1 < folder.substreams; ++i) {
            Substream sub;
            if (id == kSize) {
                sub.size = in.Number();
            } else {
                throw Damaged {"substream sizes are missing"};
            }
            if (sub.size > folder.UnpackSize() - sum)
                throw Damaged {"substreams larger than their folder"};
            sum += sub.size;
            info.substreams.push_back(sub);
        }
        Substream last;
        last.size = folder.UnpackSize() - sum;
        if (folder.substreams == 1 && folder.hasCrc) {
            last.hasCrc = true;
            last.crc = folder.crc;
        }
        info.substreams.push_back(last);
    }
    if (id == kSize)
        id = in.Byte();
    for (;;) {
        if (id == kEnd)
            break;
        if (id == kCrc) {
            size_t missing = 0;
            for (const Folder& folder : info.folders)
                if (!(folder.substreams == 1 && folder.hasCrc))
                    missing += folder.substreams;
            std::vector<bool> defined;
            std::vector<uint32_t> crcs;
            Digests(in, missing, defined, crcs);
            size_t k = 0;
            size_t s = 0;
            for (const Folder& folder : info.folders) {
                if (folder.substreams == 1 && folder.hasCrc) {
                    ++s;
                    continue;
                }
                for (size_t i = 0; i < folder.substreams; ++i, ++s, ++k) {
                    info.substreams[s].hasCrc = defined[k];
                    info.substreams[s].crc = crcs[k];
                }
            }
        } else {
            SkipProperty(in);
        }
        id = in.Byte();
    }
}

void ReadStreamsInfo(Cursor& in, StreamsInfo& info, uint64_t archiveSize)
{
    bool sawSubStreams = false;
    for (;;) {
        const uint8_t id = in.Byte();
        if (id == kEnd)
            break;
        if (id == kPackInfo) {
            ReadPackInfo(in, info, archiveSize);
        } else if (id == kUnpackInfo) {
            ReadUnpackInfo(in, info);
        } else if (id == kSubStreamsInfo) {
            ReadSubStreamsInfo(in, info);
            sawSubStreams = true;
        } else {
            throw Damaged {"unexpected property in the streams"};
        }
    }
    if (!sawSubStreams) {
        for (const Folder& folder : info.folders) {
            Substream sub;
            sub.size = folder.UnpackSize();
            sub.hasCrc = folder.hasCrc;
            sub.crc = folder.crc;
            info.substreams.push_back(sub);
        }
    }
}

void ReadNames(Cursor& in, std::vector<File>& files)
{
    if (in.Byte() != 0)
        throw Damaged {"external names are not read"};
    for (File& file : files) {
        std::string name;
        for (;;) {
            uint32_t c = in.Byte();
            c |= static_cast<uint32_t>(in.Byte()) << 8;
            if (c == 0)
                break;
            if (c >= 0xD800 && c < 0xDC00) {
                uint32_t low = in.Byte();
                low |= static_cast<uint32_t>(in.Byte()) << 8;
                if (low < 0xDC00 || low >= 0xE000)
                    throw Damaged {"a name that is not UTF-16"};
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
            } else if (c >= 0xDC00 && c < 0xE000) {
                throw Damaged {"a name that is not UTF-16"};
            }
            AppendUtf8(name, c);
        }
        file.name = name;
    }
}

void ReadFilesInfo(Cursor& in, Archive& archive)
{
    const size_t count = in.Count();
    // Each file's name takes at least its two-byte end.
    if (count > in.Left() / 2)
        throw Damaged {"more files than the header holds"};
    archive.files.resize(count);
    std::vector<bool> emptyStream(count, false);
    std::vector<bool> emptyFile;
    std::vector<bool> anti;
    size_t empties = 0;
    bool named = false;
    for (;;) {
        const uint8_t id = in.Byte();
        if (id == kEnd)
            break;
        const uint64_t size = in.Number();
        Cursor property(in.Take(size), static_cast<size_t>(size));
        switch (id) {
        case kEmptyStream:
            emptyStream = Bits(property, count);
            empties = static_cast<size_t>(std::count(emptyStream.begin(), emptyStream.end(), true));
            break;
        case kEmptyFile: emptyFile = Bits(property, empties); break;
        case kAnti: anti = Bits(property, empties); break;
        case kName:
            ReadNames(property, archive.files);
            named = true;
            break;
        case kMTime: {
            const std::vector<bool> defined = DefinedBits(property, count);
            if (property.Byte() != 0)
                throw Damaged {"external times are not read"};
            for (size_t i = 0; i < count; ++i)
                if (defined[i]) {
                    archive.files[i].hasTime = true;
                    archive.files[i].modified = property.Uint64();
                }
            break;
        }
        case kWinAttributes: {
            const std::vector<bool> defined = DefinedBits(property, count);
            if (property.Byte() != 0)
                throw Damaged {"external attributes are not read"};
            for (size_t i = 0; i < count; ++i)
                if (defined[i]) {
                    archive.files[i].hasAttributes = true;
                    archive.files[i].attributes = property.Uint32();
                }
            break;
        }
        default: break;  // kDummy, other times, start positions: nothing we use
        }
    }
    if (!named && count > 0)
        throw Damaged {"files without names"};
    size_t empty = 0;
    size_t withStream = 0;
    for (size_t i = 0; i < count; ++i) {
        File& file = archive.files[i];
        file.hasStream = !emptyStream[i];
        if (!file.hasStream) {
            const bool isEmptyFile = empty < emptyFile.size() && emptyFile[empty];
            file.isAnti = empty < anti.size() && anti[empty];
            file.isDirectory = !isEmptyFile;
            ++empty;
        } else {
            ++withStream;
        }
    }
    if (withStream != archive.streams.substreams.size())
        throw Damaged {"the files do not match the streams"};
}

}  // namespace

unsigned Folder::TotalIn() const
{
    unsigned n = 0;
    for (const Coder& coder : coders)
        n += coder.inStreams;
    return n;
}

unsigned Folder::TotalOut() const
{
    unsigned n = 0;
    for (const Coder& coder : coders)
        n += coder.outStreams;
    return n;
}

int Folder::MainOut() const
{
    for (unsigned i = 0; i < TotalOut(); ++i)
        if (std::none_of(bindPairs.begin(), bindPairs.end(),
                [i](const std::pair<unsigned, unsigned>& p) { return p.second == i; }))
            return static_cast<int>(i);
    return -1;
}

uint64_t Folder::UnpackSize() const
{
    const int main = MainOut();
    return main < 0 || static_cast<size_t>(main) >= unpackSizes.size() ? 0 : unpackSizes[static_cast<size_t>(main)];
}

uint64_t Folder::PackSize(const std::vector<uint64_t>& packSizes) const
{
    uint64_t size = 0;
    for (size_t i = 0; i < packedStreams.size(); ++i)
        size += packSizes[firstPackStream + i];
    return size;
}

// libdeflate's, as for ZIP members: in the 32-bit build it takes a third of zlib's time.
uint32_t Crc32(uint32_t crc, const uint8_t* data, size_t size)
{
    return unzip::Crc32(crc, data, size);
}

Status ReadSignatureHeader(
    const uint8_t header[kSignatureHeaderSize], uint64_t archiveSize, uint64_t& offset, uint64_t& size, uint32_t& crc)
{
    if (!std::equal(kSignature, kSignature + 6, header))
        return Status::NotAnArchive;
    if (header[6] != 0)
        return Status::UnsupportedMethod;
    Cursor in(header + 8, 24);
    const uint32_t startCrc = in.Uint32();
    if (Crc32(0, header + 12, 20) != startCrc)
        return Status::DataError;
    offset = in.Uint64();
    size = in.Uint64();
    crc = in.Uint32();
    if (offset > archiveSize || size > archiveSize - kSignatureHeaderSize - std::min(offset, archiveSize) ||
        kSignatureHeaderSize + offset + size > archiveSize)
        return Status::Truncated;
    return Status::Ok;
}

Status ParseHeader(
    const uint8_t* data, size_t size, uint64_t archiveSize, Archive& archive, bool& encoded, std::string& detail)
{
    archive = Archive();
    encoded = false;
    try {
        Cursor in(data, size);
        const uint8_t id = in.Byte();
        if (id == kEncodedHeader) {
            ReadStreamsInfo(in, archive.streams, archiveSize);
            if (archive.streams.folders.empty())
                throw Damaged {"an encoded header without a folder"};
            encoded = true;
            return Status::Ok;
        }
        if (id != kHeader)
            throw Damaged {"no header"};
        uint8_t next = in.Byte();
        if (next == kArchiveProperties) {
            for (;;) {
                if (in.Byte() == 0)
                    break;
                SkipProperty(in);
            }
            next = in.Byte();
        }
        if (next == kAdditionalStreamsInfo)
            throw Damaged {"additional streams are not read"};
        if (next == kMainStreamsInfo) {
            ReadStreamsInfo(in, archive.streams, archiveSize);
            next = in.Byte();
        }
        if (next == kFilesInfo) {
            ReadFilesInfo(in, archive);
            next = in.Byte();
        } else if (!archive.streams.substreams.empty()) {
            throw Damaged {"streams without files"};
        }
        if (next != kEnd)
            throw Damaged {"unexpected property in the header"};
    } catch (const Damaged& damaged) {
        detail = std::string("damaged 7z header: ") + damaged.what;
        return Status::DataError;
    } catch (const std::bad_alloc&) {
        return Status::OutOfMemory;
    }
    return Status::Ok;
}

}  // namespace sevenzip
}  // namespace unzip
