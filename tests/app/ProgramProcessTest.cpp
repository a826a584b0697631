// Starts the real kestrova.exe as its own process and drives it from outside, as a user would.
#include "tests/support/ProgramProcess.h"
#include "tests/support/RegistryFixture.h"

#include <commctrl.h>

#include <gtest/gtest.h>

#include <string>

namespace {

using testsupport::ProgramPath;
using testsupport::WaitForMainWindow;

HWND FocusOf(HWND window)
{
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    ::GetGUIThreadInfo(::GetWindowThreadProcessId(window, nullptr), &info);
    return info.hwndFocus;
}

// Real input goes through the X server, as a user's would: Wine starts host programs such as
// xdotool like any other process.
bool RunHost(const std::string& command)
{
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    std::string line = command;
    if (!::CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return false;
    ::WaitForSingleObject(process.hProcess, 10000);
    DWORD code = 1;
    ::GetExitCodeProcess(process.hProcess, &code);
    ::CloseHandle(process.hProcess);
    ::CloseHandle(process.hThread);
    ::Sleep(150);
    return code == 0;
}

void PressKey(const std::string& key)
{
    RunHost("/usr/bin/xdotool key " + key);
}

void ClickAt(HWND control)
{
    RECT rect{};
    ::GetWindowRect(control, &rect);
    RunHost("/usr/bin/xdotool mousemove " + std::to_string((rect.left + rect.right) / 2) + " " +
            std::to_string((rect.top + rect.bottom) / 2) + " click 1");
}

class ProgramProcessTest : public testsupport::RegistryFixture {
protected:
    void SetUp() override
    {
        RegistryFixture::SetUp();
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        std::string command = "\"" + ProgramPath() + "\"";
        ASSERT_TRUE(::CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                     &process_));
        window_ = WaitForMainWindow(process_.dwProcessId, 20000);
        ASSERT_NE(window_, nullptr) << "the main window did not appear";
    }
    void TearDown() override
    {
        if (process_.hProcess != nullptr) {
            if (::WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT)
                ::TerminateProcess(process_.hProcess, 99);
            ::CloseHandle(process_.hProcess);
            ::CloseHandle(process_.hThread);
        }
        RegistryFixture::TearDown();
    }
    DWORD CloseAndWait()
    {
        ::PostMessageA(window_, WM_CLOSE, 0, 0);
        EXPECT_EQ(::WaitForSingleObject(process_.hProcess, 20000), WAIT_OBJECT_0);
        DWORD code = 12345;
        ::GetExitCodeProcess(process_.hProcess, &code);
        return code;
    }

    PROCESS_INFORMATION process_{};
    HWND window_ = nullptr;
};

TEST_F(ProgramProcessTest, StartsWithItsWindowAndEndsWithExitCodeZeroAfterSaving)
{
    EXPECT_NE(::GetDlgItem(window_, 1000), nullptr);
    char version[16] = {};
    ::SendMessageA(::GetDlgItem(window_, 1060), WM_GETTEXT, sizeof version, reinterpret_cast<LPARAM>(version));
    EXPECT_STREQ(version, "1.8.00");
    int children = 0;
    for (HWND child = ::GetWindow(window_, GW_CHILD); child != nullptr; child = ::GetWindow(child, GW_HWNDNEXT))
        ++children;
    EXPECT_EQ(children, 17);

    EXPECT_EQ(CloseAndWait(), 0u);
    EXPECT_NE(ReadRaw("Placement", "Tall"), "<missing>");
    EXPECT_EQ(ReadRaw("Columns", "List Location"), "210");
    // No window of the program is left behind.
    EXPECT_FALSE(::IsWindow(window_));
}

TEST_F(ProgramProcessTest, TabDoesNotMoveTheFocusAndTypedCharactersReachTheFocusedControl)
{
    HWND drives = ::GetDlgItem(window_, 1070);
    HWND edit = reinterpret_cast<HWND>(::SendMessageA(drives, CBEM_GETEDITCONTROL, 0, 0));
    ASSERT_NE(edit, nullptr);
    // The first click may only activate a window that is still settling; a user would click again.
    for (int attempt = 0; attempt < 5 && FocusOf(window_) != edit; ++attempt) {
        ClickAt(edit);
        ::Sleep(100 * attempt);
    }
    HWND focused = FocusOf(window_);
    ASSERT_EQ(focused, edit) << "a click on the drive box's edit field should focus it";

    PressKey("ctrl+a");
    PressKey("k");
    PressKey("v");
    // GetWindowText does not ask another process's control for its text; WM_GETTEXT does.
    char typed[32] = {};
    ::SendMessageA(edit, WM_GETTEXT, sizeof typed, reinterpret_cast<LPARAM>(typed));
    EXPECT_STREQ(typed, "kv");

    PressKey("Tab");
    EXPECT_EQ(FocusOf(window_), edit) << "Tab must not move the focus in the main window";

    ClickAt(::GetDlgItem(window_, 1000));
    HWND explorer = ::GetDlgItem(window_, 1000);
    EXPECT_EQ(FocusOf(window_), explorer);
    PressKey("Tab");
    EXPECT_EQ(FocusOf(window_), explorer);
    EXPECT_EQ(CloseAndWait(), 0u);
}

}  // namespace
