// Archives split into volumes, read as one through a volume set in memory: a ZIP cut into numbered
// pieces anywhere, and PKZIP spanned sets (tests/unzip32/make_volume_archives.py, folder in
// KESTROVA_METHOD_ARCHIVES) whose members, data descriptor and directory run across disks. A
// volume missing or cut short fails the archive with a message that names the volume, and no file
// is written.
#include "tests/support/ZipBuilder.h"
#include "unzip32/core/ConcatenatedSource.h"
#include "unzip32/core/Extractor.h"
#include "unzip32/core/MemoryHost.h"
#include "unzip32/core/StdWorkerThreads.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>

using unzip::Status;
using unzip::VolumeNaming;

namespace {

// Volumes held in memory; an empty slot is a volume that is not there.
class MemoryVolumes : public unzip::VolumeSet {
public:
    MemoryVolumes(VolumeNaming naming, std::string stem) : naming_(naming), stem_(std::move(stem)) { }
    VolumeNaming Naming() const override { return naming_; }
    unzip::Source* Volume(unsigned number) override
    {
        if (number == 0 || number > volumes.size() || volumes[number - 1].empty())
            return nullptr;
        auto& source = sources_[number];
        if (source == nullptr)
            source = std::make_unique<unzip::MemorySource>(volumes[number - 1].data(), volumes[number - 1].size());
        return source.get();
    }
    std::string VolumeName(unsigned number) const override
    {
        char digits[8];
        std::snprintf(digits, sizeof digits, naming_ == VolumeNaming::Numbered ? ".%03u" : ".z%02u", number);
        return stem_ + digits;
    }

    std::vector<std::string> volumes;

private:
    VolumeNaming naming_;
    std::string stem_;
    std::map<unsigned, std::unique_ptr<unzip::MemorySource>> sources_;
};

std::vector<std::string> Cut(const std::string& whole, size_t piece)
{
    std::vector<std::string> pieces;
    for (size_t at = 0; at < whole.size(); at += piece)
        pieces.push_back(whole.substr(at, piece));
    return pieces;
}

struct Outcome {
    unzip::ExtractReport report;
    unzip::MemoryHost host;
};

// Extracts `named` (the file the caller named) with `volumes` beside it, on two worker threads.
void Extract(unzip::Source& named, unzip::VolumeSet* volumes, Outcome& run)
{
    unzip::StdWorkerThreads threads;
    unzip::ExtractOptions options;
    options.threads = 2;
    options.workers = &threads;
    run.host.volumes = volumes;
    run.report = unzip::Extract(named, run.host, options);
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

}  // namespace

TEST(Volumes, NumberedPiecesAreReadAsOneArchive)
{
    ziptest::Archive zip;
    std::string text;
    for (int i = 0; i < 3000; ++i)
        text += "line " + std::to_string(i) + " of the text\n";
    std::string noise(70000, '\0');
    for (size_t i = 0; i < noise.size(); ++i)
        noise[i] = static_cast<char>((i * 7919u) >> 5 ^ i);
    zip.Add("text.txt", text).Add("noise.bin", noise, false).Add("last.txt", "the end\n");
    MemoryVolumes set(VolumeNaming::Numbered, "photos.zip");
    set.volumes = Cut(zip.Build(), 4096);
    Outcome run;
    Extract(*set.Volume(1), &set, run);
    EXPECT_EQ(Status::Ok, run.report.archiveStatus) << run.report.archiveDetail;
    EXPECT_EQ(3, run.report.extracted);
    EXPECT_EQ(text, run.host.files["text.txt"]);
    EXPECT_EQ(noise, run.host.files["noise.bin"]);

    // A large stored member, seen in place piece by piece until a piece runs into the next volume.
    ziptest::Archive large;
    std::string big(20u << 20, '\0');
    for (size_t i = 0; i < big.size(); i += 4096)
        big[i] = static_cast<char>(i >> 12);
    large.Add("big.bin", big, false);
    MemoryVolumes bigSet(VolumeNaming::Numbered, "big.zip");
    bigSet.volumes = Cut(large.Build(), 17u << 20);
    Outcome bigRun;
    Extract(*bigSet.Volume(1), &bigSet, bigRun);
    EXPECT_EQ(1, bigRun.report.extracted);
    EXPECT_TRUE(bigRun.host.files["big.bin"] == big);
}

TEST(Volumes, AMissingOrShortVolumeIsNamedAndNothingIsWritten)
{
    ziptest::Archive zip;
    zip.Add("one.txt", std::string(9000, 'x'), false).Add("two.txt", "two\n");
    const std::vector<std::string> pieces = Cut(zip.Build(), 4000);
    ASSERT_EQ(3u, pieces.size());
    struct Case {
        const char* what;
        std::vector<std::string> volumes;
        std::string detail;
    };
    const std::string shortLast = pieces[2].substr(0, pieces[2].size() / 2);
    const Case cases[] = {
        {"a middle one missing", {pieces[0], "", pieces[2]}, "the volume a.zip.002 is missing"},
        {"the last one missing", {pieces[0], pieces[1]}, "the volume a.zip.003 is missing"},
        {"the last one short", {pieces[0], pieces[1], shortLast},
            "the split archive is damaged: it ends early in its last volume a.zip.003"},
        {"the first one missing (the last named)", {"", pieces[1], pieces[2]}, "the volume a.zip.001 is missing"},
    };
    for (const Case& c : cases) {
        MemoryVolumes set(VolumeNaming::Numbered, "a.zip");
        set.volumes = c.volumes;
        Outcome run;
        Extract(*set.Volume(static_cast<unsigned>(c.volumes.size())), &set, run);
        EXPECT_NE(Status::Ok, run.report.archiveStatus) << c.what;
        EXPECT_EQ(c.detail, run.report.archiveDetail) << c.what;
        ASSERT_FALSE(run.host.lines.empty()) << c.what;
        EXPECT_EQ("error: " + c.detail + "\n", run.host.lines.back()) << c.what;
        EXPECT_TRUE(run.host.files.empty()) << c.what;
    }
}

class SpannedSet : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* folder = std::getenv("KESTROVA_METHOD_ARCHIVES");
        if (folder == nullptr)
            GTEST_SKIP() << "KESTROVA_METHOD_ARCHIVES is not set";
        dir = std::string(folder) + "/volumes/";
        for (const char* disk : {"spanned.z01", "spanned.z02", "spanned.z03"})
            set.volumes.push_back(ReadFile(dir + disk));
        last = ReadFile(dir + "spanned.zip");
        ASSERT_FALSE(last.empty());
    }

    std::string dir;
    MemoryVolumes set {VolumeNaming::ZipSpanned, "spanned"};
    std::string last;
};

TEST_F(SpannedSet, MembersRecordsAndDirectoryRunAcrossDisks)
{
    unzip::MemorySource named(last.data(), last.size());
    Outcome run;
    Extract(named, &set, run);
    EXPECT_EQ(Status::Ok, run.report.archiveStatus) << run.report.archiveDetail;
    EXPECT_EQ(4, run.report.extracted);
    EXPECT_EQ(0, run.report.damaged);
    for (const char* name : {"random.bin", "stored.bin", "folder/notes.txt", "small.txt"})
        EXPECT_EQ(ReadFile(dir + "files/" + name), run.host.files[name]) << name;

    // A last disk that starts with what looks like a gzip stream is still the set's.
    MemoryVolumes gzipped(VolumeNaming::ZipSpanned, "gzipped");
    gzipped.volumes = {ReadFile(dir + "gzipped.z01")};
    const std::string gzippedLast = ReadFile(dir + "gzipped.zip");
    unzip::MemorySource gzippedNamed(gzippedLast.data(), gzippedLast.size());
    Outcome second;
    Extract(gzippedNamed, &gzipped, second);
    EXPECT_EQ(Status::Ok, second.report.archiveStatus) << second.report.archiveDetail;
    EXPECT_EQ(2, second.report.extracted);
    EXPECT_EQ("the last member\n", second.host.files["small.txt"]);
}

TEST_F(SpannedSet, AMissingDiskIsNamedAndADiskBeyondTheSetRefused)
{
    unzip::MemorySource named(last.data(), last.size());
    set.volumes[1].clear();
    Outcome missing;
    Extract(named, &set, missing);
    EXPECT_EQ(Status::MultiDisk, missing.report.archiveStatus);
    EXPECT_EQ("the volume spanned.z02 is missing", missing.report.archiveDetail);
    EXPECT_TRUE(missing.host.files.empty());

    // A directory record on a disk the set does not have.
    set.volumes[1] = ReadFile(dir + "spanned.z02");
    std::string beyond = last;
    const size_t record = beyond.rfind("PK\x01\x02");
    ASSERT_NE(std::string::npos, record);
    beyond[record + 34] = 9;
    unzip::MemorySource damaged(beyond.data(), beyond.size());
    Outcome refused;
    Extract(damaged, &set, refused);
    EXPECT_EQ(Status::Inconsistent, refused.report.archiveStatus);
    EXPECT_TRUE(refused.host.files.empty());
}
