// The update dialog driven as a user drives it, against the loopback test server.
#include "framework/Dpi.h"
#include "framework/ScaledPictures.h"
#include "framework/Text.h"
#include "resources/kvupdate/resource.h"
#include "tests/support/ImportPatch.h"
#include "tests/support/LayoutCheck.h"
#include "tests/support/TestSupport.h"
#include "tests/updater/UpdaterTestSupport.h"
#include "updater/ProgressRecord.h"
#include "updater/UpdateLocation.h"
#include "updater/UpdaterApp.h"

#include <commctrl.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace {

// The application object the framework's dialogs and message boxes need.
updater::UpdaterApp testApp;

const char kDownloadFailed[] =
    "Download Failed. Try Agian.\n\nProbably Cause: Update Information in use or \nstopped downloading on request.";
const char kNewVersion[] = "New Version Detected! \nPlease make sure you have closed Kestrova.";
const char kLatest[] = "You have the lastest version.";
const char kComplete[] = "Download Complete!";
const char kNotSigned[] =
    "Update Failed!\n\nThe download is not signed by Kestrova. The installed program was left as it was.";
const DWORD kBoxTimeoutMs = 20000;

using updatertest::BoxRecorder;
using updatertest::DialogThread;
using updatertest::TestSite;

class UpdateDialogTest : public testsupport::RegistryFixture {
protected:
    void SetUp() override
    {
        RegistryFixture::SetUp();
        ASSERT_TRUE(site.Available()) << "the test server is not running (KESTROVA_TEST_SERVER; see "
                                         "tests/updater/test_server.py)";
        UseLocation(site.BaseUrl());
        installed = folder.Child("kestrova.exe");
        testsupport::WriteFileBytes(installed, kOldProgram);
        WriteRaw("", "FilePath", installed);
        WriteRaw("", "Version", "1.8.00");
    }
    void TearDown() override
    {
        ::SetEnvironmentVariableA(updater::UpdateLocation::kEnvironmentVariable, nullptr);
        RegistryFixture::TearDown();
    }
    static void UseLocation(const std::string& url)
    {
        ::SetEnvironmentVariableA(updater::UpdateLocation::kEnvironmentVariable, url.c_str());
    }
    std::string InstalledBytes() const
    {
        std::string bytes;
        testsupport::ReadFileBytes(installed, bytes);
        return bytes;
    }
    // The dialog is idle again: caption "Update", Close enabled, progress bar empty.
    static void ExpectIdle(const DialogThread& dialog)
    {
        EXPECT_TRUE(testsupport::WaitUntil([&] { return dialog.Caption() == "Update"; }, 5000, updatertest::kPollMs));
        EXPECT_FALSE(dialog.IsCloseGreyed());
        EXPECT_EQ(dialog.ProgressPosition(), 0);
        EXPECT_EQ(dialog.ItemText(IDC_UPDATE_PERCENT), "0%");
    }
    // Closes the idle dialog with the system menu's Close.
    static void ExpectCloses(const DialogThread& dialog)
    {
        dialog.SystemClose();
        EXPECT_TRUE(dialog.WaitClosed(5000));
    }

    const std::string kOldProgram = updatertest::FakeProgram(1000, 'o');
    TestSite site;
    testsupport::TestFolder folder;
    std::string installed;
};

TEST_F(UpdateDialogTest, OpensIdleWithTheInstalledVersion)
{
    DialogThread dialog;
    ASSERT_NE(dialog.Handle(), nullptr);
    EXPECT_EQ(testsupport::WindowText(dialog.Handle(), 2000), "KVA Update Downloader 1.0");
    EXPECT_EQ(dialog.ItemText(IDC_UPDATE_INSTALLED), " Installed Version: 1.8.00");
    EXPECT_EQ(dialog.ItemText(IDC_UPDATE_LATEST), " Latest Version:");
    EXPECT_FALSE(::IsWindowVisible(dialog.Item(IDC_UPDATE_LOG)));
    EXPECT_FALSE(::IsWindowVisible(dialog.Item(IDC_UPDATE_PERCENT)));
    EXPECT_EQ(dialog.Caption(), "Update");
    EXPECT_FALSE(dialog.IsCloseGreyed());
    dialog.PressEscape();
    EXPECT_TRUE(dialog.WaitClosed(5000));
    EXPECT_EQ(dialog.Result(), IDCANCEL);
}

TEST_F(UpdateDialogTest, SameVersion_ReportsTheLatestAndStaysIdle)
{
    site.Put("newversion.txt", "1.8.00 released; whatever follows the sixth byte is ignored");
    site.Put(updater::UpdateLocation::kProgramFileName, updatertest::FakeProgram(500, 'n'));
    DialogThread dialog;
    BoxRecorder boxes(dialog);
    dialog.Click();
    ASSERT_TRUE(boxes.WaitFor(1, kBoxTimeoutMs));
    EXPECT_EQ(boxes.Seen()[0].text, kLatest);
    EXPECT_EQ(boxes.Seen()[0].caption, "updater_tests");
    ExpectIdle(dialog);
    EXPECT_EQ(dialog.ItemText(IDC_UPDATE_LATEST), " Latest Version: 1.8.00");
    ::Sleep(300);
    EXPECT_EQ(boxes.Count(), 1u) << boxes.Summary();
    EXPECT_EQ(InstalledBytes(), kOldProgram);
    ExpectCloses(dialog);
}

TEST_F(UpdateDialogTest, NewVersion_ReplacesTheProgramWithTheDownloadedBytes)
{
    std::string program = updatertest::FakeProgram(300000, 'n');
    site.PutSignedProgram("1.9.00", program);
    DialogThread dialog;
    BoxRecorder boxes(dialog);
    dialog.Click();
    ASSERT_TRUE(boxes.WaitFor(2, kBoxTimeoutMs)) << boxes.Summary();
    EXPECT_EQ(boxes.Seen()[0].text, kNewVersion);
    EXPECT_EQ(boxes.Seen()[1].text, kComplete);
    // The program's download reported its progress into the log.
    EXPECT_NE(boxes.Seen()[1].note.find("Begin download data  "), std::string::npos) << boxes.Seen()[1].note;
    EXPECT_NE(boxes.Seen()[1].note.find(" of 300128\r\n"), std::string::npos) << boxes.Seen()[1].note;
    ExpectIdle(dialog);
    EXPECT_EQ(dialog.ItemText(IDC_UPDATE_LATEST), " Latest Version: 1.9.00");
    EXPECT_EQ(dialog.ItemText(IDC_UPDATE_LOG), "");
    EXPECT_TRUE(InstalledBytes() == program);
    EXPECT_FALSE(testsupport::FileExists(installed + ".new"));
    EXPECT_FALSE(testsupport::FileExists(installed + ".old"));
    ExpectCloses(dialog);
}

// A version file naming an older version still counts as new, but the program signed for it does
// not replace a newer installed one: no rollback to an old signed build.
TEST_F(UpdateDialogTest, OlderSignedVersion_IsAnnouncedButRefused)
{
    site.PutSignedProgram("1.7.99", updatertest::FakeProgram(2000, 'n'));
    DialogThread dialog;
    BoxRecorder boxes(dialog);
    dialog.Click();
    ASSERT_TRUE(boxes.WaitFor(2, kBoxTimeoutMs)) << boxes.Summary();
    EXPECT_EQ(boxes.Seen()[0].text, kNewVersion);
    EXPECT_EQ(boxes.Seen()[1].text,
        "Update Failed!\n\nThe update is version 1.7.99, older than the installed version 1.8.00. The installed "
        "program was left as it was.");
    ExpectIdle(dialog);
    ExpectCloses(dialog);
    EXPECT_EQ(InstalledBytes(), kOldProgram);
    EXPECT_FALSE(testsupport::FileExists(installed + ".new"));
}

// "1.01" and a line break fill five of the six bytes: the line break is part of the version text.
TEST_F(UpdateDialogTest, LineBreakCountsAsDifferent_And404ForTheProgramLeavesItAlone)
{
    WriteRaw("", "Version", "1.01");
    site.Put("newversion.txt", "1.01\n");
    site.Mark(updater::UpdateLocation::kProgramFileName, "status", "404");
    DialogThread dialog;
    BoxRecorder boxes(dialog);
    dialog.Click();
    ASSERT_TRUE(boxes.WaitFor(2, kBoxTimeoutMs)) << boxes.Summary();
    EXPECT_EQ(boxes.Seen()[0].text, kNewVersion);
    EXPECT_EQ(boxes.Seen()[1].text, kDownloadFailed);
    ExpectIdle(dialog);
    EXPECT_EQ(InstalledBytes(), kOldProgram);
    ExpectCloses(dialog);
}

// The service reports success for a body cut short by a dropped connection and hands over the part
// that came: that part must not replace the installed program.
TEST_F(UpdateDialogTest, ConnectionDroppedDuringTheProgram_IsAFailedDownloadAndLeavesItAlone)
{
    site.PutSignedProgram("1.9.00", updatertest::FakeProgram(64 * 1024, 'n'));
    site.Mark(updater::UpdateLocation::kProgramFileName, "drop");
    DialogThread dialog;
    BoxRecorder boxes(dialog);
    dialog.Click();
    ASSERT_TRUE(boxes.WaitFor(2, kBoxTimeoutMs)) << boxes.Summary();
    EXPECT_EQ(boxes.Seen()[0].text, kNewVersion);
    EXPECT_EQ(boxes.Seen()[1].text, kDownloadFailed);
    ExpectIdle(dialog);
    EXPECT_EQ(InstalledBytes(), kOldProgram);
    ExpectCloses(dialog);
}

TEST_F(UpdateDialogTest, HttpErrorsAndAServerThatIsDown_AreFailedDownloads)
{
    site.Mark("newversion.txt", "status", "404");
    TestSite serverError;
    serverError.Mark("newversion.txt", "status", "500");
    for (std::string location : {site.BaseUrl(), serverError.BaseUrl(), std::string("http://127.0.0.1:1/")}) {
        SCOPED_TRACE(location);
        UseLocation(location);
        DialogThread dialog;
        BoxRecorder boxes(dialog);
        dialog.Click();
        ASSERT_TRUE(boxes.WaitFor(1, kBoxTimeoutMs));
        EXPECT_EQ(boxes.Seen()[0].text, kDownloadFailed);
        ExpectIdle(dialog);
        EXPECT_EQ(dialog.ItemText(IDC_UPDATE_LATEST), " Latest Version:");
        ExpectCloses(dialog);
    }
}

TEST_F(UpdateDialogTest, GarbageLocation_AsksForAConnection)
{
    UseLocation("no such place");
    DialogThread dialog;
    BoxRecorder boxes(dialog);
    dialog.Click();
    ASSERT_TRUE(boxes.WaitFor(1, kBoxTimeoutMs));
    EXPECT_EQ(boxes.Seen()[0].text, "Please connect to the Internet.");
    ExpectIdle(dialog);
    ExpectCloses(dialog);
}

TEST_F(UpdateDialogTest, LockedProgram_IsKeptAndTheFailureIsReported)
{
    site.PutSignedProgram("1.9.00", updatertest::FakeProgram(2000, 'n'));
    // Held open without sharing, as by a program that is running.
    HANDLE lock = ::CreateFileA(installed.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    {
        DialogThread dialog;
        BoxRecorder boxes(dialog);
        dialog.Click();
        ASSERT_TRUE(boxes.WaitFor(2, kBoxTimeoutMs)) << boxes.Summary();
        EXPECT_EQ(boxes.Seen()[1].text.rfind("Update Failed!", 0), 0u) << boxes.Seen()[1].text;
        EXPECT_NE(boxes.Seen()[1].text.find("could not be replaced"), std::string::npos);
        ExpectIdle(dialog);
        ExpectCloses(dialog);
    }
    ::CloseHandle(lock);
    EXPECT_EQ(InstalledBytes(), kOldProgram);
    EXPECT_FALSE(testsupport::FileExists(installed + ".new"));
}

TEST_F(UpdateDialogTest, UnwritableLocationOrNoProgramInTheDownload_ReportFailure)
{
    struct Case {
        const char* what;
        std::string filePath;
        std::string download;
        const char* reason;
    } cases[] = {
        {"folder missing", folder.Child("gone\\kestrova.exe"), updatertest::FakeProgram(2000, 'n'),
            "could not be replaced"},
        // Signed, but no program: a release made of the wrong file.
        {"a signed file that is no program", installed, "<html><body>Not here</body></html>", "not a program"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteRaw("", "FilePath", c.filePath);
        site.PutSignedProgram("1.9.00", c.download);
        DialogThread dialog;
        BoxRecorder boxes(dialog);
        dialog.Click();
        ASSERT_TRUE(boxes.WaitFor(2, kBoxTimeoutMs)) << boxes.Summary();
        EXPECT_EQ(boxes.Seen()[1].text.rfind("Update Failed!", 0), 0u) << boxes.Seen()[1].text;
        EXPECT_NE(boxes.Seen()[1].text.find(c.reason), std::string::npos) << boxes.Seen()[1].text;
        ExpectIdle(dialog);
        ExpectCloses(dialog);
        EXPECT_EQ(InstalledBytes(), kOldProgram);
    }
    EXPECT_FALSE(testsupport::FileExists(folder.Child("gone")));
}

// Requests to start a program elevated, refused as a user who declines the prompt would.
struct ElevationRequests {
    static BOOL WINAPI Decline(SHELLEXECUTEINFOW* request)
    {
        ++count;
        verb = request->lpVerb != nullptr ? fw::Narrow(request->lpVerb) : "";
        file = fw::Narrow(request->lpFile);
        parameters = fw::Narrow(request->lpParameters);
        size_t open = parameters.find('"');
        std::string staged = parameters.substr(open + 1, parameters.rfind('"') - open - 1);
        stagedBytes.clear();
        testsupport::ReadFileBytes(staged, stagedBytes);
        ::SetLastError(ERROR_CANCELLED);
        return FALSE;
    }
    static int count;
    static std::string verb, file, parameters, stagedBytes;
};
int ElevationRequests::count = 0;
std::string ElevationRequests::verb, ElevationRequests::file, ElevationRequests::parameters,
    ElevationRequests::stagedBytes;

// Drive U: is an installation the user cannot write (tests/updater/read-only-install.sh). kvupdate
// asks for administrator rights to run its copy there on the checked update, and says plainly when
// they are refused; a program in such a folder that is not beside the updater is only reported.
TEST_F(UpdateDialogTest, InstallationTheUserCannotWrite_AsksForAdministratorRights)
{
    std::string before;
    if (!testsupport::ReadFileBytes("U:\\kestrova.exe", before))
        GTEST_SKIP() << "no read-only drive U: (made by tests/updater/read-only-install.sh as root)";
    const std::string program = updatertest::FakeProgram(3000, 'n');
    site.PutSignedProgram("1.9.00", program);
    WriteRaw("", "FilePath", "U:\\kestrova.exe");
    testsupport::ImportPatch patch(
        "shell32.dll", "ShellExecuteExW", reinterpret_cast<void*>(&ElevationRequests::Decline));
    ASSERT_TRUE(patch.Patched());
    struct Case {
        const char* updater;
        int requests;
        const char* message;
    } cases[] = {
        {"U:\\kvupdate.exe", 1,
            "Update Failed!\n\nAdministrator rights are needed to replace the installed program in:\nU:\\\nThey "
            "were not given. The installed program was left as it was."},
        {"", 0,
            "Update Failed!\n\nThe folder of the installed program cannot be written:\nU:\\\nThe installed program "
            "was left as it was."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        ElevationRequests::count = 0;
        DialogThread dialog(c.updater);
        BoxRecorder boxes(dialog);
        dialog.Click();
        ASSERT_TRUE(boxes.WaitFor(2, kBoxTimeoutMs)) << boxes.Summary();
        EXPECT_EQ(boxes.Seen()[1].text, c.message);
        EXPECT_EQ(ElevationRequests::count, c.requests);
        ExpectIdle(dialog);
        ExpectCloses(dialog);
    }
    EXPECT_EQ(ElevationRequests::verb, "runas");
    EXPECT_EQ(ElevationRequests::file, "U:\\kvupdate.exe");
    EXPECT_EQ(ElevationRequests::parameters.rfind("/replace \"", 0), 0u) << ElevationRequests::parameters;
    EXPECT_TRUE(ElevationRequests::stagedBytes == program) << "the request names a copy of the update";
    std::string staged = ElevationRequests::parameters.substr(10, ElevationRequests::parameters.size() - 11);
    EXPECT_FALSE(testsupport::FileExists(staged)) << staged;
    std::string after;
    EXPECT_TRUE(testsupport::ReadFileBytes("U:\\kestrova.exe", after) && after == before);
}

// Whoever serves the update (the real server, a hostile one, or one an "Update Location" names) must
// not get a program of its own installed.
TEST_F(UpdateDialogTest, AProgramNotSignedWithTheTrustedKey_IsRefusedAndTheInstalledOneKept)
{
    const std::string program = updatertest::FakeProgram(5000, 'n');
    const std::string signature = updatertest::TestSignature("1.9.00", program);
    ASSERT_EQ(signature.size(), 64u);
    struct Case {
        const char* what;
        bool published;     // false: no update.sig on the server (404)
        std::string bytes;  // update.sig
    } cases[] = {
        {"no signature published", false, ""},
        {"the signature of another program", true, updatertest::TestSignature("1.9.00", program + "!")},
        {"the program signed as another version", true, updatertest::TestSignature("1.9.01", program)},
        {"the signature cut short", true, signature.substr(0, 32)},
        {"an error page served as the signature", true, "<html><body>Not here</body></html>"},
    };
    site.Put("newversion.txt", "1.9.00");
    site.Put(updater::UpdateLocation::kProgramFileName, program);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.published)
            site.Put(updater::UpdateLocation::kSignatureFileName, c.bytes);
        DialogThread dialog;
        BoxRecorder boxes(dialog);
        dialog.Click();
        ASSERT_TRUE(boxes.WaitFor(2, kBoxTimeoutMs)) << boxes.Summary();
        EXPECT_EQ(boxes.Seen()[0].text, kNewVersion);
        EXPECT_EQ(boxes.Seen()[1].text, kNotSigned);
        ExpectIdle(dialog);
        ::Sleep(300);
        EXPECT_EQ(boxes.Count(), 2u) << boxes.Summary();
        ExpectCloses(dialog);
        EXPECT_EQ(InstalledBytes(), kOldProgram);
        EXPECT_FALSE(testsupport::FileExists(installed + ".new"));
    }
}

TEST_F(UpdateDialogTest, StopDuringASlowDownload_ReturnsToIdleAtOnceAndStartsNoSecondWorker)
{
    // About 4 MB at 16 KiB every 50 ms: some thirteen seconds of steady progress reports.
    site.Put("newversion.txt", "1.9.00" + std::string(4 << 20, ' '));
    site.Mark("newversion.txt", "trickle");
    DialogThread dialog;
    BoxRecorder boxes(dialog);
    dialog.Click();
    ASSERT_TRUE(testsupport::WaitUntil(
        [&] { return dialog.ItemText(IDC_UPDATE_LOG).find("Downloading data...") != std::string::npos; }, 10000,
        updatertest::kPollMs))
        << dialog.ItemText(IDC_UPDATE_LOG);
    EXPECT_EQ(dialog.Caption(), "Stop");
    EXPECT_TRUE(dialog.IsCloseGreyed());
    EXPECT_TRUE(testsupport::WaitUntil([&] { return dialog.ProgressPosition() > 0; }, 5000, updatertest::kPollMs));

    // Escape and Close do nothing while the download runs.
    dialog.PressEscape();
    dialog.SystemClose();
    ::Sleep(300);
    EXPECT_TRUE(dialog.IsOpen());
    EXPECT_EQ(dialog.Caption(), "Stop");

    dialog.Click();
    EXPECT_EQ(dialog.Caption(), "Update");
    // Pressed again before the finish message: stops again rather than starting a download.
    dialog.Click();
    EXPECT_EQ(dialog.Caption(), "Update");

    ASSERT_TRUE(boxes.WaitFor(1, kBoxTimeoutMs));
    EXPECT_EQ(boxes.Seen()[0].text, kDownloadFailed);
    // The log was emptied at the stop; the report that found the stop request comes before the
    // line that says so, and only one such line comes for two presses.
    const std::string log = boxes.Seen()[0].note;
    ASSERT_GE(log.size(), 11u);
    EXPECT_EQ(log.substr(log.size() - 11), "Canceled.\r\n") << log;
    EXPECT_EQ(log.find("Canceled."), log.rfind("Canceled.")) << log;
    EXPECT_LE(std::count(log.begin(), log.end(), '\n'), 2) << log;
    ExpectIdle(dialog);
    ::Sleep(1000);
    EXPECT_EQ(boxes.Count(), 1u) << boxes.Summary();
    EXPECT_EQ(dialog.Caption(), "Update");
    ExpectCloses(dialog);
}

TEST_F(UpdateDialogTest, StalledServer_StopEndsTheDownloadAndTheDialogCloses)
{
    // Once for the version file, once for the program after the version check, once for the
    // signature after the program.
    TestSite programStalls;
    programStalls.Put("newversion.txt", "1.9.00");
    programStalls.Mark(updater::UpdateLocation::kProgramFileName, "stall");
    TestSite signatureStalls;
    signatureStalls.PutSignedProgram("1.9.00", updatertest::FakeProgram(2000, 'n'));
    signatureStalls.Mark(updater::UpdateLocation::kSignatureFileName, "stall");
    site.Mark("newversion.txt", "stall");
    struct Case {
        std::string location;
        size_t boxesBefore;
    } cases[] = {{site.BaseUrl(), 0}, {programStalls.BaseUrl(), 1}, {signatureStalls.BaseUrl(), 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.location);
        UseLocation(c.location);
        DialogThread dialog;
        BoxRecorder boxes(dialog);
        dialog.Click();
        ASSERT_TRUE(boxes.WaitFor(c.boxesBefore, kBoxTimeoutMs));
        ASSERT_TRUE(testsupport::WaitUntil([&] { return dialog.Caption() == "Stop"; }, 5000, updatertest::kPollMs));
        ::Sleep(700);  // connected and waiting for an answer that never comes
        EXPECT_EQ(boxes.Count(), c.boxesBefore) << boxes.Summary();
        dialog.Click();
        EXPECT_EQ(dialog.Caption(), "Update");
        ASSERT_TRUE(boxes.WaitFor(c.boxesBefore + 1, 5000)) << boxes.Summary();
        EXPECT_EQ(boxes.Seen()[c.boxesBefore].text, kDownloadFailed);
        ExpectIdle(dialog);
        ExpectCloses(dialog);
        EXPECT_EQ(InstalledBytes(), kOldProgram);
    }
}

// Reports handed to the dialog directly: the log line's parts, an unknown status code, and the
// bar's range cut to 16 bits.
TEST_F(UpdateDialogTest, ProgressReports_FormatTheLogAndScaleTheBar)
{
    DialogThread dialog;
    HWND window = dialog.Handle();
    HWND bar = dialog.Item(IDC_UPDATE_PROGRESS);
    auto report = [&](DWORD progress, DWORD maximum, DWORD code, const wchar_t* text) {
        updater::ProgressRecord record {progress, maximum, code, text};
        ::SendMessageA(window, updater::UM_DOWNLOAD_PROGRESS, 0, reinterpret_cast<LPARAM>(&record));
    };
    report(2200, 11000, 5, L"http://x/update.exe");
    EXPECT_EQ(::SendMessageA(bar, PBM_GETRANGE, FALSE, 0), 10);
    EXPECT_EQ(::SendMessageA(bar, PBM_GETPOS, 0, 0), 2);
    report(0, 1100u * 65536u + 5 * 1100u, 25, L"");
    EXPECT_EQ(::SendMessageA(bar, PBM_GETRANGE, FALSE, 0), 5);
    ::SendMessageA(window, updater::UM_DOWNLOAD_PROGRESS, 0, 0);
    EXPECT_EQ(dialog.ItemText(IDC_UPDATE_LOG),
        "Downloading data...  http://x/update.exe  2200 of 11000\r\n"
        "???    0 of 72095100\r\n"
        "Canceled.\r\n");
    dialog.SystemClose();
    EXPECT_TRUE(dialog.WaitClosed(5000));
}

// At the screen's scale (CTest also runs this at LogPixels 120, 144 and 192) nothing overlaps or
// is cut off, and a move to a monitor of another scale gives the dialog the suggested rectangle.
TEST_F(UpdateDialogTest, IsTidyAtTheScreensScale)
{
    DialogThread dialog;
    ASSERT_NE(dialog.Handle(), nullptr);
    EXPECT_EQ(fw::WindowDpi(dialog.Handle()), testsupport::ScreenDpi());
    testsupport::ExpectTidy(dialog.Handle(), {}, "update dialog");
    // Its icons are drawn for the scale it is shown at, also after a move to another.
    auto iconSize = [&](WPARAM which) {
        ICONINFO info {};
        HICON icon = reinterpret_cast<HICON>(::SendMessageA(dialog.Handle(), WM_GETICON, which, 0));
        if (icon == nullptr || !::GetIconInfo(icon, &info))
            return 0;
        BITMAP bitmap {};
        ::GetObjectA(info.hbmColor != nullptr ? info.hbmColor : info.hbmMask, sizeof bitmap, &bitmap);
        for (HBITMAP b : {info.hbmColor, info.hbmMask})
            if (b != nullptr)
                ::DeleteObject(b);
        return static_cast<int>(bitmap.bmWidth);
    };
    EXPECT_EQ(iconSize(ICON_SMALL), fw::ScaledPictures::IconSize(testsupport::ScreenDpi(), false));
    EXPECT_EQ(iconSize(ICON_BIG), fw::ScaledPictures::IconSize(testsupport::ScreenDpi(), true));
    const UINT other = testsupport::ScreenDpi() == 192 ? 96 : 192;
    RECT suggested = testsupport::SendDpiChange(dialog.Handle(), testsupport::ScreenDpi(), other), outer {};
    ::GetWindowRect(dialog.Handle(), &outer);
    EXPECT_TRUE(::EqualRect(&outer, &suggested));
    EXPECT_EQ(iconSize(ICON_SMALL), fw::ScaledPictures::IconSize(other, false));
    dialog.PressEscape();
    EXPECT_TRUE(dialog.WaitClosed(5000));
}

}  // namespace
