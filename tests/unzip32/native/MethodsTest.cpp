// The decoders of the compression methods under the sanitizers: the Deflate64 decoder on streams
// written here bit by bit (matches of every reach and length, resumed at any output size, damaged
// streams), the memory refusals, and the archives that 7z, Python's zipfile and the xz and zstd
// tools wrote (tests/unzip32/make_method_archives.py, folder in KESTROVA_METHOD_ARCHIVES).
#include "tests/support/ZipBuilder.h"
#include "tests/unzip32/CountingHost.h"
#include "unzip32/core/Bzip2Block.h"
#include "unzip32/core/Decoder.h"
#include "unzip32/core/Deflate64Decoder.h"
#include "unzip32/core/Extractor.h"
#include "unzip32/core/GzipDecoder.h"
#include "unzip32/core/InflateDecoder.h"
#include "unzip32/core/ParallelBzip2Decoder.h"
#include "unzip32/core/ParallelInflateDecoder.h"
#include "unzip32/core/SevenZipZstdDecoder.h"
#include "unzip32/core/StreamInflateDecoder.h"
#include "unzip32/core/StdWorkerThreads.h"
#include "unzip32/core/XzDecoder.h"
#include "unzip32/core/ZstdDecoder.h"

#include <bzlib.h>
#include <zlib.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <thread>

using namespace unzip;
using ziptest::Archive;
using ziptest::CountingHost;
using ziptest::Member;

namespace {

// Writes Deflate64 with the fixed Huffman code, and stored blocks; matches of any length and reach.
class Deflate64Writer {
public:
    void Block(bool last, unsigned type)
    {
        Bits(last ? 1 : 0, 1);
        Bits(type, 2);
    }
    void Literal(uint8_t c)
    {
        if (c < 144)
            Code(0x30 + c, 8);
        else
            Code(0x190 + (c - 144u), 9);
        out_.push_back(c);
    }
    void Symbol(unsigned s)  // 256 to 287
    {
        if (s < 280)
            Code(s - 256, 7);
        else
            Code(0xC0 + (s - 280), 8);
    }
    void Match(unsigned length, unsigned distance, bool record = true)
    {
        static const unsigned base[] = {3, 4, 5, 6, 7, 8, 9, 10, 11, 13, 15, 17, 19, 23, 27, 31, 35, 43, 51, 59, 67, 83,
            99, 115, 131, 163, 195, 227};
        static const unsigned extra[] = {
            0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5};
        if (length >= 258) {
            Symbol(285);
            Bits(length - 3, 16);
        } else {
            unsigned code = 27;
            while (base[code] > length)
                --code;
            Symbol(257 + code);
            Bits(length - base[code], extra[code]);
        }
        unsigned code = 0;
        unsigned start = 1;
        for (unsigned c = 0; c < 32; ++c) {
            const unsigned bits = c < 4 ? 0 : c / 2 - 1;
            const unsigned first = c < 4 ? c + 1 : ((2u + (c & 1)) << bits) + 1;
            if (first <= distance) {
                code = c;
                start = first;
            }
        }
        Code(code, 5);
        Bits(distance - start, code < 4 ? 0 : code / 2 - 1);
        if (record)
            for (unsigned i = 0; i < length; ++i)
                out_.push_back(out_[out_.size() - distance]);
    }
    void Stored(const std::string& data, bool last)
    {
        Block(last, 0);
        if (count_ > 0)
            Bits(0, 8 - count_);
        Bits(static_cast<uint32_t>(data.size()), 16);
        Bits(~static_cast<uint32_t>(data.size()) & 0xFFFF, 16);
        for (char c : data) {
            Bits(static_cast<uint8_t>(c), 8);
            out_.push_back(static_cast<uint8_t>(c));
        }
    }
    std::string Finish()
    {
        if (count_ > 0)
            Bits(0, 8 - count_);
        return bytes_;
    }
    std::string Content() const { return std::string(out_.begin(), out_.end()); }

    void Bits(uint32_t value, unsigned count)
    {
        for (unsigned i = 0; i < count; ++i) {
            if (count_ == 0)
                bytes_.push_back('\0');
            if ((value >> i) & 1)
                bytes_.back() = static_cast<char>(bytes_.back() | (1 << count_));
            count_ = (count_ + 1) & 7;
        }
    }
    void Code(uint32_t code, unsigned length)  // Huffman codes go most significant bit first
    {
        for (unsigned i = length; i-- > 0;)
            Bits((code >> i) & 1, 1);
    }

private:
    std::string bytes_;
    unsigned count_ = 0;
    std::vector<uint8_t> out_;
};

std::string Random(size_t size, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::string s(size, '\0');
    for (char& c : s)
        c = static_cast<char>(rng());
    return s;
}

// Long matches (code 285 with its 16 extra bits) that reach past 32 KiB (distance codes 30, 31),
// a run of one byte, short matches and a stored block.
Deflate64Writer FarAndLong()
{
    Deflate64Writer w;
    w.Block(false, 1);
    for (char c : Random(50000, 1))
        w.Literal(static_cast<uint8_t>(c));
    w.Match(5000, 45000);   // code 30
    w.Match(65538, 55000);  // the longest match, code 31
    w.Match(259, 1);        // 285 with a small extra
    w.Match(258, 300);
    w.Match(3, 7);
    w.Match(40, 65536);  // the farthest reach
    w.Symbol(256);
    w.Stored(Random(3000, 2), false);
    w.Block(true, 1);
    w.Match(100, 65000);
    w.Symbol(256);
    return w;
}

// Decodes a stream of the method (Deflate64 unless told) directly, in output pieces of at most
// `capacity` bytes and input pieces of `piece` bytes, for a member declared `declared` bytes long
// (its output buffer fits).
Status DecodeInPieces(const std::string& stream, size_t capacity, size_t piece, std::string& out,
    uint64_t declared = uint64_t(1) << 40, uint16_t method = 9)
{
    MemorySource source(stream.data(), stream.size());
    std::vector<uint8_t> buffer(piece);
    MemberInput input(source, 0, stream.size(), buffer);
    Entry entry;
    entry.size = declared;
    entry.actualMethod = method;
    std::unique_ptr<Decoder> created;
    std::string detail;
    const Status started = CreateDecoder(entry, input, kDecoderMemoryLimit, created, detail);
    if (started != Status::Ok)
        return started;
    Decoder& decoder = *created;
    std::vector<uint8_t> scratch(capacity);
    bool finished = false;
    out.clear();
    while (!finished) {
        const uint8_t* data = nullptr;
        size_t size = 0;
        const Status status = decoder.Decode(scratch.data(), capacity, data, size, finished);
        if (status != Status::Ok)
            return status;
        if (size > capacity || (size == 0 && !finished))
            return Status::Internal;
        out.append(reinterpret_cast<const char*>(data), size);
    }
    return Status::Ok;
}

ExtractReport Unpack(const std::string& bytes, CountingHost& host, unsigned threads = 0)
{
    MemorySource source(bytes.data(), bytes.size());
    StdWorkerThreads workers;
    ExtractOptions options;
    options.threads = threads;
    options.workers = threads > 0 ? &workers : nullptr;
    options.milliseconds = &SteadyMilliseconds;
    return Extract(source, host, options);
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

// A member as its local record holds it.
struct RawMember {
    std::string name;
    uint64_t size = 0;
    std::string packed;
};

// The members of an archive whose local records follow one another from its start.
std::vector<RawMember> LocalRecords(const std::string& archive)
{
    std::vector<RawMember> members;
    for (size_t at = 0; archive.compare(at, 4, "PK\x03\x04") == 0;) {
        auto le = [&](size_t offset, int bytes) {
            uint32_t value = 0;
            for (int i = bytes - 1; i >= 0; --i)
                value = (value << 8) | static_cast<uint8_t>(archive[at + offset + static_cast<size_t>(i)]);
            return value;
        };
        RawMember m;
        m.name = archive.substr(at + 30, le(26, 2));
        m.size = le(22, 4);
        const size_t data = at + 30 + le(26, 2) + le(28, 2);
        m.packed = archive.substr(data, le(18, 4));
        members.push_back(m);
        at = data + m.packed.size();
    }
    return members;
}

}  // namespace

TEST(Deflate64, FarLongAndStoredMatchesDecodeAtEveryPieceSize)
{
    Deflate64Writer w = FarAndLong();
    const std::string stream = w.Finish();
    const std::string content = w.Content();
    ASSERT_GT(content.size(), 120000u);
    for (size_t capacity : {size_t(1), size_t(7), size_t(258), size_t(65539), size_t(1) << 20}) {
        for (size_t piece : {size_t(1), size_t(3), size_t(4096), stream.size()}) {
            std::string out;
            ASSERT_EQ(Status::Ok, DecodeInPieces(stream, capacity, piece, out)) << capacity << " " << piece;
            EXPECT_TRUE(out == content) << "output " << capacity << ", input " << piece;
            // A buffer just the member's size, as small members get.
            ASSERT_EQ(Status::Ok, DecodeInPieces(stream, capacity, piece, out, content.size()));
            EXPECT_TRUE(out == content) << "output " << capacity << ", input " << piece << ", exact buffer";
            if (capacity == 1 && piece > 3)
                break;  // byte-sized output is slow enough once
        }
    }
    // Through the extractor, in a member.
    Archive a;
    Member m("far.bin", content, 9);
    m.rawPacked = stream;
    a.members.push_back(m);
    CountingHost host;
    ExtractReport r = Unpack(a.Build(), host);
    EXPECT_EQ(1, r.extracted);
    EXPECT_TRUE(host.files["far.bin"] == content);
}

TEST(Deflate64, DamagedStreamsAreDataErrors)
{
    struct Case {
        const char* what;
        std::string stream;
    };
    std::vector<Case> cases;
    {
        Deflate64Writer w;
        w.Block(true, 1);
        w.Literal('a');
        w.Match(10, 2, false);  // reaches before the start
        w.Symbol(256);
        cases.push_back({"distance too far back", w.Finish()});
    }
    {
        Deflate64Writer w;
        w.Block(true, 1);
        w.Literal('a');
        w.Symbol(286);
        cases.push_back({"length symbol 286", w.Finish()});
    }
    {
        Deflate64Writer w;
        w.Block(true, 3);
        cases.push_back({"block type 3", w.Finish()});
    }
    {
        Deflate64Writer w;
        w.Block(true, 0);
        w.Bits(0, 5);
        w.Bits(5, 16);
        w.Bits(5, 16);  // not the complement
        cases.push_back({"stored length check", w.Finish() + "hello"});
    }
    {
        std::string stream = FarAndLong().Finish();
        cases.push_back({"cut short", stream.substr(0, stream.size() / 2)});
        cases.push_back({"cut in the last block", stream.substr(0, stream.size() - 1)});
    }
    {
        // A dynamic block whose code lengths over-subscribe the code-length code.
        Deflate64Writer w;
        w.Block(true, 2);
        w.Bits(0, 5);
        w.Bits(0, 5);
        w.Bits(15, 4);
        for (int i = 0; i < 19; ++i)
            w.Bits(1, 3);
        cases.push_back({"over-subscribed code", w.Finish() + std::string(40, '\0')});
    }
    for (const Case& c : cases) {
        for (size_t piece : {size_t(1), size_t(1) << 16}) {
            std::string out;
            EXPECT_EQ(Status::DataError, DecodeInPieces(c.stream, 1 << 20, piece, out)) << c.what;
        }
    }
}

namespace {

std::string Bzip2Compress(const std::string& data, int level)
{
    std::string out(data.size() + data.size() / 100 + 600, '\0');
    unsigned size = static_cast<unsigned>(out.size());
    EXPECT_EQ(BZ_OK,
        BZ2_bzBuffToBuffCompress(
            &out[0], &size, const_cast<char*>(data.data()), static_cast<unsigned>(data.size()), level, 0, 0));
    out.resize(size);
    return out;
}

// libbz2's result for a whole stream, and its output when that is BZ_OK.
int Libbz2Decode(const std::string& stream, size_t room, std::string& out)
{
    out.assign(room, '\0');
    unsigned size = static_cast<unsigned>(room);
    const int result = BZ2_bzBuffToBuffDecompress(
        &out[0], &size, const_cast<char*>(stream.data()), static_cast<unsigned>(stream.size()), 0, 0);
    out.resize(result == BZ_OK ? size : 0);
    return result;
}

bool BlockDecode(Bzip2Block& block, const std::string& stream, size_t room, std::string& out)
{
    out.assign(room, '\0');
    size_t produced = 0;
    const bool decoded = block.Decode(reinterpret_cast<const uint8_t*>(stream.data()), stream.size(),
        reinterpret_cast<uint8_t*>(&out[0]), room, produced);
    out.resize(produced);
    return decoded;
}

}  // namespace

// Two bzip2 streams in one member (as parallel writers make them), with the second one's
// signature at every place around the end of an input piece.
TEST(Methods, Bzip2StreamsFollowEachOtherAcrossInputPieces)
{
    auto compress = [](const std::string& data) { return Bzip2Compress(data, 1); };
    std::string first, second;
    for (size_t i = 0; i < 50000; ++i)
        first += static_cast<char>('a' + (i * 7 + i / 13) % 26);
    for (size_t i = 0; i < 30000; ++i)
        second += static_cast<char>('A' + (i * 5 + i / 11) % 26);
    const std::string stream = compress(first) + compress(second);
    const size_t boundary = compress(first).size();
    for (size_t piece : {boundary - 2, boundary - 1, boundary, boundary + 1, boundary + 2, size_t(1), size_t(2)}) {
        std::string out;
        ASSERT_EQ(Status::Ok, DecodeInPieces(stream, 1 << 16, piece, out, first.size() + second.size(), 12)) << piece;
        EXPECT_TRUE(out == first + second) << "input pieces of " << piece;
    }
}

// Parameters that need more memory than a member decoded alone may take are refused before
// anything is decoded, with the reason; the other members still extract. (The archives of the
// tools include members that need more than the decoders' shared memory: 7-Zip's "Ultra" PPMd and
// LZMA, decoded alone.)
TEST(Methods, HungryMembersAreRefusedWithTheReason)
{
    struct Case {
        const char* what;
        Member member;
        const char* reason;
    };
    std::vector<Case> cases;
    {
        Member m("big.lzma", "x", 14);  // a 4 GiB dictionary for 3 GiB
        m.rawPacked = std::string("\x10\x02\x05\x00\x5d\xff\xff\xff\xff", 9) + std::string(20, '\0');
        m.declaredSize = 3ll << 30;
        cases.push_back({"LZMA dictionary", m, "(needs 3073 MiB of memory)"});  // and its probabilities
    }
    {
        // A frame header asking for a window of 1.875 GiB, then a raw block of one byte.
        Member m("big.zst", "x", 93);
        m.rawPacked = std::string("\x28\xb5\x2f\xfd\x00\xa7\x09\x00\x00x", 10);
        cases.push_back({"Zstandard window", m, "(needs 1920 MiB of memory)"});
    }
    for (const Case& c : cases) {
        for (unsigned threads : {0u, 2u}) {
            Archive a;
            a.members.push_back(c.member);
            a.members.push_back(Member("fine.txt", "fine"));
            CountingHost host;
            ExtractReport r = Unpack(a.Build(), host, threads);
            EXPECT_EQ(1, r.skippedUnsupported) << c.what;
            EXPECT_EQ(1, r.extracted) << c.what;
            EXPECT_EQ(1u, host.LinesWith(c.reason)) << c.what << ": " << (host.lines.empty() ? "" : host.lines[0]);
            EXPECT_EQ(0u, host.files.count(c.member.name)) << c.what;
        }
    }
}

// Every archive the tools wrote extracts byte for byte; in the damaged copies the damaged member
// is reported and left out, and the others still extract.
TEST(Methods, ArchivesOfTheToolsThatWriteThem)
{
    const char* folder = std::getenv("KESTROVA_METHOD_ARCHIVES");
    if (folder == nullptr)
        GTEST_SKIP() << "KESTROVA_METHOD_ARCHIVES is not set";
    std::ifstream list(std::string(folder) + "/methods.txt");
    std::string line;
    int archives = 0;
    while (std::getline(list, line)) {
        const std::string name = line.substr(0, line.find(' '));
        const std::string base = name.substr(0, name.size() - 4);
        for (const char* variant : {"", ".corrupt", ".truncated"}) {
            const std::string path = std::string(folder) + "/" + base + variant + ".zip";
            std::ifstream exists(path);
            if (!exists)
                continue;
            const std::string bytes = ReadFile(path);
            for (unsigned threads : {0u, 2u}) {
                CountingHost host;
                ExtractReport r = Unpack(bytes, host, threads);
                const bool intact = *variant == '\0';
                EXPECT_EQ(intact ? 0 : 1, r.damaged) << path;
                EXPECT_EQ(r.members - (intact ? 0 : 1), r.extracted) << path;
                for (const auto& file : host.files)
                    EXPECT_TRUE(file.second == ReadFile(std::string(folder) + "/files/" + file.first))
                        << path << ": " << file.first;
                EXPECT_EQ(0, host.open) << path;
            }
            ++archives;
        }
    }
    EXPECT_GE(archives, 28);
}

// An LZMA member (a 4 KiB dictionary gone round many times, an end marker after the last byte)
// gives exactly its content at every output and input piece size; declared a byte shorter or
// longer than its content, or cut short, it is damaged and nothing of it is written.
TEST(Methods, LzmaEndsExactlyAtTheDeclaredSize)
{
    const char* folder = std::getenv("KESTROVA_METHOD_ARCHIVES");
    if (folder == nullptr)
        GTEST_SKIP() << "KESTROVA_METHOD_ARCHIVES is not set";
    const std::string archive = ReadFile(std::string(folder) + "/lzma-small-dictionary.zip");
    const std::string packed = LocalRecords(archive).back().packed;  // text.txt, the last member
    const std::string content = ReadFile(std::string(folder) + "/files/text.txt");
    ASSERT_GT(content.size(), size_t(100000));
    for (size_t capacity : {size_t(1) << 20, size_t(4099), size_t(1)}) {
        for (size_t piece : {size_t(1) << 16, size_t(7)}) {
            if (capacity == 1 && piece == 7)
                continue;  // a byte at a time through the whole member is slow under the sanitizers
            std::string out;
            ASSERT_EQ(Status::Ok, DecodeInPieces(packed, capacity, piece, out, content.size(), 14)) << capacity;
            EXPECT_TRUE(out == content) << capacity << " " << piece;
        }
    }
    struct Case {
        const char* what;
        std::string packed;
        int64_t declared;
    };
    const int64_t size = static_cast<int64_t>(content.size());
    for (const Case& c : {Case {"a byte shorter", packed, size - 1}, Case {"a byte longer", packed, size + 1},
             Case {"cut short", packed.substr(0, packed.size() - 40), size}}) {
        Archive a;
        Member m("text.txt", content, 14);
        m.flags = 2;
        m.rawPacked = c.packed;
        m.declaredSize = c.declared;
        a.members.push_back(m);
        CountingHost host;
        ExtractReport r = Unpack(a.Build(), host);
        EXPECT_EQ(1, r.damaged) << c.what;
        EXPECT_EQ(0u, host.files.count("text.txt")) << c.what;
    }
}

// A host whose files take 300 ms for each piece written (a slow member) and that asks to stop at
// its second Service call.
class SlowHost : public CountingHost {
public:
    Status CreateOutput(
        const std::vector<std::string>& parts, const Entry& entry, std::unique_ptr<OutputFile>& file) override
    {
        std::unique_ptr<OutputFile> inner;
        const Status status = CountingHost::CreateOutput(parts, entry, inner);
        if (status == Status::Ok)
            file = std::make_unique<SlowFile>(std::move(inner));
        return status;
    }
    bool Service(const std::string&, uint64_t) override { return ++services == 2; }
    int services = 0;

private:
    class SlowFile : public OutputFile {
    public:
        explicit SlowFile(std::unique_ptr<OutputFile> inner) : inner_(std::move(inner)) { }
        Status Write(const uint8_t* data, size_t count) override
        {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            return inner_->Write(data, count);
        }
        Status Commit(const Entry& entry) override { return inner_->Commit(entry); }
        void Abandon() override { inner_->Abandon(); }

    private:
        std::unique_ptr<OutputFile> inner_;
    };
};

// Service comes by time too, not only every 8 MiB written: a stop asked for while the first
// pieces of a 3 MB PPMd member are out ends it, inline and on a worker.
TEST(Methods, ServiceIsAskedByTimeInASlowMember)
{
    const char* folder = std::getenv("KESTROVA_METHOD_ARCHIVES");
    if (folder == nullptr)
        GTEST_SKIP() << "KESTROVA_METHOD_ARCHIVES is not set";
    const std::string archive = ReadFile(std::string(folder) + "/7z-ultra-ppmd.zip");
    ASSERT_FALSE(archive.empty());
    for (unsigned threads : {0u, 2u}) {
        SlowHost host;
        const ExtractReport r = Unpack(archive, host, threads);
        EXPECT_TRUE(r.stopped) << threads;
        EXPECT_EQ(2, host.services) << threads;
        EXPECT_LT(host.bytesWritten, kServiceStep) << threads;
        EXPECT_TRUE(host.files.empty()) << threads;
        EXPECT_EQ(0, host.open) << threads;
    }
}

// One bzip2 block through Bzip2Block and through libbz2: the same bytes for text, runs of every
// length around bzip2's run coding (four equal bytes and a count), all 256 byte values with codes
// longer than its table lookup, and the smallest blocks. With each bit of a block flipped,
// Bzip2Block gives libbz2's output or leaves the block to libbz2; so it does with a stream of two
// blocks and with a room one byte short.
TEST(Methods, Bzip2BlockDecodesAsLibbz2Does)
{
    std::mt19937 random(7);
    std::string text;
    while (text.size() < 800000)
        text += "line " + std::to_string(random() % 5000) + " of a text that repeats itself, more or less\n";
    std::string runs;
    for (int length = 1; length < 600; ++length)
        runs += std::string(static_cast<size_t>(length), static_cast<char>('a' + length % 3));
    std::string skewed;
    std::geometric_distribution<int> geometric(0.45);
    while (skewed.size() < 300000)
        skewed += static_cast<char>(std::min(geometric(random), 255));
    for (int value = 0; value < 256; ++value)
        skewed += static_cast<char>(value);
    Bzip2Block block;
    for (const std::string& data :
        {text, runs, skewed, std::string("x"), std::string("aaaa"), std::string("aaaaa"), std::string(10000, '\0')}) {
        const std::string stream = Bzip2Compress(data, 9);
        std::string ours;
        ASSERT_TRUE(BlockDecode(block, stream, data.size(), ours)) << data.size();
        EXPECT_TRUE(ours == data) << data.size();
        EXPECT_FALSE(BlockDecode(block, stream, data.size() - 1, ours)) << "a room one byte short";
    }

    std::string two;
    EXPECT_FALSE(BlockDecode(block, Bzip2Compress(text.substr(0, 150000), 1), text.size(), two)) << "two blocks";

    const std::string small = Bzip2Compress(text.substr(0, 3000) + runs.substr(0, 2000), 1);
    int taken = 0;
    for (size_t bit = 32; bit < small.size() * 8; ++bit) {
        std::string damaged = small;
        damaged[bit / 8] = static_cast<char>(damaged[bit / 8] ^ (0x80 >> (bit % 8)));
        std::string ours, theirs;
        if (!BlockDecode(block, damaged, 1 << 20, ours))
            continue;
        ++taken;
        ASSERT_EQ(BZ_OK, Libbz2Decode(damaged, 1 << 20, theirs)) << "bit " << bit;
        ASSERT_TRUE(ours == theirs) << "bit " << bit;
    }
    EXPECT_LT(taken, 8) << "only the bits that pad the last byte";

    // Damage in a large block, which is walked along several stretches at once.
    const std::string large = Bzip2Compress(text, 9);
    for (int flip = 0; flip < 64; ++flip) {
        std::string damaged = large;
        const size_t bit = 32 + random() % (large.size() * 8 - 32);
        damaged[bit / 8] = static_cast<char>(damaged[bit / 8] ^ (0x80 >> (bit % 8)));
        std::string ours, theirs;
        if (BlockDecode(block, damaged, 1 << 20, ours)) {
            ASSERT_EQ(BZ_OK, Libbz2Decode(damaged, 1 << 20, theirs)) << "bit " << bit;
            ASSERT_TRUE(ours == theirs) << "bit " << bit;
        }
    }
}

// Both bzip2 members of several MiB, decoded on two helper threads besides the test's: the same
// output. A full disk in the middle of a member ends its helpers.
TEST(Methods, Bzip2BlocksOnHelpersGiveTheSameOutput)
{
    const char* folder = std::getenv("KESTROVA_METHOD_ARCHIVES");
    if (folder == nullptr)
        GTEST_SKIP() << "KESTROVA_METHOD_ARCHIVES is not set";
    const std::string archive = ReadFile(std::string(folder) + "/bzip2-blocks.zip");
    MemorySource source(archive.data(), archive.size());
    Directory directory;
    ASSERT_EQ(Status::Ok, ReadDirectory(source, directory));
    for (const Entry& entry : directory.entries) {
        const size_t start = entry.localOffset + 30 + entry.name.size();
        std::vector<uint8_t> buffer(1 << 20);
        MemberInput input(source, start, entry.compressedSize, buffer);
        StdWorkerThreads threads;
        DecoderHelpers helpers;
        helpers.threads = &threads;
        helpers.count = 2;
        std::unique_ptr<Decoder> decoder;
        std::string detail;
        ASSERT_EQ(Status::Ok, CreateDecoder(entry, input, kDecoderMemoryLimit, decoder, detail, helpers));
        ASSERT_NE(nullptr, dynamic_cast<ParallelBzip2Decoder*>(decoder.get())) << entry.name;
        std::vector<uint8_t> scratch(1 << 20);
        std::string out;
        bool finished = false;
        while (!finished) {
            const uint8_t* data = nullptr;
            size_t size = 0;
            ASSERT_EQ(Status::Ok, decoder->Decode(scratch.data(), scratch.size(), data, size, finished));
            out.append(reinterpret_cast<const char*>(data), size);
        }
        decoder.reset();
        EXPECT_TRUE(out == ReadFile(std::string(folder) + "/files/" + entry.name)) << entry.name;
    }
    // A full disk halfway through the first member ends its helpers with it; nothing stays open.
    CountingHost host;
    host.diskSize = 3u << 20;
    const ExtractReport r = Unpack(archive, host, 2);
    EXPECT_EQ(0, r.extracted);
    EXPECT_EQ(2, r.diskFull);
    EXPECT_EQ(0, host.open);
}

// Bzip2 members of a few hundred KiB, decoded on the pool's two threads at once, each through the
// block reader with no helper of its own: the same files as the one-stream decoder gives (no
// pool), and a member with a damaged block fails the same way in both.
TEST(Methods, MidSizedBzip2MembersGoThroughTheBlockReaderOnThePool)
{
    std::mt19937 random(11);
    Archive archive;
    std::vector<std::string> texts;
    for (int m = 0; m < 4; ++m) {
        std::string text;
        while (text.size() < (1500u << 10))
            text += "member " + std::to_string(m) + " word " + std::to_string(random()) + "\n";
        Member member("m" + std::to_string(m) + ".txt", text, 12);
        member.rawPacked = Bzip2Compress(text, 9);
        ASSERT_GE(member.rawPacked.size(), 256u << 10);
        if (m == 2) {
            const size_t middle = member.rawPacked.size() / 2;
            member.rawPacked[middle] = static_cast<char>(member.rawPacked[middle] ^ 0x10);
        }
        archive.members.push_back(member);
        texts.push_back(text);
    }
    const std::string bytes = archive.Build();
    for (unsigned threads : {0u, 2u}) {
        CountingHost host;
        const ExtractReport r = Unpack(bytes, host, threads);
        EXPECT_EQ(3, r.extracted) << threads;
        EXPECT_EQ(1, r.damaged) << threads;
        EXPECT_EQ(0, host.open) << threads;
        for (int m : {0, 1, 3})
            EXPECT_TRUE(host.files["m" + std::to_string(m) + ".txt"] == texts[size_t(m)]) << threads << " " << m;
        EXPECT_EQ(0u, host.files.count("m2.txt")) << threads;
    }
}

// The bzip2 member cut into blocks where no block can be that long (as a signature found by chance
// inside a block would cut it): the blocks before it are handed out, the rest comes from the
// one-stream decoder, and the output is the same at every output piece size. A decoder that is
// dropped halfway ends its helpers.
TEST(Methods, Bzip2BlocksThatDoNotCutGoOnWithOneStream)
{
    const char* folder = std::getenv("KESTROVA_METHOD_ARCHIVES");
    if (folder == nullptr)
        GTEST_SKIP() << "KESTROVA_METHOD_ARCHIVES is not set";
    const std::string archive = ReadFile(std::string(folder) + "/bzip2-blocks.zip");
    const std::string expected = ReadFile(std::string(folder) + "/files/blocks.bin");
    // The first member's data, behind its local record.
    ASSERT_GT(archive.size(), 30u);
    auto u16 = [&](size_t at) { return size_t(uint8_t(archive[at])) | size_t(uint8_t(archive[at + 1])) << 8; };
    const size_t start = 30 + u16(26) + u16(28);
    const size_t length = size_t(uint8_t(archive[18])) | size_t(uint8_t(archive[19])) << 8 |
        size_t(uint8_t(archive[20])) << 16 | size_t(uint8_t(archive[21])) << 24;
    MemorySource source(archive.data(), archive.size());
    // With a helper, and with none (the decoding thread decodes every block).
    for (size_t capacity : {size_t(1) << 20, size_t(4099)}) {
        for (unsigned helpers : {0u, 1u}) {
            for (bool whole : {true, false}) {
                std::vector<uint8_t> buffer(1 << 20);
                MemberInput input(source, start, length, buffer);
                StdWorkerThreads threads;
                ParallelBzip2Decoder decoder(input, threads, helpers, 256u << 10);
                std::vector<uint8_t> scratch(capacity);
                std::string out;
                bool finished = false;
                while (!finished && (whole || out.size() < (3u << 20))) {
                    const uint8_t* data = nullptr;
                    size_t size = 0;
                    ASSERT_EQ(Status::Ok, decoder.Decode(scratch.data(), capacity, data, size, finished));
                    out.append(reinterpret_cast<const char*>(data), size);
                }
                if (whole)
                    EXPECT_TRUE(out == expected) << capacity << ": " << out.size() << " of " << expected.size();
                else
                    EXPECT_TRUE(expected.compare(0, out.size(), out) == 0) << capacity;
            }
        }
    }
}

namespace {

// Text of words, lines and repeated phrases, as source code or prose compresses.
std::string Words(size_t size, uint32_t seed)
{
    static const char* const kWords[] = {"the ", "block ", "window ", "of ", "and ", "decoder ", "chunk ", "\n",
        "stream ", "(", ") ", "{\n", "}\n", "return ", "0x", "size_t ", "marker ", "huffman ", "; ", "// "};
    std::mt19937 rng(seed);
    std::string s;
    while (s.size() < size)
        s += kWords[rng() % (sizeof kWords / sizeof kWords[0])];
    s.resize(size);
    return s;
}

// Raw deflate of `pieces`, each with its own level and strategy: stored (level 0), fixed and
// dynamic blocks in one stream.
std::string Deflated(const std::vector<std::pair<std::string, int>>& pieces)
{
    z_stream z {};
    EXPECT_EQ(Z_OK, deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY));
    size_t total = 0;
    for (const auto& piece : pieces)
        total += piece.first.size();
    std::string out(deflateBound(&z, static_cast<uLong>(total)) + pieces.size() * 1024, '\0');
    z.next_out = reinterpret_cast<Bytef*>(&out[0]);
    z.avail_out = static_cast<uInt>(out.size());
    for (size_t i = 0; i < pieces.size(); ++i) {
        const int level = pieces[i].second;
        deflateParams(&z, level == 10 ? 6 : level, level == 10 ? Z_FIXED : Z_DEFAULT_STRATEGY);
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(pieces[i].first.data()));
        z.avail_in = static_cast<uInt>(pieces[i].first.size());
        EXPECT_EQ(
            i + 1 == pieces.size() ? Z_STREAM_END : Z_OK, deflate(&z, i + 1 == pieces.size() ? Z_FINISH : Z_NO_FLUSH));
    }
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

// Hands out all of a decoder's output, in pieces of `capacity`.
Status Drain(Decoder& decoder, size_t capacity, std::string& out)
{
    std::vector<uint8_t> scratch(capacity);
    out.clear();
    Status status = Status::Ok;
    for (bool finished = false; status == Status::Ok && !finished;) {
        const uint8_t* data = nullptr;
        size_t size = 0;
        status = decoder.Decode(scratch.data(), capacity, data, size, finished);
        out.append(reinterpret_cast<const char*>(data), size);
        if (status == Status::Ok && size == 0 && !finished)
            return Status::Internal;  // as the library's callers stop a decoder that does not progress
    }
    return status;
}

// Decodes deflate (or Deflate64) in output pieces of `capacity`: with `helpers` helper threads in
// chunks of `chunk` bytes (0: by the compression ratio), or with the one-stream decoder (no helpers:
// zlib's inflate, or Deflate64Decoder). `helped` tells how much output came from the helpers' chunks.
Status Inflate(const std::string& stream, bool deflate64, unsigned helpers, size_t chunk, size_t capacity,
    std::string& out, uint64_t* helped = nullptr)
{
    MemorySource source(stream.data(), stream.size());
    std::vector<uint8_t> buffer(1 << 16);
    MemberInput input(source, 0, stream.size(), buffer);
    Entry entry;
    entry.size = uint64_t(1) << 40;
    StdWorkerThreads threads;
    std::unique_ptr<Decoder> decoder;
    ParallelInflateDecoder* cut = nullptr;
    if (helpers > 0) {
        cut = new ParallelInflateDecoder(entry, input, deflate64, threads, helpers, chunk);
        decoder.reset(cut);
    } else if (deflate64) {
        decoder.reset(new Deflate64Decoder(entry, input));
    } else {
        decoder.reset(new InflateDecoder(input));
    }
    const Status started = decoder->Start();
    const Status status = started != Status::Ok ? started : Drain(*decoder, capacity, out);
    if (helped != nullptr)
        *helped = cut != nullptr ? cut->HelpedOutput() : 0;
    return status;
}

// The same with the block decoder in one stream, for a member declared `declared` bytes long.
Status InflateStream(
    const std::string& stream, bool deflate64, uint64_t declared, size_t capacity, std::string& out, bool& redone)
{
    MemorySource source(stream.data(), stream.size());
    std::vector<uint8_t> buffer(1 << 16);
    MemberInput input(source, 0, stream.size(), buffer);
    Entry entry;
    entry.size = declared;
    StreamInflateDecoder decoder(entry, input, deflate64);
    const Status status = Drain(decoder, capacity, out);
    redone = decoder.Redone();
    return status;
}

// Stored, fixed and dynamic blocks, with deflate data stored inside (block starts that decode for
// a while, found by chance), and members of one block over many chunks.
std::vector<std::pair<std::string, std::string>> DeflateStreams()
{
    const std::string text = Words(900000, 7);
    const std::string inner = Deflated({{Random(100000, 3) + Words(200000, 4), 6}});
    std::string phrase;
    for (int i = 0; i < 3000; ++i)
        phrase += "one block that repeats itself again and again, ";
    // One fixed block of literals and short matches, written the same in deflate as in Deflate64.
    Deflate64Writer w;
    w.Block(true, 1);
    for (char c : Words(300000, 5))
        w.Literal(static_cast<uint8_t>(c));
    w.Match(200, 30000);
    w.Symbol(256);
    return {
        {w.Content(), w.Finish()},
        {text.substr(0, 300000) + inner + text.substr(300000),
            Deflated({{text.substr(0, 300000), 6}, {inner, 0}, {text.substr(300000, 300000), 10},
                {text.substr(600000), 9}})},
        {phrase, Deflated({{phrase, 9}})},
    };
}

// Deflate64: 7z's dynamic blocks with matches that reach 64 KiB back (from the method archives,
// where they are built), and stored and fixed blocks written here.
std::vector<std::string> Deflate64Streams()
{
    std::vector<std::string> streams;
    Deflate64Writer w;
    for (uint32_t i = 0; i < 40; ++i) {
        w.Block(false, 1);
        for (char c : Random(i == 0 ? 70000 : 20000, 10 + i))
            w.Literal(static_cast<uint8_t>(c));
        w.Match(5000, 45000 + i);
        w.Match(65538, 60000);
        w.Symbol(256);
        w.Stored(Random(3000, 100 + i), false);
    }
    w.Block(true, 1);
    w.Match(100, 65000);
    w.Symbol(256);
    streams.push_back(w.Finish());
    if (const char* folder = std::getenv("KESTROVA_METHOD_ARCHIVES")) {
        const std::string archive = ReadFile(std::string(folder) + "/deflate64-far.zip");
        auto u16 = [&](size_t at) { return size_t(uint8_t(archive[at])) | size_t(uint8_t(archive[at + 1])) << 8; };
        const size_t start = 30 + u16(26) + u16(28);
        const size_t length = u16(18) | u16(20) << 16;
        if (archive.size() > 30 && u16(8) == 9 && start + length <= archive.size())
            streams.push_back(archive.substr(start, length));
        EXPECT_EQ(2u, streams.size());
    }
    return streams;
}

}  // namespace

// Every stream cut into chunks of a few sizes gives the one-stream output at output pieces of
// 1 MiB and 4,099 bytes, with one helper (every other chunk decoded by the decoding thread itself)
// and with three (all chunks after the first for the helpers); much of it comes from the helpers'
// chunks (not the stored and fixed blocks).
TEST(ParallelInflate, ChunksGiveTheOneStreamOutput)
{
    const auto streams = DeflateStreams();
    for (size_t s = 0; s < streams.size(); ++s) {
        const std::string& expected = streams[s].first;
        std::string one;
        ASSERT_EQ(Status::Ok, Inflate(streams[s].second, false, 0, 0, 1 << 20, one));
        ASSERT_TRUE(one == expected);
        for (unsigned helpers : {1u, 3u}) {
            for (size_t chunk : {size_t(0), size_t(997), size_t(20000)}) {
                for (size_t capacity : {size_t(1) << 20, size_t(4099)}) {
                    std::string out;
                    uint64_t helped = 0;
                    EXPECT_EQ(Status::Ok, Inflate(streams[s].second, false, helpers, chunk, capacity, out, &helped))
                        << s << " " << helpers << " " << chunk << " " << capacity;
                    EXPECT_TRUE(out == expected)
                        << s << " " << helpers << " " << chunk << " " << capacity << ": " << out.size();
                    if (s == 1 && chunk == 20000)
                        EXPECT_GT(helped, expected.size() / (helpers == 1 ? 6 : 4)) << helpers << " " << capacity;
                }
            }
        }
    }
}

// Damaged and truncated copies give the one-stream decoder's outcome; before a failure one may hand
// out more than the other (the one-stream decoder drops the piece it fails in), never other bytes.
TEST(ParallelInflate, DamagedAndTruncatedGiveTheOneStreamOutcome)
{
    const std::string stream = DeflateStreams()[1].second;
    std::vector<std::string> copies;
    for (size_t at : {size_t(100), stream.size() / 3, stream.size() / 2 + 5, stream.size() - 40}) {
        std::string damaged = stream;
        damaged[at] = static_cast<char>(damaged[at] ^ 0x5A);
        copies.push_back(damaged);
        copies.push_back(stream.substr(0, at));
    }
    for (size_t i = 0; i < copies.size(); ++i) {
        std::string one, cut;
        const Status expected = Inflate(copies[i], false, 0, 0, 4099, one);
        for (unsigned helpers : {1u, 3u}) {
            for (size_t chunk : {size_t(0), size_t(3001)}) {
                EXPECT_EQ(expected, Inflate(copies[i], false, helpers, chunk, 4099, cut)) << i << " " << chunk;
                const size_t common = std::min(one.size(), cut.size());
                EXPECT_TRUE(one.compare(0, common, cut, 0, common) == 0) << i << " " << helpers << " " << chunk;
            }
        }
    }
}

// Deflate64: 7z's dynamic blocks with matches that reach 64 KiB back, and stored and fixed blocks
// written here, the same cut into chunks.
TEST(ParallelInflate, Deflate64ChunksGiveTheOneStreamOutput)
{
    const std::vector<std::string> streams = Deflate64Streams();
    for (const std::string& stream : streams) {
        std::string one;
        ASSERT_EQ(Status::Ok, Inflate(stream, true, 0, 0, 1 << 20, one));
        for (size_t chunk : {size_t(0), size_t(1500)}) {
            for (size_t capacity : {size_t(1) << 20, size_t(4099)}) {
                std::string out;
                EXPECT_EQ(Status::Ok, Inflate(stream, true, 1, chunk, capacity, out)) << chunk << " " << capacity;
                EXPECT_TRUE(out == one) << chunk << " " << capacity << ": " << out.size() << " of " << one.size();
            }
        }
    }
}

// The block decoder in one stream gives the one-stream decoder's output for deflate and Deflate64,
// whether the declared size is right, far too large or far too small (the small member's buffer
// grows), at output pieces of 1 MiB and 4,099 bytes, without handing any of it to that decoder.
TEST(StreamInflate, GivesTheOneStreamOutputByItself)
{
    std::vector<std::pair<std::string, bool>> streams;
    for (const auto& stream : DeflateStreams())
        streams.emplace_back(stream.second, false);
    streams.emplace_back(Deflated({{"", 6}}), false);
    streams.emplace_back(Deflated({{"tiny", 0}}), false);
    for (const std::string& stream : Deflate64Streams())
        streams.emplace_back(stream, true);
    for (size_t s = 0; s < streams.size(); ++s) {
        const bool deflate64 = streams[s].second;
        std::string one;
        ASSERT_EQ(Status::Ok, Inflate(streams[s].first, deflate64, 0, 0, 1 << 20, one)) << s;
        for (uint64_t declared : {uint64_t(one.size()), uint64_t(1) << 40, uint64_t(10)}) {
            for (size_t capacity : {size_t(1) << 20, size_t(4099)}) {
                std::string out;
                bool redone = true;
                EXPECT_EQ(Status::Ok, InflateStream(streams[s].first, deflate64, declared, capacity, out, redone))
                    << s << " " << declared << " " << capacity;
                EXPECT_TRUE(out == one) << s << " " << declared << " " << capacity << ": " << out.size();
                EXPECT_FALSE(redone) << s;
            }
        }
    }
}

namespace {

// Hands out `pieces` pieces of up to `piece` bytes (byte i of its output is i % 251) and fails with
// the last of them, as zlib's inflate does with the output before damaged data.
class FailingDecoder : public Decoder {
public:
    FailingDecoder(size_t piece, int pieces) : piece_(piece), pieces_(pieces) { }
    Status Decode(uint8_t* buffer, size_t capacity, const uint8_t*& data, size_t& size, bool&) override
    {
        size = std::min(capacity, piece_);
        for (size_t i = 0; i < size; ++i)
            buffer[i] = static_cast<uint8_t>((at_ + i) % 251);
        at_ += size;
        data = buffer;
        return ++given_ == pieces_ ? Status::DataError : Status::Ok;
    }

private:
    size_t piece_;
    int pieces_;
    size_t at_ = 0;
    int given_ = 0;
};

}  // namespace

// The one-stream decoder run again after bytes were handed out gives only what lies past them,
// also in the piece it fails with.
TEST(DecoderRedo, GivesOnlyWhatLiesPastTheBytesHandedOutFailureIncluded)
{
    for (uint64_t skip : {uint64_t(0), uint64_t(5), uint64_t(4099), uint64_t(2 * 4099 + 7), uint64_t(3 * 4099 - 1)}) {
        DecoderRedo redo;
        ASSERT_EQ(Status::Ok, redo.Start(new FailingDecoder(4099, 3), skip));
        std::vector<uint8_t> buffer(4099);
        std::string out, detail;
        Status status = Status::Ok;
        for (bool finished = false; status == Status::Ok && !finished;) {
            const uint8_t* data = nullptr;
            size_t size = 0;
            status = redo.Decode(buffer.data(), buffer.size(), data, size, finished, detail);
            out.append(reinterpret_cast<const char*>(data), size);
        }
        EXPECT_EQ(Status::DataError, status) << skip;
        std::string expected;
        for (size_t i = static_cast<size_t>(skip); i < 3 * 4099; ++i)
            expected += static_cast<char>(i % 251);
        EXPECT_TRUE(out == expected) << skip << ": " << out.size() << " bytes";
    }
}

// Damaged and truncated copies give the one-stream decoder's outcome, and never other bytes before it.
TEST(StreamInflate, DamagedAndTruncatedGiveTheOneStreamOutcome)
{
    std::vector<std::pair<std::string, bool>> streams = {{DeflateStreams()[1].second, false}};
    for (const std::string& stream : Deflate64Streams())
        streams.emplace_back(stream, true);
    for (const auto& stream : streams) {
        const std::string& data = stream.first;
        for (size_t at : {size_t(2), size_t(100), data.size() / 3, data.size() / 2 + 5, data.size() - 40}) {
            std::string damaged = data;
            damaged[at] = static_cast<char>(damaged[at] ^ 0x5A);
            for (const std::string& copy : {damaged, data.substr(0, at)}) {
                std::string one, out;
                bool redone = false;
                const Status expected = Inflate(copy, stream.second, 0, 0, 4099, one);
                EXPECT_EQ(expected, InflateStream(copy, stream.second, data.size(), 4099, out, redone)) << at;
                const size_t common = std::min(one.size(), out.size());
                EXPECT_TRUE(one.compare(0, common, out, 0, common) == 0) << at;
            }
        }
    }
}

namespace {

// Decodes a gzip file in output pieces of `capacity`: on this thread alone (no helpers), or with
// `helpers` helper threads and every member cut in chunks of `chunk` bytes.
Status Gunzip(const std::string& file, unsigned helpers, size_t chunk, size_t capacity, std::string& out,
    unsigned* parallel = nullptr)
{
    MemorySource source(file.data(), file.size());
    StdWorkerThreads threads;
    DecoderHelpers given;
    if (helpers > 0) {
        given.threads = &threads;
        given.count = helpers;
    }
    GzipDecoder decoder(source, given, chunk);
    const Status status = Drain(decoder, capacity, out);
    if (parallel != nullptr)
        *parallel = decoder.ParallelMembers();
    return status;
}

}  // namespace

// Members with every header field gzip writes, several members one after another (one of them
// empty) followed by padding of zeros or by other bytes, decode to their contents on this thread
// and on helpers cut in chunks, at output pieces of 1 MiB and 4,099 bytes: each member's trailer
// is found where its deflated data ends, whichever decoder ended it.
TEST(Gzip, MembersOneAfterAnotherGiveTheirContents)
{
    const auto streams = DeflateStreams();
    const std::string text = streams[1].first;
    std::string name = "photos.tar", comment = "made here";
    std::string extra(300, 'x');
    gz_header fields {};
    fields.name = reinterpret_cast<Bytef*>(&name[0]);
    fields.comment = reinterpret_cast<Bytef*>(&comment[0]);
    fields.extra = reinterpret_cast<Bytef*>(&extra[0]);
    fields.extra_len = static_cast<uInt>(extra.size());
    fields.hcrc = 1;
    const std::string many = ziptest::Gzip(text.substr(0, 200000), &fields) + ziptest::Gzip("") +
        ziptest::Gzip(streams[0].first, nullptr, 1) + ziptest::Gzip(text.substr(200000), nullptr, 9);
    const std::vector<std::pair<std::string, std::string>> files = {
        {"one member, every field", ziptest::Gzip(text, &fields)},
        {"four members, zeros after", many + std::string(1000, '\0')},
        {"other bytes after", ziptest::Gzip(streams[2].first) + "trailing bytes"},
        {"empty", ziptest::Gzip("")},
    };
    const std::vector<std::string> contents = {text, text.substr(0, 200000) + streams[0].first + text.substr(200000),
        streams[2].first, ""};
    for (size_t f = 0; f < files.size(); ++f) {
        SCOPED_TRACE(files[f].first);
        for (unsigned helpers : {0u, 1u, 3u}) {
            for (size_t capacity : {size_t(1) << 20, size_t(4099)}) {
                std::string out;
                unsigned parallel = 0;
                EXPECT_EQ(Status::Ok, Gunzip(files[f].second, helpers, helpers > 0 ? 3001 : 0, capacity, out, &parallel))
                    << helpers << " " << capacity;
                EXPECT_TRUE(out == contents[f]) << helpers << " " << capacity << ": " << out.size();
                EXPECT_EQ(helpers > 0 ? (f == 1 ? 4u : 1u) : 0u, parallel);
            }
        }
    }
}

// Each damage gives its failure on this thread and on helpers, and never bytes other than the
// content before it, except where damaged deflated data still decodes (its CRC-32 fails once it is
// handed out, as a ZIP member's). Deflated data cut short is damaged data, as in a ZIP member.
TEST(Gzip, DamageGivesItsFailureAndNoOtherBytes)
{
    const std::string text = Words(400000, 11);
    std::string name = "data.bin";
    gz_header fields {};
    fields.name = reinterpret_cast<Bytef*>(&name[0]);
    fields.hcrc = 1;
    const std::string good = ziptest::Gzip(text, &fields);
    const std::string bare = ziptest::Gzip(text);
    // A block of the invalid type where the stream was flushed halfway: the block decoder hands
    // out the first half, then zlib's inflate goes on from the start, skipping it, up to there.
    std::string invalid(bare.size() + 1024, '\0');
    {
        z_stream z {};
        EXPECT_EQ(Z_OK, deflateInit2(&z, 6, Z_DEFLATED, 16 + 15, 8, Z_DEFAULT_STRATEGY));
        z.next_out = reinterpret_cast<Bytef*>(&invalid[0]);
        z.avail_out = static_cast<uInt>(invalid.size());
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
        z.avail_in = static_cast<uInt>(text.size() / 2);
        EXPECT_EQ(Z_OK, deflate(&z, Z_FULL_FLUSH));
        const size_t flushed = z.total_out;
        z.avail_in = static_cast<uInt>(text.size() - text.size() / 2);
        EXPECT_EQ(Z_STREAM_END, deflate(&z, Z_FINISH));
        invalid.resize(z.total_out);
        deflateEnd(&z);
        invalid.insert(flushed, 1, '\x07');  // last block, type 3
    }
    auto flipped = [](std::string file, size_t at) {
        file[at] = static_cast<char>(file[at] ^ 0x21);
        return file;
    };
    const struct {
        const char* what;
        std::string file;
        Status status;
    } cases[] = {
        {"CRC-32", flipped(good, good.size() - 6), Status::CrcMismatch},
        {"length", flipped(good, good.size() - 2), Status::CrcMismatch},
        {"trailer cut", good.substr(0, good.size() - 3), Status::Truncated},
        {"header cut", good.substr(0, 7), Status::Truncated},
        {"name cut", good.substr(0, 15), Status::Truncated},
        {"header check", flipped(good, 12), Status::DataError},
        {"reserved flag", bare.substr(0, 3) + '\x20' + bare.substr(4), Status::DataError},
        {"method", bare.substr(0, 2) + '\x07' + bare.substr(3), Status::DataError},
        {"second member's magic", bare + std::string("\x1F\x00", 2) + bare.substr(2), Status::DataError},
        {"second member cut", bare + bare.substr(0, bare.size() / 2), Status::DataError},
        {"deflated data", flipped(bare, bare.size() / 2), Status::CrcMismatch},
        {"invalid block", invalid, Status::DataError},
        {"deflated data cut", bare.substr(0, bare.size() / 2), Status::DataError},
    };
    // Cut at many places: the block decoder hands out up to near the cut, then zlib's inflate goes
    // on from the start, skipping that, up to the cut.
    for (size_t cut = bare.size() / 3; cut < bare.size() * 2 / 3; cut += 1553) {
        std::string out;
        EXPECT_EQ(Status::DataError, Gunzip(bare.substr(0, cut), 0, 0, 4099, out)) << cut;
        EXPECT_TRUE(out.size() < text.size() && text.compare(0, out.size(), out) == 0) << cut;
    }
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string content = c.what[0] == 's' ? text + text : text;
        for (unsigned helpers : {0u, 1u}) {
            std::string out;
            EXPECT_EQ(c.status, Gunzip(c.file, helpers, helpers > 0 ? 3001 : 0, 4099, out)) << helpers;
            if (c.status != Status::CrcMismatch || c.what[0] != 'd')
                EXPECT_TRUE(out.size() < content.size() && content.compare(0, out.size(), out) == 0)
                    << helpers << ": " << out.size();
        }
    }
}

namespace {

// A decoder for a member's entry and input.
using MakeDecoder = std::function<std::unique_ptr<Decoder>(const Entry&, MemberInput&)>;

// Decodes a member's data declared `declared` bytes long with the decoder `make` gives, in output
// pieces of `capacity` and input pieces of `piece`.
Status DecodeWith(const MakeDecoder& make, const std::string& stream, uint64_t declared, size_t capacity, size_t piece,
    std::string& out)
{
    MemorySource source(stream.data(), stream.size());
    std::vector<uint8_t> buffer(piece);
    MemberInput input(source, 0, stream.size(), buffer);
    Entry entry;
    entry.size = declared;
    std::unique_ptr<Decoder> decoder = make(entry, input);
    out.clear();
    const Status started = decoder->Start();
    return started != Status::Ok ? started : Drain(*decoder, capacity, out);
}

// The members of the archives in KESTROVA_METHOD_ARCHIVES decode with `ours` to their files at
// every output and input piece size. A byte changed in each part of a member's data (its start,
// its middle, the last 48 bytes where the checks lie), or the data cut there, fails with both
// `ours` and `reference` or gives the same bytes with both. Answers the members compared.
int ExpectSameAsReference(
    const std::vector<std::string>& archives, const MakeDecoder& reference, const MakeDecoder& ours)
{
    const std::string folder = std::getenv("KESTROVA_METHOD_ARCHIVES");
    int members = 0;
    for (const std::string& archive : archives) {
        for (const RawMember& m : LocalRecords(ReadFile(folder + "/" + archive))) {
            const std::string what = archive + " " + m.name;
            const std::string& packed = m.packed;
            const std::string expected = ReadFile(folder + "/files/" + m.name);
            for (size_t capacity : {size_t(1) << 20, size_t(4099), size_t(1)}) {
                for (size_t piece : {size_t(1) << 16, size_t(7)}) {
                    if (capacity == 1 && piece == 7)
                        continue;
                    std::string out;
                    EXPECT_EQ(Status::Ok, DecodeWith(ours, packed, m.size, capacity, piece, out))
                        << what << " " << capacity << " " << piece;
                    EXPECT_TRUE(out == expected) << what << " " << capacity << " " << piece;
                }
            }
            std::vector<size_t> places = {3, 8, 12, 13, 16, packed.size() / 3, packed.size() / 2};
            for (size_t back = 1; back <= 48 && back < packed.size(); back += back < 16 ? 1 : 4)
                places.push_back(packed.size() - back);
            for (size_t at : places) {
                if (at >= packed.size())
                    continue;
                std::string changed = packed;
                changed[at] = static_cast<char>(changed[at] ^ 0x21);
                for (const std::string& copy : {changed, packed.substr(0, at)}) {
                    std::string theirs, mine;
                    const bool theirsOk = DecodeWith(reference, copy, m.size, 4099, 1 << 16, theirs) == Status::Ok;
                    const bool mineOk = DecodeWith(ours, copy, m.size, 4099, 1 << 16, mine) == Status::Ok;
                    EXPECT_EQ(theirsOk, mineOk) << what << " at " << at << (copy.size() == at ? " cut" : "");
                    if (theirsOk && mineOk)
                        EXPECT_TRUE(theirs == mine) << what << " at " << at;
                }
            }
            ++members;
        }
    }
    return members;
}

}  // namespace

// LZMA2 blocks through 7-Zip's decoder give what liblzma's block decoder gives, for the members
// the xz tool and Python's lzma wrote (blocks with and without sizes in their headers; CRC-32,
// CRC-64, SHA-256 and no checks; a dictionary gone round); a member declared shorter than it is
// fails.
TEST(Xz, Lzma2BlocksGiveWhatLiblzmaGives)
{
    const char* folder = std::getenv("KESTROVA_METHOD_ARCHIVES");
    if (folder == nullptr)
        GTEST_SKIP() << "KESTROVA_METHOD_ARCHIVES is not set";
    const MakeDecoder liblzma = [](const Entry& entry, MemberInput& input) {
        return std::make_unique<XzDecoder>(entry, input, false);
    };
    const MakeDecoder lzma2 = [](const Entry& entry, MemberInput& input) {
        return std::make_unique<XzDecoder>(entry, input, true);
    };
    EXPECT_GE(ExpectSameAsReference({"xz-blocks.zip", "xz-cli.zip", "xz-two-streams.zip"}, liblzma, lzma2), 15);
    for (const RawMember& m : LocalRecords(ReadFile(std::string(folder) + "/xz-cli.zip"))) {
        std::string out;
        if (m.size >= 3 * 4096)
            EXPECT_NE(Status::Ok, DecodeWith(lzma2, m.packed, m.size / 3, 4099, 1 << 16, out)) << m.name;
    }
}

// 7-Zip's Zstandard decoder gives what libzstd gives, for the members the zstd tool wrote: one
// frame with and without a checksum, several frames with skippable frames between them, levels 3
// and 19.
TEST(Zstd, SevenZipsDecoderGivesWhatLibzstdGives)
{
    if (std::getenv("KESTROVA_METHOD_ARCHIVES") == nullptr)
        GTEST_SKIP() << "KESTROVA_METHOD_ARCHIVES is not set";
    const MakeDecoder libzstd = [](const Entry&, MemberInput& input) { return std::make_unique<ZstdDecoder>(input); };
    const MakeDecoder sevenZip = [](const Entry&, MemberInput& input) {
        return std::make_unique<SevenZipZstdDecoder>(input);
    };
    EXPECT_GE(
        ExpectSameAsReference({"zstd-cli.zip", "zstd-cli-method20.zip", "zstd-frames.zip"}, libzstd, sevenZip), 15);
}

// A frame that needs a dictionary is refused with the reason by both decoders (each build uses one).
TEST(Zstd, FramesWithADictionaryAreRefusedWithTheReason)
{
    // Magic; a descriptor with a one-byte dictionary ID; a window of 1 KiB; ID 7; one last raw
    // block of one byte.
    const std::string frame("\x28\xB5\x2F\xFD\x01\x00\x07\x09\x00\x00x", 11);
    const MakeDecoder libzstd = [](const Entry&, MemberInput& input) { return std::make_unique<ZstdDecoder>(input); };
    const MakeDecoder sevenZip = [](const Entry&, MemberInput& input) {
        return std::make_unique<SevenZipZstdDecoder>(input);
    };
    for (const MakeDecoder& make : {libzstd, sevenZip}) {
        MemorySource source(frame.data(), frame.size());
        std::vector<uint8_t> buffer(64);
        MemberInput input(source, 0, frame.size(), buffer);
        Entry entry;
        entry.size = 1;
        std::unique_ptr<Decoder> decoder = make(entry, input);
        std::string out;
        const Status started = decoder->Start();
        EXPECT_EQ(Status::UnsupportedMethod, started == Status::Ok ? Drain(*decoder, 4099, out) : started);
        EXPECT_EQ("Zstandard frames with a dictionary are not decoded", decoder->Detail());
    }
}
