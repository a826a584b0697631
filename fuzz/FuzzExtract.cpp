// libFuzzer target over the whole read-and-extract path of the ZIP core: directory search and
// parsing, name decoding, path sanitising, record checks and every decoder, extracting into
// memory. Besides the sanitizers it checks that every file the core asks for is a safe relative
// path. Each input is also decoded as the data of a one-member archive built around it, with the
// compression method its first byte picks, so that every decoder sees every input. Encrypted
// members are opened with the password of the encrypted seeds (make_method_archives.py), through
// OpenSSL's cryptography, so that both decryptions are reached. Each input is also decoded as bzip2
// data by the one-stream decoder and by blocks on two threads, and as deflate or Deflate64 data by
// the one-stream decoder and in small chunks on two threads, which must give the same. The
// extraction runs with a worker thread, as the library does.
#include "tests/unzip32/native/OpenSslCrypto.h"
#include "unzip32/core/ArchiveReader.h"
#include "unzip32/core/Extractor.h"
#include "tests/support/IconvNameCodec.h"
#include "unzip32/core/MemoryHost.h"
#include "unzip32/core/Deflate64Decoder.h"
#include "unzip32/core/GzipDecoder.h"
#include "unzip32/core/InflateDecoder.h"
#include "unzip32/core/Bzip2Block.h"
#include "unzip32/core/ParallelBzip2Decoder.h"
#include "unzip32/core/ParallelInflateDecoder.h"
#include "unzip32/core/SevenZipZstdDecoder.h"
#include "unzip32/core/StreamInflateDecoder.h"
#include "unzip32/core/StdWorkerThreads.h"
#include "unzip32/core/XzDecoder.h"
#include "unzip32/core/ZstdDecoder.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <zlib.h>

namespace {

// MemoryHost with the seeds' password for every encrypted member.
class FuzzHost : public unzip::MemoryHost {
public:
    explicit FuzzHost(size_t keepLimit) : MemoryHost(keepLimit) { }
    bool Password(const std::string&, unzip::Secret& password) override
    {
        static const char kPassword[] = "kv Secret-1";
        password.Assign(kPassword, sizeof kPassword - 1);
        return true;
    }
    unzip::Crypto* Cryptography() override { return &crypto_; }

private:
    ziptest::OpenSslCrypto crypto_;
};

bool IsSafeComponent(const std::string& part)
{
    if (part.empty() || part == "." || part == ".." || part.back() == '.' || part.back() == ' ')
        return false;
    for (unsigned char c : part)
        if (c < 0x20 || c == 0x7F || c == '/' || c == '\\' || c == ':' || c == '<' || c == '>' || c == '"' ||
            c == '|' || c == '?' || c == '*')
            return false;
    return true;
}

void CheckPath(const std::string& path)
{
    size_t start = 0;
    while (start <= path.size()) {
        size_t stop = path.find('/', start);
        if (stop == std::string::npos)
            stop = path.size();
        if (!IsSafeComponent(path.substr(start, stop - start)))
            std::abort();
        start = stop + 1;
    }
}

void Put(std::string& out, uint64_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out += static_cast<char>(i < 8 ? (value >> (8 * i)) & 0xFF : 0);
}

// A one-member archive: the method from the first byte, flag bits 0 (traditional encryption) and 1
// (LZMA's end marker) from the second, the declared size from the next three; the rest is the
// member's data.
std::string OneMember(const uint8_t* data, size_t size)
{
    static const uint16_t kMethods[] = {0, 8, 9, 12, 14, 20, 93, 95, 98};
    const uint16_t method = kMethods[data[0] % (sizeof kMethods / sizeof kMethods[0])];
    const uint16_t flags = data[1] & 0x03;
    const uint32_t declared = data[2] | (data[3] << 8) | (data[4] << 16);
    const std::string packed(reinterpret_cast<const char*>(data + 5), size - 5);
    std::string zip;
    Put(zip, 0x04034b50, 4);
    Put(zip, 20, 2);
    Put(zip, flags, 2);
    Put(zip, method, 2);
    Put(zip, 0, 8);  // time, date, CRC
    Put(zip, static_cast<uint32_t>(packed.size()), 4);
    Put(zip, declared, 4);
    Put(zip, 1, 2);
    Put(zip, 0, 2);
    zip += "m" + packed;
    const size_t directory = zip.size();
    Put(zip, 0x02014b50, 4);
    Put(zip, 20, 2);
    Put(zip, 20, 2);
    Put(zip, flags, 2);
    Put(zip, method, 2);
    Put(zip, 0, 8);
    Put(zip, static_cast<uint32_t>(packed.size()), 4);
    Put(zip, declared, 4);
    Put(zip, 1, 2);
    Put(zip, 0, 12);  // extra and comment lengths, disk, attributes
    Put(zip, 0, 4);   // external attributes
    Put(zip, 0, 4);   // offset
    zip += "m";
    const size_t directorySize = zip.size() - directory;
    Put(zip, 0x06054b50, 4);
    Put(zip, 0, 4);
    Put(zip, 1, 2);
    Put(zip, 1, 2);
    Put(zip, static_cast<uint32_t>(directorySize), 4);
    Put(zip, static_cast<uint32_t>(directory), 4);
    Put(zip, 0, 2);
    return zip;
}

// Starts the decoder and takes its output in pieces of `piece` bytes, up to 8 MiB; `whole` tells
// whether the stream ended (or failed) within that.
unzip::Status Drain(unzip::Decoder& decoder, size_t piece, std::string& out, bool& whole)
{
    unzip::Status status = decoder.Start();
    std::vector<uint8_t> scratch(piece);
    bool finished = false;
    while (status == unzip::Status::Ok && !finished && out.size() < (8u << 20)) {
        const uint8_t* data = nullptr;
        size_t got = 0;
        status = decoder.Decode(scratch.data(), scratch.size(), data, got, finished);
        out.append(reinterpret_cast<const char*>(data), got);
    }
    whole = finished || status != unzip::Status::Ok;
    return status;
}

// Decodes the data as bzip2, by blocks on a helper thread or as one stream, up to 8 MiB of output.
unzip::Status DecodeBzip2(const uint8_t* data, size_t size, bool byBlocks, std::string& out, bool& whole)
{
    unzip::MemorySource source(data, size);
    std::vector<uint8_t> buffer(4096);
    unzip::MemberInput input(source, 0, size, buffer);
    unzip::StdWorkerThreads threads;
    std::unique_ptr<unzip::Decoder> decoder;
    if (byBlocks)
        decoder.reset(new unzip::ParallelBzip2Decoder(input, threads, 1));
    else
        decoder.reset(new unzip::Bzip2Decoder(input));
    return Drain(*decoder, 1 << 16, out, whole);
}

// The `chunk` of DecodeInflate that asks for the block decoder in one stream.
const size_t kBlockStream = ~size_t(0);

// Decodes the data as deflate or Deflate64: in chunks of `chunk` bytes with `helpers` helper threads,
// or (chunk 0) as one stream, or (kBlockStream) as one stream through the block decoder, up to 8 MiB
// of output.
unzip::Status DecodeInflate(const uint8_t* data, size_t size, bool deflate64, size_t chunk, unsigned helpers,
    std::string& out, bool& whole)
{
    unzip::MemorySource source(data, size);
    std::vector<uint8_t> buffer(4096);
    unzip::MemberInput input(source, 0, size, buffer);
    unzip::Entry entry;
    entry.size = uint64_t(1) << 40;
    unzip::StdWorkerThreads threads;
    std::unique_ptr<unzip::Decoder> decoder;
    if (chunk == kBlockStream)
        decoder.reset(new unzip::StreamInflateDecoder(entry, input, deflate64));
    else if (chunk > 0)
        decoder.reset(new unzip::ParallelInflateDecoder(entry, input, deflate64, threads, helpers, chunk));
    else if (deflate64)
        decoder.reset(new unzip::Deflate64Decoder(entry, input));
    else
        decoder.reset(new unzip::InflateDecoder(input));
    return Drain(*decoder, 4099, out, whole);
}

// Both decoders give the same outcome; before a failure one may hand out more than the other (the
// one-stream decoder drops the piece it fails in), so there the shorter output is what agrees.
void CompareOutcomes(unzip::Status one, const std::string& stream, bool streamWhole, unzip::Status cut,
    const std::string& pieces, bool piecesWhole)
{
    if (streamWhole && piecesWhole && (one != cut || (one == unzip::Status::Ok && stream != pieces)))
        std::abort();
    const size_t common = std::min(stream.size(), pieces.size());
    if (stream.compare(0, common, pieces, 0, common) != 0)
        std::abort();
}

void CompareInflate(const uint8_t* data, size_t size, bool deflate64, size_t chunk, unsigned helpers)
{
    std::string stream, pieces;
    bool streamWhole = false, piecesWhole = false;
    const unzip::Status one = DecodeInflate(data, size, deflate64, 0, 0, stream, streamWhole);
    const unzip::Status cut = DecodeInflate(data, size, deflate64, chunk, helpers, pieces, piecesWhole);
    CompareOutcomes(one, stream, streamWhole, cut, pieces, piecesWhole);
    std::string blocks;
    bool blocksWhole = false;
    const unzip::Status byBlocks = DecodeInflate(data, size, deflate64, kBlockStream, 0, blocks, blocksWhole);
    CompareOutcomes(one, stream, streamWhole, byBlocks, blocks, blocksWhole);
}

// Decodes the data as an XZ member declared 16 MiB long (no dictionary cut below the 8 MiB taken
// out), its LZMA2 blocks through 7-Zip's decoder or all blocks through liblzma's.
unzip::Status DecodeXz(const uint8_t* data, size_t size, bool lzma2Blocks, std::string& out, bool& whole)
{
    unzip::MemorySource source(data, size);
    std::vector<uint8_t> buffer(4096);
    unzip::MemberInput input(source, 0, size, buffer);
    unzip::Entry entry;
    entry.size = 16u << 20;
    unzip::XzDecoder decoder(entry, input, lzma2Blocks);
    return Drain(decoder, 4099, out, whole);
}

// Decodes the data as Zstandard, through 7-Zip's decoder or libzstd.
unzip::Status DecodeZstd(const uint8_t* data, size_t size, bool sevenZip, std::string& out, bool& whole)
{
    unzip::MemorySource source(data, size);
    std::vector<uint8_t> buffer(4096);
    unzip::MemberInput input(source, 0, size, buffer);
    std::unique_ptr<unzip::Decoder> decoder;
    if (sevenZip)
        decoder.reset(new unzip::SevenZipZstdDecoder(input));
    else
        decoder.reset(new unzip::ZstdDecoder(input));
    return Drain(*decoder, 4099, out, whole);
}

// Decodes the data as gzip, up to 8 MiB of output: through GzipDecoder with one helper in chunks of
// 64 bytes, or through zlib, one member after another while the byte after a member starts one, as
// gzip reads them.
unzip::Status DecodeGzip(const uint8_t* data, size_t size, bool ours, std::string& out, bool& whole)
{
    if (ours) {
        unzip::MemorySource source(data, size);
        unzip::StdWorkerThreads threads;
        unzip::DecoderHelpers helpers;
        helpers.threads = &threads;
        helpers.count = 1;
        unzip::GzipDecoder decoder(source, helpers, 64);
        return Drain(decoder, 4099, out, whole);
    }
    z_stream z {};
    if (inflateInit2(&z, 16 + MAX_WBITS) != Z_OK)
        std::abort();
    z.next_in = const_cast<Bytef*>(data);
    z.avail_in = static_cast<uInt>(size);
    std::vector<uint8_t> piece(4099);
    unzip::Status status = unzip::Status::Ok;
    whole = false;
    while (out.size() < (8u << 20)) {
        z.next_out = piece.data();
        z.avail_out = static_cast<uInt>(piece.size());
        const int result = inflate(&z, Z_NO_FLUSH);
        out.append(reinterpret_cast<const char*>(piece.data()), piece.size() - z.avail_out);
        if (result == Z_STREAM_END) {
            if (z.avail_in == 0 || z.next_in[0] != 0x1F) {
                whole = true;
                break;
            }
            inflateReset(&z);
        } else if (result != Z_OK) {
            status = unzip::Status::DataError;
            whole = true;
            break;
        }
    }
    inflateEnd(&z);
    return status;
}

// Decodes the data with the reference decoder of a format (`decode` with false) and with ours
// (true): both succeed with the same output or both fail, up to where the output was cut; what both
// gave agrees.
void CompareWithReference(const uint8_t* data, size_t size,
    unzip::Status (*decode)(const uint8_t*, size_t, bool, std::string&, bool&))
{
    std::string theirs, ours;
    bool theirsWhole = false, oursWhole = false;
    const bool theirsOk = decode(data, size, false, theirs, theirsWhole) == unzip::Status::Ok;
    const bool oursOk = decode(data, size, true, ours, oursWhole) == unzip::Status::Ok;
    if (theirsWhole && oursWhole && (theirsOk != oursOk || (theirsOk && theirs != ours)))
        std::abort();
    const size_t common = std::min(theirs.size(), ours.size());
    if (theirs.compare(0, common, ours, 0, common) != 0)
        std::abort();
}

void CompareBzip2(const uint8_t* data, size_t size)
{
    // A stream of one block that Bzip2Block takes gives libbz2's output, byte for byte.
    {
        static unzip::Bzip2Block block;
        static std::vector<uint8_t> ours(4u << 20), theirs(4u << 20);
        size_t produced = 0;
        if (block.Decode(data, size, ours.data(), ours.size(), produced)) {
            unsigned got = static_cast<unsigned>(theirs.size());
            if (BZ2_bzBuffToBuffDecompress(reinterpret_cast<char*>(theirs.data()), &got,
                    const_cast<char*>(reinterpret_cast<const char*>(data)), static_cast<unsigned>(size), 0, 0) != BZ_OK ||
                got != produced || std::memcmp(ours.data(), theirs.data(), produced) != 0)
                std::abort();
        }
    }
    std::string stream, blocks;
    bool streamWhole = false, blocksWhole = false;
    const unzip::Status one = DecodeBzip2(data, size, false, stream, streamWhole);
    const unzip::Status cut = DecodeBzip2(data, size, true, blocks, blocksWhole);
    if (streamWhole && blocksWhole) {
        if (one != cut || (one == unzip::Status::Ok && stream != blocks))
            std::abort();
    } else {
        // Cut at the output limit: what both gave must agree.
        const size_t common = std::min(stream.size(), blocks.size());
        if (stream.compare(0, common, blocks, 0, common) != 0)
            std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    unzip::MemorySource source(data, size);
    // Legacy names are read as a Japanese user's Windows would (CP932, where 0x5C may be half of a
    // character) and, for the listing, in the page detection picks.
    static kvtest::IconvNameCodec japanese(932, 932);
    static kvtest::IconvNameCodec american;
    {
        FuzzHost host(1u << 20);
        host.names = &japanese;
        // As the library runs: members decoded on a worker (ZIP) and files written behind the
        // reader on one (the other kinds).
        static unzip::StdWorkerThreads workers;
        unzip::ExtractOptions options;
        options.exclude = {"*.bak", "skip?/*"};
        options.workers = &workers;
        options.threads = 1;
        unzip::ExtractReport report = unzip::Extract(source, host, options);
        uint64_t written = 0;
        for (const auto& file : host.files) {
            CheckPath(file.first);
            if (file.second != "<not kept>")
                written += file.second.size();
        }
        for (const auto& folder : host.folders)
            CheckPath(folder);
        // A single compressed file (.gz, .xz, .lzma...) declares no size: its stream's own end
        // bounds it. Every other kind declares each member's (a hard link's copy, its target's).
        if (written > report.totalSize) {
            const unzip::ArchiveKind kind = unzip::DetectArchiveKind(source);
            unzip::Directory directory;
            if (kind != unzip::ArchiveKind::Compressed &&
                (kind != unzip::ArchiveKind::Unknown || unzip::ReadDirectory(source, directory) == unzip::Status::Ok))
                std::abort();  // more output than the archive declares
        }
    }
    {
        unzip::MemoryHost host(0);
        host.names = &american;
        unzip::ExtractOptions options;
        options.listOnly = true;
        options.namePage = unzip::kNamePageAutomatic;
        unzip::Extract(source, host, options);
    }
    if (size >= 5) {
        const std::string zip = OneMember(data, size);
        unzip::MemorySource member(zip.data(), zip.size());
        FuzzHost host(0);
        unzip::ExtractOptions options;
        options.testOnly = true;
        if (unzip::Extract(member, host, options).members != 1)
            std::abort();  // the archive around the data is always sound
        // The data of the one-member form's bzip2 members.
        if (data[0] % 9 == 3)
            CompareBzip2(data + 5, size - 5);
        // Deflate and Deflate64 data through the block decoder as one stream, and in chunks of 16 to
        // 4096 bytes with one helper (which takes every other chunk) or three (which take all but
        // the first).
        if (data[0] % 9 == 1 || data[0] % 9 == 2)
            CompareInflate(data + 5, size - 5, data[0] % 9 == 2, 16 + size_t(data[4]) * 16, data[0] / 9 % 2 == 0 ? 1 : 3);
        // XZ data through 7-Zip's LZMA2 decoder and through liblzma; Zstandard data through 7-Zip's
        // decoder and through libzstd.
        if (data[0] % 9 == 7)
            CompareWithReference(data + 5, size - 5, DecodeXz);
        if (data[0] % 9 == 5 || data[0] % 9 == 6)
            CompareWithReference(data + 5, size - 5, DecodeZstd);
    }
    // gzip through GzipDecoder on a helper and through zlib.
    if (size >= 2 && data[0] == 0x1F && data[1] == 0x8B)
        CompareWithReference(data, size, DecodeGzip);
    return 0;
}
