// The real, shipped kvupdate.exe as its own process, pointed at the test server through the
// environment.
#include "tests/support/ProcessWindows.h"
#include "tests/support/TestFolder.h"
#include "tests/support/TestSupport.h"
#include "tests/updater/UpdaterTestSupport.h"
#include "updater/ProgramReplacer.h"
#include "updater/UpdateLocation.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const int kLatestLabel = 1003;
const int kInstalledLabel = 1004;

class KvUpdateProcessTest : public testsupport::RegistryFixture {
protected:
    void SetUp() override
    {
        RegistryFixture::SetUp();
        ASSERT_TRUE(site.Available());
        WriteRaw("", "Version", "1.8.00");
    }

    // Starts the shipped kvupdate.exe and waits for its dialog.
    void Start()
    {
        ASSERT_TRUE(updater.Start(testsupport::BinFolder() + "kvupdate.exe", "",
            updater::UpdateLocation::kEnvironmentVariable, site.BaseUrl()));
        dialog = testsupport::WaitForProcessWindow(updater.Id(), "KVA Update Downloader 1.0", 30000);
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(testsupport::WindowText(::GetDlgItem(dialog, kInstalledLabel), 2000), " Installed Version: 1.8.00");
    }

    void ClickUpdate()
    {
        // The button's click as it reaches the dialog (a posted BM_CLICK needs the mouse capture,
        // which a window of another process does not always get under Wine).
        ::PostMessageA(
            dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(::GetDlgItem(dialog, IDOK)));
    }

    // Answers the updater's next message box with a click on its OK button, as a user would.
    void ExpectBox(const std::string& text, DWORD timeoutMs)
    {
        testsupport::AnsweredBox box = testsupport::AnswerProcessMessageBox(updater.Id(), timeoutMs);
        ASSERT_TRUE(box.shown) << "no box came; expected: " << text;
        EXPECT_EQ(box.caption, "kvupdate");
        EXPECT_EQ(box.text, text);
        EXPECT_TRUE(box.closed);
    }

    void ExpectClosesWithZero()
    {
        ::PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
        DWORD exitCode = 1;
        EXPECT_TRUE(updater.WaitForExit(10000, exitCode));
        EXPECT_EQ(exitCode, 0u);
    }

    updatertest::TestSite site;
    testsupport::ChildProcess updater;
    HWND dialog = nullptr;
};

TEST_F(KvUpdateProcessTest, ChecksTheVersionAtTheLocationFromTheEnvironmentAndEndsWithZero)
{
    site.Put("newversion.txt", "1.8.00\r\n");
    ASSERT_NO_FATAL_FAILURE(Start());
    ClickUpdate();
    ASSERT_NO_FATAL_FAILURE(ExpectBox("You have the lastest version.", 20000));
    ASSERT_TRUE(testsupport::WaitUntil(
        [&] { return testsupport::WindowText(::GetDlgItem(dialog, kLatestLabel), 2000) == " Latest Version: 1.8.00"; },
        5000));
    ExpectClosesWithZero();
}

// The shipped program trusts the release key alone: an update signed with any other key, the
// tests' own included, is refused and the installed program stays as it was.
TEST_F(KvUpdateProcessTest, RefusesAnUpdateSignedWithAnotherKey)
{
    testsupport::TestFolder install;
    const std::string installed = install.Child("kestrova.exe");
    const std::string old = updatertest::FakeProgram(3000, 'o');
    ASSERT_TRUE(testsupport::WriteFileBytes(installed, old));
    WriteRaw("", "FilePath", installed);
    site.PutSignedProgram("1.9.00", updatertest::FakeProgram(3000, 'n'));

    ASSERT_NO_FATAL_FAILURE(Start());
    ClickUpdate();
    ASSERT_NO_FATAL_FAILURE(ExpectBox("New Version Detected! \nPlease make sure you have closed Kestrova.", 30000));
    ASSERT_NO_FATAL_FAILURE(ExpectBox(
        "Update Failed!\n\nThe download is not signed by Kestrova. The installed program was left as it was.", 30000));
    std::string now;
    ASSERT_TRUE(testsupport::ReadFileBytes(installed, now));
    EXPECT_TRUE(now == old) << "the installed program was changed";
    EXPECT_FALSE(testsupport::FileExists(installed + ".new"));
    ExpectClosesWithZero();
}

// The step a kvupdate started with administrator rights does, run as Windows starts it (without the
// prompt, which Wine does not show): the copy of kvupdate in an installation replaces the kestrova.exe
// beside itself, never the program the user's registry names, and only with a program signed for a
// version not older than the installed one. It shows no window; its result is its exit code.
TEST_F(KvUpdateProcessTest, TheElevatedStepReplacesOnlyTheProgramBesideItself)
{
    using Result = updater::ProgramReplacer::Result;
    testsupport::TestFolder install;
    testsupport::TestFolder staging;
    testsupport::TestFolder elsewhere;
    const std::string old = updatertest::FakeProgram(3000, 'o');
    const std::string program = updatertest::FakeProgram(3000, 'n');
    ASSERT_TRUE(::CopyFileA(
        (updatertest::TestKeyFolder() + "kvupdate.exe").c_str(), install.Child("kvupdate.exe").c_str(), FALSE));
    ASSERT_TRUE(testsupport::WriteFileBytes(install.Child("kestrova.exe"), old));
    ASSERT_TRUE(testsupport::WriteFileBytes(elsewhere.Child("kestrova.exe"), old));
    WriteRaw("", "FilePath", elsewhere.Child("kestrova.exe"));
    struct Case {
        const char* version;
        const char* signedVersion;
        Result result;
    } cases[] = {
        {"1.9.00", "1.9.01", Result::NotSigned},
        {"1.7.99", "1.7.99", Result::OlderVersion},
        {"1.9.00", "1.9.00", Result::Replaced},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.version);
        staging.WriteFile(updater::UpdateLocation::kProgramFileName, program);
        staging.WriteFile(
            updater::UpdateLocation::kSignatureFileName, updatertest::TestSignature(c.signedVersion, program));
        staging.WriteFile("newversion.txt", c.version);
        ASSERT_TRUE(updater.StartCommand("\"" + install.Child("kvupdate.exe") + "\" /replace \"" +
            staging.Child(updater::UpdateLocation::kProgramFileName) + "\""));
        DWORD exitCode = 12345;
        ASSERT_TRUE(updater.WaitForExit(20000, exitCode));
        EXPECT_EQ(exitCode, static_cast<DWORD>(c.result));
        std::string now;
        ASSERT_TRUE(testsupport::ReadFileBytes(install.Child("kestrova.exe"), now));
        EXPECT_TRUE(now == (c.result == Result::Replaced ? program : old));
        EXPECT_FALSE(install.Exists("kestrova.exe.new"));
        EXPECT_FALSE(install.Exists("kestrova.exe.old"));
    }
    std::string other;
    ASSERT_TRUE(testsupport::ReadFileBytes(elsewhere.Child("kestrova.exe"), other));
    EXPECT_TRUE(other == old) << "the program the registry names was changed";
}

}  // namespace
