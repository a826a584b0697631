// Archives that the tools wrote (make_salvage_archives.py, folder in KESTROVA_SALVAGE_ARCHIVES) cut
// short, with their directory zeroed, and with data appended after them; and hand-made ones with
// false signatures where the search for the end record and the walk of the local records look.
#include "tests/support/ZipBuilder.h"
#include "unzip32/core/Directory.h"
#include "unzip32/core/Extractor.h"
#include "unzip32/core/MemoryHost.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

namespace {

using unzip::ExtractOptions;
using unzip::ExtractReport;
using unzip::MemoryHost;
using unzip::MemorySource;
using Files = std::map<std::string, std::string>;

const char* const kArchives[] = {"python.zip", "python-stream.zip", "7z.zip", "bsdtar.zip", "bsdtar-stored.zip"};

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream data;
    data << in.rdbuf();
    return data.str();
}

ExtractReport Unpack(const std::string& bytes, MemoryHost& host, bool listOnly = false)
{
    MemorySource source(bytes.data(), bytes.size());
    ExtractOptions options;
    options.listOnly = listOnly;
    options.threads = 0;
    return unzip::Extract(source, host, options);
}

Files Extracted(const std::string& bytes)
{
    MemoryHost host;
    Unpack(bytes, host);
    return host.files;
}

// The files of the whole archive whose records (local record, data, descriptor) end by `cut`.
Files CompleteBy(const std::string& whole, uint64_t cut)
{
    MemorySource source(whole.data(), whole.size());
    unzip::Directory directory;
    EXPECT_EQ(unzip::Status::Ok, unzip::ReadDirectory(source, directory));
    const Files all = Extracted(whole);
    std::vector<uint64_t> offsets;
    for (const unzip::Entry& entry : directory.entries)
        offsets.push_back(entry.localOffset);
    std::sort(offsets.begin(), offsets.end());
    Files complete;
    for (const unzip::Entry& entry : directory.entries) {
        auto next = std::upper_bound(offsets.begin(), offsets.end(), entry.localOffset);
        const uint64_t end = next != offsets.end() ? *next : directory.directoryStart;
        if (!entry.IsDirectory() && end <= cut)
            complete[entry.name] = all.at(entry.name);
    }
    return complete;
}

std::string Damaged(size_t recovered)
{
    return "The archive is damaged: " + std::to_string(recovered) + " of its files were recovered.\n";
}

class Salvage : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* folder = std::getenv("KESTROVA_SALVAGE_ARCHIVES");
        if (folder == nullptr)
            GTEST_SKIP() << "KESTROVA_SALVAGE_ARCHIVES is not set";
        folder_ = folder;
    }
    std::string folder_;
};

// Cut at 10, 50 and 90 % and with the directory zeroed: every member whose records are all there
// comes out byte for byte, nothing of the others, and the run says how many; the listing shows
// the same members.
TEST_F(Salvage, CutOrZeroedDirectory_RecoversEveryCompleteMember)
{
    for (const char* name : kArchives) {
        const std::string whole = ReadFile(folder_ + "/" + name);
        ASSERT_FALSE(whole.empty()) << name;
        MemorySource source(whole.data(), whole.size());
        unzip::Directory directory;
        ASSERT_EQ(unzip::Status::Ok, unzip::ReadDirectory(source, directory));
        std::string zeroed = whole;
        std::fill(zeroed.begin() + static_cast<std::ptrdiff_t>(directory.directoryStart), zeroed.end(), '\0');
        const std::vector<std::pair<std::string, Files>> cases = {
            {whole.substr(0, whole.size() / 10), CompleteBy(whole, whole.size() / 10)},
            {whole.substr(0, whole.size() / 2), CompleteBy(whole, whole.size() / 2)},
            {whole.substr(0, whole.size() * 9 / 10), CompleteBy(whole, whole.size() * 9 / 10)},
            {zeroed, Extracted(whole)},
        };
        for (const auto& c : cases) {
            const std::string what = std::string(name) + " at " + std::to_string(c.first.size());
            ASSERT_FALSE(c.second.empty()) << what;
            MemoryHost host;
            const ExtractReport report = Unpack(c.first, host);
            EXPECT_TRUE(report.salvaged) << what;
            EXPECT_NE(unzip::Status::Ok, report.archiveStatus) << what;
            EXPECT_TRUE(host.files == c.second) << what << ": " << host.files.size() << " of " << c.second.size();
            ASSERT_FALSE(host.lines.empty()) << what;
            EXPECT_EQ(Damaged(c.second.size()), host.lines.back()) << what;

            MemoryHost lister;
            const ExtractReport listed = Unpack(c.first, lister, true);
            EXPECT_EQ(static_cast<int>(c.second.size()), listed.recovered) << what;
            for (const MemoryHost::Listed& member : lister.listed)
                EXPECT_TRUE(member.name.back() == '/' || c.second.count(member.name) == 1) << what << member.name;
        }
    }
}

// 100 KiB and 8 MiB after the end record, also holding a false end record: the archive extracts
// as it is, not as a damaged one.
TEST_F(Salvage, AppendedData_IsPassedOver)
{
    const std::string noise = ziptest::RandomBytes(8u << 20, 28);
    // A record that points at the first local record (no directory there), and one cut short.
    const std::string stray = "PK\x05\x06" + std::string(4, '\0') + ziptest::Le16(1) + ziptest::Le16(1) +
        ziptest::Le32(46) + ziptest::Le32(0) + ziptest::Le16(0);
    for (const char* name : kArchives) {
        const std::string whole = ReadFile(folder_ + "/" + name);
        const Files expected = Extracted(whole);
        const std::vector<std::string> appended = {
            noise.substr(0, 100u << 10),
            noise,
            noise.substr(0, 50u << 10) + stray + noise.substr(0, 50u << 10) + "PK\x05\x06" + stray.substr(4, 10),
        };
        for (const std::string& tail : appended) {
            MemoryHost host;
            const ExtractReport report = Unpack(whole + tail, host);
            EXPECT_EQ(unzip::Status::Ok, report.archiveStatus) << name << " + " << tail.size();
            EXPECT_FALSE(report.salvaged) << name;
            EXPECT_TRUE(host.files == expected) << name << " + " << tail.size();
        }
    }
}

// A stored member holding a whole archive, a stored member with a false descriptor inside its data,
// and an encrypted one: with the directory gone the walk takes the outer members only (never the
// inner archive's), finds the real end of the stored data, and skips what it cannot prove.
TEST(SalvageWalk, FalseSignaturesInMemberData_AreNotTaken)
{
    ziptest::Archive inner;
    inner.Add("inner.txt", "inside");
    const std::string nested = inner.Build();
    const std::string payload = "12345678";
    // A descriptor with the right length but the wrong CRC, in the data before the real one.
    const std::string fake = "PK\x07\x08" + ziptest::Le32(1) + ziptest::Le32(8) + ziptest::Le32(8);
    ziptest::Archive outer;
    outer.members.push_back(ziptest::Stored("nested.zip", nested));
    ziptest::Member described = ziptest::Stored("described.bin", payload + fake + "tail");
    described.descriptor = true;
    outer.members.push_back(described);
    ziptest::Member locked("locked.bin", "secret");
    locked.flags = 1;
    locked.descriptor = true;
    outer.members.push_back(locked);
    outer.Add("last.txt", ziptest::Text(3000));
    std::string bytes = outer.Build();
    MemorySource whole(bytes.data(), bytes.size());
    unzip::Directory directory;
    ASSERT_EQ(unzip::Status::Ok, unzip::ReadDirectory(whole, directory));
    std::fill(bytes.begin() + static_cast<std::ptrdiff_t>(directory.directoryStart), bytes.end(), '\0');

    MemoryHost host;
    const ExtractReport report = Unpack(bytes, host);
    EXPECT_TRUE(report.salvaged);
    EXPECT_EQ(3u, host.files.size());
    EXPECT_EQ(nested, host.files["nested.zip"]);
    EXPECT_EQ(payload + fake + "tail", host.files["described.bin"]);
    EXPECT_EQ(ziptest::Text(3000), host.files["last.txt"]);
    EXPECT_EQ(Damaged(3), host.lines.back());
}

// Proving the members of a damaged archive decodes them all before one is extracted: Service is
// asked on the way, and a stop there ends the run before any member is started.
TEST(SalvageWalk, AStopReachesTheRunWhileMembersAreProved)
{
    class Stopping : public MemoryHost {
    public:
        bool Service(const std::string& name, uint64_t) override
        {
            asked.push_back(name);
            return asked.size() == 2;
        }
        std::vector<std::string> asked;
    };
    ziptest::Archive archive;
    archive.Add("big.txt", std::string(20u << 20, 'x'));
    archive.Add("last.txt", "after it");
    std::string bytes = archive.Build();
    bytes.resize(bytes.size() - 30);  // the end record cut off

    Stopping host;
    const ExtractReport report = Unpack(bytes, host);
    EXPECT_TRUE(report.stopped);
    EXPECT_EQ(std::vector<std::string>(2, std::string()), host.asked);  // no member's name yet
    EXPECT_TRUE(host.files.empty());
}

// Records that declare sizes past the end, or a descriptor that never comes: the walk ends, what
// came before stays, and a file without a single local record is not taken for a damaged archive.
TEST(SalvageWalk, HostileRecords_EndTheWalk)
{
    ziptest::Archive archive;
    archive.Add("good.txt", "good");
    ziptest::Member huge("huge.bin", "x", 0);
    huge.declaredCompressedSize = 0x7FFFFFFF;
    huge.declaredSize = 0x7FFFFFFF;
    ziptest::Member endless("endless.bin", std::string(5000, 'e'), 0);
    endless.descriptor = true;
    endless.declaredCrc = 7;
    archive.members.push_back(endless);
    archive.members.push_back(huge);
    std::string bytes = archive.Build();
    bytes.resize(bytes.find("PK\x01\x02"));
    MemoryHost host;
    const ExtractReport report = Unpack(bytes, host);
    EXPECT_TRUE(report.salvaged);
    EXPECT_EQ(1u, host.files.size());
    EXPECT_EQ(Damaged(1), host.lines.back());

    MemoryHost other;
    const ExtractReport text = Unpack(std::string(5000, 't'), other);
    EXPECT_FALSE(text.salvaged);
    EXPECT_EQ(unzip::Status::NotAnArchive, text.archiveStatus);
}

}  // namespace
