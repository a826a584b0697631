// The real kvupdate.exe as its own process, pointed at the test server through the environment.
#include "tests/support/TestSupport.h"
#include "tests/updater/UpdaterTestSupport.h"
#include "updater/UpdateLocation.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Search {
    DWORD processId;
    HWND found;
};

BOOL CALLBACK FindDialog(HWND hwnd, LPARAM lParam)
{
    auto* search = reinterpret_cast<Search*>(lParam);
    DWORD owner = 0;
    ::GetWindowThreadProcessId(hwnd, &owner);
    if (owner == search->processId && ::IsWindowVisible(hwnd) &&
        testsupport::WindowText(hwnd) == "KVA Update Downloader 1.0") {
        search->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

// Ends the child however the test leaves, so that its window cannot confuse later tests.
class ChildProcess {
public:
    PROCESS_INFORMATION info{};
    ChildProcess() = default;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess()
    {
        if (info.hProcess == nullptr)
            return;
        if (::WaitForSingleObject(info.hProcess, 0) != WAIT_OBJECT_0)
            ::TerminateProcess(info.hProcess, 1);
        ::CloseHandle(info.hThread);
        ::CloseHandle(info.hProcess);
    }
};

class KvUpdateProcessTest : public testsupport::RegistryFixture {};

TEST_F(KvUpdateProcessTest, ChecksTheVersionAtTheLocationFromTheEnvironmentAndEndsWithZero)
{
    updatertest::TestSite site;
    ASSERT_TRUE(site.Available());
    site.Put("newversion.txt", "1.8.00\r\n");
    WriteRaw("", "Version", "1.8.00");

    char self[MAX_PATH] = {};
    ::GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string program(self);
    program.replace(program.find_last_of('\\') + 1, std::string::npos, "kvupdate.exe");

    // The child inherits the variable; this process forgets it again at once.
    ::SetEnvironmentVariableA(updater::UpdateLocation::kEnvironmentVariable, site.BaseUrl().c_str());
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    ChildProcess child;
    PROCESS_INFORMATION& process = child.info;
    std::string commandLine = "\"" + program + "\"";
    BOOL started = ::CreateProcessA(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                    &startup, &process);
    ::SetEnvironmentVariableA(updater::UpdateLocation::kEnvironmentVariable, nullptr);
    ASSERT_TRUE(started) << program;

    testsupport::MessageBoxWatcher boxes(IDOK, "kvupdate", process.dwProcessId);
    Search search{process.dwProcessId, nullptr};
    updatertest::WaitUntil(
        [&] {
            ::EnumWindows(&FindDialog, reinterpret_cast<LPARAM>(&search));
            return search.found != nullptr;
        },
        30000);
    ASSERT_NE(search.found, nullptr);
    EXPECT_EQ(updatertest::TextOf(::GetDlgItem(search.found, 1004)), " Installed Version: 1.8.00");

    // The button's click as it reaches the dialog (a posted BM_CLICK needs the mouse capture, which
    // a window of another process does not always get under Wine).
    ::PostMessageA(search.found, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                   reinterpret_cast<LPARAM>(::GetDlgItem(search.found, IDOK)));
    ASSERT_TRUE(updatertest::WaitUntil([&] { return boxes.Count() >= 1; }, 20000));
    EXPECT_EQ(boxes.Seen()[0].text, "You have the lastest version.");
    ASSERT_TRUE(updatertest::WaitUntil(
        [&] { return updatertest::TextOf(::GetDlgItem(search.found, 1003)) == " Latest Version: 1.8.00"; }, 5000));

    ::PostMessageA(search.found, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_EQ(::WaitForSingleObject(process.hProcess, 10000), static_cast<DWORD>(WAIT_OBJECT_0));
    DWORD exitCode = 1;
    ::GetExitCodeProcess(process.hProcess, &exitCode);
    EXPECT_EQ(exitCode, 0u);
}

}  // namespace
