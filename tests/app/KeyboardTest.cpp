// The real kestrova.exe driven from the keyboard alone, with real key presses through the X server:
// Tab walks every window in reading order, Enter presses the default button, Escape closes the
// dialogs that may close, and the lists still take their own keys (Enter and Delete).
#include "resources/kestrova/resource.h"
#include "tests/support/ProgramProcess.h"
#include "tests/support/RegistryFixture.h"
#include "tests/support/RemoteListView.h"
#include "tests/support/TestFolder.h"
#include "tests/support/ZipBuilder.h"

#include <commctrl.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using testsupport::ClickWindow;
using testsupport::WaitUntil;
using testsupport::Xdotool;

HWND FocusOf(HWND window)
{
    GUITHREADINFO info {};
    info.cbSize = sizeof info;
    ::GetGUIThreadInfo(::GetWindowThreadProcessId(window, nullptr), &info);
    return info.hwndFocus;
}

// The id of the control of `dialog` that has the focus or holds it (the drive box holds its edit
// field); 0 when the focus is elsewhere. The settings pages nest their controls in group boxes,
// which keep the controls' own ids.
int FocusedId(HWND dialog)
{
    for (HWND focus = FocusOf(dialog); focus != nullptr && focus != dialog; focus = ::GetParent(focus)) {
        HWND parent = ::GetParent(focus);
        if (parent == dialog || ::GetDlgCtrlID(parent) == IDC_SETTINGS_GENERAL_PAGE ||
            ::GetDlgCtrlID(parent) == IDC_SETTINGS_MASKING_PAGE)
            return ::GetDlgCtrlID(focus);
    }
    return 0;
}

// Presses `key` and records which control has the focus afterwards, `times` times.
std::vector<int> Walk(HWND dialog, const std::string& key, size_t times)
{
    std::vector<int> visited;
    for (size_t i = 0; i < times; ++i) {
        Xdotool("key " + key, 100);
        visited.push_back(FocusedId(dialog));
    }
    return visited;
}

class KeyboardTest : public testsupport::RegistryFixture {
protected:
    void SetUp() override
    {
        RegistryFixture::SetUp();
        ziptest::Archive zip;
        zip.Add("inside.txt", "inside");
        ASSERT_TRUE(testsupport::WriteFileBytes(folder_.Child("pack.zip"), zip.Build()));
        WriteRaw("Folders", "Last", folder_.Path() + "\\");
    }
    void TearDown() override
    {
        program_.Close();
        RegistryFixture::TearDown();
    }
    // Starts the program (with `arguments` on its command line) and gives the keyboard to
    // `controlId` of its main window by a click, as a user would.
    void Start(const std::string& arguments, int controlId)
    {
        ASSERT_TRUE(program_.StartCommand("\"" + testsupport::ProgramPath() + "\" " + arguments));
        window_ = testsupport::WaitForMainWindow(program_.Id(), 20000);
        ASSERT_NE(window_, nullptr) << "the main window did not appear";
        // The first click may only activate a window that is still settling; a user would click again.
        HWND control = ::GetDlgItem(window_, controlId);
        for (int attempt = 0; attempt < 5 && FocusedId(window_) != controlId; ++attempt) {
            ClickWindow(control);
            ::Sleep(100 * attempt);
        }
        ASSERT_EQ(FocusedId(window_), controlId);
    }
    DWORD CloseAndWait()
    {
        ::PostMessageA(window_, WM_CLOSE, 0, 0);
        DWORD code = 12345;
        EXPECT_TRUE(program_.WaitForExit(20000, code));
        return code;
    }
    // The main window's command `id` as a click of that button sends it.
    void Press(int id) const
    {
        ::PostMessageA(window_, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
            reinterpret_cast<LPARAM>(::GetDlgItem(window_, id)));
    }

    testsupport::TestFolder folder_;
    testsupport::ChildProcess program_;
    HWND window_ = nullptr;
};

TEST_F(KeyboardTest, TabWalksTheMainWindowInReadingOrderShowingTheFocusAndEscapeKeepsItOpen)
{
    Start("", IDC_MAIN_EXPLORER);
    const std::vector<int> order = {IDC_MAIN_UP, IDC_MAIN_REFRESH, IDC_MAIN_SEARCH, IDC_MAIN_DESKTOP,
        IDC_MAIN_DRIVES, IDC_MAIN_EXTRACTION, IDC_MAIN_DELETE, IDC_MAIN_VIEW, IDC_MAIN_EXECUTE, IDC_MAIN_WEBSITE,
        IDC_MAIN_EMAIL, IDC_MAIN_OPTIONS, IDC_MAIN_EXPLORER};
    EXPECT_EQ(Walk(window_, "Tab", order.size()), order);
    const std::vector<int> back = {IDC_MAIN_OPTIONS, IDC_MAIN_EMAIL};
    EXPECT_EQ(Walk(window_, "shift+Tab", back.size()), back);
    EXPECT_EQ(::SendMessageA(window_, WM_QUERYUISTATE, 0, 0) & UISF_HIDEFOCUS, 0)
        << "after Tab the focused control shows its focus rectangle";

    // Typed characters still reach the drive box's edit field; Enter there presses no button (not
    // the last one Tab went through) and Escape does not end the program.
    Walk(window_, "shift+Tab", 6);
    ASSERT_EQ(FocusedId(window_), IDC_MAIN_DRIVES);
    char folder[MAX_PATH] = {};
    ::SendMessageA(::GetDlgItem(window_, IDC_MAIN_PATH), WM_GETTEXT, sizeof folder, reinterpret_cast<LPARAM>(folder));
    HWND edit = reinterpret_cast<HWND>(::SendMessageA(::GetDlgItem(window_, IDC_MAIN_DRIVES), CBEM_GETEDITCONTROL, 0, 0));
    Xdotool("key ctrl+a");
    Xdotool("key k");
    Xdotool("key v");
    char typed[32] = {};
    ::SendMessageA(edit, WM_GETTEXT, sizeof typed, reinterpret_cast<LPARAM>(typed));
    EXPECT_STREQ(typed, "kv");
    Walk(window_, "shift+Tab", 1);
    Walk(window_, "Tab", 1);
    Xdotool("key Return", 500);
    char after[MAX_PATH] = {};
    ::SendMessageA(::GetDlgItem(window_, IDC_MAIN_PATH), WM_GETTEXT, sizeof after, reinterpret_cast<LPARAM>(after));
    EXPECT_STREQ(after, folder) << "Enter in the drive box pressed Desktop";
    Xdotool("key Escape", 500);
    EXPECT_TRUE(::IsWindowVisible(window_));
    EXPECT_EQ(CloseAndWait(), 0u);
}

// Enter in the explorer queues the selected archive, Delete in the extraction list removes the
// selected row, Enter there extracts: the lists' own keys, not the window's default button.
TEST_F(KeyboardTest, EnterAndDeleteStillWorkInTheLists)
{
    Start("", IDC_MAIN_EXPLORER);
    testsupport::RemoteListView explorer(::GetDlgItem(window_, IDC_MAIN_EXPLORER), program_.Id());
    testsupport::RemoteListView queue(::GetDlgItem(window_, IDC_MAIN_EXTRACTION), program_.Id());
    ASSERT_TRUE(explorer.Usable() && queue.Usable());
    const int row = explorer.Find("pack.zip");
    ASSERT_GE(row, 0);
    explorer.Select(-1, false);
    explorer.Select(row, true, true);
    Xdotool("key Return");
    ASSERT_TRUE(WaitUntil([&] { return queue.Count() == 1; }, 5000)) << "Enter in the explorer queues the archive";

    Walk(window_, "Tab", 6);
    ASSERT_EQ(FocusedId(window_), IDC_MAIN_EXTRACTION);
    queue.Select(0, true, true);
    Xdotool("key Delete");
    EXPECT_TRUE(WaitUntil([&] { return queue.Count() == 0; }, 5000)) << "Delete in the extraction list removes the row";

    Walk(window_, "shift+Tab", 6);
    ASSERT_EQ(FocusedId(window_), IDC_MAIN_EXPLORER);
    Xdotool("key Return");
    ASSERT_TRUE(WaitUntil([&] { return queue.Count() == 1; }, 5000));
    Walk(window_, "Tab", 6);
    Xdotool("key Return");
    EXPECT_TRUE(WaitUntil([&] { return testsupport::FileExists(folder_.Child("inside.txt")); }, 20000))
        << "Enter in the extraction list extracts";
    EXPECT_EQ(CloseAndWait(), 0u);
}

TEST_F(KeyboardTest, SettingsTabsThroughTheShownPageAndClosesWithEnterOrEscape)
{
    Start("", IDC_MAIN_EXPLORER);
    Press(IDC_MAIN_OPTIONS);
    HWND settings = testsupport::WaitForProcessWindow(program_.Id(), "Settings", 5000);
    ASSERT_NE(settings, nullptr);
    HWND tabs = ::GetDlgItem(settings, IDC_SETTINGS_TABS);
    for (int attempt = 0; attempt < 20 && FocusedId(settings) != IDC_SETTINGS_TABS; ++attempt)
        Xdotool("key Tab", 100);
    ASSERT_EQ(FocusedId(settings), IDC_SETTINGS_TABS);

    const std::vector<int> general = {IDC_SETTINGS_TITLE_EXTRACT, IDC_SETTINGS_MESSAGE_ALERT, IDC_SETTINGS_ASK_FOLDER,
        IDC_SETTINGS_SMART_FOLDER, IDC_SETTINGS_MARK_OF_THE_WEB, IDC_SETTINGS_RECYCLE_ARCHIVES,
        IDC_SETTINGS_EXISTING_FILES, IDC_SETTINGS_NAME_PAGE, IDC_SETTINGS_DESKTOP_SHORTCUT,
        IDC_SETTINGS_QUICKLAUNCH_SHORTCUT, IDOK, IDC_SETTINGS_TABS};
    EXPECT_EQ(Walk(settings, "Tab", general.size()), general);

    // The arrow keys change the page; Delete is passed over while it is greyed (nothing selected).
    Xdotool("key Right", 200);
    ASSERT_EQ(::SendMessageA(tabs, TCM_GETCURSEL, 0, 0), 1);
    const std::vector<int> masking = {
        IDC_SETTINGS_MASKS, IDC_SETTINGS_ADD, IDC_SETTINGS_MASK_EDIT, IDOK, IDC_SETTINGS_TABS};
    EXPECT_EQ(Walk(settings, "Tab", masking.size()), masking);
    Walk(settings, "Tab", 3);
    ASSERT_EQ(FocusedId(settings), IDC_SETTINGS_MASK_EDIT);
    Xdotool("type --delay 50 '*.tmp'");
    EXPECT_EQ(Walk(settings, "shift+Tab", 1), std::vector<int> {IDC_SETTINGS_ADD});
    Xdotool("key space", 200);
    HWND masks = ::GetDlgItem(::GetDlgItem(settings, IDC_SETTINGS_MASKING_PAGE), IDC_SETTINGS_MASKS);
    EXPECT_EQ(::SendMessageA(masks, LVM_GETITEMCOUNT, 0, 0), 1) << "Space pressed Add";
    // Enter in the mask entry adds the mask typed there, as Add would; it does not close the dialog.
    Walk(settings, "Tab", 2);
    ASSERT_EQ(FocusedId(settings), IDC_SETTINGS_MASK_EDIT);
    Xdotool("key Return", 300);
    EXPECT_EQ(::SendMessageA(masks, LVM_GETITEMCOUNT, 0, 0), 2) << "Enter in the mask entry added the mask";
    EXPECT_TRUE(::IsWindowVisible(settings));

    Xdotool("key Escape", 300);
    EXPECT_FALSE(::IsWindowVisible(settings));
    EXPECT_TRUE(::IsWindowEnabled(window_));
    Press(IDC_MAIN_OPTIONS);
    ASSERT_TRUE(WaitUntil([&] { return ::IsWindowVisible(settings) != FALSE; }, 5000));
    Xdotool("key Return", 300);
    EXPECT_FALSE(::IsWindowVisible(settings)) << "Enter presses Apply";
    EXPECT_TRUE(::IsWindowEnabled(window_));
    EXPECT_EQ(CloseAndWait(), 0u);
}

TEST_F(KeyboardTest, ViewerTabsFromTheListToOkAndClosesWithEnterOrEscape)
{
    Start("\"" + folder_.Child("pack.zip") + "\"", IDC_MAIN_EXTRACTION);
    testsupport::RemoteListView queue(::GetDlgItem(window_, IDC_MAIN_EXTRACTION), program_.Id());
    ASSERT_EQ(queue.Count(), 1);
    for (const char* closing : {"Return", "Escape"}) {
        queue.Select(0, true, true);
        Press(IDC_MAIN_VIEW);
        HWND viewer = testsupport::WaitForProcessWindow(program_.Id(), "Archive Viewer", 5000);
        ASSERT_NE(viewer, nullptr);
        ASSERT_TRUE(WaitUntil([&] { return FocusedId(viewer) == IDC_VIEWER_LIST; }, 3000));
        EXPECT_EQ(Walk(viewer, "Tab", 2), (std::vector<int> {IDOK, IDC_VIEWER_LIST}));
        Xdotool(std::string("key ") + closing, 300);
        EXPECT_FALSE(::IsWindowVisible(viewer)) << closing;
        EXPECT_TRUE(::IsWindowEnabled(window_)) << closing;
    }
    EXPECT_EQ(CloseAndWait(), 0u);
}

}  // namespace
