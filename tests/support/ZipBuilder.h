#pragma once
// Builds ZIP archives in memory for the tests, byte by byte: stored and deflated members, data
// descriptors, ZIP64 forms, extra fields and comments, and the damaged and hostile kinds that no
// archiver writes (wrong CRCs, sizes and offsets, shared or overlapping records, data in front).
// It has no Windows header, so the native builds of the ZIP core use it too.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

struct gz_header_s;

namespace ziptest {

struct Member {
    Member() = default;
    Member(std::string memberName, std::string content, uint16_t memberMethod = 8)
        : name(std::move(memberName)), data(std::move(content)), method(memberMethod)
    {
    }

    std::string name;     // the stored name bytes
    std::string data;     // the member's content
    uint16_t method = 8;  // 0 stored, 8 deflated; anything else stores `data` as the packed bytes
    uint16_t flags = 0;
    uint16_t versionMadeBy = 20;  // host 0 (DOS); 0x0314 for Unix
    uint32_t externalAttributes = 0;
    uint16_t dosTime = 0x6000;  // 12:00:00
    uint16_t dosDate = 0x5221;  // 2021-01-01
    std::string centralExtra;   // appended after the ZIP64 extra that `zip64` adds
    std::string localExtra;
    std::string rawPacked;    // when set, the packed bytes as they stand (`data` still gives CRC and size)
    std::string localName;    // when set, the local record carries this name instead
    bool descriptor = false;  // sizes and CRC after the data (bit 3)
    bool descriptorSignature = true;
    bool zip64 = false;  // sizes and offset only in the ZIP64 extra (0xFFFFFFFF in the header)
    // Declared values that differ from the real ones (for damaged archives); -1: the real value.
    int64_t declaredCrc = -1;
    int64_t declaredSize = -1;
    int64_t declaredCompressedSize = -1;
    int64_t declaredOffset = -1;  // central directory's local header offset
    // Set by Archive::Build: the packed bytes, and where the local record starts in the output.
    mutable std::string packed;
    mutable uint64_t offset = 0;
};

struct Archive {
    std::vector<Member> members;
    std::string prefix;         // bytes in front (self-extractor stub)
    bool adjustOffsets = true;  // offsets count from the file's start (false: from the archive's)
    std::string comment;
    std::string trailing;          // bytes after the end record
    bool zip64End = false;         // ZIP64 end record and locator before the classic one
    int64_t declaredEntries = -1;  // count in the end records
    int64_t declaredDirectorySize = -1;
    int64_t declaredDirectoryOffset = -1;
    uint16_t disk = 0;  // number of this disk in the end record

    // Adds a member as archivers write it: deflated at the best level, stored when `deflate` is
    // false or the data is empty.
    Archive& Add(const std::string& name, const std::string& data, bool deflate = true);
    // Adds a deflated member of `size` zero bytes (below 4 GiB) without compressing them all: the
    // stream repeats one fully flushed block of a MiB of zeros, so a GiB takes a few MiB of archive.
    Archive& AddZeros(const std::string& name, uint64_t size);
    std::string Build() const;
};

inline Member Stored(const std::string& name, const std::string& data)
{
    return Member(name, data, 0);
}

// Flags the names of every member added so far as UTF-8 (general-purpose bit 11); without the flag
// a name is read as CP437.
inline Archive& WithUtf8Names(Archive& zip)
{
    for (Member& member : zip.members)
        member.flags |= 0x0800;
    return zip;
}

// Raw deflate (no zlib header), as ZIP stores it.
std::string Deflate(const std::string& data, int level = 6);
uint32_t Crc(const std::string& data);
std::string Le16(uint16_t value);
std::string Le32(uint32_t value);
std::string Le64(uint64_t value);
// An extra field: id, length, body.
std::string Extra(uint16_t id, const std::string& body);
// Incompressible bytes of a given length (deterministic).
std::string RandomBytes(size_t count, uint32_t seed = 1);
// Compressible text of a given length.
std::string Text(size_t count, uint32_t seed = 1);

// A gzip member of `content` as zlib writes it at `level`, with the header fields of `header`
// (zlib's gz_header; none: the bare ten bytes).
std::string Gzip(const std::string& content, gz_header_s* header = nullptr, int level = 6);

// A ustar archive of the members (names under 100 bytes), in their order.
std::string Tar(const std::vector<std::pair<std::string, std::string>>& members);

}  // namespace ziptest
