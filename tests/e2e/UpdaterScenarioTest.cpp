// The real kvupdate.exe against the loopback update server, used as a user would: the Update
// button and the message boxes are clicked with the real mouse, the dialog is closed with Alt+F4.
// It is the build's copy that trusts the tests' key, so that the updates served can be signed.
// The installed program it replaces is a copy of the real kestrova.exe that has run once from its
// own folder, so the hand-over through the registry is the real one too.
#include "tests/support/HostInput.h"
#include "tests/support/ProcessWindows.h"
#include "tests/support/ProgramProcess.h"
#include "tests/support/TestSupport.h"
#include "tests/updater/UpdaterTestSupport.h"
#include "updater/UpdateLocation.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace {

using testsupport::ClickWindow;
using testsupport::ReadFileBytes;
using testsupport::WaitUntil;
using testsupport::WindowText;
using testsupport::Xdotool;

const char kDialogCaption[] = "KVA Update Downloader 1.0";
const int kLatestLabel = 1003;
const int kInstalledLabel = 1004;
const int kActionButton = IDOK;

const char kNewVersion[] = "New Version Detected! \nPlease make sure you have closed Kestrova.";
const char kComplete[] = "Download Complete!";
const char kFailed[] =
    "Download Failed. Try Agian.\n\nProbably Cause: Update Information in use or \nstopped downloading on request.";
const char kNotSigned[] =
    "Update Failed!\n\nThe download is not signed by Kestrova. The installed program was left as it was.";

const DWORD kWindowWaitMs = 20000;
const DWORD kDownloadWaitMs = 60000;

std::set<std::string> FolderEntries(const std::string& folder)
{
    std::set<std::string> names;
    WIN32_FIND_DATAA match;
    HANDLE find = ::FindFirstFileA((folder + "\\*").c_str(), &match);
    if (find == INVALID_HANDLE_VALUE)
        return names;
    do {
        std::string name = match.cFileName;
        if (name != "." && name != "..")
            names.insert(name);
    } while (::FindNextFileA(find, &match));
    ::FindClose(find);
    return names;
}

class UpdaterScenarioTest : public testsupport::RegistryFixture {
protected:
    void SetUp() override
    {
        RegistryFixture::SetUp();
        ASSERT_TRUE(site_.Available()) << "the loopback update server is not running (KESTROVA_TEST_SERVER)";
        installed_ = install_.Child("kestrova.exe");
        Xdotool("mousemove 5 5", 50);
    }

    // Starts kvupdate.exe pointed at the test site and waits for its dialog.
    void StartUpdater(const std::string& program = updatertest::TestKeyFolder() + "kvupdate.exe")
    {
        ASSERT_TRUE(updater_.Start(program, "", updater::UpdateLocation::kEnvironmentVariable, site_.BaseUrl()));
        dialog_ = testsupport::WaitForProcessWindow(updater_.Id(), kDialogCaption, kWindowWaitMs);
        ASSERT_NE(dialog_, nullptr) << "the update dialog did not appear";
    }

    // The next message box of the updater: its text, after a real click on its OK button.
    std::string AnswerBox(DWORD timeoutMs)
    {
        testsupport::AnsweredBox box = testsupport::AnswerProcessMessageBox(updater_.Id(), timeoutMs);
        if (!box.shown)
            return "<no message box>";
        return box.closed ? box.text : box.text + " <still up after OK>";
    }

    void CloseUpdater()
    {
        DWORD exitCode = 12345;
        ASSERT_TRUE(testsupport::CloseWithAltF4(dialog_, updater_, kWindowWaitMs, exitCode))
            << "Alt+F4 should end the updater";
        EXPECT_EQ(exitCode, 0u);
    }

    std::string Action() const { return WindowText(::GetDlgItem(dialog_, kActionButton)); }

    updatertest::TestSite site_;
    testsupport::TestFolder install_;
    std::string installed_;
    testsupport::ChildProcess updater_;
    HWND dialog_ = nullptr;
};

// The program lives in a folder named outside any single-byte code page: both programs keep its
// path through the registry's ANSI functions in the UTF-8 code page.
TEST_F(UpdaterScenarioTest, ANewerVersionIsDownloadedAndReplacesTheProgramKestrovaLastRanAs)
{
    const std::string folder = install_.Child(testsupport::UnicodeNames()[1] + " " + testsupport::UnicodeNames()[4]);
    install_.MakeFolder(testsupport::UnicodeNames()[1] + " " + testsupport::UnicodeNames()[4]);
    installed_ = folder + "\\kestrova.exe";
    // The user's copy of the program runs once from its folder and is closed: it records itself.
    std::string program;
    ASSERT_TRUE(ReadFileBytes(testsupport::ProgramPath(), program));
    ASSERT_TRUE(::CopyFileA(testsupport::ProgramPath().c_str(), installed_.c_str(), TRUE));
    {
        testsupport::ChildProcess kestrova;
        ASSERT_TRUE(kestrova.Start(installed_, folder));
        HWND window = testsupport::WaitForMainWindow(kestrova.Id(), kWindowWaitMs);
        ASSERT_NE(window, nullptr) << "the installed copy did not start";
        DWORD exitCode = 12345;
        ASSERT_TRUE(testsupport::CloseWithAltF4(window, kestrova, kWindowWaitMs, exitCode))
            << "Alt+F4 should end the program";
    }
    ASSERT_EQ(ReadRaw("", "FilePath"), installed_);
    ASSERT_EQ(ReadRaw("", "Version"), "1.8.00");

    // Large enough, and sent slowly enough, for the download to report progress on the way.
    const std::string update = updatertest::FakeProgram(300 * 1024, 'n');
    site_.PutSignedProgram("1.8.01\r\n", update);
    site_.Mark(updater::UpdateLocation::kProgramFileName, "trickle");

    ASSERT_NO_FATAL_FAILURE(StartUpdater());
    EXPECT_EQ(WindowText(::GetDlgItem(dialog_, kInstalledLabel)), " Installed Version: 1.8.00");
    EXPECT_EQ(Action(), "Update");
    ASSERT_TRUE(ClickWindow(::GetDlgItem(dialog_, kActionButton)));

    EXPECT_EQ(AnswerBox(kDownloadWaitMs), kNewVersion);
    EXPECT_EQ(WindowText(::GetDlgItem(dialog_, kLatestLabel)), " Latest Version: 1.8.01");
    EXPECT_EQ(AnswerBox(kDownloadWaitMs), kComplete);
    EXPECT_TRUE(WaitUntil([&] { return Action() == "Update"; }, 5000)) << "the dialog should be idle again";

    std::string now;
    ASSERT_TRUE(ReadFileBytes(installed_, now)) << "no program left at " << installed_;
    EXPECT_TRUE(now == update) << "the installed program is not the downloaded one (" << now.size() << " bytes)";
    EXPECT_EQ(FolderEntries(folder), (std::set<std::string> {"kestrova.exe"}))
        << "the replacement leaves nothing else behind";

    ASSERT_NO_FATAL_FAILURE(CloseUpdater());
}

// The installation in a folder the user cannot write (drive U:, a read-only volume holding kvupdate
// and kestrova.exe; tests/updater/read-only-install.sh): kvupdate hands the checked update to a copy
// of itself started with administrator rights. Wine starts that copy without them, so it cannot
// write either, and the user is told so, not asked to close Kestrova.
TEST_F(UpdaterScenarioTest, AnInstallationTheUserCannotWriteIsLeftToAnElevatedCopy)
{
    std::string before;
    if (!ReadFileBytes("U:\\kestrova.exe", before))
        GTEST_SKIP() << "no read-only drive U: (made by tests/updater/read-only-install.sh as root)";
    WriteRaw("", "FilePath", "U:\\kestrova.exe");
    WriteRaw("", "Version", "1.8.00");
    site_.PutSignedProgram("1.8.01", updatertest::FakeProgram(100 * 1024, 'n'));

    ASSERT_NO_FATAL_FAILURE(StartUpdater("U:\\kvupdate.exe"));
    ASSERT_TRUE(ClickWindow(::GetDlgItem(dialog_, kActionButton)));
    EXPECT_EQ(AnswerBox(kDownloadWaitMs), kNewVersion);
    EXPECT_EQ(AnswerBox(kDownloadWaitMs),
        "Update Failed!\n\nThe folder of the installed program cannot be written, not even with administrator "
        "rights:\nU:\\\nThe installed program was left as it was.");
    EXPECT_TRUE(WaitUntil([&] { return Action() == "Update"; }, 5000)) << "the dialog should be idle again";

    std::string now;
    EXPECT_TRUE(ReadFileBytes("U:\\kestrova.exe", now) && now == before);
    char temp[MAX_PATH] = {};
    ::GetTempPathA(MAX_PATH, temp);
    std::string staging = std::string(temp) + "kvupdate" + std::to_string(updater_.Id()) + "_*";
    WIN32_FIND_DATAA match;
    HANDLE find = ::FindFirstFileA(staging.c_str(), &match);
    EXPECT_EQ(find, INVALID_HANDLE_VALUE) << "the copy for the elevated step was left in " << temp;
    if (find != INVALID_HANDLE_VALUE)
        ::FindClose(find);
    ASSERT_NO_FATAL_FAILURE(CloseUpdater());
}

// The server's answer to the request for the new program file or its signature.
struct BrokenDownload {
    const char* name;
    const char* file;    // the program or its signature
    const char* marker;  // marker file beside it (tests/updater/test_server.py)
    const char* content;
    const char* message;  // what the user is told
};

void PrintTo(const BrokenDownload& download, std::ostream* out)
{
    *out << download.name;
}

class FailedDownloadTest : public UpdaterScenarioTest, public ::testing::WithParamInterface<BrokenDownload> { };

TEST_P(FailedDownloadTest, IsReportedAndLeavesTheInstalledProgramAsItWas)
{
    const std::string old = updatertest::FakeProgram(4096, 'o');
    ASSERT_TRUE(testsupport::WriteFileBytes(installed_, old));
    WriteRaw("", "FilePath", installed_);
    WriteRaw("", "Version", "1.8.00");
    site_.PutSignedProgram("1.8.01", updatertest::FakeProgram(200 * 1024, 'n'));
    site_.Mark(GetParam().file, GetParam().marker, GetParam().content);

    ASSERT_NO_FATAL_FAILURE(StartUpdater());
    ASSERT_TRUE(ClickWindow(::GetDlgItem(dialog_, kActionButton)));
    EXPECT_EQ(AnswerBox(kDownloadWaitMs), kNewVersion);
    EXPECT_EQ(AnswerBox(kDownloadWaitMs), GetParam().message);
    EXPECT_TRUE(WaitUntil([&] { return Action() == "Update"; }, 5000)) << "the dialog should be idle again";

    std::string now;
    ASSERT_TRUE(ReadFileBytes(installed_, now)) << "the installed program is gone";
    EXPECT_TRUE(now == old) << "the installed program was changed (" << now.size() << " bytes)";
    EXPECT_EQ(FolderEntries(install_.Path()), (std::set<std::string> {"kestrova.exe"}));
    EXPECT_EQ(testsupport::WaitForProcessMessageBox(updater_.Id(), 500), nullptr) << "a further message came up";

    ASSERT_NO_FATAL_FAILURE(CloseUpdater());
}

INSTANTIATE_TEST_SUITE_P(Server, FailedDownloadTest,
    ::testing::Values(BrokenDownload {"NotFound", updater::UpdateLocation::kProgramFileName, "status", "404", kFailed},
        BrokenDownload {"ConnectionDropped", updater::UpdateLocation::kProgramFileName, "drop", "", kFailed},
        BrokenDownload {"NoSignature", updater::UpdateLocation::kSignatureFileName, "status", "404", kNotSigned}),
    [](const ::testing::TestParamInfo<BrokenDownload>& info) { return std::string(info.param.name); });

}  // namespace
