// The windows at the screen's scale. CTest runs this program once for each LogPixels (96, 120, 144,
// 192: tests/support/at-dpi.sh sets it before the program starts and names it in KESTROVA_TEST_DPI);
// at each, no two controls overlap and no text is cut off, and a move to a monitor of another scale
// (WM_DPICHANGED) lays the windows out again.
#include "app/MainWindow.h"
#include "app/ProcessObjects.h"
#include "engine/ArchiveViewerDialog.h"
#include "framework/Application.h"
#include "resources/kestrova/resource.h"
#include "settings/SettingsDialog.h"
#include "tests/support/LayoutCheck.h"
#include "tests/support/MainWindowFixture.h"
#include "tests/support/ZipBuilder.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace {

using testsupport::Describe;
using testsupport::ExpectTidy;
using testsupport::RectIn;
using testsupport::S;
using testsupport::ScreenDpi;
using testsupport::SendDpiChange;
using testsupport::VisibleControls;

// The password prompt, once it is up inside its modal loop: checked, then skipped.
bool promptChecked = false;
void CALLBACK CheckPrompt(HWND, UINT, UINT_PTR timer, DWORD)
{
    HWND prompt = testsupport::FindOwnWindow("#32770", fw::Application::Instance()->Title().c_str());
    if (prompt == nullptr || ::GetDlgItem(prompt, IDC_PASSWORD_EDIT) == nullptr)
        return;
    ::KillTimer(nullptr, timer);
    ExpectTidy(prompt, {}, "password prompt");
    promptChecked = true;
    ::PostMessageA(prompt, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
}

class DpiLayoutTest : public testsupport::OpenMainWindowFixture {
protected:
    std::vector<int> ColumnWidths() const
    {
        std::vector<int> widths;
        for (const fw::ListView* list : {&window->ExplorerList, &window->ExtractionList})
            for (int column = 0; column < list->GetColumnCount(); ++column)
                widths.push_back(list->GetColumnWidth(column));
        return widths;
    }
    std::set<HWND> SettingsPages() const
    {
        settings::SettingsDialog& dialog = app::Settings();
        return {dialog.tabs, dialog.generalPage, dialog.maskingPage, dialog.aboutPage};
    }
    void ExpectSettingsTidy(const std::string& when)
    {
        settings::SettingsDialog& dialog = app::Settings();
        for (int page = 0; page < 3; ++page) {
            dialog.tabs.Send(TCM_SETCURFOCUS, static_cast<WPARAM>(page));
            ExpectTidy(dialog, SettingsPages(), "settings page " + std::to_string(page) + when);
            EXPECT_GE(RectIn(dialog, dialog.applyButton).top, RectIn(dialog, dialog.tabs).bottom) << when;
        }
        dialog.tabs.Send(TCM_SETCURFOCUS, 0);
    }
};

TEST_F(DpiLayoutTest, MainWindowIsLaidOutAtTheScreensScale)
{
    const UINT dpi = ScreenDpi();
    ASSERT_EQ(fw::WindowDpi(*window), dpi) << "the program is aware of the screen's scale";
    const int defaults[5] = {180, 56, 110, 150, 210};
    EXPECT_EQ(ColumnWidths(), (std::vector<int> {S(180), S(56), S(110), S(150), S(210)}));
    window->countLabel.SetText("10000 Object(s)");

    ::SetWindowPos(*window, HWND_TOP, 10, 10, S(600), S(500), 0);
    RECT explorer = RectIn(*window, window->ExplorerList);
    EXPECT_EQ(explorer.left, S(5));
    EXPECT_EQ(explorer.top, S(23));
    EXPECT_EQ(explorer.right - explorer.left, S(600) - S(60));
    ExpectTidy(*window, {}, "main window");

    // The smallest size is the 96-DPI one scaled, and nothing overlaps there either.
    ::SetWindowPos(*window, HWND_TOP, 10, 10, 50, 50, 0);
    RECT outer = window->GetWindowRect();
    EXPECT_EQ(outer.right - outer.left, S(300));
    EXPECT_EQ(outer.bottom - outer.top, S(235) + S(10) + S(94) + S(32)) << "371 at 96 DPI, rounded part by part";
    ExpectTidy(*window, {}, "main window at its smallest");

    // Column widths are stored at 96 DPI, whatever the screen's scale.
    window->ExplorerList.SetColumnWidth(1, S(77));
    Close();
    EXPECT_EQ(ReadRaw("Columns", "Explore Size"), "77");
    EXPECT_EQ(ReadRaw("Columns", "Explore Name"), std::to_string(defaults[0]));
    EXPECT_EQ(ReadRaw("Columns", "List Location"), std::to_string(defaults[4]));
    ASSERT_TRUE(Open());
    EXPECT_EQ(window->ExplorerList.GetColumnWidth(1), S(77));
}

TEST_F(DpiLayoutTest, SettingsViewerAndPasswordPromptAreTidyAtTheScreensScale)
{
    window->optionsButton.Click();
    settings::SettingsDialog& dialog = app::Settings();
    ASSERT_TRUE(dialog.IsVisible());
    RECT outer = dialog.GetWindowRect();
    // The 96-DPI size scaled, or more where the template's controls need it.
    EXPECT_GE(outer.right - outer.left, S(344));
    EXPECT_GE(outer.bottom - outer.top, S(395));
    EXPECT_EQ(RectIn(dialog, dialog.tabs).right - RectIn(dialog, dialog.tabs).left, S(331));
    ExpectSettingsTidy("");
    dialog.applyButton.Click();

    ziptest::Archive zip;
    zip.Add("readme.txt", "text").Add("docs/manual.txt", std::string(500, 'm'));
    folder.WriteFile("Photos 2024.zip", zip.Build());
    Queue(folder.Child("Photos 2024.zip"));
    window->ExtractionList.SetItemState(0, LVIS_SELECTED, LVIS_SELECTED);
    window->viewButton.Click();
    engine::ArchiveViewerDialog& viewer = app::Viewer();
    ASSERT_TRUE(viewer.IsVisible());
    outer = viewer.GetWindowRect();
    EXPECT_GE(outer.right - outer.left, S(354));
    EXPECT_GE(outer.bottom - outer.top, S(290));
    EXPECT_EQ(viewer.memberList.GetColumnWidth(0), S(150));
    EXPECT_EQ(viewer.memberList.GetColumnWidth(3), S(40));
    ExpectTidy(viewer, {}, "viewer");
    // Moved to a monitor of another scale and back, its columns follow.
    const UINT other = ScreenDpi() == 192 ? 96 : 192;
    testsupport::SendDpiChange(viewer, ScreenDpi(), other);
    EXPECT_NEAR(viewer.memberList.GetColumnWidth(0), S(150, other), 1);  // scaled from the shown width
    testsupport::SendDpiChange(viewer, other, ScreenDpi());
    EXPECT_EQ(viewer.memberList.GetColumnWidth(0), S(150));
    viewer.Send(WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);

    promptChecked = false;
    UINT_PTR timer = ::SetTimer(nullptr, 0, 20, &CheckPrompt);
    std::string password;
    window->AskPassword("docs/secret.txt", "C:\\Downloads\\Photos 2024.zip", true, password);
    ::KillTimer(nullptr, timer);
    EXPECT_TRUE(promptChecked);
}

// A window dragged onto a monitor of another scale takes the suggested rectangle and lays itself
// out for it; back on the first monitor everything is as before.
TEST_F(DpiLayoutTest, AMoveToAnotherScaleRedoesTheLayout)
{
    const UINT dpi = ScreenDpi();
    const UINT other = dpi == 192 ? 96 : 192;
    ::SetWindowPos(*window, HWND_TOP, 10, 10, S(600), S(500), 0);
    const std::vector<int> widths = ColumnWidths();

    RECT suggested = SendDpiChange(*window, dpi, other);
    RECT outer = window->GetWindowRect();
    EXPECT_TRUE(::EqualRect(&outer, &suggested)) << outer.right - outer.left << "x" << outer.bottom - outer.top;
    RECT explorer = RectIn(*window, window->ExplorerList);
    EXPECT_EQ(explorer.left, S(5, other));
    EXPECT_EQ(explorer.right - explorer.left, (outer.right - outer.left) - S(60, other));
    RECT execute = RectIn(*window, window->executeButton);
    EXPECT_EQ(execute.right - execute.left, S(35, other));
    EXPECT_EQ(window->ExplorerList.GetColumnWidth(0), S(180, other));
    // The fonts stay at the screen's scale under this simulation, so only the places are checked,
    // and the drive box, whose closed height follows its font, only by its top.
    for (HWND a : VisibleControls(*window, {}))
        for (HWND b : VisibleControls(*window, {})) {
            RECT ra = RectIn(*window, a), rb = RectIn(*window, b), both {};
            for (RECT* r : {&ra, &rb})
                if (r->left == RectIn(*window, window->driveBox).left &&
                    r->top == RectIn(*window, window->driveBox).top)
                    r->bottom = r->top + 1;
            EXPECT_TRUE(a == b || !::IntersectRect(&both, &ra, &rb)) << Describe(a) << " overlaps " << Describe(b);
        }

    settings::SettingsDialog& dialog = app::Settings();
    SendDpiChange(dialog, dpi, other);
    EXPECT_EQ(RectIn(dialog, dialog.tabs).right - RectIn(dialog, dialog.tabs).left, S(331, other));
    EXPECT_EQ(RectIn(dialog, dialog.maskEdit).left, S(163, other));

    SendDpiChange(*window, other, dpi);
    SendDpiChange(dialog, other, dpi);
    EXPECT_EQ(ColumnWidths(), widths);
    RECT back = window->GetWindowRect();
    EXPECT_EQ(back.right - back.left, S(600));
    ExpectTidy(*window, {}, "main window back on its first monitor");
    window->optionsButton.Click();
    ExpectSettingsTidy(" back on its first monitor");
    dialog.applyButton.Click();
}

}  // namespace
