#pragma once
// Builds small ZIP archives byte by byte for tests: every field can be set to a wrong value, so
// that each damaged or hostile layout can be made on purpose.
#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

namespace ziptest {

inline void Put16(std::string& out, uint32_t v)
{
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>((v >> 8) & 0xFF);
}
inline void Put32(std::string& out, uint32_t v)
{
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}
inline void Put64(std::string& out, uint64_t v)
{
    Put32(out, static_cast<uint32_t>(v));
    Put32(out, static_cast<uint32_t>(v >> 32));
}

inline uint32_t Crc(const std::string& data)
{
    return static_cast<uint32_t>(crc32(0L, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

// Raw deflate of `data` (no zlib header), as ZIP stores it.
inline std::string Deflate(const std::string& data, int level = 6)
{
    z_stream s{};
    deflateInit2(&s, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&s, static_cast<uLong>(data.size())) + 16, '\0');
    s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    s.avail_in = static_cast<uInt>(data.size());
    s.next_out = reinterpret_cast<Bytef*>(&out[0]);
    s.avail_out = static_cast<uInt>(out.size());
    deflate(&s, Z_FINISH);
    out.resize(s.total_out);
    deflateEnd(&s);
    return out;
}

struct Member {
    std::string name;
    std::string data;          // the uncompressed content
    uint16_t method = 0;       // 0 stored, 8 deflated (compressed here); others store `data` as is
    uint16_t flags = 0;
    uint16_t versionMadeBy = 20;  // MS-DOS host
    uint32_t externalAttributes = 0;
    std::string centralExtra;
    std::string localExtra;
    std::string rawPacked;     // when set, stored as the member's data instead of compressing `data`
    std::string localName;     // when set, the local record carries this name instead
    bool zip64 = false;        // sizes and offset as 0xFFFFFFFF with a ZIP64 extra
    // Overrides of what the central record declares (-1: the true value).
    int64_t declaredSize = -1;
    int64_t declaredCompressed = -1;
    int64_t declaredCrc = -1;
    int64_t declaredOffset = -1;
    uint16_t dosTime = 0x6000;
    uint16_t dosDate = 0x5021;
    // Filled in by Build.
    std::string packed;
    uint64_t offset = 0;
};

struct Archive {
    std::vector<Member> members;
    std::string prefix;         // bytes in front (a self-extractor stub)
    std::string trailing;       // bytes after the end record
    std::string comment;
    bool zip64End = false;      // write the ZIP64 end record and locator
    int64_t declaredEntries = -1;
    int64_t declaredDirectorySize = -1;
    int64_t declaredDirectoryOffset = -1;
    uint16_t disk = 0;

    std::string Build()
    {
        std::string out = prefix;
        const size_t base = prefix.size();
        for (Member& m : members) {
            m.packed = !m.rawPacked.empty() ? m.rawPacked : m.method == 8 ? Deflate(m.data) : m.data;
            m.offset = out.size() - base;
            Put32(out, 0x04034b50);
            Put16(out, 20);
            Put16(out, m.flags);
            Put16(out, m.method);
            Put16(out, m.dosTime);
            Put16(out, m.dosDate);
            Put32(out, Crc(m.data));
            Put32(out, static_cast<uint32_t>(m.packed.size()));
            Put32(out, static_cast<uint32_t>(m.data.size()));
            const std::string& localName = m.localName.empty() ? m.name : m.localName;
            Put16(out, static_cast<uint32_t>(localName.size()));
            Put16(out, static_cast<uint32_t>(m.localExtra.size()));
            out += localName;
            out += m.localExtra;
            out += m.packed;
        }
        const size_t directoryStart = out.size() - base;
        for (const Member& m : members) {
            const uint64_t size = m.declaredSize >= 0 ? static_cast<uint64_t>(m.declaredSize) : m.data.size();
            const uint64_t packed = m.declaredCompressed >= 0 ? static_cast<uint64_t>(m.declaredCompressed) : m.packed.size();
            const uint64_t offset = m.declaredOffset >= 0 ? static_cast<uint64_t>(m.declaredOffset) : m.offset;
            std::string extra = m.centralExtra;
            if (m.zip64) {
                std::string z;
                Put64(z, size);
                Put64(z, packed);
                Put64(z, offset);
                std::string header;
                Put16(header, 0x0001);
                Put16(header, static_cast<uint32_t>(z.size()));
                extra = header + z + extra;
            }
            Put32(out, 0x02014b50);
            Put16(out, m.versionMadeBy);
            Put16(out, m.zip64 ? 45 : 20);
            Put16(out, m.flags);
            Put16(out, m.method);
            Put16(out, m.dosTime);
            Put16(out, m.dosDate);
            Put32(out, m.declaredCrc >= 0 ? static_cast<uint32_t>(m.declaredCrc) : Crc(m.data));
            Put32(out, m.zip64 ? 0xFFFFFFFFu : static_cast<uint32_t>(packed));
            Put32(out, m.zip64 ? 0xFFFFFFFFu : static_cast<uint32_t>(size));
            Put16(out, static_cast<uint32_t>(m.name.size()));
            Put16(out, static_cast<uint32_t>(extra.size()));
            Put16(out, 0);
            Put16(out, 0);
            Put16(out, 0);
            Put32(out, m.externalAttributes);
            Put32(out, m.zip64 ? 0xFFFFFFFFu : static_cast<uint32_t>(offset));
            out += m.name;
            out += extra;
        }
        const uint64_t directorySize = out.size() - base - directoryStart;
        const uint64_t entries = declaredEntries >= 0 ? static_cast<uint64_t>(declaredEntries) : members.size();
        const uint64_t dirSize = declaredDirectorySize >= 0 ? static_cast<uint64_t>(declaredDirectorySize) : directorySize;
        const uint64_t dirOffset =
            declaredDirectoryOffset >= 0 ? static_cast<uint64_t>(declaredDirectoryOffset) : directoryStart;
        if (zip64End) {
            const uint64_t recordAt = out.size() - base;
            Put32(out, 0x06064b50);
            Put64(out, 44);
            Put16(out, 45);
            Put16(out, 45);
            Put32(out, disk);
            Put32(out, disk);
            Put64(out, entries);
            Put64(out, entries);
            Put64(out, dirSize);
            Put64(out, dirOffset);
            Put32(out, 0x07064b50);
            Put32(out, 0);
            Put64(out, recordAt);
            Put32(out, 1);
        }
        Put32(out, 0x06054b50);
        Put16(out, zip64End ? 0xFFFF : disk);
        Put16(out, zip64End ? 0xFFFF : disk);
        Put16(out, zip64End ? 0xFFFF : static_cast<uint32_t>(entries & 0xFFFF));
        Put16(out, zip64End ? 0xFFFF : static_cast<uint32_t>(entries & 0xFFFF));
        Put32(out, zip64End ? 0xFFFFFFFFu : static_cast<uint32_t>(dirSize));
        Put32(out, zip64End ? 0xFFFFFFFFu : static_cast<uint32_t>(dirOffset));
        Put16(out, static_cast<uint32_t>(comment.size()));
        out += comment;
        out += trailing;
        return out;
    }
};

inline Member File(const std::string& name, const std::string& data, uint16_t method = 8)
{
    Member m;
    m.name = name;
    m.data = data;
    m.method = method;
    return m;
}

}  // namespace ziptest
