// UNZIP32.DLL, called as the program calls it, on archives of the kinds read through libarchive
// (make_kind_archives.py, in KESTROVA_KIND_ARCHIVES): each extracts byte for byte; a symbolic link
// is skipped (result 1) and a hard link copied, but links copy at most 1024 times the archive's data
// (result 3, as a bomb); a damaged compressed tar leaves no wrong file (result 2).
#include "tests/support/TestFolder.h"
#include "tests/support/TestSupport.h"
#include "tests/unzip32/DllRunner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

using testsupport::TestFolder;

namespace {

class Unzip32Kinds : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* host = std::getenv("KESTROVA_KIND_ARCHIVES");
        if (host == nullptr || *host == '\0')
            GTEST_SKIP() << "KESTROVA_KIND_ARCHIVES is not set";
        folder = testsupport::FromHost(host);
    }
    // The files under `root` with their contents ('\' separators).
    static std::vector<std::pair<std::string, std::string>> Files(const std::string& root)
    {
        std::vector<std::pair<std::string, std::string>> files;
        for (const std::string& relative : dllrun::Walk(root))
            if (relative.back() != '\\')
                files.emplace_back(relative, dllrun::Contents(root + "\\" + relative));
        return files;
    }

    // What the last run printed, as one text.
    static std::string Printed()
    {
        std::string printed;
        for (const std::string& line : dllrun::Current().printed)
            printed += line;
        return printed;
    }

    std::string folder;
};

}  // namespace

TEST_F(Unzip32Kinds, EachKindExtractsByteForByte)
{
    struct Kind {
        const char* first;
        const char* second;
        int result;  // 1: a symbolic link skipped
    };
    const Kind archives[] = {{"tar-pax.tar.gz", "files", 0}, {"tar-gnu.tar", "files", 0}, {"iso9660.iso", "files", 0},
        {"cab.cab", "cab.out", 0}, {"notes.txt.xz", "single", 0}, {"rar\\rar5-solid.rar", "rar\\rar5-solid.rar.out", 0},
        {"rar\\rar4-unicode.rar", "rar\\rar4-unicode.rar.out", 1}};
    for (const Kind& archive : archives) {
        const std::string path = folder + "\\" + archive.first;
        if (::GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES)
            continue;  // no gcab on this machine
        TestFolder out;
        const std::string target = out.Child("out");
        EXPECT_EQ(archive.result, dllrun::RunLibrary(path, target.c_str())) << archive.first;
        EXPECT_EQ(Files(folder + "\\" + archive.second), Files(target)) << archive.first << "\n" << Printed();
    }
}

TEST_F(Unzip32Kinds, SymbolicLinkSkippedHardLinkCopiedDamageWritesNothingWrong)
{
    TestFolder out;
    const std::string links = out.Child("links");
    EXPECT_EQ(1, dllrun::RunLibrary(folder + "\\links.tar", links.c_str()));
    EXPECT_EQ(dllrun::Walk(links), (std::vector<std::string> {"a.txt", "b.txt"}));
    EXPECT_EQ(dllrun::Contents(links + "\\b.txt"), "first\n");

    const auto originals = Files(folder + "\\files");
    const std::string damaged = out.Child("damaged");
    // The members before the damage are extracted exact; the damaged one and those after it are
    // not written (result 2: damaged data).
    EXPECT_EQ(2, dllrun::RunLibrary(folder + "\\damaged.tar.gz", damaged.c_str()));
    for (const auto& file : Files(damaged)) {
        const auto original =
            std::find_if(originals.begin(), originals.end(), [&](const auto& o) { return o.first == file.first; });
        ASSERT_NE(original, originals.end()) << file.first;
        EXPECT_EQ(file.second, original->second) << file.first;
    }
}

// A RAR set named the old way (.rar, .r00, .r01...) is found and read like one named .partN.rar, and
// a missing volume of it is named.
TEST_F(Unzip32Kinds, OldStyleRarVolumesExtractAsTheNewStyleOnes)
{
    TestFolder copy;
    for (int n = 1; n <= 6; ++n) {
        const std::string part = folder + "\\rar\\rar4-volumes.part" + std::to_string(n) + ".rar";
        const std::string old = n == 1 ? "old.rar" : "old.r0" + std::to_string(n - 2);
        ASSERT_TRUE(::CopyFileA(part.c_str(), copy.Child("new.part" + std::to_string(n) + ".rar").c_str(), FALSE));
        ASSERT_TRUE(::CopyFileA(part.c_str(), copy.Child(old).c_str(), FALSE));
    }
    EXPECT_EQ(0, dllrun::RunLibrary(copy.Child("new.part1.rar"), copy.Child("new").c_str()));
    EXPECT_EQ(0, dllrun::RunLibrary(copy.Child("old.rar"), copy.Child("old").c_str()));
    EXPECT_FALSE(Files(copy.Child("new")).empty());
    EXPECT_EQ(Files(copy.Child("new")), Files(copy.Child("old")));

    ASSERT_TRUE(::DeleteFileA(copy.Child("old.r02").c_str()));
    EXPECT_NE(0, dllrun::RunLibrary(copy.Child("old.rar"), copy.Child("gap").c_str()));
    const std::string printed = Printed();
    EXPECT_NE(std::string::npos, printed.find("(the volume old.r02 is missing)\n")) << printed;
}

TEST_F(Unzip32Kinds, HardLinksToOneMemberStopAtTheirBound)
{
    TestFolder out;
    const std::string target = out.Child("bomb");
    EXPECT_EQ(3, dllrun::RunLibrary(folder + "\\link-bomb.tar.gz", target.c_str()));
    const std::vector<std::string> written = dllrun::Walk(target);
    EXPECT_EQ(1u + 1024u, written.size());
    EXPECT_EQ(std::string(1024, 'b'), dllrun::Contents(target + "\\link1023"));
    const std::string printed = Printed();
    EXPECT_NE(printed.find("link1024 (hard links copy more than the archive holds)"), std::string::npos) << printed;
}

namespace {

// The service callback of the run below: stops at its second call about copy.bin.
int copyServices = 0;
int UZ_API StopInTheCopy(const char* name, unsigned long)
{
    return std::string(name) == "copy.bin" && ++copyServices == 2 ? 1 : 0;
}

}  // namespace

// The copy a hard link makes of a 42 MiB member asks the service callback on the way, and a stop
// there leaves no file of the copy (nor its temporary file); the member copied stays.
TEST_F(Unzip32Kinds, AStopReachesALongHardLinkCopy)
{
    TestFolder out;
    const std::string target = out.Child("copy");
    dllrun::RunOptions options;
    options.service = &StopInTheCopy;
    copyServices = 0;
    dllrun::RunLibrary(folder + "\\big-link.tar.gz", target.c_str(), options);
    EXPECT_EQ(2, copyServices);
    EXPECT_EQ(std::vector<std::string> {"big.bin"}, dllrun::Walk(target)) << Printed();
}

// A .tar.gz whose trailer CRC-32 is wrong, or that is cut inside its trailer: every member decodes,
// the stream's check fails at its end. The last member is not left behind as if it were fine; those
// left stay exact.
TEST_F(Unzip32Kinds, FailedStreamCheckLeavesNoFileOfTheLastMember)
{
    TestFolder out;
    const std::string good = out.Child("good");
    ASSERT_EQ(0, dllrun::RunLibrary(folder + "\\tar-pax.tar.gz", good.c_str()));
    std::string last;
    for (const std::string& line : dllrun::Current().printed)
        if (line.rfind("  inflating: ./", 0) == 0)
            last = line.substr(15, line.find_last_not_of("\r\n") - 14);
    ASSERT_FALSE(last.empty());
    std::replace(last.begin(), last.end(), '/', '\\');
    const auto originals = Files(good);

    for (const char* name : {"badcheck.tar.gz", "cutcheck.tar.gz"}) {
        const std::string damaged = out.Child(name);
        EXPECT_EQ(2, dllrun::RunLibrary(folder + "\\" + name, damaged.c_str())) << name;
        const auto left = Files(damaged);
        EXPECT_LT(left.size(), originals.size()) << name;
        for (const auto& file : left) {
            EXPECT_NE(file.first, last) << name;
            EXPECT_NE(std::find(originals.begin(), originals.end(), file), originals.end()) << file.first;
        }
    }
}
