// Installs Kestrova with its real installer into the prefix's Program Files, uses the installed
// program as a user would (queue an archive, Execute, dismiss the summary), and uninstalls it again.
// Whatever a test leaves behind is removed in TearDown, so later tests see a clean prefix.
#include "tests/support/ShortcutTarget.h"
#include "tests/support/HostInput.h"
#include "tests/support/ProcessWindows.h"
#include "tests/support/ProgramProcess.h"
#include "tests/support/RemoteListView.h"
#include "tests/support/TestSupport.h"
#include "tests/support/ZipBuilder.h"

#include <windows.h>

#include <commctrl.h>
#include <objbase.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using testsupport::BinFolder;
using testsupport::ClickWindow;
using testsupport::FileExists;
using testsupport::FolderExists;
using testsupport::ReadFileBytes;
using testsupport::RemoteListView;
using testsupport::ShortcutTarget;
using testsupport::WaitUntil;

const char kUninstallKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Kestrova";
const char* const kProgramFiles[] = {"kestrova.exe", "UNZIP32.DLL", "kvupdate.exe"};

// Main window controls (dialog 102).
const int kExplorerList = 1000;
const int kExtractionList = 1006;
const int kSearchButton = 1011;
const int kExecuteButton = 1013;

std::string SetupPath()
{
    return BinFolder() + "..\\release-test\\Kestrova-" KV_PACKAGE_VERSION "-setup.exe";
}

std::string SpecialFolder(int csidl)
{
    char path[MAX_PATH] = {};
    ::SHGetFolderPathA(nullptr, csidl, nullptr, 0, path);
    return path;
}

// The installer puts the product under the Program Files of its own bitness, and so does the
// platform's answer for this test program, which is built for the same machine.
std::string InstallFolder()
{
    return SpecialFolder(CSIDL_PROGRAM_FILES) + "\\Kestrova";
}

std::string StartMenuShortcut()
{
    return SpecialFolder(CSIDL_COMMON_PROGRAMS) + "\\Kestrova.lnk";
}

std::string SendToShortcut()
{
    return SpecialFolder(CSIDL_SENDTO) + "\\Kestrova.lnk";
}

bool UninstallKeyExists()
{
    HKEY key = nullptr;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kUninstallKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    ::RegCloseKey(key);
    return true;
}

std::string UninstallValue(const char* name)
{
    char data[1024] = {};
    DWORD size = sizeof data - 1;
    DWORD type = 0;
    if (::SHGetValueA(HKEY_LOCAL_MACHINE, kUninstallKey, name, &type, data, &size) != ERROR_SUCCESS)
        return "<missing>";
    if (type == REG_DWORD)
        return std::to_string(*reinterpret_cast<DWORD*>(data));
    return data;
}

// Runs a command line to its end; false when it could not start or did not end within `timeoutMs`.
bool RunAndWait(const std::string& commandLine, DWORD timeoutMs, DWORD& exitCode)
{
    testsupport::ChildProcess process;
    return process.StartCommand(commandLine) && process.WaitForExit(timeoutMs, exitCode);
}

class InstallerTest : public testsupport::RegistryFixture {
protected:
    void SetUp() override
    {
        RegistryFixture::SetUp();
        ::CoInitialize(nullptr);
        RemoveInstallation();
        ASSERT_TRUE(FileExists(SetupPath())) << "the installer was not built: " << SetupPath();
    }
    void TearDown() override
    {
        program_.Close();
        // An uninstaller copy may still be at work: let it finish before sweeping up after it.
        WaitUntil([] { return !FolderExists(InstallFolder()); }, 3000);
        RemoveInstallation();
        ::CoUninitialize();
        RegistryFixture::TearDown();
    }

    // Leaves no trace of an installation: files, folder, shortcut and Add/Remove Programs entry.
    static void RemoveInstallation()
    {
        testsupport::TestFolder::Remove(InstallFolder());
        ::DeleteFileA(StartMenuShortcut().c_str());
        ::SHDeleteKeyA(HKEY_LOCAL_MACHINE, kUninstallKey);
    }

    static void Install()
    {
        DWORD code = 0;
        ASSERT_TRUE(RunAndWait("\"" + SetupPath() + "\" /S", 120000, code)) << "the installer did not end";
        ASSERT_EQ(code, 0u) << "the silent installer failed";
    }

    // Runs the registered uninstaller silently, as Add/Remove Programs would. It copies itself to
    // the temporary folder, starts the copy and returns at once; the copy does the work.
    static void Uninstall()
    {
        std::string command = UninstallValue("QuietUninstallString");
        ASSERT_NE(command, "<missing>") << "no QuietUninstallString in the uninstall entry";
        DWORD code = 0;
        ASSERT_TRUE(RunAndWait(command, 60000, code)) << "the uninstaller did not end";
        ASSERT_EQ(code, 0u) << "the uninstaller failed to start its copy";
        bool gone =
            WaitUntil([] { return !UninstallKeyExists() && !FileExists(InstallFolder() + "\\uninstall.exe"); }, 60000);
        ASSERT_TRUE(gone) << "the uninstaller did not finish within a minute";
    }

    void StartInstalledProgram(const std::string& path)
    {
        // The Start-menu shortcut starts the program in its own folder.
        ASSERT_TRUE(program_.Start(path, InstallFolder()));
        window_ = testsupport::WaitForMainWindow(program_.Id(), 20000);
        ASSERT_NE(window_, nullptr) << "the installed program's main window did not appear";
    }

    testsupport::ChildProcess program_;
    HWND window_ = nullptr;
};

TEST_F(InstallerTest, SilentInstallRunsFromStartMenuEntryExtractsAndUninstallsKeepingSettings)
{
    const std::string folder = InstallFolder();
    ASSERT_NO_FATAL_FAILURE(Install());

    // The three program files, byte for byte the ones the installer was made from.
    for (const char* name : kProgramFiles) {
        std::string installed;
        std::string built;
        EXPECT_TRUE(ReadFileBytes(folder + "\\" + name, installed)) << name << " was not installed in " << folder;
        ReadFileBytes(BinFolder() + name, built);
        EXPECT_TRUE(installed == built) << name << " differs from the build's file";
    }
    EXPECT_TRUE(FileExists(folder + "\\uninstall.exe")) << "no uninstaller in " << folder;

    ASSERT_TRUE(FileExists(StartMenuShortcut())) << "no Start-menu entry " << StartMenuShortcut();
    const std::string target = ShortcutTarget(StartMenuShortcut());
    EXPECT_EQ(target, folder + "\\kestrova.exe") << "the Start-menu entry points elsewhere";
    ASSERT_TRUE(FileExists(SendToShortcut())) << "no Send To entry " << SendToShortcut();
    EXPECT_EQ(ShortcutTarget(SendToShortcut()), folder + "\\kestrova.exe");
    const std::string tip = testsupport::ShortcutDescription(SendToShortcut());
    for (const char* kind : {"ZIP", "7z", "RAR", ".tar.gz", ".tar.zst", ".lzma", "CAB", "ISO", ".7z.001", ".part1.rar"})
        EXPECT_NE(tip.find(kind), std::string::npos) << "the Send To tip does not name " << kind << ": " << tip;

    EXPECT_TRUE(UninstallKeyExists()) << "no Add/Remove Programs entry HKLM\\" << kUninstallKey;
    EXPECT_EQ(UninstallValue("DisplayName"), "Kestrova");
    EXPECT_EQ(UninstallValue("DisplayVersion"), KV_PACKAGE_VERSION);
    EXPECT_EQ(UninstallValue("UninstallString"), "\"" + folder + "\\uninstall.exe\"");
    EXPECT_EQ(UninstallValue("InstallLocation"), folder);

    // Use the installed copy: it opens in the folder it showed last, which holds one archive.
    testsupport::TestFolder work;
    work.WriteFile("pack.zip", ziptest::Archive().Add("hello.txt", "extracted by the installed copy\r\n").Build());
    WriteRaw("Folders", "Last", work.Path() + "\\");
    WriteRaw("Extract", "Title Extract", "1");
    WriteRaw("Extract", "Message Box Alert", "1");
    ASSERT_NO_FATAL_FAILURE(StartInstalledProgram(target.empty() ? folder + "\\kestrova.exe" : target));

    RemoteListView explorer(::GetDlgItem(window_, kExplorerList), program_.Id());
    RemoteListView queue(::GetDlgItem(window_, kExtractionList), program_.Id());
    ASSERT_TRUE(WaitUntil([&] { return explorer.Count() == 1; }, 10000))
        << "the explorer should list the one archive of " << work.Path() << ", it lists " << explorer.Count();
    EXPECT_EQ(explorer.Text(0, 0), "pack.zip");

    // Click the archive's row (just below the column header), then Search queues it.
    HWND header = reinterpret_cast<HWND>(::SendMessageA(::GetDlgItem(window_, kExplorerList), LVM_GETHEADER, 0, 0));
    RECT headerRect {};
    ::GetWindowRect(header, &headerRect);
    RECT listRect {};
    ::GetWindowRect(::GetDlgItem(window_, kExplorerList), &listRect);
    for (int attempt = 0; attempt < 5 && explorer.SelectedCount() != 1; ++attempt)
        testsupport::ClickScreen(POINT {listRect.left + 40, headerRect.bottom + 8});
    ASSERT_EQ(explorer.SelectedCount(), 1) << "a click on the archive's row should select it";

    ClickWindow(::GetDlgItem(window_, kSearchButton));
    ASSERT_TRUE(WaitUntil([&] { return queue.Count() == 1; }, 10000))
        << "Search should queue the selected archive; the extraction list has " << queue.Count() << " rows";
    EXPECT_EQ(queue.Text(0, 0), "pack.zip");
    EXPECT_EQ(queue.Text(0, 1), work.Path() + "\\");

    ClickWindow(::GetDlgItem(window_, kExecuteButton));
    testsupport::AnsweredBox box = testsupport::AnswerProcessMessageBox(program_.Id(), 20000);
    ASSERT_TRUE(box.shown) << "Execute should end with the summary box";
    EXPECT_EQ(box.caption, "kestrova");
    EXPECT_EQ(box.text, "Files extracted: \n\n" + work.Path() + "\\pack.zip\n");
    EXPECT_TRUE(box.closed) << "a click on OK should close the summary";

    std::string extracted;
    EXPECT_TRUE(ReadFileBytes(work.Child("pack\\hello.txt"), extracted))
        << "nothing was extracted into " << work.Child("pack");
    EXPECT_EQ(extracted, "extracted by the installed copy\r\n");

    ::PostMessageA(window_, WM_CLOSE, 0, 0);
    DWORD exitCode = 12345;
    ASSERT_TRUE(program_.WaitForExit(20000, exitCode)) << "the program did not end";
    EXPECT_EQ(exitCode, 0u);
    // The settings the installed copy saved name it as the program file that updates replace.
    EXPECT_EQ(ReadRaw("", "FilePath"), folder + "\\kestrova.exe");

    ASSERT_NO_FATAL_FAILURE(Uninstall());
    for (const char* name : kProgramFiles)
        EXPECT_FALSE(FileExists(folder + "\\" + name)) << name << " is still installed";
    EXPECT_FALSE(FolderExists(folder)) << folder << " was not removed";
    EXPECT_FALSE(FileExists(StartMenuShortcut())) << "the Start-menu entry was not removed";
    EXPECT_FALSE(FileExists(SendToShortcut())) << "the Send To entry was not removed";
    EXPECT_FALSE(UninstallKeyExists()) << "the Add/Remove Programs entry was not removed";
    // The user's settings stay for a later installation.
    EXPECT_EQ(ReadRaw("", "FilePath"), folder + "\\kestrova.exe") << "the uninstaller touched HKCU\\Software\\Kestrova";
    EXPECT_EQ(ReadRaw("Extract", "Title Extract"), "1");
}

TEST_F(InstallerTest, UninstallLeavesFilesTheUserPutIntoTheProgramFolder)
{
    const std::string folder = InstallFolder();
    ASSERT_NO_FATAL_FAILURE(Install());
    ASSERT_TRUE(testsupport::WriteFileBytes(folder + "\\notes.txt", "mine")) << "cannot write into " << folder;

    ASSERT_NO_FATAL_FAILURE(Uninstall());
    for (const char* name : kProgramFiles)
        EXPECT_FALSE(FileExists(folder + "\\" + name)) << name << " is still installed";
    std::string kept;
    EXPECT_TRUE(ReadFileBytes(folder + "\\notes.txt", kept)) << "the uninstaller deleted a file it did not install";
    EXPECT_EQ(kept, "mine");
    EXPECT_FALSE(FileExists(StartMenuShortcut()));
    EXPECT_FALSE(UninstallKeyExists());
}

TEST_F(InstallerTest, InstallingAgainOverAnInstallationReplacesAStaleProgramFile)
{
    const std::string folder = InstallFolder();
    ASSERT_NO_FATAL_FAILURE(Install());
    // A stale program file, as an older version would have left it.
    ASSERT_TRUE(testsupport::WriteFileBytes(folder + "\\kestrova.exe", "old"));

    ASSERT_NO_FATAL_FAILURE(Install());
    std::string installed;
    std::string built;
    ReadFileBytes(folder + "\\kestrova.exe", installed);
    ReadFileBytes(BinFolder() + "kestrova.exe", built);
    EXPECT_TRUE(installed == built) << "the second installation did not replace kestrova.exe";
    EXPECT_EQ(UninstallValue("DisplayVersion"), KV_PACKAGE_VERSION);

    ASSERT_NO_FATAL_FAILURE(Uninstall());
    EXPECT_FALSE(FolderExists(folder)) << folder << " was not removed";
}

}  // namespace
