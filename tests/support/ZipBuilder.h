#pragma once
#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

// Builds small ZIP archives in memory: stored or deflated members, written the usual way (local
// records, central directory, end record). Names are stored as given: CP437 unless the UTF-8 flag
// (general-purpose bit 11) is asked for with Utf8Names.
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
        member.flags = flags_;
        members_.push_back(member);
        return *this;
    }

    // Flags the names of the members added from now on as UTF-8.
    ZipBuilder& Utf8Names()
    {
        flags_ = 0x0800;
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
            Put16(out, m.flags);
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
            Put16(directory, m.flags);
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
        uint16_t flags = 0;
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
    uint16_t flags_ = 0;
};

}  // namespace testsupport
