// The 7z reader under the sanitizers, on archives the 7z tool wrote and copies patched or damaged
// (tests/unzip32/make_sevenzip_archives.py, folder in KESTROVA_SEVENZIP_ARCHIVES): every coder and
// filter byte-exact, AES with readable and encrypted names, damage, memory refusals, hostile names,
// and a PPMd stream of its own that ends before the sizes the folder declares.
#include "tests/unzip32/CountingHost.h"
#include "tests/unzip32/native/OpenSslCrypto.h"
#include "unzip32/core/Extractor.h"

#include <Ppmd7.h>
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

using namespace unzip;

extern "C" void KvPpmd7EncodeSymbol(CPpmd7* p, int symbol);  // Ppmd7Encoder.c

namespace {

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

class SevenZipHost : public ziptest::CountingHost {
public:
    bool Password(const std::string& displayName, Secret& password) override
    {
        asked.push_back(displayName);
        if (answers.empty())
            return false;
        const std::string answer = answers.front();
        if (answers.size() > 1)
            answers.erase(answers.begin());
        password.Assign(answer.data(), answer.size());
        return true;
    }
    Crypto* Cryptography() override { return &crypto; }
    void Member(const Entry& entry, const std::string& displayName, unsigned factor) override
    {
        MemoryHost::Member(entry, displayName, factor);
        entries.push_back(entry);
    }

    std::vector<std::string> answers;
    std::vector<std::string> asked;
    std::vector<Entry> entries;
    ziptest::OpenSslCrypto crypto;
};

class SevenZip : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* found = std::getenv("KESTROVA_SEVENZIP_ARCHIVES");
        if (found == nullptr)
            GTEST_SKIP() << "KESTROVA_SEVENZIP_ARCHIVES is not set";
        folder_ = found;
        password_ = ReadFile(folder_ + "/password.txt");
    }

    ExtractReport Run(const std::string& name, SevenZipHost& host, bool list = false)
    {
        bytes_ = ReadFile(folder_ + "/" + name);
        EXPECT_FALSE(bytes_.empty()) << name;
        MemorySource source(bytes_.data(), bytes_.size());
        ExtractOptions options;
        options.listOnly = list;
        host.archiveName = name;
        const ExtractReport report = Extract(source, host, options);
        EXPECT_EQ(0, host.open) << name;
        return report;
    }

    std::string Original(const std::string& name) { return ReadFile(folder_ + "/files/" + name); }

    // Every original extracted byte-exact, the empty folder made.
    void ExpectAllFiles(const std::string& name, const SevenZipHost& host, const ExtractReport& report)
    {
        EXPECT_EQ(Status::Ok, report.archiveStatus) << name << ": " << report.archiveDetail;
        EXPECT_EQ(7, report.extracted) << name;  // five files, sub/ and emptydir/
        EXPECT_EQ(0, report.damaged + report.skippedUnsupported + report.skippedEncrypted) << name;
        for (const char* file : {"text.txt", "noise.bin", "sub/mixed.bin", "empty.txt", "one.txt"}) {
            auto written = host.files.find(file);
            ASSERT_NE(host.files.end(), written) << name << ": " << file;
            EXPECT_TRUE(written->second == Original(file)) << name << ": " << file;
        }
        EXPECT_EQ(1u, host.folders.count("emptydir")) << name;
    }

    std::string folder_;
    std::string password_;
    std::string bytes_;
};

TEST_F(SevenZip, EveryCoderAndFilterExtractsByteExact)
{
    for (const char* name : {"lzma2.7z", "lzma.7z", "ppmd.7z", "bzip2.7z", "deflate.7z", "deflate64.7z", "copy.7z",
             "lzma2-nonsolid.7z", "arm64.7z", "delta.7z", "arm.7z", "armt.7z", "ppc.7z", "sparc.7z", "ia64.7z",
             "riscv.7z"}) {
        SevenZipHost host;
        ExpectAllFiles(name, host, Run(name, host));
    }
    for (const char* name : {"bcj.7z", "bcj2.7z"}) {
        SevenZipHost host;
        const ExtractReport report = Run(name, host);
        EXPECT_EQ(1, report.extracted) << name << ": " << report.archiveDetail;
        EXPECT_TRUE(host.files["program.exe"] == Original("program.exe")) << name;
    }
}

TEST_F(SevenZip, ListingShowsTheFolderMethodAndItsPackedSizeOnce)
{
    SevenZipHost host;
    const ExtractReport report = Run("bcj2.7z", host, true);
    ASSERT_EQ(1u, host.entries.size());
    EXPECT_EQ("LZMA2 BCJ2", host.entries[0].methodText);
    EXPECT_EQ(0u, host.entries[0].flags & 1u);

    SevenZipHost solid;
    Run("lzma2.7z", solid, true);
    uint64_t packed = 0;
    int withPacked = 0;
    for (const Entry& entry : solid.entries) {
        packed += entry.compressedSize;
        withPacked += entry.compressedSize > 0 ? 1 : 0;
        EXPECT_TRUE(entry.hasNtfsTime) << entry.name;
    }
    EXPECT_EQ(1, withPacked);
    EXPECT_LT(packed, bytes_.size());
    EXPECT_TRUE(solid.files.empty() && solid.folders.empty());

    SevenZipHost encrypted;
    Run("aes.7z", encrypted, true);
    EXPECT_TRUE(encrypted.asked.empty());  // a listing needs no password
    for (const Entry& entry : encrypted.entries)
        if (entry.size > 0) {
            EXPECT_EQ("LZMA2 AES", entry.methodText);
            EXPECT_EQ(1u, entry.flags & 1u);
        }
}

TEST_F(SevenZip, PasswordIsAskedAgainAfterAWrongOne)
{
    for (const char* name : {"aes.7z", "aes-headers.7z"}) {
        SevenZipHost host;
        host.answers = {"wrong", password_};
        ExpectAllFiles(name, host, Run(name, host));
        ASSERT_EQ(2u, host.asked.size()) << name;  // once for the whole archive
        if (std::string(name) == "aes-headers.7z")
            EXPECT_EQ("aes-headers.7z", host.asked[0]);
    }
    for (const char* name : {"aes.7z", "aes-headers.7z"}) {
        SevenZipHost host;
        host.answers = {"wrong"};
        const ExtractReport report = Run(name, host);
        for (const auto& file : host.files)
            EXPECT_EQ("", file.second) << name << ": " << file.first;  // empty files need no password
        EXPECT_TRUE(report.archiveStatus == Status::Encrypted || report.skippedEncrypted > 0) << name;
        EXPECT_GE(host.asked.size(), static_cast<size_t>(kPasswordAsks)) << name;
    }
    SevenZipHost umlaut;  // the key is made from the password's UTF-16 form
    umlaut.answers = {"p\xC3\xA4ssw\xC3\xB6rd-\xC3\xBC"};
    EXPECT_EQ(1, Run("aes-umlaut.7z", umlaut).extracted);
    EXPECT_EQ(Original("one.txt"), umlaut.files["one.txt"]);

    SevenZipHost none;
    const ExtractReport report = Run("aes-headers.7z", none);
    EXPECT_EQ(Status::Encrypted, report.archiveStatus);
    EXPECT_EQ(1u, none.asked.size());
}

TEST_F(SevenZip, DamagedArchivesWriteNoWrongFile)
{
    for (const char* name : {"lzma2.corrupt.7z", "lzma2-nonsolid.corrupt.7z", "copy.corrupt.7z", "ppmd.corrupt.7z",
             "lzma2.truncated.7z", "aes-headers.truncated.7z"}) {
        SevenZipHost host;
        host.answers = {password_};
        const ExtractReport report = Run(name, host);
        EXPECT_TRUE(report.damaged > 0 || report.archiveStatus != Status::Ok) << name;
        EXPECT_TRUE(report.archiveDetail.empty() == (report.archiveStatus == Status::Ok) ||
            host.LinesWith("error:") > 0 || host.LinesWith("skipping:") > 0)
            << name;
        for (const auto& file : host.files)
            EXPECT_TRUE(file.second == Original(file.first)) << name << ": " << file.first;
    }
}

TEST_F(SevenZip, DictionariesBeyondTheLargestAreRefused)
{
    SevenZipHost large;
    EXPECT_EQ(1, Run("dict64m.7z", large).extracted);
    EXPECT_TRUE(large.files["text.txt"] == Original("text.txt"));

    SevenZipHost refused;
    const ExtractReport report = Run("dict2g.7z", refused);
    EXPECT_EQ(1, report.skippedUnsupported);
    EXPECT_EQ(1u, refused.LinesWith("needs 2048 MiB of memory"));
    EXPECT_TRUE(refused.files.empty());
}

TEST_F(SevenZip, HostileNamesAreRefusedAsInZip)
{
    SevenZipHost host;
    const ExtractReport report = Run("hostile.7z", host);
    EXPECT_EQ(2, report.skippedUnsafe);
    ASSERT_EQ(1u, host.files.size());
    EXPECT_EQ("good.txt", host.files["good.txt"]);
}

// Every prefix and many single-byte changes of a small archive: a result for each, never a crash
// (the sanitizers watch), never a file that differs from what the archive holds.
TEST_F(SevenZip, CutAndFlippedCopiesNeverCrash)
{
    const std::string good = ReadFile(folder_ + "/hostile-plain.7z");
    for (size_t cut = 0; cut < good.size(); ++cut) {
        SevenZipHost host;
        std::string copy = good.substr(0, cut);
        MemorySource source(copy.data(), copy.size());
        Extract(source, host, ExtractOptions());
        EXPECT_TRUE(host.files.empty()) << cut;
    }
    for (size_t at = 0; at < good.size(); ++at)
        for (uint8_t flip : {uint8_t(0x01), uint8_t(0x80), uint8_t(0xFF)}) {
            SevenZipHost host;
            std::string copy = good;
            copy[at] = static_cast<char>(copy[at] ^ flip);
            MemorySource source(copy.data(), copy.size());
            Extract(source, host, ExtractOptions());
            // The content is each file's own name.
            for (const auto& file : host.files)
                EXPECT_TRUE(file.second == "good.txt" || file.second == "aa/evil.txt" || file.second == "abs/x.txt")
                    << at;
        }
}

void PutLe(std::string& out, uint64_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

// A 7z archive of one solid PPMd folder (order 6, 64 KiB) of a.txt (20 bytes) and b.txt (10), no
// CRCs, its data encoded from `symbols` (-1 is the end mark).
std::string PpmdArchive(const std::vector<int>& symbols)
{
    static const ISzAlloc allocator = {[](ISzAllocPtr, size_t size) { return std::malloc(size); },
        [](ISzAllocPtr, void* address) { std::free(address); }};
    struct Out {
        IByteOut vt;
        std::string bytes;
    } out;
    out.vt.Write = [](IByteOutPtr self, Byte b) {
        reinterpret_cast<Out*>(const_cast<IByteOut*>(self))->bytes += static_cast<char>(b);
    };
    CPpmd7 ppmd;
    Ppmd7_Construct(&ppmd);
    EXPECT_TRUE(Ppmd7_Alloc(&ppmd, 1u << 16, &allocator));
    ppmd.rc.enc.Stream = &out.vt;
    Ppmd7z_Init_RangeEnc(&ppmd);
    Ppmd7_Init(&ppmd, 6);
    for (int symbol : symbols)
        KvPpmd7EncodeSymbol(&ppmd, symbol);
    Ppmd7z_Flush_RangeEnc(&ppmd);
    Ppmd7_Free(&ppmd, &allocator);
    EXPECT_LT(out.bytes.size(), 0x80u);  // one byte as a 7z number

    // Streams (the packed size; the folder's coder, its 30 bytes; the first file's 20), two names.
    std::string header("\x01\x04\x06\x00\x01\x09", 6);
    header += static_cast<char>(out.bytes.size());
    header += std::string(
        "\x00\x07\x0B\x01\x00\x01\x23\x03\x04\x01\x05\x06\x00\x00\x01\x00\x0C\x1E\x00"
        "\x08\x0D\x02\x09\x14\x00\x00\x05\x02\x11\x19\x00",
        31);
    header += std::string("a\0.\0t\0x\0t\0\0\0b\0.\0t\0x\0t\0\0\0\0\0", 26);
    std::string start;
    PutLe(start, out.bytes.size(), 8);
    PutLe(start, header.size(), 8);
    PutLe(start, crc32(0, reinterpret_cast<const Bytef*>(header.data()), static_cast<uInt>(header.size())), 4);
    std::string archive("7z\xBC\xAF\x27\x1C\x00\x04", 8);
    PutLe(archive, crc32(0, reinterpret_cast<const Bytef*>(start.data()), 20), 4);
    return archive + start + out.bytes + header;
}

// An end mark before the sizes the folder declares ends its data there: what the encoder wrote
// after it is never decoded (the model is in no state for it; fuzzed data crashed in it).
TEST(SevenZipPpmd, DataEndsAtTheEndMark)
{
    std::vector<int> symbols;
    for (int i = 0; i < 30; ++i)
        symbols.push_back('a' + i % 7);
    SevenZipHost whole;
    const std::string good = PpmdArchive(symbols);
    MemorySource source(good.data(), good.size());
    EXPECT_EQ(2, Extract(source, whole, ExtractOptions()).extracted);
    EXPECT_EQ("abcdefgabcdefgabcdef", whole.files["a.txt"]);

    symbols.insert(symbols.begin() + 15, -1);
    SevenZipHost cut;
    const std::string marked = PpmdArchive(symbols);
    MemorySource markedSource(marked.data(), marked.size());
    const ExtractReport report = Extract(markedSource, cut, ExtractOptions());
    EXPECT_EQ(0, report.extracted);
    EXPECT_EQ(2, report.damaged);
    EXPECT_TRUE(cut.files.empty());
}

}  // namespace
