#include "tests/support/TestSupport.h"
#include "tests/updater/UpdaterTestSupport.h"
#include "updater/ProgramReplacer.h"

#include <gtest/gtest.h>

namespace {

using Result = updater::ProgramReplacer::Result;
using updater::ProgramReplacer;

class ProgramReplacerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        download = folder.Child("download.tmp");
        target = folder.Child("kestrova.exe");
        ASSERT_TRUE(testsupport::WriteFileBytes(download, newProgram));
        ASSERT_TRUE(testsupport::WriteFileBytes(target, oldProgram));
    }
    std::string Bytes(const std::string& path) const
    {
        std::string bytes;
        testsupport::ReadFileBytes(path, bytes);
        return bytes;
    }
    void ExpectUntouched() const
    {
        EXPECT_EQ(Bytes(target), oldProgram);
        EXPECT_FALSE(testsupport::FileExists(ProgramReplacer::StagingPath(target)));
        EXPECT_FALSE(testsupport::FileExists(ProgramReplacer::BackupPath(target)));
    }

    testsupport::TestFolder folder;
    const std::string oldProgram = updatertest::FakeProgram(4000, 'o');
    const std::string newProgram = updatertest::FakeProgram(9000, 'n');
    std::string download;
    std::string target;
};

TEST_F(ProgramReplacerTest, Replace_PutsExactlyTheDownloadedBytesInPlace)
{
    EXPECT_EQ(ProgramReplacer::Replace(download, target), Result::Replaced);
    EXPECT_EQ(Bytes(target), newProgram);
    EXPECT_EQ(Bytes(download), newProgram);
    EXPECT_FALSE(testsupport::FileExists(ProgramReplacer::StagingPath(target)));
    EXPECT_FALSE(testsupport::FileExists(ProgramReplacer::BackupPath(target)));
}

TEST_F(ProgramReplacerTest, NoInstalledFile_InstallsTheProgram)
{
    ::DeleteFileA(target.c_str());
    EXPECT_EQ(ProgramReplacer::Replace(download, target), Result::Replaced);
    EXPECT_EQ(Bytes(target), newProgram);
}

TEST_F(ProgramReplacerTest, NotAWindowsProgram_TouchesNothing)
{
    std::string withoutPe = newProgram;
    withoutPe[0x41] = 'X';
    std::string farOffset = newProgram;
    farOffset[0x3D] = 0x70;  // new header beyond the end of the file
    for (const std::string& bytes :
        {std::string("<html>404 Not Found</html>"), std::string("MZ"), withoutPe, farOffset, std::string()}) {
        ASSERT_TRUE(testsupport::WriteFileBytes(download, bytes));
        EXPECT_FALSE(ProgramReplacer::IsWindowsExecutable(download));
        EXPECT_EQ(ProgramReplacer::Replace(download, target), Result::NotAProgram);
        ExpectUntouched();
    }
    EXPECT_EQ(ProgramReplacer::Replace(folder.Child("missing.tmp"), target), Result::NotAProgram);
}

TEST_F(ProgramReplacerTest, LockedReadOnlyOrUnreachableTarget_KeepsTheInstalledProgram)
{
    HANDLE lock = ::CreateFileA(target.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    EXPECT_EQ(ProgramReplacer::Replace(download, target), Result::NotReplaced);
    ::CloseHandle(lock);
    ExpectUntouched();

    ::SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(ProgramReplacer::Replace(download, target), Result::NotReplaced);
    ::SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_NORMAL);
    ExpectUntouched();

    EXPECT_EQ(ProgramReplacer::Replace(download, folder.Child("no folder\\kestrova.exe")), Result::NotReplaced);
    folder.MakeFolder("a folder");
    EXPECT_EQ(ProgramReplacer::Replace(download, folder.Child("a folder")), Result::NotReplaced);
    EXPECT_EQ(ProgramReplacer::Replace(download, ""), Result::NoTarget);
    ExpectUntouched();
}

}  // namespace
