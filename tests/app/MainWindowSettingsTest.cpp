// How the main window creates, shows and saves the settings dialog, in-process and as a real program.
#include "app/MainWindow.h"
#include "app/ProcessObjects.h"
#include "resources/kestrova/resource.h"
#include "settings/SettingsDialog.h"
#include "tests/support/MainWindowFixture.h"
#include "tests/support/ProgramProcess.h"
#include "tests/support/ShortcutTarget.h"

#include <shlobj.h>

#include <gtest/gtest.h>

#include <string>

namespace {

using testsupport::DesktopShortcut;
using testsupport::ShortcutTarget;

class MainWindowSettingsTest : public testsupport::MainWindowFixture {
protected:
    void TearDown() override
    {
        MainWindowFixture::TearDown();
        ::DeleteFileA(DesktopShortcut().c_str());
    }
};

TEST_F(MainWindowSettingsTest, SettingsDialogIsCreatedHiddenWithTheMainWindowAsOwner)
{
    WriteRaw("Extract", "Ask For Folder", "1");
    ASSERT_TRUE(Open());
    settings::SettingsDialog& dialog = app::Settings();
    ASSERT_TRUE(dialog.IsValid());
    EXPECT_FALSE(dialog.IsVisible());
    EXPECT_EQ(::GetWindow(dialog, GW_OWNER), window->Handle());
    EXPECT_TRUE(dialog.IsOptionChecked(IDC_SETTINGS_ASK_FOLDER));
    // The drive box shows the small system icons.
    SHFILEINFOA info {};
    HIMAGELIST smallList = reinterpret_cast<HIMAGELIST>(::SHGetFileInfoA("", 0, &info, sizeof info, 0x4001));
    EXPECT_EQ(reinterpret_cast<HIMAGELIST>(window->driveBox.Send(CBEM_GETIMAGELIST)), smallList);
    Close();
    EXPECT_FALSE(dialog.IsValid()) << "destroyed with the main window";
}

TEST_F(MainWindowSettingsTest, OptionsShowsTheDialogBesideTheCornerAndBlocksTheMainWindow)
{
    ASSERT_TRUE(Open());
    ::SetWindowPos(*window, HWND_TOP, 100, 80, 600, 500, 0);
    window->optionsButton.Click();
    testsupport::PumpMessages(0);
    settings::SettingsDialog& dialog = app::Settings();
    EXPECT_TRUE(dialog.IsVisible());
    RECT rect = dialog.GetWindowRect();
    EXPECT_EQ(rect.left, 145);
    EXPECT_EQ(rect.top, 125);
    EXPECT_EQ(rect.right - rect.left, 344);
    EXPECT_EQ(rect.bottom - rect.top, 395);
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
}

TEST_F(MainWindowSettingsTest, ClosingSavesTheSettingsAndTheDesktopShortcut)
{
    ASSERT_TRUE(Open());
    settings::SettingsDialog& dialog = app::Settings();
    dialog.desktopShortcut.SetCheck(true);
    Close();
    EXPECT_EQ(ReadRaw("Shortcuts", "Desktop Shortcut"), "1");
    EXPECT_EQ(ReadRaw("Extract", "Title Extract"), "0");
    EXPECT_EQ(ReadRaw("", "Version"), "1.8.00");
    const std::string program = testsupport::ThisProgram();
    EXPECT_STRCASEEQ(ReadRaw("", "FilePath").c_str(), program.c_str());
    EXPECT_STRCASEEQ(ShortcutTarget(DesktopShortcut()).c_str(), program.c_str());
    EXPECT_NE(ReadRaw("Folders", "Last"), "<missing>");
}

// Starts kestrova.exe, waits for its window, closes it and waits for the end; false on a timeout.
bool RunProgramOnce()
{
    testsupport::ChildProcess program;
    DWORD exitCode = 0;
    HWND window =
        program.Start(testsupport::ProgramPath()) ? testsupport::WaitForMainWindow(program.Id(), 20000) : nullptr;
    return window != nullptr && ::PostMessageA(window, WM_CLOSE, 0, 0) && program.WaitForExit(20000, exitCode);
}

TEST_F(MainWindowSettingsTest, ProgramEndLeavesADesktopShortcutToTheProgramOnlyWhenChecked)
{
    WriteRaw("Shortcuts", "Desktop Shortcut", "1");
    ASSERT_TRUE(RunProgramOnce());
    EXPECT_STRCASEEQ(ShortcutTarget(DesktopShortcut()).c_str(), testsupport::ProgramPath().c_str());
    EXPECT_STRCASEEQ(ReadRaw("", "FilePath").c_str(), testsupport::ProgramPath().c_str());

    WriteRaw("Shortcuts", "Desktop Shortcut", "0");
    ASSERT_TRUE(RunProgramOnce());
    EXPECT_EQ(::GetFileAttributesA(DesktopShortcut().c_str()), INVALID_FILE_ATTRIBUTES);
}

}  // namespace
