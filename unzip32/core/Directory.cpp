#include "unzip32/core/Directory.h"

#include "unzip32/core/ByteReader.h"
#include "unzip32/core/NameDecoder.h"

#include <algorithm>
#include <vector>

namespace unzip {

namespace {

const uint32_t kEndSignature = 0x06054b50;
const uint32_t kZip64EndSignature = 0x06064b50;
const uint32_t kZip64LocatorSignature = 0x07064b50;
const uint32_t kCentralSignature = 0x02014b50;
const size_t kEndSize = 22;
const size_t kLocatorSize = 20;
const size_t kZip64EndSize = 56;
const size_t kCentralSize = 46;
const size_t kMaxComment = 65535;
// How much data after the end record (a signature block, a second payload) the search for it
// passes over, and the blocks it reads at a time.
const uint64_t kAppendedLimit = 16u << 20;
const size_t kSearchBlock = 256u << 10;
// What the parsed directory may occupy in memory. A directory is never held as one buffer, but
// every member's record is: past this the archive is refused rather than let memory grow with a
// declared (or real) count of millions of members.
const size_t kDirectoryBudget = 32u << 20;
const size_t kHeapOverhead = 32;  // what the allocator adds to each name held on the heap

uint32_t Le32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
        (static_cast<uint32_t>(p[3]) << 24);
}

// What one end record says, after ZIP64 has been applied.
struct EndRecord {
    uint64_t position = 0;     // of the classic end record
    uint64_t recordStart = 0;  // where the directory must end: the ZIP64 record, or the end record
    uint32_t disk = 0;
    uint32_t directoryDisk = 0;
    uint64_t entriesOnDisk = 0;
    uint64_t entries = 0;
    uint64_t directorySize = 0;
    uint64_t directoryOffset = 0;
    bool zip64 = false;
    std::string comment;
};

bool HasSignature(Source& source, uint64_t offset, uint32_t signature)
{
    uint8_t bytes[4];
    return source.Read(offset, bytes, 4) && Le32(bytes) == signature;
}

// A spanned set's disks, by where each starts in the joined set (none for a single file).
using DiskStarts = std::vector<uint64_t>;

// The offset in the joined set of `offset` on `disk`; false when there is no such disk or the sum
// does not fit.
bool OnDisk(const DiskStarts& disks, uint32_t disk, uint64_t& offset)
{
    if (disk >= disks.size() || offset > UINT64_MAX - disks[disk])
        return false;
    offset += disks[disk];
    return true;
}

Status ReadZip64(Source& source, EndRecord& end, const DiskStarts& disks)
{
    if (end.position < kLocatorSize)
        return Status::Ok;
    uint8_t locator[kLocatorSize];
    if (!source.Read(end.position - kLocatorSize, locator, kLocatorSize) || Le32(locator) != kZip64LocatorSignature)
        return Status::Ok;
    ByteReader reader(locator, kLocatorSize);
    reader.U32();
    uint32_t recordDisk = reader.U32();
    uint64_t recordOffset = reader.U64();
    uint32_t diskCount = reader.U32();
    if (disks.empty() ? recordDisk != 0 || diskCount > 1 : diskCount != disks.size())
        return Status::MultiDisk;
    if (!disks.empty() && !OnDisk(disks, recordDisk, recordOffset))
        return Status::Inconsistent;
    // The record normally sits right before the locator; with data in front of the archive its
    // stored offset is off by that much.
    uint64_t expected = end.position - kLocatorSize;
    uint64_t at = recordOffset;
    if (at >= expected || !HasSignature(source, at, kZip64EndSignature)) {
        if (expected < kZip64EndSize)
            return Status::Inconsistent;
        at = expected - kZip64EndSize;
        if (!HasSignature(source, at, kZip64EndSignature))
            return Status::Inconsistent;
    }
    uint8_t record[kZip64EndSize];
    if (!source.Read(at, record, kZip64EndSize))
        return Status::Truncated;
    ByteReader r(record, kZip64EndSize);
    r.U32();
    r.U64();  // size of the record
    r.U16();
    r.U16();
    end.disk = r.U32();
    end.directoryDisk = r.U32();
    end.entriesOnDisk = r.U64();
    end.entries = r.U64();
    end.directorySize = r.U64();
    end.directoryOffset = r.U64();
    end.recordStart = at;
    end.zip64 = true;
    return Status::Ok;
}

// Whether the directory that `end` names is there: where the record says, or (data in front of the
// archive) right before the record, its first records chain one after another, each with its
// signature, none running past the record. A few are enough to tell a directory from stray bytes
// that happen to hold a record's signature; the rest is read anyway. A directory that reaches the
// record with fewer records than counted checks out too: the count is then the problem.
bool DirectoryChecksOut(Source& source, const EndRecord& end)
{
    const uint64_t wanted = std::max<uint64_t>(std::min<uint64_t>(end.entries, 16), 1);
    uint64_t starts[2];
    size_t count = 0;
    if (end.directoryOffset < end.recordStart)
        starts[count++] = end.directoryOffset;
    if (end.directorySize <= end.recordStart && end.recordStart - end.directorySize != end.directoryOffset)
        starts[count++] = end.recordStart - end.directorySize;
    for (size_t i = 0; i < count; ++i) {
        uint64_t at = starts[i];
        uint64_t chained = 0;
        while (chained < wanted && end.recordStart - at >= kCentralSize) {
            uint8_t header[kCentralSize];
            if (!source.Read(at, header, kCentralSize) || Le32(header) != kCentralSignature)
                break;
            ByteReader r(header + 28, kCentralSize - 28);
            const uint64_t variable = static_cast<uint64_t>(r.U16()) + r.U16() + r.U16();
            if (end.recordStart - at - kCentralSize < variable)
                break;
            at += kCentralSize + variable;
            ++chained;
        }
        if (chained == wanted || (chained > 0 && at == end.recordStart))
            return true;
    }
    return false;
}

// Whether the record `end` lies inside a member's data of the archive that starts the file: an
// archive stored whole as a member, whose directory checks out only shifted. Only such a record is
// asked about: its directory is not where it says, and the file starts with a local record. The
// local records are followed by the sizes they give, from the start up to the record (a bounded
// number of them); one with a data descriptor ends the search.
bool InsideAMember(Source& source, const EndRecord& end)
{
    if (end.directoryOffset < end.recordStart && HasSignature(source, end.directoryOffset, kCentralSignature))
        return false;
    uint64_t at = 0;
    for (int records = 0; records < 4096 && at < end.position; ++records) {
        uint8_t local[kLocalSize];
        if (!source.Read(at, local, kLocalSize) || Le32(local) != kLocalSignature)
            return false;
        ByteReader r(local + 6, kLocalSize - 6);
        const uint16_t flags = r.U16();
        r.Skip(10);
        const uint64_t compressed = r.U32();
        r.U32();
        const uint64_t dataStart = at + kLocalSize + r.U16() + r.U16();
        if ((flags & 0x0008) != 0 || compressed == 0xFFFFFFFFu)
            return false;
        if (end.position >= dataStart && end.position - dataStart < compressed)
            return true;
        at = dataStart + compressed;
    }
    return false;
}

// The classic record at `position`, read on its own. False when its comment would run past the end
// of the file (the fields are read all the same).
bool ReadEndRecord(Source& source, uint64_t position, EndRecord& candidate)
{
    uint8_t record[kEndSize];
    candidate = EndRecord();
    candidate.position = position;
    candidate.recordStart = position;
    if (!source.Read(position, record, kEndSize))
        return false;
    ByteReader r(record, kEndSize);
    r.U32();
    candidate.disk = r.U16();
    candidate.directoryDisk = r.U16();
    candidate.entriesOnDisk = r.U16();
    candidate.entries = r.U16();
    candidate.directorySize = r.U32();
    candidate.directoryOffset = r.U32();
    const uint16_t commentLength = r.U16();
    if (commentLength > source.Size() - position - kEndSize)
        return false;
    candidate.comment.resize(commentLength);
    return commentLength == 0 || source.Read(position + kEndSize, &candidate.comment[0], commentLength);
}

// Candidate end records from the end backwards, up to kAppendedLimit bytes of data after the
// record (a signature block, a second payload), read a block at a time; the first one whose
// directory checks out wins. Comments and appended data may hold the signature as text, or a whole
// record: a candidate whose directory does not check out is passed over (also one that names other
// disks), and an empty candidate is taken only when no record further back has a directory. A
// record whose comment runs past the end of the file and whose directory checks out is a truncated
// archive (unless it lies inside the comment of the record taken).
//
// In a spanned set the record must be the last disk's, and its directory's offset is made one in
// the joined set.
Status FindEnd(Source& source, EndRecord& end, const DiskStarts& disks)
{
    const uint64_t size = source.Size();
    if (size < kEndSize)
        return Status::NotAnArchive;
    const uint64_t searched = std::min<uint64_t>(size, kAppendedLimit + kMaxComment + kEndSize + 1024);
    const uint64_t lowest = size - searched;

    bool sawTruncatedComment = false;
    uint64_t lowestTruncated = 0;
    uint64_t highestTruncated = 0;
    auto accept = [&](const EndRecord& candidate) {
        end = candidate;
        if (!sawTruncatedComment)
            return Status::Ok;
        const uint64_t commentStart = candidate.position + kEndSize;
        const uint64_t commentEnd = commentStart + candidate.comment.size();
        const bool inComment = lowestTruncated >= commentStart && highestTruncated < commentEnd;
        return inComment ? Status::Ok : Status::Truncated;
    };
    Status firstProblem = Status::NotAnArchive;
    bool sawOtherDisks = false;
    bool sawEmpty = false;
    EndRecord empty;
    // Each block overlaps the one after it by three bytes, so that no signature is split.
    std::vector<uint8_t> block(static_cast<size_t>(std::min<uint64_t>(searched, kSearchBlock + 3)));
    uint64_t blockEnd = size - kEndSize + 4;  // a signature must start at or before size - kEndSize
    while (blockEnd > lowest + 3) {
        const uint64_t blockStart =
            std::max<uint64_t>(lowest, blockEnd > kSearchBlock + 3 ? blockEnd - kSearchBlock - 3 : 0);
        const size_t blockSize = static_cast<size_t>(blockEnd - blockStart);
        if (!source.Read(blockStart, block.data(), blockSize))
            return Status::ReadFailure;
        for (size_t i = blockSize - 3; i-- > 0;) {
            if (Le32(block.data() + i) != kEndSignature)
                continue;
            EndRecord candidate;
            if (!ReadEndRecord(source, blockStart + i, candidate)) {
                // The comment runs past the end: the archive's own record cut short, or a stray
                // signature in appended data. Only the first is the directory's.
                ReadZip64(source, candidate, disks);
                if (DirectoryChecksOut(source, candidate)) {
                    if (!sawTruncatedComment)
                        highestTruncated = candidate.position;
                    lowestTruncated = candidate.position;
                    sawTruncatedComment = true;
                }
                continue;
            }
            Status zip64 = ReadZip64(source, candidate, disks);
            if (zip64 == Status::MultiDisk) {
                sawOtherDisks = true;
                continue;
            }
            if (zip64 != Status::Ok) {
                // A locator that leads nowhere may be bytes of a member's name that happen to look
                // like one: it only matters when the classic record says the ZIP64 one is needed.
                const bool needsZip64 = candidate.entries == 0xFFFF || candidate.entriesOnDisk == 0xFFFF ||
                    candidate.directorySize == 0xFFFFFFFFu || candidate.directoryOffset == 0xFFFFFFFFu;
                if (needsZip64) {
                    firstProblem = zip64;
                    continue;
                }
            }
            if (!disks.empty()) {
                if (candidate.disk + 1u != disks.size() || candidate.directoryDisk > candidate.disk ||
                    !OnDisk(disks, candidate.directoryDisk, candidate.directoryOffset)) {
                    sawOtherDisks = true;
                    continue;
                }
                // From here on the record is read as a single file's.
                candidate.disk = 0;
                candidate.directoryDisk = 0;
            }
            if (candidate.entries == 0 && candidate.directorySize == 0) {
                if (candidate.disk != 0 || candidate.directoryDisk != 0) {
                    sawOtherDisks = true;
                } else if (!sawEmpty) {
                    empty = candidate;
                    sawEmpty = true;
                }
                continue;
            }
            if (!DirectoryChecksOut(source, candidate) || (disks.empty() && InsideAMember(source, candidate))) {
                firstProblem = Status::Inconsistent;
                sawOtherDisks = sawOtherDisks || candidate.disk != 0 || candidate.directoryDisk != 0;
                continue;
            }
            if (candidate.disk != 0 || candidate.directoryDisk != 0)
                return Status::MultiDisk;
            return accept(candidate);
        }
        blockEnd = blockStart + 3;
    }
    if (sawEmpty)
        return accept(empty);
    if (sawOtherDisks)
        return Status::MultiDisk;
    if (sawTruncatedComment)
        return Status::Truncated;
    return firstProblem;
}

// Buffered sequential reading of the directory, so that a huge directory never needs one buffer.
class DirectoryStream {
public:
    DirectoryStream(Source& source, uint64_t start, uint64_t end) : source_(source), pos_(start), end_(end) { }
    // Makes `count` bytes available at Data(); false when the directory has fewer.
    bool Fill(size_t count)
    {
        if (count > end_ - pos_)
            return false;
        if (bufferStart_ <= pos_ && pos_ + count <= bufferStart_ + buffer_.size())
            return true;
        size_t want = static_cast<size_t>(std::min<uint64_t>(end_ - pos_, std::max<size_t>(count, kChunk)));
        buffer_.resize(want);
        if (!source_.Read(pos_, buffer_.data(), want))
            return false;
        bufferStart_ = pos_;
        return true;
    }
    const uint8_t* Data() const { return buffer_.data() + (pos_ - bufferStart_); }
    void Advance(size_t count) { pos_ += count; }
    uint64_t Position() const { return pos_; }
    bool AtEnd() const { return pos_ >= end_; }

private:
    static constexpr size_t kChunk = 1 << 20;
    Source& source_;
    uint64_t pos_;
    uint64_t end_;
    uint64_t bufferStart_ = 0;
    std::vector<uint8_t> buffer_;
};

}  // namespace

void ReadExtras(
    const uint8_t* data, size_t size, Entry& entry, bool needSize, bool needCompressed, bool needOffset, bool needDisk)
{
    ByteReader extras(data, size);
    while (extras.Remaining() >= 4) {
        uint16_t id = extras.U16();
        uint16_t length = extras.U16();
        const uint8_t* body = extras.Bytes(length);
        if (body == nullptr)
            break;
        ByteReader r(body, length);
        switch (id) {
        case 0x0001:  // ZIP64: only the fields whose 32-bit slot is full, in this order
            if (needSize)
                entry.size = r.U64();
            if (needCompressed)
                entry.compressedSize = r.U64();
            if (needOffset)
                entry.localOffset = r.U64();
            if (needDisk)
                entry.diskStart = r.U32();
            entry.shortZip64 = !r.Ok();
            break;
        case 0x000a: {  // NTFS times: reserved, then tagged attributes; tag 1 holds the three times
            r.U32();
            while (r.Remaining() >= 4) {
                uint16_t tag = r.U16();
                uint16_t tagSize = r.U16();
                const uint8_t* tagBody = r.Bytes(tagSize);
                if (tagBody == nullptr)
                    break;
                if (tag == 1 && tagSize >= 24) {
                    ByteReader t(tagBody, tagSize);
                    entry.ntfsModified = t.U64();
                    entry.hasNtfsTime = entry.ntfsModified != 0;
                }
            }
            break;
        }
        case 0x5455: {  // extended timestamp: flags, then the modification time when bit 0 is set
            uint8_t flags = r.U8();
            if ((flags & 1) && r.Remaining() >= 4) {
                entry.unixModified = static_cast<int32_t>(r.U32());
                entry.hasUnixTime = true;
            }
            break;
        }
        case 0x7075: {  // Unicode path: version 1, CRC-32 of the stored name, the name in UTF-8
            uint8_t version = r.U8();
            uint32_t nameCrc = r.U32();
            if (r.Ok() && version == 1 && nameCrc == Crc32(entry.rawName) &&
                IsValidUtf8(std::string(reinterpret_cast<const char*>(body) + 5, length - 5))) {
                entry.name.assign(reinterpret_cast<const char*>(body) + 5, length - 5);
                entry.nameIsUtf8 = true;
            }
            break;
        }
        case 0x9901:  // WinZip AES: version (AE-1 or AE-2), vendor "AE", strength, then the real method
            if (length >= 7 && entry.method == 99) {
                entry.aesVersion = r.U16();
                r.Skip(2);
                entry.aesStrength = r.U8();
                entry.actualMethod = r.U16();
                entry.aes = true;
            }
            break;
        default: break;
        }
    }
}

bool Entry::IsDirectory() const
{
    // The decoded name: a stored 0x5C may be the second byte of a double-byte character.
    if (!name.empty() && (name.back() == '/' || name.back() == '\\'))
        return true;
    // Some DOS tools mark folders by attribute only.
    return (externalAttributes & 0x10) != 0 && size == 0 && compressedSize == 0 && (versionMadeBy >> 8) == 0;
}

bool Entry::IsReadOnly() const
{
    if (externalAttributes & 0x01)
        return true;
    const unsigned host = versionMadeBy >> 8;
    const uint32_t mode = externalAttributes >> 16;
    return (host == 3 || host == 19) && (mode & 0170000) == 0100000 && (mode & 0200) == 0;
}

const char* MethodName(uint16_t method)
{
    switch (method) {
    case 0: return "Stored";
    case 1: return "Shrink";
    case 2:
    case 3:
    case 4:
    case 5: return "Reduce";
    case 6: return "Implode";
    case 8: return "Deflate";
    case 9: return "Deflate64";
    case 10: return "PKWARE DCL Implode";
    case 12: return "BZip2";
    case 14: return "LZMA";
    case 18: return "IBM TERSE";
    case 19: return "IBM LZ77";
    case 20:
    case 93: return "Zstd";
    case 94: return "MP3";
    case 95: return "XZ";
    case 96: return "JPEG";
    case 97: return "WavPack";
    case 98: return "PPMd";
    case 99: return "AES";
    default: return "Unknown";
    }
}

Status ReadDirectory(Source& source, Directory& directory, const NameCodec* codec, unsigned namePage,
    const std::vector<uint64_t>& diskStarts)
{
    directory = Directory();
    EndRecord end;
    Status found = FindEnd(source, end, diskStarts);
    if (found != Status::Ok)
        return found;
    directory.comment = end.comment;
    if (end.entries == 0 && end.directorySize == 0)
        return Status::Ok;

    // Where the directory really is: where the record says, or (data in front of the archive, so
    // every stored offset is short by the same amount) right before the record.
    uint64_t start = end.directoryOffset;
    uint64_t prefix = 0;
    if (!(start < end.recordStart && HasSignature(source, start, kCentralSignature))) {
        if (end.directorySize > end.recordStart)
            return Status::Inconsistent;
        uint64_t actual = end.recordStart - end.directorySize;
        if (actual < end.directoryOffset || !HasSignature(source, actual, kCentralSignature))
            return Status::Inconsistent;
        prefix = actual - end.directoryOffset;
        start = actual;
    }
    directory.directoryStart = start;
    directory.prefix = prefix;

    DirectoryStream stream(source, start, end.recordStart);
    size_t used = 0;
    size_t legacyBound = 0;  // what the legacy names may take once decoded, counted in `used` until then
    while (!stream.AtEnd()) {
        if (!stream.Fill(kCentralSize))
            break;
        const uint8_t* header = stream.Data();
        if (Le32(header) != kCentralSignature)
            break;
        ByteReader r(header, kCentralSize);
        Entry entry;
        r.U32();
        entry.versionMadeBy = r.U16();
        r.U16();  // version needed
        entry.flags = r.U16();
        entry.method = r.U16();
        entry.dosTime = r.U16();
        entry.dosDate = r.U16();
        entry.crc = r.U32();
        uint32_t compressed32 = r.U32();
        uint32_t size32 = r.U32();
        uint16_t nameLength = r.U16();
        uint16_t extraLength = r.U16();
        uint16_t commentLength = r.U16();
        uint16_t disk16 = r.U16();
        r.U16();  // internal attributes
        entry.externalAttributes = r.U32();
        uint32_t offset32 = r.U32();
        entry.compressedSize = compressed32;
        entry.size = size32;
        entry.localOffset = offset32;
        entry.diskStart = disk16;
        entry.actualMethod = entry.method;

        const size_t variable = static_cast<size_t>(nameLength) + extraLength + commentLength;
        if (!stream.Fill(kCentralSize + variable))
            return Status::Truncated;
        const uint8_t* rest = stream.Data() + kCentralSize;
        entry.rawName.assign(reinterpret_cast<const char*>(rest), nameLength);
        DecodeName(entry);
        ReadExtras(rest + nameLength, extraLength, entry, size32 == 0xFFFFFFFFu, compressed32 == 0xFFFFFFFFu,
            offset32 == 0xFFFFFFFFu, disk16 == 0xFFFF);
        if (diskStarts.empty() && entry.diskStart != 0)
            return Status::MultiDisk;
        if (!diskStarts.empty() && !OnDisk(diskStarts, entry.diskStart, entry.localOffset))
            return Status::Inconsistent;
        entry.localOffset += prefix;
        stream.Advance(kCentralSize + variable);
        // Each member costs its record, its two name forms and an offset in the overlap check. A
        // legacy name is not decoded yet: ASCII stays as it is, and no other byte of a code page
        // takes more than three in UTF-8.
        size_t nameSize = entry.name.size();
        if (!entry.nameIsUtf8) {
            nameSize = entry.rawName.size();
            for (char c : entry.rawName)
                nameSize += static_cast<unsigned char>(c) >= 0x80 ? 2 : 0;
            legacyBound += nameSize;
        }
        used += sizeof(Entry) + sizeof(uint64_t) + entry.rawName.size() + nameSize + 2 * kHeapOverhead;
        if (used > kDirectoryBudget)
            return Status::OutOfMemory;
        directory.entries.push_back(std::move(entry));
    }

    // A classic record counts modulo 65536 (many writers wrap instead of going to ZIP64).
    const uint64_t parsed = directory.entries.size();
    // More records than declared are still all inside the directory's bounds, so they are used.
    const bool countMatches =
        end.zip64 ? parsed >= end.entries : (parsed & 0xFFFF) == (end.entries & 0xFFFF) || parsed > end.entries;
    if (!countMatches)
        return Status::Truncated;

    const unsigned page = LegacyNamePage(directory.entries, codec, namePage);
    used = used - legacyBound + DecodeLegacyNames(directory.entries, codec, page);
    if (used > kDirectoryBudget)
        return Status::OutOfMemory;
    return Status::Ok;
}

}  // namespace unzip
