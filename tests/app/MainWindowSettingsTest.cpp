// How the main window creates, shows and saves the settings dialog, in-process and as a real program.
#include "app/MainWindow.h"
#include "app/ProcessObjects.h"
#include "resources/kestrova/resource.h"
#include "settings/SettingsDialog.h"
#include "tests/support/RegistryFixture.h"

#include <objbase.h>
#include <shlobj.h>

#include "tests/support/ProgramProcess.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

namespace {

std::string DesktopLink()
{
    const char* profile = std::getenv("USERPROFILE");
    return std::string(profile != nullptr ? profile : "") + "\\Desktop\\Kestrova.lnk";
}

std::string LinkTarget(const std::string& linkPath)
{
    ::CoInitialize(nullptr);
    std::string target;
    IShellLinkA* link = nullptr;
    if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                  reinterpret_cast<void**>(&link))))
        return "<no link object>";
    IPersistFile* file = nullptr;
    if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
        wchar_t wide[MAX_PATH] = {};
        ::MultiByteToWideChar(CP_ACP, 0, linkPath.c_str(), -1, wide, MAX_PATH);
        char path[MAX_PATH] = {};
        if (SUCCEEDED(file->Load(wide, STGM_READ)) && SUCCEEDED(link->GetPath(path, MAX_PATH, nullptr, 0)))
            target = path;
        file->Release();
    }
    link->Release();
    return target;
}

class MainWindowSettingsTest : public testsupport::RegistryFixture {
protected:
    void TearDown() override
    {
        ::DeleteFileA(DesktopLink().c_str());
        RegistryFixture::TearDown();
    }
    std::unique_ptr<app::MainWindow> Open()
    {
        auto window = std::make_unique<app::MainWindow>();
        EXPECT_TRUE(window->Create(nullptr));
        testsupport::PumpMessages(0);
        return window;
    }
    void Close(app::MainWindow& window)
    {
        window.Send(WM_CLOSE);
        testsupport::PumpMessages(0);
    }
};

TEST_F(MainWindowSettingsTest, SettingsDialogIsCreatedHiddenWithTheMainWindowAsOwner)
{
    WriteRaw("Extract", "Ask For Folder", "1");
    auto window = Open();
    settings::SettingsDialog& dialog = app::Settings();
    ASSERT_TRUE(dialog.IsValid());
    EXPECT_FALSE(dialog.IsVisible());
    EXPECT_EQ(::GetWindow(dialog, GW_OWNER), window->Handle());
    EXPECT_TRUE(dialog.IsOptionChecked(IDC_SETTINGS_ASK_FOLDER));
    // The drive box shows the small system icons.
    SHFILEINFOA info{};
    HIMAGELIST smallList = reinterpret_cast<HIMAGELIST>(::SHGetFileInfoA("", 0, &info, sizeof info, 0x4001));
    EXPECT_EQ(reinterpret_cast<HIMAGELIST>(window->driveBox.Send(CBEM_GETIMAGELIST)), smallList);
    Close(*window);
    EXPECT_FALSE(dialog.IsValid()) << "destroyed with the main window";
}

TEST_F(MainWindowSettingsTest, OptionsShowsTheDialogBesideTheCornerAndBlocksTheMainWindow)
{
    auto window = Open();
    ::SetWindowPos(*window, HWND_TOP, 100, 80, 600, 500, 0);
    window->optionsButton.Click();
    testsupport::PumpMessages(0);
    settings::SettingsDialog& dialog = app::Settings();
    EXPECT_TRUE(dialog.IsVisible());
    RECT rect = dialog.GetWindowRect();
    EXPECT_EQ(rect.left, 145);
    EXPECT_EQ(rect.top, 125);
    EXPECT_EQ(rect.right - rect.left, 344);
    EXPECT_EQ(rect.bottom - rect.top, 313);
    EXPECT_FALSE(window->IsEnabled()) << "the main window takes no input while the dialog is shown";

    dialog.applyButton.Click();
    testsupport::PumpMessages(0);
    EXPECT_FALSE(dialog.IsVisible());
    EXPECT_TRUE(window->IsEnabled());

    // Wherever the dialog was moved, the next Options places it at the corner again.
    dialog.SetPos(0, 0, 100, 100);
    window->optionsButton.Click();
    testsupport::PumpMessages(0);
    EXPECT_EQ(dialog.GetWindowRect().left, 145);
    dialog.applyButton.Click();
    testsupport::PumpMessages(0);
    Close(*window);
}

TEST_F(MainWindowSettingsTest, ClosingSavesTheSettingsAndTheDesktopShortcut)
{
    auto window = Open();
    settings::SettingsDialog& dialog = app::Settings();
    dialog.desktopShortcut.SetCheck(true);
    Close(*window);
    EXPECT_EQ(ReadRaw("Shortcuts", "Desktop Shortcut"), "1");
    EXPECT_EQ(ReadRaw("Extract", "Title Extract"), "0");
    EXPECT_EQ(ReadRaw("", "Version"), "1.8.00");
    char program[MAX_PATH] = {};
    ::GetModuleFileNameA(nullptr, program, MAX_PATH);
    EXPECT_STRCASEEQ(ReadRaw("", "FilePath").c_str(), program);
    EXPECT_STRCASEEQ(LinkTarget(DesktopLink()).c_str(), program);
    EXPECT_NE(ReadRaw("Folders", "Last"), "<missing>");
}

// Starts kestrova.exe, waits for its window, closes it and waits for the end; false on a timeout.
bool RunProgramOnce()
{
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    std::string command = "\"" + testsupport::ProgramPath() + "\"";
    if (!::CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return false;
    HWND window = testsupport::WaitForMainWindow(process.dwProcessId, 20000);
    bool ended = false;
    if (window != nullptr) {
        ::PostMessageA(window, WM_CLOSE, 0, 0);
        ended = ::WaitForSingleObject(process.hProcess, 20000) == WAIT_OBJECT_0;
    }
    if (!ended)
        ::TerminateProcess(process.hProcess, 99);
    ::CloseHandle(process.hProcess);
    ::CloseHandle(process.hThread);
    return ended;
}

TEST_F(MainWindowSettingsTest, ProgramEndLeavesADesktopShortcutToTheProgramOnlyWhenChecked)
{
    WriteRaw("Shortcuts", "Desktop Shortcut", "1");
    ASSERT_TRUE(RunProgramOnce());
    EXPECT_STRCASEEQ(LinkTarget(DesktopLink()).c_str(), testsupport::ProgramPath().c_str());
    EXPECT_STRCASEEQ(ReadRaw("", "FilePath").c_str(), testsupport::ProgramPath().c_str());

    WriteRaw("Shortcuts", "Desktop Shortcut", "0");
    ASSERT_TRUE(RunProgramOnce());
    EXPECT_EQ(::GetFileAttributesA(DesktopLink().c_str()), INVALID_FILE_ATTRIBUTES);
}

}  // namespace
