#pragma once
#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

// Builds small ZIP archives in memory: stored or deflated members, written the usual way (local
// records, central directory, end record).
class ZipBuilder {
public:
    // Adds a member; `deflate` compresses it with zlib's raw deflate.
    ZipBuilder& Add(const std::string& name, const std::string& data, bool deflate = true)
    {
        Member member;
        member.name = name;
        member.size = data.size();
        member.crc = static_cast<uint32_t>(crc32(0L, reinterpret_cast<const Bytef*>(data.data()),
                                                 static_cast<uInt>(data.size())));
        if (deflate && !data.empty()) {
            member.method = 8;
            member.packed = Deflate(data);
        } else {
            member.method = 0;
            member.packed = data;
        }
        members_.push_back(member);
        return *this;
    }

    // Adds a deflated member of `size` zero bytes (below 4 GiB) without compressing them all: the
    // stream repeats one fully flushed block of a MiB of zeros, so a GiB takes a few MiB of archive.
    ZipBuilder& AddZeros(const std::string& name, uint64_t size)
    {
        const size_t chunk = 1u << 20;
        const std::string zeros(chunk, '\0');
        z_stream stream{};
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
        Member member;
        member.name = name;
        member.size = size;
        member.method = 8;
        uLong crc = crc32(0L, Z_NULL, 0);
        const std::string block = deflateZeros(chunk, Z_FULL_FLUSH);
        uint64_t left = size;
        for (; left >= chunk; left -= chunk) {
            member.packed += block;
            crc = crc32(crc, reinterpret_cast<const Bytef*>(zeros.data()), static_cast<uInt>(chunk));
        }
        member.packed += deflateZeros(static_cast<size_t>(left), Z_FINISH);
        crc = crc32(crc, reinterpret_cast<const Bytef*>(zeros.data()), static_cast<uInt>(left));
        deflateEnd(&stream);
        member.crc = static_cast<uint32_t>(crc);
        members_.push_back(member);
        return *this;
    }

    std::string Build() const
    {
        std::string out;
        std::string directory;
        for (const Member& m : members_) {
            uint32_t offset = static_cast<uint32_t>(out.size());
            Put32(out, 0x04034b50);
            Put16(out, 20);
            Put16(out, 0);
            Put16(out, m.method);
            Put16(out, 0x6000);  // 12:00
            Put16(out, 0x5267);  // 2021-03-07
            Put32(out, m.crc);
            Put32(out, static_cast<uint32_t>(m.packed.size()));
            Put32(out, static_cast<uint32_t>(m.size));
            Put16(out, static_cast<uint16_t>(m.name.size()));
            Put16(out, 0);
            out += m.name;
            out += m.packed;

            Put32(directory, 0x02014b50);
            Put16(directory, 20);
            Put16(directory, 20);
            Put16(directory, 0);
            Put16(directory, m.method);
            Put16(directory, 0x6000);
            Put16(directory, 0x5267);
            Put32(directory, m.crc);
            Put32(directory, static_cast<uint32_t>(m.packed.size()));
            Put32(directory, static_cast<uint32_t>(m.size));
            Put16(directory, static_cast<uint16_t>(m.name.size()));
            Put16(directory, 0);
            Put16(directory, 0);
            Put16(directory, 0);
            Put16(directory, 0);
            Put32(directory, 0);
            Put32(directory, offset);
            directory += m.name;
        }
        uint32_t directoryOffset = static_cast<uint32_t>(out.size());
        out += directory;
        Put32(out, 0x06054b50);
        Put16(out, 0);
        Put16(out, 0);
        Put16(out, static_cast<uint16_t>(members_.size()));
        Put16(out, static_cast<uint16_t>(members_.size()));
        Put32(out, static_cast<uint32_t>(directory.size()));
        Put32(out, directoryOffset);
        Put16(out, 0);
        return out;
    }

private:
    struct Member {
        std::string name;
        std::string packed;
        uint64_t size = 0;
        uint32_t crc = 0;
        uint16_t method = 0;
    };

    static void Put16(std::string& out, uint32_t v)
    {
        out += static_cast<char>(v & 0xFF);
        out += static_cast<char>((v >> 8) & 0xFF);
    }
    static void Put32(std::string& out, uint32_t v)
    {
        Put16(out, v & 0xFFFF);
        Put16(out, v >> 16);
    }
    static std::string Deflate(const std::string& data)
    {
        z_stream stream{};
        deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
        std::vector<unsigned char> buffer(deflateBound(&stream, static_cast<uLong>(data.size())) + 16);
        stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
        stream.avail_in = static_cast<uInt>(data.size());
        stream.next_out = buffer.data();
        stream.avail_out = static_cast<uInt>(buffer.size());
        deflate(&stream, Z_FINISH);
        std::string packed(reinterpret_cast<char*>(buffer.data()), stream.total_out);
        deflateEnd(&stream);
        return packed;
    }

    std::vector<Member> members_;
};

}  // namespace testsupport
