#include "unzip32/core/Extractor.h"

#include "tests/unzip32/ZipBuilder.h"
#include "unzip32/core/MemoryHost.h"
#include "unzip32/core/StdWorkerThreads.h"

#include <gtest/gtest.h>

#include <new>

namespace {

using unzip::ExtractOptions;
using unzip::ExtractReport;
using unzip::MemoryHost;
using unzip::MemorySource;
using unzip::Status;
using ziptest::Archive;
using ziptest::Member;

ExtractReport ExtractBytes(const std::string& bytes, MemoryHost& host, ExtractOptions options = ExtractOptions())
{
    MemorySource source(bytes.data(), bytes.size());
    return unzip::Extract(source, host, options);
}

Member Stored(const std::string& name, const std::string& data)
{
    Member m{name, data};
    m.method = 0;
    return m;
}

TEST(Extractor, StoredDeflatedFoldersAndDescriptors_ExtractExactly)
{
    Archive archive;
    archive.members.push_back(Stored("top.txt", "stored text"));
    archive.members.push_back({"dir/", ""});
    archive.members.push_back({"dir/sub/deflated.txt", ziptest::Text(300000)});
    Member described{"dd.bin", ziptest::RandomBytes(70000)};
    described.descriptor = true;
    Member unsigned64{"dd64.txt", ziptest::Text(1000, 7)};
    unsigned64.descriptor = true;
    unsigned64.descriptorSignature = false;
    unsigned64.zip64 = true;
    archive.members.push_back(described);
    archive.members.push_back(unsigned64);
    archive.members.push_back({"empty/", ""});
    archive.members.push_back(Stored("zero", ""));
    MemoryHost host;
    ExtractReport report = ExtractBytes(archive.Build(), host);
    EXPECT_EQ(Status::Ok, report.archiveStatus);
    EXPECT_EQ(5, report.extracted);
    EXPECT_EQ("stored text", host.files["top.txt"]);
    EXPECT_EQ(ziptest::Text(300000), host.files["dir/sub/deflated.txt"]);
    EXPECT_EQ(ziptest::RandomBytes(70000), host.files["dd.bin"]);
    EXPECT_EQ(ziptest::Text(1000, 7), host.files["dd64.txt"]);
    EXPECT_EQ("", host.files["zero"]);
    EXPECT_EQ(1u, host.folders.count("empty"));
    EXPECT_EQ(1u, host.folders.count("dir/sub"));
    // One line per member, in directory order.
    ASSERT_EQ(7u, host.lines.size());
    EXPECT_EQ(" extracting: top.txt\n", host.lines[0]);
    EXPECT_EQ("   creating: dir/\n", host.lines[1]);
    EXPECT_EQ("  inflating: dir/sub/deflated.txt\n", host.lines[2]);
}

// Each row: one damaged or refused member next to a good one, the counter it must raise, and
// the word its report line must contain. The good member must always still be extracted.
struct BadMember {
    const char* what;
    Member member;
    int ExtractReport::*counter;
    const char* word;
};

TEST(Extractor, BadMembers_AreReportedAndTheOthersStillExtract)
{
    Member badCrc{"bad", ziptest::Text(5000)};
    badCrc.declaredCrc = 1;
    Member storedLong{"long", "0123456789"};
    storedLong.method = 0;
    storedLong.declaredSize = 5;
    storedLong.declaredCompressedSize = 5;
    Member bomb{"bomb", std::string(1000000, 'z')};
    bomb.declaredSize = 1000;  // inflates to far more than declared
    Member shortData{"short", ziptest::Text(5000)};
    shortData.declaredSize = 6000;
    Member garbage{"garbage", ziptest::RandomBytes(100)};
    garbage.method = 8;
    garbage.data = ziptest::Text(100);
    Member encrypted{"secret", "x"};
    encrypted.flags = 1;
    Member strong{"strong", "x"};
    strong.flags = 0x41;
    Member aes{"aes", "xxxxxxxxxxxx"};
    aes.method = 99;
    aes.centralExtra = ziptest::Extra(0x9901, ziptest::Le16(2) + "AE" + std::string("\x03", 1) + ziptest::Le16(8));
    Member imploded{"old.imp", "xxxxxxxx"};
    imploded.method = 6;
    Member bzip2{"b.bz2", "BZh9"};  // a stream header and nothing after it
    bzip2.method = 12;
    Member slip{"../../evil.txt", "x"};
    Member absolute{"/abs.txt", "x"};
    Member drive{"C:\\windows\\x.txt", "x"};

    const std::vector<BadMember> rows = {
        {"bad CRC", badCrc, &ExtractReport::damaged, "CRC"},
        {"stored longer than declared", storedLong, &ExtractReport::damaged, "CRC"},
        {"bomb", bomb, &ExtractReport::damaged, "size"},
        {"data short of its size", shortData, &ExtractReport::damaged, "size"},
        {"encrypted", encrypted, &ExtractReport::skippedEncrypted, "encrypted"},
        {"strong encryption", strong, &ExtractReport::skippedUnsupported, "strong encryption"},
        {"AES", aes, &ExtractReport::skippedEncrypted, "encrypted"},
        {"implode", imploded, &ExtractReport::skippedUnsupported, "Implode"},
        {"bzip2 cut short", bzip2, &ExtractReport::damaged, "damaged"},
        {"zip-slip", slip, &ExtractReport::skippedUnsafe, "unsafe"},
        {"absolute", absolute, &ExtractReport::skippedUnsafe, "unsafe"},
        {"drive", drive, &ExtractReport::skippedUnsafe, "unsafe"},
    };
    for (const BadMember& row : rows) {
        for (unsigned threads : {0u, 2u}) {
            Archive archive;
            archive.members = {row.member, Stored("good.txt", "fine")};
            MemoryHost host;
            unzip::StdWorkerThreads workers;
            ExtractOptions options;
            options.threads = threads;
            options.workers = &workers;
            ExtractReport report = ExtractBytes(archive.Build(), host, options);
            EXPECT_EQ(1, report.*row.counter) << row.what;
            EXPECT_EQ(1, report.extracted) << row.what;
            EXPECT_EQ("fine", host.files["good.txt"]) << row.what;
            EXPECT_EQ(1u, host.files.size()) << row.what << ": nothing kept of the bad member";
            ASSERT_FALSE(host.lines.empty());
            EXPECT_NE(std::string::npos, host.lines[0].find(row.word)) << row.what << ": " << host.lines[0];
        }
    }
}

TEST(Extractor, TruncatedMemberData_IsDamaged)
{
    Archive archive;
    archive.members = {{"big", ziptest::RandomBytes(50000)}};
    std::string bytes = archive.Build();
    // Keep the directory but drop the member's data: the directory then points past real data.
    Archive cut = archive;
    cut.members[0].declaredCompressedSize = 10000000;
    MemoryHost host;
    ExtractReport report = ExtractBytes(cut.Build(), host);
    EXPECT_EQ(0, report.extracted);
    EXPECT_EQ(1, report.damaged + report.overlapping);
}

TEST(Extractor, OverlappingRecords_AreRefused)
{
    // Two directory entries sharing one local record (the classic overlap bomb), and an entry
    // whose data would run into the next record.
    Archive shared;
    shared.members = {{"a", ziptest::Text(20000)}, {"b", ziptest::Text(20000)}};
    shared.members[1].declaredOffset = 0;
    MemoryHost host;
    ExtractReport report = ExtractBytes(shared.Build(), host);
    EXPECT_EQ(2, report.overlapping);
    EXPECT_TRUE(host.files.empty());

    Archive intoNext;
    intoNext.members = {Stored("a", ziptest::RandomBytes(20000)), Stored("b", ziptest::RandomBytes(20000))};
    intoNext.members[0].declaredCompressedSize = 25000;  // past the start of b's record
    intoNext.members[0].declaredSize = 25000;
    MemoryHost host2;
    report = ExtractBytes(intoNext.Build(), host2);
    EXPECT_EQ(1, report.overlapping);
    EXPECT_EQ(1u, host2.files.count("b"));
}

TEST(Extractor, Masks_ExcludeMembersByWholeName)
{
    Archive archive;
    archive.members = {Stored("keep.txt", "1"), Stored("x.bak", "2"), Stored("sub/y.BAK", "3"), Stored("sub/z", "4")};
    ExtractOptions options;
    options.exclude = {"*.bak", "sub\\z"};
    MemoryHost host;
    ExtractReport report = ExtractBytes(archive.Build(), host, options);
    EXPECT_EQ(2, report.excluded);
    EXPECT_EQ(2u, host.files.size());
    EXPECT_EQ(1u, host.files.count("sub/y.BAK"));
    options.ignoreCase = true;
    MemoryHost host2;
    report = ExtractBytes(archive.Build(), host2, options);
    EXPECT_EQ(3, report.excluded);
    EXPECT_EQ(1u, host2.files.size());
}

TEST(Extractor, ListMode_ReportsEveryMemberAndWritesNothing)
{
    Archive archive;
    archive.members = {Stored("s", "abc"), {"d/t", ziptest::Text(10000)}, {"d/", ""}};
    ExtractOptions options;
    options.listOnly = true;
    MemoryHost host;
    ExtractReport report = ExtractBytes(archive.Build(), host, options);
    ASSERT_EQ(3u, host.listed.size());
    EXPECT_EQ("s", host.listed[0].name);
    EXPECT_EQ(0u, host.listed[0].factor);
    EXPECT_EQ(10000u, host.listed[1].size);
    EXPECT_GT(host.listed[1].factor, 50u);
    EXPECT_TRUE(host.files.empty());
    EXPECT_TRUE(host.lines.empty());
    EXPECT_EQ(3, report.matched);
}

TEST(Extractor, WithoutFolders_EveryFileGoesIntoTheTarget)
{
    Archive archive;
    archive.members = {{"a/", ""}, Stored("a/b/c.txt", "c")};
    ExtractOptions options;
    options.keepFolders = false;
    MemoryHost host;
    ExtractBytes(archive.Build(), host, options);
    EXPECT_EQ(1u, host.files.count("c.txt"));
    EXPECT_TRUE(host.folders.empty());
}

TEST(Extractor, FileSystemRefusal_IsAWriteFailure)
{
    Archive archive;
    archive.members = {Stored("a", "1"), Stored("b", "2")};
    MemoryHost host;
    host.refuseFile = "a";
    ExtractReport report = ExtractBytes(archive.Build(), host);
    EXPECT_EQ(1, report.writeFailures);
    EXPECT_EQ(1, report.extracted);
}

TEST(Extractor, ManyMembersOnWorkers_SameResultInOrder)
{
    Archive archive;
    // Every tenth member is large enough to be handed to a worker.
    for (int i = 0; i < 120; ++i) {
        const size_t size = static_cast<size_t>(i % 10 == 0 ? 300000 + i : 1000 + i * 997);
        archive.members.push_back({"m" + std::to_string(i), ziptest::Text(size, static_cast<uint32_t>(i))});
    }
    archive.members[50].declaredCrc = 5;
    const std::string bytes = archive.Build();
    MemoryHost single;
    ExtractBytes(bytes, single);
    for (unsigned threads : {1u, 2u, 4u}) {
        MemoryHost host;
        unzip::StdWorkerThreads workers;
        ExtractOptions options;
        options.threads = threads;
        options.workers = &workers;
        ExtractReport report = ExtractBytes(bytes, host, options);
        EXPECT_EQ(119, report.extracted);
        EXPECT_EQ(1, report.damaged);
        EXPECT_EQ(single.files, host.files);
        EXPECT_EQ(single.lines, host.lines) << "lines come in directory order";
    }
}

// A host that runs out of memory on the calling thread while workers still decode earlier members:
// the exception leaves Extract, and the workers must be done with their slots before those go.
// (Under the sanitizers a slot freed first is a use after free.)
class ThrowingHost : public MemoryHost {
public:
    explicit ThrowingHost(int throwAt) : throwAt_(throwAt) {}
    unzip::Status CreateOutput(const std::vector<std::string>& parts, const unzip::Entry& entry,
                               std::unique_ptr<unzip::OutputFile>& file) override
    {
        if (++created_ == throwAt_)
            throw std::bad_alloc();
        return MemoryHost::CreateOutput(parts, entry, file);
    }

private:
    int throwAt_;
    int created_ = 0;
};

TEST(Extractor, AnExceptionMidRun_EndsTheWorkersBeforeTheirWork)
{
    Archive archive;
    for (int i = 0; i < 8; ++i)
        archive.members.push_back({"big" + std::to_string(i), ziptest::Text(3000000, static_cast<uint32_t>(i))});
    const std::string bytes = archive.Build();
    for (int throwAt : {2, 3, 6}) {
        ThrowingHost host(throwAt);
        unzip::StdWorkerThreads workers;
        ExtractOptions options;
        options.threads = 2;
        options.workers = &workers;
        EXPECT_THROW(ExtractBytes(bytes, host, options), std::bad_alloc) << throwAt;
    }
}

TEST(Extractor, FlippedBytes_GiveCleanErrors)
{
    Archive archive;
    archive.comment = "c";
    archive.members = {Stored("s.txt", "stored"), {"d/x.txt", ziptest::Text(3000)}, {"d/", ""}};
    archive.members[1].zip64 = true;
    const std::string good = archive.Build();
    for (size_t i = 0; i < good.size(); ++i) {
        for (int flip : {0x01, 0x80, 0xFF}) {
            std::string bad = good;
            bad[i] = static_cast<char>(bad[i] ^ flip);
            MemoryHost host;
            ExtractReport report = ExtractBytes(bad, host);
            EXPECT_LE(report.extracted, 3);
            for (const auto& file : host.files)
                EXPECT_LE(file.second.size(), 3000u);
        }
    }
}

}  // namespace
