// Installs Kestrova with its real installer into the prefix's Program Files, uses the installed
// program as a user would (queue an archive, Execute, dismiss the summary), and uninstalls it again.
// Whatever a test leaves behind is removed in TearDown, so later tests see a clean prefix.
#include "tests/support/ShortcutTarget.h"
#include "tests/support/HostInput.h"
#include "tests/support/ProgramProcess.h"
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

using testsupport::FileExists;
using testsupport::ReadFileBytes;

const char kUninstallKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Kestrova";
const char* const kProgramFiles[] = {"kestrova.exe", "UNZIP32.DLL", "kvupdate.exe"};

// Main window controls (dialog 102).
const int kExplorerList = 1000;
const int kExtractionList = 1006;
const int kSearchButton = 1011;
const int kExecuteButton = 1013;

// Folder of this test program, with a trailing backslash; the build's own programs lie beside it.
std::string TestBinFolder()
{
    char path[MAX_PATH] = {};
    ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path);
    return folder.erase(folder.find_last_of('\\') + 1);
}

std::string SetupPath()
{
    return TestBinFolder() + "..\\release-test\\Kestrova-" KV_PACKAGE_VERSION "-setup.exe";
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

bool FolderExists(const std::string& path)
{
    DWORD attributes = ::GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
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

// Starts a command line and waits for its process; false when it could not start or did not end.
bool RunAndWait(std::string commandLine, const std::string& folder, DWORD timeoutMs, DWORD& exitCode)
{
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!::CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                          folder.empty() ? nullptr : folder.c_str(), &startup, &process))
        return false;
    bool ended = ::WaitForSingleObject(process.hProcess, timeoutMs) == WAIT_OBJECT_0;
    exitCode = 12345;
    ::GetExitCodeProcess(process.hProcess, &exitCode);
    if (!ended)
        ::TerminateProcess(process.hProcess, 99);
    ::CloseHandle(process.hProcess);
    ::CloseHandle(process.hThread);
    return ended;
}

using testsupport::ShortcutTarget;

// List-view texts of another process: the item record and its text buffer must live inside it.
class RemoteListView {
public:
    RemoteListView(HWND list, DWORD processId)
        : list_(list), process_(::OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE,
                                               processId))
    {
        if (process_ != nullptr)
            memory_ = ::VirtualAllocEx(process_, nullptr, 4096, MEM_COMMIT, PAGE_READWRITE);
    }
    RemoteListView(const RemoteListView&) = delete;
    RemoteListView& operator=(const RemoteListView&) = delete;
    ~RemoteListView()
    {
        if (memory_ != nullptr)
            ::VirtualFreeEx(process_, memory_, 0, MEM_RELEASE);
        if (process_ != nullptr)
            ::CloseHandle(process_);
    }

    int Count() const { return static_cast<int>(::SendMessageA(list_, LVM_GETITEMCOUNT, 0, 0)); }
    int SelectedCount() const { return static_cast<int>(::SendMessageA(list_, LVM_GETSELECTEDCOUNT, 0, 0)); }

    std::string Text(int item, int subItem) const
    {
        if (memory_ == nullptr)
            return "<no access>";
        char* remote = static_cast<char*>(memory_);
        LVITEMA record{};
        record.iSubItem = subItem;
        record.pszText = remote + 1024;
        record.cchTextMax = 1024;
        SIZE_T moved = 0;
        const char empty[1] = {};
        ::WriteProcessMemory(process_, remote, &record, sizeof record, &moved);
        ::WriteProcessMemory(process_, remote + 1024, empty, 1, &moved);
        ::SendMessageA(list_, LVM_GETITEMTEXTA, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(remote));
        char text[1025] = {};
        ::ReadProcessMemory(process_, remote + 1024, text, 1024, &moved);
        return text;
    }

private:
    HWND list_;
    HANDLE process_;
    void* memory_ = nullptr;
};

// Real pointer input at the middle of a window (or at an offset from its top-left corner).
bool ClickWindow(HWND window)
{
    RECT rect{};
    ::GetWindowRect(window, &rect);
    POINT centre{(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
    return testsupport::Xdotool("mousemove " + testsupport::PointText(centre) + " click 1", 300);
}

bool ClickAt(HWND window, int x, int y)
{
    RECT rect{};
    ::GetWindowRect(window, &rect);
    POINT point{rect.left + x, rect.top + y};
    return testsupport::Xdotool("mousemove " + testsupport::PointText(point) + " click 1", 300);
}

template <typename Done>
bool WaitUntil(Done done, DWORD timeoutMs)
{
    for (DWORD start = ::GetTickCount(); ::GetTickCount() - start < timeoutMs; ::Sleep(50))
        if (done())
            return true;
    return done();
}

struct BoxSearch {
    DWORD processId;
    HWND found;
};

BOOL CALLBACK FindBoxOfProcess(HWND window, LPARAM lParam)
{
    auto* search = reinterpret_cast<BoxSearch*>(lParam);
    DWORD pid = 0;
    ::GetWindowThreadProcessId(window, &pid);
    if (pid == search->processId && testsupport::IsMessageBox(window)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

HWND WaitForMessageBox(DWORD processId, DWORD timeoutMs)
{
    BoxSearch search{processId, nullptr};
    WaitUntil(
        [&] {
            ::EnumWindows(&FindBoxOfProcess, reinterpret_cast<LPARAM>(&search));
            return search.found != nullptr;
        },
        timeoutMs);
    return search.found;
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
        if (program_.hProcess != nullptr) {
            if (::WaitForSingleObject(program_.hProcess, 0) == WAIT_TIMEOUT)
                ::TerminateProcess(program_.hProcess, 99);
            ::CloseHandle(program_.hProcess);
            ::CloseHandle(program_.hThread);
        }
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
        ASSERT_TRUE(RunAndWait("\"" + SetupPath() + "\" /S", "", 120000, code)) << "the installer did not end";
        ASSERT_EQ(code, 0u) << "the silent installer failed";
    }

    // Runs the registered uninstaller silently, as Add/Remove Programs would. It copies itself to
    // the temporary folder, starts the copy and returns at once; the copy does the work.
    static void Uninstall()
    {
        std::string command = UninstallValue("QuietUninstallString");
        ASSERT_NE(command, "<missing>") << "no QuietUninstallString in the uninstall entry";
        DWORD code = 0;
        ASSERT_TRUE(RunAndWait(command, "", 60000, code)) << "the uninstaller did not end";
        ASSERT_EQ(code, 0u) << "the uninstaller failed to start its copy";
        bool gone = WaitUntil([] { return !UninstallKeyExists() && !FileExists(InstallFolder() + "\\uninstall.exe"); },
                              60000);
        ASSERT_TRUE(gone) << "the uninstaller did not finish within a minute";
    }

    void StartInstalledProgram(const std::string& path)
    {
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        std::string command = "\"" + path + "\"";
        // The Start-menu shortcut starts the program in its own folder.
        ASSERT_TRUE(::CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr,
                                     InstallFolder().c_str(), &startup, &program_));
        window_ = testsupport::WaitForMainWindow(program_.dwProcessId, 20000);
        ASSERT_NE(window_, nullptr) << "the installed program's main window did not appear";
    }

    PROCESS_INFORMATION program_{};
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
        ReadFileBytes(TestBinFolder() + name, built);
        EXPECT_TRUE(installed == built) << name << " differs from the build's file";
    }
    EXPECT_TRUE(FileExists(folder + "\\uninstall.exe")) << "no uninstaller in " << folder;

    ASSERT_TRUE(FileExists(StartMenuShortcut())) << "no Start-menu entry " << StartMenuShortcut();
    const std::string target = ShortcutTarget(StartMenuShortcut());
    EXPECT_EQ(target, folder + "\\kestrova.exe") << "the Start-menu entry points elsewhere";

    EXPECT_TRUE(UninstallKeyExists()) << "no Add/Remove Programs entry HKLM\\" << kUninstallKey;
    EXPECT_EQ(UninstallValue("DisplayName"), "Kestrova");
    EXPECT_EQ(UninstallValue("DisplayVersion"), KV_PACKAGE_VERSION);
    EXPECT_EQ(UninstallValue("UninstallString"), "\"" + folder + "\\uninstall.exe\"");
    EXPECT_EQ(UninstallValue("InstallLocation"), folder);

    // Use the installed copy: it opens in the folder it showed last, which holds one archive.
    testsupport::TestFolder work;
    work.WriteFile("pack.zip", testsupport::ZipBuilder().Add("hello.txt", "extracted by the installed copy\r\n").Build());
    WriteRaw("Folders", "Last", work.Path() + "\\");
    WriteRaw("Extract", "Title Extract", "1");
    WriteRaw("Extract", "Message Box Alert", "1");
    ASSERT_NO_FATAL_FAILURE(StartInstalledProgram(target.empty() ? folder + "\\kestrova.exe" : target));

    RemoteListView explorer(::GetDlgItem(window_, kExplorerList), program_.dwProcessId);
    RemoteListView queue(::GetDlgItem(window_, kExtractionList), program_.dwProcessId);
    ASSERT_TRUE(WaitUntil([&] { return explorer.Count() == 1; }, 10000))
        << "the explorer should list the one archive of " << work.Path() << ", it lists " << explorer.Count();
    EXPECT_EQ(explorer.Text(0, 0), "pack.zip");

    // Click the archive's row (just below the column header), then Search queues it.
    HWND header = reinterpret_cast<HWND>(::SendMessageA(::GetDlgItem(window_, kExplorerList), LVM_GETHEADER, 0, 0));
    RECT headerRect{};
    ::GetWindowRect(header, &headerRect);
    RECT listRect{};
    ::GetWindowRect(::GetDlgItem(window_, kExplorerList), &listRect);
    const int rowY = headerRect.bottom - listRect.top + 8;
    for (int attempt = 0; attempt < 5 && explorer.SelectedCount() != 1; ++attempt)
        ClickAt(::GetDlgItem(window_, kExplorerList), 40, rowY);
    ASSERT_EQ(explorer.SelectedCount(), 1) << "a click on the archive's row should select it";

    ClickWindow(::GetDlgItem(window_, kSearchButton));
    ASSERT_TRUE(WaitUntil([&] { return queue.Count() == 1; }, 10000))
        << "Search should queue the selected archive; the extraction list has " << queue.Count() << " rows";
    EXPECT_EQ(queue.Text(0, 0), "pack.zip");
    EXPECT_EQ(queue.Text(0, 1), work.Path() + "\\");

    ClickWindow(::GetDlgItem(window_, kExecuteButton));
    HWND box = WaitForMessageBox(program_.dwProcessId, 20000);
    ASSERT_NE(box, nullptr) << "Execute should end with the summary box";
    EXPECT_EQ(testsupport::WindowText(box), "kestrova");
    EXPECT_EQ(testsupport::MessageBoxText(box), "Files extracted: \n\n" + work.Path() + "\\pack.zip\n");
    ClickWindow(::GetDlgItem(box, IDOK));
    EXPECT_TRUE(WaitUntil([&] { return !::IsWindow(box); }, 10000)) << "a click on OK should close the summary";

    std::string extracted;
    EXPECT_TRUE(ReadFileBytes(work.Child("pack\\hello.txt"), extracted)) << "nothing was extracted into "
                                                                         << work.Child("pack");
    EXPECT_EQ(extracted, "extracted by the installed copy\r\n");

    ::PostMessageA(window_, WM_CLOSE, 0, 0);
    ASSERT_EQ(::WaitForSingleObject(program_.hProcess, 20000), WAIT_OBJECT_0) << "the program did not end";
    DWORD exitCode = 12345;
    ::GetExitCodeProcess(program_.hProcess, &exitCode);
    EXPECT_EQ(exitCode, 0u);
    // The settings the installed copy saved name it as the program file that updates replace.
    EXPECT_EQ(ReadRaw("", "FilePath"), folder + "\\kestrova.exe");

    ASSERT_NO_FATAL_FAILURE(Uninstall());
    for (const char* name : kProgramFiles)
        EXPECT_FALSE(FileExists(folder + "\\" + name)) << name << " is still installed";
    EXPECT_FALSE(FolderExists(folder)) << folder << " was not removed";
    EXPECT_FALSE(FileExists(StartMenuShortcut())) << "the Start-menu entry was not removed";
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
    ReadFileBytes(TestBinFolder() + "kestrova.exe", built);
    EXPECT_TRUE(installed == built) << "the second installation did not replace kestrova.exe";
    EXPECT_EQ(UninstallValue("DisplayVersion"), KV_PACKAGE_VERSION);

    ASSERT_NO_FATAL_FAILURE(Uninstall());
    EXPECT_FALSE(FolderExists(folder)) << folder << " was not removed";
}

}  // namespace
