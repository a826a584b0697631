#include "tests/support/ZipBuilder.h"

#include <zlib.h>

namespace ziptest {

std::string Le16(uint16_t v)
{
    return std::string {static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)};
}

std::string Le32(uint32_t v)
{
    return Le16(static_cast<uint16_t>(v & 0xFFFF)) + Le16(static_cast<uint16_t>(v >> 16));
}

std::string Le64(uint64_t v)
{
    return Le32(static_cast<uint32_t>(v)) + Le32(static_cast<uint32_t>(v >> 32));
}

std::string Extra(uint16_t id, const std::string& body)
{
    return Le16(id) + Le16(static_cast<uint16_t>(body.size())) + body;
}

namespace {

// zlib's deflate of all of `data`: raw (`windowBits` negative) or with gzip's header and trailer
// (16 + MAX_WBITS, with `header`'s fields where given).
std::string Compress(const std::string& data, int level, int windowBits, gz_header* header)
{
    z_stream stream {};
    deflateInit2(&stream, level, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY);
    if (header != nullptr)
        deflateSetHeader(&stream, header);
    std::string out(deflateBound(&stream, static_cast<uLong>(data.size())) + 4096, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(&out[0]);
    stream.avail_out = static_cast<uInt>(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

}  // namespace

uint32_t Crc(const std::string& data)
{
    return static_cast<uint32_t>(
        crc32(0L, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

std::string Deflate(const std::string& data, int level)
{
    return Compress(data, level, -MAX_WBITS, nullptr);
}

std::string RandomBytes(size_t count, uint32_t seed)
{
    std::string out(count, '\0');
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < count; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        out[i] = static_cast<char>(x >> 24);
    }
    return out;
}

std::string Text(size_t count, uint32_t seed)
{
    static const char* const kWords[] = {
        "alpha ", "beta ", "gamma ", "delta\n", "epsilon ", "zeta ", "eta ", "theta\n"};
    std::string out;
    uint32_t x = seed;
    while (out.size() < count) {
        x = x * 1103515245u + 12345u;
        out += kWords[(x >> 16) & 7];
    }
    out.resize(count);
    return out;
}

Archive& Archive::Add(const std::string& name, const std::string& data, bool deflate)
{
    Member member(name, data, deflate && !data.empty() ? 8 : 0);
    if (member.method == 8)
        member.rawPacked = Deflate(data, 9);
    members.push_back(member);
    return *this;
}

Archive& Archive::AddZeros(const std::string& name, uint64_t size)
{
    const size_t chunk = 1u << 20;
    const std::string zeros(chunk, '\0');
    z_stream stream {};
    deflateInit2(&stream, Z_BEST_SPEED, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    auto deflateZeros = [&](size_t count, int flush) {
        std::vector<unsigned char> buffer(deflateBound(&stream, chunk) + 64);
        stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(zeros.data()));
        stream.avail_in = static_cast<uInt>(count);
        stream.next_out = buffer.data();
        stream.avail_out = static_cast<uInt>(buffer.size());
        deflate(&stream, flush);
        return std::string(reinterpret_cast<char*>(buffer.data()), buffer.size() - stream.avail_out);
    };
    Member member(name, std::string(), 8);
    uLong crc = crc32(0L, Z_NULL, 0);
    const std::string block = deflateZeros(chunk, Z_FULL_FLUSH);
    uint64_t left = size;
    for (; left >= chunk; left -= chunk) {
        member.rawPacked += block;
        crc = crc32(crc, reinterpret_cast<const Bytef*>(zeros.data()), static_cast<uInt>(chunk));
    }
    member.rawPacked += deflateZeros(static_cast<size_t>(left), Z_FINISH);
    crc = crc32(crc, reinterpret_cast<const Bytef*>(zeros.data()), static_cast<uInt>(left));
    deflateEnd(&stream);
    member.declaredCrc = static_cast<int64_t>(crc);
    member.declaredSize = static_cast<int64_t>(size);
    members.push_back(member);
    return *this;
}

std::string Archive::Build() const
{
    std::string out = prefix;
    const uint64_t base = adjustOffsets ? 0 : prefix.size();
    std::string central;
    for (const Member& m : members) {
        m.offset = out.size();
        const uint64_t offset = out.size() - base;
        m.packed = !m.rawPacked.empty() ? m.rawPacked : m.method == 8 ? Deflate(m.data) : m.data;
        const std::string& packed = m.packed;
        const uint32_t crc = m.declaredCrc >= 0 ? static_cast<uint32_t>(m.declaredCrc) : Crc(m.data);
        const uint64_t size = m.declaredSize >= 0 ? static_cast<uint64_t>(m.declaredSize) : m.data.size();
        const uint64_t csize =
            m.declaredCompressedSize >= 0 ? static_cast<uint64_t>(m.declaredCompressedSize) : packed.size();
        const uint16_t flags = static_cast<uint16_t>(m.flags | (m.descriptor ? 0x0008 : 0));
        const uint16_t version = m.zip64 ? 45 : 20;

        std::string localExtra = m.localExtra;
        if (m.zip64)
            localExtra = Extra(0x0001, Le64(size) + Le64(csize)) + localExtra;
        out += Le32(0x04034b50) + Le16(version) + Le16(flags) + Le16(m.method) + Le16(m.dosTime) + Le16(m.dosDate);
        if (m.descriptor)
            out += Le32(0) + Le32(0) + Le32(0);
        else if (m.zip64)
            out += Le32(crc) + Le32(0xFFFFFFFFu) + Le32(0xFFFFFFFFu);
        else
            out += Le32(crc) + Le32(static_cast<uint32_t>(csize)) + Le32(static_cast<uint32_t>(size));
        const std::string& localName = m.localName.empty() ? m.name : m.localName;
        out += Le16(static_cast<uint16_t>(localName.size())) + Le16(static_cast<uint16_t>(localExtra.size()));
        out += localName + localExtra + packed;
        if (m.descriptor) {
            if (m.descriptorSignature)
                out += Le32(0x08074b50);
            out += Le32(crc);
            if (m.zip64)
                out += Le64(csize) + Le64(size);
            else
                out += Le32(static_cast<uint32_t>(csize)) + Le32(static_cast<uint32_t>(size));
        }

        const uint64_t declaredOffset = m.declaredOffset >= 0 ? static_cast<uint64_t>(m.declaredOffset) : offset;
        std::string centralExtra = m.centralExtra;
        if (m.zip64)
            centralExtra = Extra(0x0001, Le64(size) + Le64(csize) + Le64(declaredOffset)) + centralExtra;
        central += Le32(0x02014b50) + Le16(m.versionMadeBy) + Le16(version) + Le16(flags) + Le16(m.method) +
            Le16(m.dosTime) + Le16(m.dosDate) + Le32(crc);
        if (m.zip64)
            central += Le32(0xFFFFFFFFu) + Le32(0xFFFFFFFFu);
        else
            central += Le32(static_cast<uint32_t>(csize)) + Le32(static_cast<uint32_t>(size));
        central += Le16(static_cast<uint16_t>(m.name.size())) + Le16(static_cast<uint16_t>(centralExtra.size())) +
            Le16(0) + Le16(0) + Le16(0) + Le32(m.externalAttributes);
        central += Le32(m.zip64 ? 0xFFFFFFFFu : static_cast<uint32_t>(declaredOffset));
        central += m.name + centralExtra;
    }
    const uint64_t centralOffset =
        declaredDirectoryOffset >= 0 ? static_cast<uint64_t>(declaredDirectoryOffset) : out.size() - base;
    const uint64_t centralSize =
        declaredDirectorySize >= 0 ? static_cast<uint64_t>(declaredDirectorySize) : central.size();
    out += central;
    const uint64_t entries = declaredEntries >= 0 ? static_cast<uint64_t>(declaredEntries) : members.size();
    if (zip64End) {
        const uint64_t recordOffset = out.size() - base;
        out += Le32(0x06064b50) + Le64(44) + Le16(45) + Le16(45) + Le32(disk) + Le32(disk) + Le64(entries) +
            Le64(entries) + Le64(centralSize) + Le64(centralOffset);
        out += Le32(0x07064b50) + Le32(0) + Le64(recordOffset) + Le32(1);
    }
    const bool wide = zip64End;
    out += Le32(0x06054b50) + Le16(disk) + Le16(disk);
    out += Le16(wide ? 0xFFFF : static_cast<uint16_t>(entries)) + Le16(wide ? 0xFFFF : static_cast<uint16_t>(entries));
    out += Le32(wide ? 0xFFFFFFFFu : static_cast<uint32_t>(centralSize));
    out += Le32(wide ? 0xFFFFFFFFu : static_cast<uint32_t>(centralOffset));
    out += Le16(static_cast<uint16_t>(comment.size())) + comment + trailing;
    return out;
}

std::string Gzip(const std::string& content, gz_header_s* header, int level)
{
    return Compress(content, level, 16 + MAX_WBITS, header);
}

std::string Tar(const std::vector<std::pair<std::string, std::string>>& members)
{
    std::string tar;
    for (const auto& member : members) {
        std::string header(512, '\0');
        auto put = [&](size_t at, const std::string& text) { header.replace(at, text.size(), text); };
        auto octal = [](uint64_t value, int digits) {
            std::string text(static_cast<size_t>(digits), '0');
            for (int i = digits - 1; i >= 0 && value > 0; --i, value >>= 3)
                text[static_cast<size_t>(i)] = static_cast<char>('0' + (value & 7));
            return text;
        };
        put(0, member.first);
        put(100, octal(0644, 7));
        put(108, octal(0, 7));
        put(116, octal(0, 7));
        put(124, octal(member.second.size(), 11));
        put(136, octal(1700000000, 11));
        put(148, std::string(8, ' '));
        put(156, "0");
        put(257, "ustar");
        put(263, "00");
        unsigned sum = 0;
        for (char c : header)
            sum += static_cast<unsigned char>(c);
        put(148, octal(sum, 6) + std::string(1, '\0'));
        tar += header + member.second + std::string((512 - member.second.size() % 512) % 512, '\0');
    }
    return tar + std::string(1024, '\0');
}

}  // namespace ziptest
