#include "tests/support/ImportPatch.h"
#include "tests/support/TestSupport.h"
#include "tests/updater/UpdaterTestSupport.h"
#include "updater/ProgramReplacer.h"

#include <gtest/gtest.h>

namespace {

using Result = updater::ProgramReplacer::Result;
using updater::ProgramReplacer;

const char kInstalledVersion[] = "1.8.00";

class ProgramReplacerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        update.program = folder.Child("download.tmp");
        update.signature = folder.Child("download.sig");
        update.version = "1.8.01";
        target = folder.Child("kestrova.exe");
        ASSERT_NO_FATAL_FAILURE(Download(newProgram));
        ASSERT_TRUE(testsupport::WriteFileBytes(target, oldProgram));
    }
    // The server's program and its signature for update.version.
    void Download(const std::string& bytes)
    {
        ASSERT_TRUE(testsupport::WriteFileBytes(update.program, bytes));
        ASSERT_TRUE(testsupport::WriteFileBytes(update.signature, updatertest::TestSignature(update.version, bytes)));
    }
    Result Replace(const std::string& path) const { return ProgramReplacer::Replace(update, kInstalledVersion, path); }
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
    const std::string newProgram = updatertest::FakeProgram(200000, 'n');
    updater::SignedUpdate update;
    std::string target;
};

TEST_F(ProgramReplacerTest, Replace_PutsExactlyTheDownloadedBytesInPlace)
{
    EXPECT_EQ(Replace(target), Result::Replaced);
    EXPECT_EQ(Bytes(target), newProgram);
    EXPECT_EQ(Bytes(update.program), newProgram);
    EXPECT_FALSE(testsupport::FileExists(ProgramReplacer::StagingPath(target)));
    EXPECT_FALSE(testsupport::FileExists(ProgramReplacer::BackupPath(target)));
}

TEST_F(ProgramReplacerTest, NoInstalledFile_InstallsTheProgram)
{
    ::DeleteFileA(target.c_str());
    EXPECT_EQ(Replace(target), Result::Replaced);
    EXPECT_EQ(Bytes(target), newProgram);
}

// Another process of the user changes the download, and tries to change the checked copy, between
// the check and the swap: the swap still puts exactly the checked bytes in place.
struct Intruder {
    static BOOL WINAPI MoveAside(LPCSTR from, LPCSTR to, DWORD flags)
    {
        if (!done) {
            done = true;
            testsupport::WriteFileBytes(download, "MZ swapped download");
            HANDLE staged = ::CreateFileA(staging.c_str(), GENERIC_WRITE,
                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr);
            stagedWritable = staged != INVALID_HANDLE_VALUE;
            if (stagedWritable) {
                DWORD written = 0;
                ::WriteFile(staged, "MZ swapped copy", 15, &written, nullptr);
                ::CloseHandle(staged);
            }
            stagedMovable = ::MoveFileA(staging.c_str(), (staging + ".moved").c_str()) != FALSE;
        }
        return reinterpret_cast<decltype(&::MoveFileExA)>(original)(from, to, flags);
    }
    static std::string download;
    static std::string staging;
    static void* original;
    static bool done;
    static bool stagedWritable;
    static bool stagedMovable;
};
std::string Intruder::download;
std::string Intruder::staging;
void* Intruder::original = nullptr;
bool Intruder::done = false;
bool Intruder::stagedWritable = false;
bool Intruder::stagedMovable = false;

TEST_F(ProgramReplacerTest, TheCheckedCopyCannotBeChangedBeforeTheSwap)
{
    Intruder::download = update.program;
    Intruder::staging = ProgramReplacer::StagingPath(target);
    testsupport::ImportPatch patch("kernel32.dll", "MoveFileExA", reinterpret_cast<void*>(&Intruder::MoveAside));
    ASSERT_TRUE(patch.Patched());
    Intruder::original = patch.Original();
    EXPECT_EQ(Replace(target), Result::Replaced);
    EXPECT_TRUE(Intruder::done);
    EXPECT_FALSE(Intruder::stagedWritable);
    EXPECT_FALSE(Intruder::stagedMovable);
    EXPECT_TRUE(Bytes(target) == newProgram);
    EXPECT_FALSE(testsupport::FileExists(Intruder::staging + ".moved"));
}

TEST_F(ProgramReplacerTest, UnsignedOrNoProgramOrOtherBuild_TouchesNothing)
{
    std::string withoutPe = newProgram;
    withoutPe[0x41] = 'X';
    std::string farOffset = newProgram;
    farOffset[0x3D] = 0x70;  // new header beyond the end of the file
    for (const std::string& bytes :
        {std::string("<html>404 Not Found</html>"), std::string("MZ"), withoutPe, farOffset, std::string()}) {
        ASSERT_NO_FATAL_FAILURE(Download(bytes));
        EXPECT_EQ(Replace(target), Result::NotAProgram);
        ExpectUntouched();
    }

    // Signed, but for the other processor: the library beside it could not be loaded.
    std::string otherBuild = newProgram;
    otherBuild[0x44] = static_cast<char>(ProgramReplacer::kOwnMachine == IMAGE_FILE_MACHINE_AMD64 ? 0x4C : 0x64);
    otherBuild[0x45] = static_cast<char>(ProgramReplacer::kOwnMachine == IMAGE_FILE_MACHINE_AMD64 ? 0x01 : 0x86);
    ASSERT_NO_FATAL_FAILURE(Download(otherBuild));
    EXPECT_EQ(Replace(target), Result::OtherBuild);
    ExpectUntouched();

    ASSERT_NO_FATAL_FAILURE(Download(newProgram));
    ASSERT_TRUE(testsupport::WriteFileBytes(update.signature, updatertest::TestSignature("1.9.00", newProgram)));
    EXPECT_EQ(Replace(target), Result::NotSigned) << "signed for another version";
    ExpectUntouched();
    update.signature.clear();
    EXPECT_EQ(Replace(target), Result::NotSigned) << "no signature";
    ExpectUntouched();
}

TEST_F(ProgramReplacerTest, LockedReadOnlyOrUnreachableTarget_KeepsTheInstalledProgram)
{
    HANDLE lock = ::CreateFileA(target.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Replace(target), Result::NotReplaced);
    ::CloseHandle(lock);
    ExpectUntouched();

    ::SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(Replace(target), Result::NotReplaced);
    ::SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_NORMAL);
    ExpectUntouched();

    EXPECT_EQ(Replace(folder.Child("no folder\\kestrova.exe")), Result::NotReplaced);
    folder.MakeFolder("a folder");
    EXPECT_EQ(Replace(folder.Child("a folder")), Result::NotReplaced);
    EXPECT_EQ(Replace(""), Result::NoTarget);
    update.program = folder.Child("missing.tmp");
    EXPECT_EQ(Replace(target), Result::NotReplaced);
    ExpectUntouched();
}

}  // namespace
