#include "unzip32/core/Extractor.h"

#include "tests/support/ZipBuilder.h"
#include "tests/unzip32/CountingHost.h"
#include "unzip32/core/MemoryHost.h"
#include "unzip32/core/StdWorkerThreads.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <map>
#include <new>
#include <set>

namespace {

using unzip::ExtractOptions;
using unzip::ExtractReport;
using unzip::MemoryHost;
using unzip::MemorySource;
using unzip::Status;
using ziptest::Archive;
using ziptest::CountingHost;
using ziptest::Member;
using ziptest::Stored;

ExtractReport ExtractBytes(const std::string& bytes, MemoryHost& host, ExtractOptions options = ExtractOptions())
{
    MemorySource source(bytes.data(), bytes.size());
    return unzip::Extract(source, host, options);
}

TEST(Extractor, StoredDeflatedFoldersAndDescriptors_ExtractExactly)
{
    Archive archive;
    archive.members.push_back(Stored("top.txt", "stored text"));
    archive.members.push_back({"dir/", ""});
    archive.members.push_back({"dir/sub/deflated.txt", ziptest::Text(300000)});
    Member described {"dd.bin", ziptest::RandomBytes(70000)};
    described.descriptor = true;
    Member unsigned64 {"dd64.txt", ziptest::Text(1000, 7)};
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
    Member badCrc {"bad", ziptest::Text(5000)};
    badCrc.declaredCrc = 1;
    Member storedLong {"long", "0123456789"};
    storedLong.method = 0;
    storedLong.declaredSize = 5;
    storedLong.declaredCompressedSize = 5;
    Member bomb {"bomb", std::string(1000000, 'z')};
    bomb.declaredSize = 1000;  // inflates to far more than declared
    Member shortData {"short", ziptest::Text(5000)};
    shortData.declaredSize = 6000;
    Member garbage {"garbage", ziptest::RandomBytes(100)};
    garbage.method = 8;
    garbage.data = ziptest::Text(100);
    Member encrypted {"secret", "x"};
    encrypted.flags = 1;
    Member strong {"strong", "x"};
    strong.flags = 0x41;
    Member aes {"aes", "xxxxxxxxxxxx"};
    aes.method = 99;
    aes.centralExtra = ziptest::Extra(0x9901, ziptest::Le16(2) + "AE" + std::string("\x03", 1) + ziptest::Le16(8));
    Member imploded {"old.imp", "xxxxxxxx"};
    imploded.method = 6;
    Member shrunk {"x.shr", "xxxxxxxx", 1};
    Member shortZip64 {"z64", "data", 0};  // both size fields full, but the extra holds only one
    shortZip64.declaredSize = shortZip64.declaredCompressedSize = 0xFFFFFFFFll;
    shortZip64.centralExtra = ziptest::Extra(0x0001, ziptest::Le64(4));
    Member hugeSize {"huge", "data"};  // a ZIP64 size of 2^64 - 1
    hugeSize.declaredSize = 0xFFFFFFFFll;
    hugeSize.centralExtra = ziptest::Extra(0x0001, ziptest::Le64(~uint64_t(0)));
    Member bzip2 {"b.bz2", "BZh9"};  // a stream header and nothing after it
    bzip2.method = 12;
    Member slip {"../../evil.txt", "x"};
    Member absolute {"/abs.txt", "x"};
    Member drive {"C:\\windows\\x.txt", "x"};

    const std::vector<BadMember> rows = {
        {"bad CRC", badCrc, &ExtractReport::damaged, "CRC"},
        {"stored longer than declared", storedLong, &ExtractReport::damaged, "CRC"},
        {"bomb", bomb, &ExtractReport::damaged, "size"},
        {"data short of its size", shortData, &ExtractReport::damaged, "size"},
        {"encrypted", encrypted, &ExtractReport::skippedEncrypted, "encrypted"},
        {"strong encryption", strong, &ExtractReport::skippedUnsupported, "strong encryption"},
        {"AES", aes, &ExtractReport::skippedEncrypted, "encrypted"},
        {"implode", imploded, &ExtractReport::skippedUnsupported, "Implode"},
        {"shrink", shrunk, &ExtractReport::skippedUnsupported, "Shrink"},
        {"ZIP64 extra short of its fields", shortZip64, &ExtractReport::damaged, "inconsistent"},
        {"bzip2 cut short", bzip2, &ExtractReport::damaged, "damaged"},
        {"size no file can have", hugeSize, &ExtractReport::damaged, "size"},
        {"zip-slip", slip, &ExtractReport::skippedUnsafe, "unsafe"},
        {"absolute", absolute, &ExtractReport::skippedUnsafe, "unsafe"},
        {"drive", drive, &ExtractReport::skippedUnsafe, "unsafe"},
    };
    for (const BadMember& row : rows) {
        for (unsigned threads : {0u, 2u}) {
            Archive archive;
            archive.members = {row.member, Stored("good.txt", "fine")};
            CountingHost host;
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
            EXPECT_EQ(0, host.open) << row.what;
            const int64_t declared =
                row.member.declaredSize >= 0 ? row.member.declaredSize : static_cast<int64_t>(row.member.data.size());
            EXPECT_LE(host.bytesWritten, static_cast<uint64_t>(declared) + 4) << row.what << ": more than declared";
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
    // A record said to stand past the end, or inside the directory.
    for (int64_t offset : {int64_t(0xFFFFFFF0), int64_t(200)}) {
        Archive misplaced;
        misplaced.members = {Stored("a.txt", ziptest::Text(100))};
        misplaced.members[0].declaredOffset = offset;
        MemoryHost misplacedHost;
        report = ExtractBytes(misplaced.Build(), misplacedHost);
        EXPECT_EQ(0, report.extracted) << offset;
        EXPECT_EQ(1, report.damaged + report.overlapping) << offset;
    }
}

TEST(Extractor, Bomb_StopsAtTheDeclaredSizeAndIsAbandoned)
{
    Archive archive;
    archive.members = {{"bomb.bin", std::string(20u << 20, '\0')}};
    archive.members[0].declaredSize = 1000;
    CountingHost host;
    ExtractReport report = ExtractBytes(archive.Build(), host);
    EXPECT_EQ(1, report.damaged);
    EXPECT_LE(host.bytesWritten, 1000u);
    EXPECT_EQ(1, host.abandoned);
}

// Deflated members too large to decode in one call are streamed, with the same size and CRC
// checks; stored members above a mebibyte are copied from the archive's view, CRC checked.
TEST(Extractor, LargeMembers_KeepTheirChecks)
{
    const std::string zeros(41u << 20, '\0');  // more than a decoder may hold at once
    struct Case {
        const char* what;
        Member member;
        bool good;
    };
    std::vector<Case> cases = {{"streamed", {"big.bin", zeros}, true}};
    cases.push_back({"streamed, more than declared", {"more.bin", zeros}, false});
    cases.back().member.declaredSize = static_cast<int64_t>(zeros.size()) - 1;
    cases.push_back({"streamed, less than declared", {"less.bin", zeros}, false});
    cases.back().member.declaredSize = static_cast<int64_t>(zeros.size()) + 1;
    cases.push_back({"streamed, bad CRC", {"crc.bin", zeros}, false});
    cases.back().member.declaredCrc = 1;
    cases.push_back({"stored in place", Stored("stored.bin", ziptest::Text(3u << 20)), true});
    cases.push_back({"stored in place, bad CRC", Stored("stored-crc.bin", ziptest::Text(3u << 20)), false});
    cases.back().member.declaredCrc = 1;
    cases.push_back({"streamed, disk full", {"full.bin", zeros}, false});
    // Inline and on workers, where a streamed member's output is written behind its decoding.
    for (const Case& c : cases) {
        Archive archive;
        archive.members = {{"first.txt", "first"}, c.member};
        const std::string bytes = archive.Build();
        for (unsigned threads : {0u, 2u}) {
            CountingHost host;
            const bool full = c.member.name == "full.bin";
            if (full)
                host.diskSize = 20u << 20;
            unzip::StdWorkerThreads workers;
            ExtractOptions options;
            options.threads = threads;
            options.workers = &workers;
            ExtractReport report = ExtractBytes(bytes, host, options);
            const std::string what = std::string(c.what) + ", threads " + std::to_string(threads);
            EXPECT_EQ(c.good ? 2 : 1, report.extracted) << what;
            EXPECT_EQ(c.good || full ? 0 : 1, report.damaged) << what;
            EXPECT_EQ(full ? 1 : 0, report.diskFull) << what;
            EXPECT_EQ(c.good ? 0 : 1, host.abandoned) << what;
            EXPECT_EQ(0, host.open) << what;
            if (c.good) {
                EXPECT_TRUE(host.files[c.member.name] == c.member.data) << what;
            }
        }
    }
}

TEST(Extractor, SelfExtractorStub_EitherOffsetsFindTheData)
{
    for (bool adjust : {true, false}) {
        Archive archive;
        archive.members = {{"one.txt", ziptest::Text(5000)}, Stored("dir/two.bin", ziptest::RandomBytes(300))};
        archive.prefix = "MZ self-extractor stub" + std::string(100, '\0');
        archive.adjustOffsets = adjust;
        archive.trailing = std::string(37, 'x');
        MemoryHost host;
        EXPECT_EQ(2, ExtractBytes(archive.Build(), host).extracted) << adjust;
        EXPECT_EQ(ziptest::Text(5000), host.files["one.txt"]) << adjust;
        EXPECT_EQ(ziptest::RandomBytes(300), host.files["dir/two.bin"]) << adjust;
    }
}

// Stored members that leave their sizes to a data descriptor, written by a tool whose directory
// offsets leave the descriptor's bytes out: the later records then seem shifted by bytes in front
// of the archive, while the first still stands at the very start.
TEST(Extractor, DescriptorsLeftOutOfTheOffsets_StoredDataStillFound)
{
    struct Row {
        const char* what;
        bool signature;
        uint32_t sizeInDescriptor;  // 0: the true size
        bool firstExtracted;
    };
    const Row rows[] = {
        {"descriptor with signature", true, 0, true},
        {"descriptor without signature", false, 0, true},
        {"descriptor contradicting the directory", true, 999, false},
    };
    for (const Row& row : rows) {
        Archive archive;
        archive.members = {Stored("first.xml", ziptest::Text(610)), Stored("second.xml", ziptest::Text(82, 3))};
        archive.members[0].flags = 0x0008;
        std::string bytes = archive.Build();
        const uint32_t size = row.sizeInDescriptor != 0 ? row.sizeInDescriptor : 610;
        bytes.insert(static_cast<size_t>(archive.members[1].offset),
            (row.signature ? ziptest::Le32(0x08074b50) : std::string()) +
                ziptest::Le32(ziptest::Crc(ziptest::Text(610))) + ziptest::Le32(size) + ziptest::Le32(size));
        MemoryHost host;
        ExtractReport report = ExtractBytes(bytes, host);
        EXPECT_EQ(Status::Ok, report.archiveStatus) << row.what;
        EXPECT_EQ(1u, host.files.count("second.xml")) << row.what;
        EXPECT_EQ(row.firstExtracted ? 1u : 0u, host.files.count("first.xml")) << row.what;
        EXPECT_EQ(row.firstExtracted ? 0 : 1, report.damaged) << row.what;
    }
    // A deflate stream ends by itself: a member that announces a descriptor and has none is read.
    Archive deflated;
    deflated.members = {{"streamed.txt", ziptest::Text(3000)}};
    deflated.members[0].flags = 0x0008;
    MemoryHost host;
    EXPECT_EQ(0, ExtractBytes(deflated.Build(), host).damaged);
    EXPECT_EQ(ziptest::Text(3000), host.files["streamed.txt"]);
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

// Names that Windows takes for one file (case, trailing dots and spaces) never lose a member: the
// later one gets a number, free in the run and in the target; a file there before the run is still
// replaced, and a test run renames nothing.
TEST(Extractor, NamesEqualAsWindowsComparesThem_AreNumberedNotLost)
{
    Archive archive;
    for (const char* name : {"README", "readme", "A.txt", "a.txt", "x.pdf ", "x.pdf", "dir./f", "dir/f", "Docs/n.md",
             "docs/N.md", ".profile", ".PROFILE"})
        archive.members.push_back(Stored(name, std::string("<") + name + ">"));
    MemoryHost host;
    host.files["README"] = "there before";
    host.files["a (2).txt"] = "there before";
    const ExtractReport report = ExtractBytes(archive.Build(), host);
    EXPECT_EQ(12, report.extracted);
    EXPECT_EQ(6, report.renamed);
    const std::map<std::string, std::string> expected {{"README", "<README>"}, {"readme (2)", "<readme>"},
        {"A.txt", "<A.txt>"}, {"a (3).txt", "<a.txt>"}, {"a (2).txt", "there before"}, {"x.pdf", "<x.pdf >"},
        {"x (2).pdf", "<x.pdf>"}, {"dir/f", "<dir./f>"}, {"dir/f (2)", "<dir/f>"}, {"Docs/n.md", "<Docs/n.md>"},
        {"docs/N (2).md", "<docs/N.md>"}, {".profile", "<.profile>"}, {".PROFILE (2)", "<.PROFILE>"}};
    EXPECT_EQ(expected, host.files);
    EXPECT_NE(host.lines.end(),
        std::find(host.lines.begin(), host.lines.end(),
            "renamed: a.txt as a (3).txt (a file of that name was extracted before)\n"));

    ExtractOptions testOnly;
    testOnly.testOnly = true;
    MemoryHost tested;
    const ExtractReport checked = ExtractBytes(archive.Build(), tested, testOnly);
    EXPECT_EQ(12, checked.extracted);
    EXPECT_EQ(0, checked.renamed);
}

// What stood in the target before the run under a member's name: a file is replaced, kept (the
// member skipped, an encrypted one without asking its password) or kept beside the member's file
// numbered past what the target holds; a folder is never replaced, and a folder member merges with
// one. A name the run itself took is numbered as a rename in every mode.
TEST(Extractor, ExistingFiles_OverwrittenSkippedOrKeptBoth)
{
    Archive archive;
    Member locked = Stored("locked.bin", "123456789012 encrypted");
    locked.flags = 0x0001;
    archive.members = {Stored("edited.txt", "new"), Stored("dir", "a file"), {"keep/", ""},
        Stored("keep/inner.txt", "inner"), Stored("twice.txt", "one"), Stored("twice.txt", "two"), locked};
    using unzip::ExistingFiles;
    for (ExistingFiles existing : {ExistingFiles::Overwrite, ExistingFiles::Skip, ExistingFiles::KeepBoth}) {
        SCOPED_TRACE(static_cast<int>(existing));
        MemoryHost host;
        host.files = {{"edited.txt", "mine"}, {"edited (2).txt", "mine too"}, {"locked.bin", "mine"}};
        host.folders = {"dir", "keep"};
        ExtractOptions options;
        options.existing = existing;
        const ExtractReport report = ExtractBytes(archive.Build(), host, options);
        std::map<std::string, std::string> expected {{"edited (2).txt", "mine too"}, {"keep/inner.txt", "inner"},
            {"twice.txt", "one"}, {"twice (2).txt", "two"}, {"locked.bin", "mine"}};
        EXPECT_EQ(1, report.renamed);
        if (existing == ExistingFiles::Overwrite) {
            expected["edited.txt"] = "new";
            EXPECT_EQ(1, report.skippedBlocked);  // the folder stays
            EXPECT_EQ(1, report.skippedEncrypted);
        } else if (existing == ExistingFiles::Skip) {
            expected["edited.txt"] = "mine";
            EXPECT_EQ(3, report.skippedExisting);
            EXPECT_EQ(0, report.skippedEncrypted);
            EXPECT_NE(host.lines.end(),
                std::find(host.lines.begin(), host.lines.end(),
                    "skipping: edited.txt (a file or folder of that name was there before: kept as it was)\n"));
        } else {
            expected["edited.txt"] = "mine";
            expected["edited (3).txt"] = "new";
            expected["dir (2)"] = "a file";
            EXPECT_EQ(2, report.keptBoth);
            EXPECT_EQ(1, report.skippedEncrypted);  // its numbered name is not taken without a password
            EXPECT_NE(host.lines.end(),
                std::find(host.lines.begin(), host.lines.end(),
                    "keeping both: edited.txt as edited (3).txt (a file or folder of that name was there before)\n"));
        }
        EXPECT_EQ(expected, host.files);
        EXPECT_EQ((std::set<std::string> {"dir", "keep"}), host.folders);
        EXPECT_EQ(0, report.writeFailures);
    }
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
    explicit ThrowingHost(int throwAt) : throwAt_(throwAt) { }
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

// A member of 24 MiB is written behind its decoding: its worker waits for the calling thread to
// write its buffers, which never happens once the exception has left; the run must still end.
TEST(Extractor, AnExceptionMidRun_EndsTheWorkersBeforeTheirWork)
{
    Archive archive;
    for (int i = 0; i < 8; ++i)
        archive.members.push_back({"big" + std::to_string(i), ziptest::Text(3000000, static_cast<uint32_t>(i))});
    Archive writtenBehind;
    writtenBehind.AddZeros("huge.bin", 24u << 20);
    writtenBehind.members.push_back({"next.txt", "next"});
    const std::vector<std::pair<std::string, std::vector<int>>> runs = {
        {archive.Build(), {2, 3, 6}}, {writtenBehind.Build(), {2}}};
    auto run = std::async(std::launch::async, [&] {
        for (const auto& bytesAndThrows : runs) {
            for (int throwAt : bytesAndThrows.second) {
                ThrowingHost host(throwAt);
                unzip::StdWorkerThreads workers;
                ExtractOptions options;
                options.threads = 2;
                options.workers = &workers;
                EXPECT_THROW(ExtractBytes(bytesAndThrows.first, host, options), std::bad_alloc) << throwAt;
            }
        }
    });
    if (run.wait_for(std::chrono::minutes(3)) != std::future_status::ready) {
        std::fprintf(stderr, "Extract never returned after the exception\n");
        std::abort();  // the hung workers cannot be ended from here
    }
}

// A host that answers "stop" at its `stopAt`-th Service call and records every call.
class StoppingHost : public MemoryHost {
public:
    explicit StoppingHost(size_t stopAt) : stopAt_(stopAt) { }
    bool Service(const std::string& name, uint64_t size) override
    {
        calls.push_back(name + " " + std::to_string(size));
        return calls.size() == stopAt_;
    }
    std::vector<std::string> calls;

private:
    size_t stopAt_;
};

// Service is asked before each member and after each step written inside one; a stop inside a
// member leaves no file for it and starts nothing more, inline and on workers alike.
TEST(Extractor, ServiceStop_BeforeAMemberOrInsideOne)
{
    const size_t bigSize = 3 * unzip::kServiceStep + 1000;
    Archive archive;
    archive.members.push_back(Stored("first.txt", "first"));
    archive.members.push_back(Stored("big.bin", std::string(bigSize, 'b')));
    archive.members.push_back({"huge.txt", ziptest::Text(bigSize)});
    archive.members.push_back(Stored("last.txt", "last"));
    const std::string bytes = archive.Build();
    const std::string big = "big.bin " + std::to_string(bigSize);
    const std::string huge = "huge.txt " + std::to_string(bigSize);

    StoppingHost counting(0);
    ExtractBytes(bytes, counting);
    EXPECT_EQ(counting.calls,
        (std::vector<std::string> {"first.txt 5", big, big, big, big, huge, huge, huge, huge, "last.txt 4"}));
    for (unsigned threads : {0u, 2u}) {
        unzip::StdWorkerThreads workers;
        ExtractOptions options;
        options.threads = threads;
        options.workers = &workers;
        StoppingHost beforeBig(2);
        ExtractReport report = ExtractBytes(bytes, beforeBig, options);
        EXPECT_TRUE(report.stopped);
        EXPECT_EQ(beforeBig.files.size(), 1u) << threads;
        EXPECT_EQ(beforeBig.files["first.txt"], "first");

        // The third call comes with big.bin half written (inline), or with it or huge.txt under
        // way on workers: whichever is being written goes, first.txt stays.
        StoppingHost inside(3);
        report = ExtractBytes(bytes, inside, options);
        EXPECT_TRUE(report.stopped);
        EXPECT_EQ(inside.files.count("huge.txt") + inside.files.count("last.txt"), 0u) << threads;
        if (threads == 0) {
            EXPECT_EQ(inside.files.count("big.bin"), 0u);
        } else if (inside.files.count("big.bin") != 0) {
            EXPECT_EQ(inside.files["big.bin"].size(), bigSize) << "a member that finished is whole";
        }
        EXPECT_EQ(inside.files["first.txt"], "first");
        EXPECT_LE(inside.calls.size(), 4u);
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
            CountingHost host;
            ExtractReport report = ExtractBytes(bad, host);
            EXPECT_LE(report.extracted, 3);
            EXPECT_EQ(0, host.open) << i;
            for (const auto& file : host.files)
                EXPECT_LE(file.second.size(), 3000u);
        }
    }
}

}  // namespace
