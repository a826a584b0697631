#include "app/MainWindow.h"
#include "app/ProcessObjects.h"
#include "resources/kestrova/resource.h"
#include "tests/support/MainWindowFixture.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <string>

namespace {

RECT ChildRect(HWND parent, int id)
{
    return testsupport::RectInParent(::GetDlgItem(parent, id));
}

class MainWindowTest : public testsupport::MainWindowFixture {
protected:
    void ExpectColumns(const int (&widths)[5])
    {
        EXPECT_EQ(window->ExplorerList.GetColumnWidth(0), widths[0]);
        EXPECT_EQ(window->ExplorerList.GetColumnWidth(1), widths[1]);
        EXPECT_EQ(window->ExplorerList.GetColumnWidth(2), widths[2]);
        EXPECT_EQ(window->ExtractionList.GetColumnWidth(0), widths[3]);
        EXPECT_EQ(window->ExtractionList.GetColumnWidth(1), widths[4]);
    }
};

const int kDefaultWidths[5] = {180, 56, 110, 150, 210};

TEST_F(MainWindowTest, FirstStartUsesTheTemplatePlacementAndDefaultColumns)
{
    ASSERT_TRUE(Open());
    char caption[64] = {};
    ::GetWindowTextA(*window, caption, sizeof caption);
    EXPECT_STREQ(caption, "Kestrova");
    EXPECT_EQ(window->versionLabel.GetText(), "1.8.00");

    // Template position 0,0, opened at least at the size where no two controls overlap, and laid out.
    RECT outer = window->GetWindowRect();
    EXPECT_EQ(outer.left, 0);
    EXPECT_EQ(outer.top, 0);
    EXPECT_GE(outer.right - outer.left, 300);
    EXPECT_GE(outer.bottom - outer.top, 371);
    RECT explorer = ChildRect(*window, IDC_MAIN_EXPLORER);
    EXPECT_EQ(explorer.left, 5);
    EXPECT_EQ(explorer.top, 23);
    EXPECT_EQ(explorer.right - explorer.left, (outer.right - outer.left) - 60);

    ExpectColumns(kDefaultWidths);
    EXPECT_EQ(window->ExplorerList.GetColumnCount(), 3);
    EXPECT_EQ(window->ExtractionList.GetColumnCount(), 2);
    EXPECT_EQ(::SendMessageA(window->ExtractionList, LVM_GETBKCOLOR, 0, 0), static_cast<LRESULT>(RGB(223, 223, 223)));
    EXPECT_NE(window->executeButton.GetBitmap(), nullptr);
    EXPECT_NE(window->optionsButton.GetBitmap(), nullptr);
    EXPECT_NE(::SendMessageA(*window, WM_GETICON, ICON_SMALL, 0), 0);

    // The pictures are released with the window object, after the window and its buttons.
    HBITMAP execute = window->executeButton.GetBitmap();
    HBITMAP up = window->upButton.GetBitmap();
    HICON icon = reinterpret_cast<HICON>(::SendMessageA(*window, WM_GETICON, ICON_SMALL, 0));
    Close();
    EXPECT_EQ(::GetObjectType(up), static_cast<DWORD>(OBJ_BITMAP)) << "still there while the object lives";
    window.reset();
    EXPECT_EQ(::GetObjectType(execute), 0u);
    EXPECT_EQ(::GetObjectType(up), 0u);
    ICONINFO info {};
    EXPECT_FALSE(::GetIconInfo(icon, &info));
}

TEST_F(MainWindowTest, HasTheSeventeenControlsOfTheTemplate)
{
    ASSERT_TRUE(Open());
    struct Item {
        int id;
        const char* className;
    };
    const Item items[] = {
        {IDC_MAIN_EXPLORER, "SysListView32"},
        {IDC_MAIN_UP, "Button"},
        {IDC_MAIN_EXTRACTION, "SysListView32"},
        {IDC_MAIN_DELETE, "Button"},
        {IDC_MAIN_PROGRESS, "msctls_progress32"},
        {IDC_MAIN_SEARCH, "Button"},
        {IDC_MAIN_PATH, "Static"},
        {IDC_MAIN_EXECUTE, "Button"},
        {IDC_MAIN_OPTIONS, "Button"},
        {IDC_MAIN_REFRESH, "Button"},
        {IDC_MAIN_COUNT, "Static"},
        {IDC_MAIN_EMAIL, "Button"},
        {IDC_MAIN_WEBSITE, "Button"},
        {IDC_MAIN_VERSION, "Static"},
        {IDC_MAIN_DRIVES, "ComboBoxEx32"},
        {IDC_MAIN_VIEW, "Button"},
        {IDC_MAIN_DESKTOP, "Button"},
    };
    int children = 0;
    for (HWND child = ::GetWindow(*window, GW_CHILD); child != nullptr; child = ::GetWindow(child, GW_HWNDNEXT))
        ++children;
    EXPECT_EQ(children, 17);
    for (const Item& item : items) {
        HWND control = ::GetDlgItem(*window, item.id);
        ASSERT_NE(control, nullptr) << item.id;
        char name[64] = {};
        ::GetClassNameA(control, name, sizeof name);
        EXPECT_STRCASEEQ(name, item.className) << item.id;
    }
    LONG_PTR style = ::GetWindowLongPtrA(window->ExtractionList, GWL_STYLE);
    EXPECT_TRUE(style & LVS_SHOWSELALWAYS);
    EXPECT_TRUE(style & LVS_SHAREIMAGELISTS);
    EXPECT_EQ(style & LVS_TYPEMASK, LVS_REPORT);
    LONG_PTR frame = ::GetWindowLongPtrA(*window, GWL_STYLE);
    EXPECT_TRUE(frame & WS_MINIMIZEBOX);
    EXPECT_FALSE(frame & WS_MAXIMIZEBOX);
    EXPECT_TRUE(frame & WS_THICKFRAME);
    EXPECT_TRUE(::GetWindowLongPtrA(*window, GWL_EXSTYLE) & WS_EX_APPWINDOW);
}

// Every picture button tells what it does: a tooltip, and the same words as its name for screen
// readers (its window text, which the bitmap hides).
TEST_F(MainWindowTest, PictureButtonsHaveTooltipsAndNames)
{
    ASSERT_TRUE(Open());
    const std::pair<const fw::Button*, const char*> expected[] = {
        {&window->upButton, "Up one folder"},
        {&window->refreshButton, "Refresh"},
        {&window->desktopButton, "Desktop"},
        {&window->searchButton, "Search the selected folders for archives"},
        {&window->deleteButton, "Remove from the list"},
        {&window->viewButton, "Show File Contents"},
        {&window->executeButton, "Extract all"},
        {&window->optionsButton, "Options"},
        {&window->websiteButton, "Website"},
        {&window->emailButton, "E-mail"},
    };
    ASSERT_NE(window->buttonTips, nullptr);
    EXPECT_EQ(::SendMessageA(window->buttonTips, TTM_GETTOOLCOUNT, 0, 0), 10);
    for (const auto& button : expected) {
        EXPECT_EQ(button.first->GetText(), button.second);
        char text[128] = {};
        TTTOOLINFOA tool {};
        tool.cbSize = sizeof tool;
        tool.hwnd = *window;
        tool.uId = reinterpret_cast<UINT_PTR>(button.first->Handle());
        tool.lpszText = text;
        ::SendMessageA(window->buttonTips, TTM_GETTEXTA, sizeof text, reinterpret_cast<LPARAM>(&tool));
        EXPECT_STREQ(text, button.second);
        EXPECT_NE(button.first->GetBitmap(), nullptr) << button.second << ": still a picture";
    }
}

TEST_F(MainWindowTest, LayoutFollowsTheOuterSize)
{
    ASSERT_TRUE(Open());
    ::SetWindowPos(*window, HWND_TOP, 10, 10, 600, 500, 0);
    RECT explorer = ChildRect(*window, IDC_MAIN_EXPLORER);
    EXPECT_EQ(explorer.left, 5);
    EXPECT_EQ(explorer.top, 23);
    EXPECT_EQ(explorer.right - explorer.left, 540);
    EXPECT_EQ(explorer.bottom - explorer.top, 265);
    RECT queue = ChildRect(*window, IDC_MAIN_EXTRACTION);
    EXPECT_EQ(queue.left, 5);
    EXPECT_EQ(queue.top, 319);
    EXPECT_EQ(queue.right - queue.left, 540);
    EXPECT_EQ(queue.bottom - queue.top, 120);
    RECT execute = ChildRect(*window, IDC_MAIN_EXECUTE);
    EXPECT_EQ(execute.left, 553);
    EXPECT_EQ(execute.top, 407);
    RECT version = ChildRect(*window, IDC_MAIN_VERSION);
    EXPECT_EQ(version.left, 555);
    EXPECT_EQ(version.top, 448);
    RECT options = ChildRect(*window, IDC_MAIN_OPTIONS);
    EXPECT_EQ(options.left, 523);
    EXPECT_EQ(options.right - options.left, 23);

    // The window does not shrink below the size at which no two controls overlap (Desktop covered
    // Search below 371 pixels).
    ::SetWindowPos(*window, HWND_TOP, 10, 10, 50, 200, 0);
    RECT outer = window->GetWindowRect();
    EXPECT_EQ(outer.right - outer.left, 300);
    EXPECT_EQ(outer.bottom - outer.top, 371);
    const int ids[] = {IDC_MAIN_EXPLORER, IDC_MAIN_UP, IDC_MAIN_EXTRACTION, IDC_MAIN_DELETE, IDC_MAIN_PROGRESS,
        IDC_MAIN_SEARCH, IDC_MAIN_PATH, IDC_MAIN_EXECUTE, IDC_MAIN_OPTIONS, IDC_MAIN_REFRESH, IDC_MAIN_COUNT,
        IDC_MAIN_EMAIL, IDC_MAIN_WEBSITE, IDC_MAIN_VERSION, IDC_MAIN_VIEW, IDC_MAIN_DESKTOP};
    for (int a : ids) {
        for (int b : ids) {
            RECT ra = ChildRect(*window, a), rb = ChildRect(*window, b), both {};
            EXPECT_TRUE(a == b || !::IntersectRect(&both, &ra, &rb)) << a << " overlaps " << b;
        }
    }

    // The count label grows to the left to show its whole text, keeping its right edge.
    window->countLabel.SetText("10000 Object(s)");
    window->LayoutControls();
    RECT count = ChildRect(*window, IDC_MAIN_COUNT);
    HDC dc = ::GetDC(window->countLabel);
    HGDIOBJ old = ::SelectObject(dc, reinterpret_cast<HGDIOBJ>(window->countLabel.Send(WM_GETFONT)));
    SIZE text {};
    ::GetTextExtentPoint32A(dc, "10000 Object(s)", 15, &text);
    ::SelectObject(dc, old);
    ::ReleaseDC(window->countLabel, dc);
    EXPECT_GE(count.right - count.left, text.cx);
    EXPECT_EQ(count.right, (outer.right - outer.left) - 60 + 2);
}

TEST_F(MainWindowTest, APlacementOutsideEveryMonitorOpensInTheWorkArea)
{
    RECT work {};
    ::SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    const struct {
        const char *left, *top, *right, *bottom;
    } placements[] = {{"5000", "4000", "5640", "4520"}, {"-3000", "-2000", "-2360", "-1480"}};
    for (const auto& p : placements) {
        WriteRaw("Placement", "Left", p.left);
        WriteRaw("Placement", "Top", p.top);
        WriteRaw("Placement", "Width", p.right);
        WriteRaw("Placement", "Tall", p.bottom);
        ASSERT_TRUE(Open());
        RECT outer = window->GetWindowRect(), inside {};
        EXPECT_EQ(outer.right - outer.left, 640) << p.left << " keeps its size";
        EXPECT_EQ(outer.bottom - outer.top, 520) << p.left;
        EXPECT_TRUE(::IntersectRect(&inside, &outer, &work) && ::EqualRect(&inside, &outer))
            << p.left << ": " << outer.left << "," << outer.top;
        Close();
    }
}

TEST_F(MainWindowTest, CloseStoresPlacementAndColumnsAsDecimalText)
{
    ASSERT_TRUE(Open());
    ::SetWindowPos(*window, HWND_TOP, 40, 30, 640, 520, 0);
    window->ExplorerList.Send(LVM_SETCOLUMNWIDTH, 1, 77);
    window->ExtractionList.Send(LVM_SETCOLUMNWIDTH, 0, 99);
    Close();

    EXPECT_EQ(ReadRaw("Placement", "Top"), "30");
    EXPECT_EQ(ReadRaw("Placement", "Left"), "40");
    EXPECT_EQ(ReadRaw("Placement", "Width"), "680");  // the right edge
    EXPECT_EQ(ReadRaw("Placement", "Tall"), "550");   // the bottom edge
    EXPECT_EQ(ReadRaw("Columns", "Explore Name"), "180");
    EXPECT_EQ(ReadRaw("Columns", "Explore Size"), "77");
    EXPECT_EQ(ReadRaw("Columns", "Explore Created"), "110");
    EXPECT_EQ(ReadRaw("Columns", "List Name"), "99");
    EXPECT_EQ(ReadRaw("Columns", "List Location"), "210");
    EXPECT_EQ(RawType("Placement", "Top"), static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(RawType("Columns", "List Name"), static_cast<DWORD>(REG_SZ));

    // The next start restores both.
    ASSERT_TRUE(Open());
    RECT outer = window->GetWindowRect();
    EXPECT_EQ(outer.left, 40);
    EXPECT_EQ(outer.top, 30);
    EXPECT_EQ(outer.right, 680);
    EXPECT_EQ(outer.bottom, 550);
    const int stored[5] = {180, 77, 110, 99, 210};
    ExpectColumns(stored);
}

TEST_F(MainWindowTest, AZeroOrUnreadableStoredValueSelectsTheDefaults)
{
    WriteRaw("Placement", "Top", "100");
    WriteRaw("Placement", "Left", "0");
    WriteRaw("Placement", "Width", "700");
    WriteRaw("Placement", "Tall", "600");
    WriteRaw("Columns", "Explore Name", " 200 ");
    WriteRaw("Columns", "Explore Size", "60");
    WriteRaw("Columns", "Explore Created", "0");
    WriteRaw("Columns", "List Name", "160");
    WriteRaw("Columns", "List Location", "220");
    ASSERT_TRUE(Open());
    RECT outer = window->GetWindowRect();
    EXPECT_EQ(outer.left, 0) << "a stored left edge of 0 restores nothing";
    EXPECT_EQ(outer.top, 0);
    ExpectColumns(kDefaultWidths);
    Close();

    // Numbers are read from their leading digits; text that is no number counts as 0.
    WriteRaw("Placement", "Left", "-20px");
    WriteRaw("Placement", "Top", "50");
    WriteRaw("Columns", "Explore Created", "wide");
    ASSERT_TRUE(Open());
    outer = window->GetWindowRect();
    EXPECT_EQ(outer.left, -20);
    EXPECT_EQ(outer.top, 50);
    ExpectColumns(kDefaultWidths);
}

}  // namespace
