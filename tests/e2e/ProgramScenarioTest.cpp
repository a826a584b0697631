// The real kestrova.exe, started as its own process and used only as a user would: real mouse and
// keyboard through the X server, texts read from its windows from outside. The results are then
// checked where they land: the extracted files, the registry key and the desktop shortcut.
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

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

namespace {

using testsupport::ClickScreen;
using testsupport::ClickWindow;
using testsupport::FolderExists;
using testsupport::ReadFileBytes;
using testsupport::RemoteListView;
using testsupport::WaitUntil;
using testsupport::WindowText;
using testsupport::Xdotool;

// Main window (dialog 102).
const int kExplorerList = 1000;
const int kExtractionList = 1006;
const int kViewButton = 1009;
const int kSearchButton = 1011;
const int kPathLabel = 1012;
const int kExecuteButton = 1013;
const int kOptionsButton = 1021;
const int kDriveBox = 1070;
// Settings (dialog 139): the options live on the General page's group box, the masks on the File
// Masking page's; the mask entry and its Add button are children of the dialog itself.
const int kGeneralPage = 1056;
const int kMaskingPage = 1057;
const int kTitleExtract = 1020;
const int kMessageBoxAlert = 1024;
const int kDesktopShortcut = 1026;
const int kMaskList = 1051;
const int kTabs = 1055;
const int kAddMask = 1061;
const int kMaskEdit = 1064;
// Archive Viewer (dialog 172).
const int kViewerList = 1000;
const int kViewerName = 1076;

const DWORD kWindowWaitMs = 20000;
const DWORD kListWaitMs = 10000;

// One member of a test archive and where it must (or must not) end up.
struct Member {
    std::string name;
    std::string data;
    bool deflate;
};

const std::vector<Member> kAlpha = {
    {"readme.txt", "Alpha's read-me.\r\nSecond line.\r\n", true},
    {"docs/guide.txt", std::string(3000, 'g') + "end of the guide", true},
    {"build.tmp", "scratch that the seeded mask keeps out", true},
    {"docs/old.tmp", "also kept out, in a folder", false},
    {"notes.log", "kept: a mask added this run applies from the next start", true},
};
const std::vector<Member> kBeta = {
    {"beta.txt", "stored, not compressed", false},
    {"data/values.csv", "1,2,3\r\n4,5,6\r\n", true},
};
const std::vector<Member> kGamma = {{"gamma.txt", "never queued", true}};
const std::vector<Member> kDelta = {{"delta.txt", "found by the search", true}};
const std::vector<Member> kEpsilon = {
    {"epsilon.txt", "found two levels down", true},
    {"scratch.tmp", "masked", true},
};

std::string BuildZip(const std::vector<Member>& members)
{
    ziptest::Archive zip;
    for (const Member& member : members)
        zip.Add(member.name, member.data, member.deflate);
    return zip.Build();
}

std::string Backslashed(std::string path)
{
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

bool HasSuffix(const std::string& text, const std::string& suffix)
{
    return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

using testsupport::ShortcutTarget;

std::string DesktopShortcutPath()
{
    const char* profile = std::getenv("USERPROFILE");
    return std::string(profile != nullptr ? profile : "") + "\\Desktop\\Kestrova.lnk";
}

// Checked state of a check box of another process (BM_GETCHECK carries no pointer).
bool IsChecked(HWND box)
{
    return ::SendMessageA(box, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

// The folder of archives lies directly on C:, where a user reaches it from the drive box with one
// double click; it is removed again with everything the run extracted into it.
class ProgramScenarioTest : public testsupport::RegistryFixture {
protected:
    void SetUp() override
    {
        RegistryFixture::SetUp();
        ::CoInitialize(nullptr);
        ::DeleteFileA(DesktopShortcutPath().c_str());
        folderName_ = "kestrova-e2e-" + std::to_string(::GetCurrentProcessId());
        work_ = "C:\\" + folderName_;
        testsupport::TestFolder::Remove(work_);
        ASSERT_TRUE(::CreateDirectoryA(work_.c_str(), nullptr)) << work_;
        ::CreateDirectoryA(Path("more").c_str(), nullptr);
        ::CreateDirectoryA(Path("more\\deeper").c_str(), nullptr);
        ASSERT_TRUE(testsupport::WriteFileBytes(Path("alpha.zip"), BuildZip(kAlpha)));
        ASSERT_TRUE(testsupport::WriteFileBytes(Path("beta.zip"), BuildZip(kBeta)));
        ASSERT_TRUE(testsupport::WriteFileBytes(Path("gamma.zip"), BuildZip(kGamma)));
        ASSERT_TRUE(testsupport::WriteFileBytes(Path("more\\delta.zip"), BuildZip(kDelta)));
        ASSERT_TRUE(testsupport::WriteFileBytes(Path("more\\deeper\\epsilon.zip"), BuildZip(kEpsilon)));
        // A mask the user set up in an earlier run: it applies from the start of this one.
        WriteRaw("Not To Extract", "0", "*.tmp");
        Xdotool("mousemove 5 5", 50);
    }
    void TearDown() override
    {
        Xdotool("mouseup 1 keyup ctrl mousemove 5 5", 50);
        program_.Close();
        testsupport::TestFolder::Remove(work_);
        ::DeleteFileA(DesktopShortcutPath().c_str());
        ::CoUninitialize();
        RegistryFixture::TearDown();
    }

    std::string Path(const std::string& relative) const { return work_ + "\\" + relative; }

    void StartProgram()
    {
        ASSERT_TRUE(program_.Start(testsupport::ProgramPath()));
        window_ = testsupport::WaitForMainWindow(program_.Id(), kWindowWaitMs);
        ASSERT_NE(window_, nullptr) << "the main window did not appear";
    }

    HWND Item(int id) const { return ::GetDlgItem(window_, id); }

    // Picks an entry of the drive box with the mouse: open the drop-down, click the entry.
    void ChooseDrive(const std::string& root)
    {
        HWND drives = Item(kDriveBox);
        RemoteListView box(drives, program_.Id());
        int index = -1;
        int count = static_cast<int>(::SendMessageA(drives, CB_GETCOUNT, 0, 0));
        for (int i = 0; i < count && index < 0; ++i)
            if (box.ComboText(i) == root)
                index = i;
        ASSERT_GE(index, 0) << "the drive box does not list " << root;

        RECT rect {};
        ::GetWindowRect(drives, &rect);
        ASSERT_TRUE(ClickScreen(POINT {rect.right - 8, (rect.top + rect.bottom) / 2}));
        HWND dropped = testsupport::WaitForProcessWindowWhere(program_.Id(), 5000, [](HWND window) {
            char name[16] = {};
            ::GetClassNameA(window, name, sizeof name);
            return lstrcmpiA(name, "ComboLBox") == 0;
        });
        ASSERT_NE(dropped, nullptr) << "the drive box did not drop down";
        int top = static_cast<int>(::SendMessageA(dropped, LB_GETTOPINDEX, 0, 0));
        int height = static_cast<int>(::SendMessageA(dropped, LB_GETITEMHEIGHT, 0, 0));
        RECT client {};
        ::GetClientRect(dropped, &client);
        POINT point {client.left + 20, (index - top) * height + height / 2};
        ::ClientToScreen(dropped, &point);
        ASSERT_TRUE(ClickScreen(point));
    }

    bool PathLabelIs(const std::string& folder) const { return WindowText(Item(kPathLabel)) == " " + folder; }

    testsupport::ChildProcess program_;
    HWND window_ = nullptr;
    std::string folderName_;
    std::string work_;
};

TEST_F(ProgramScenarioTest, QueueBySearchAndDragSetOptionsExtractViewAndCloseSavesEverything)
{
    ASSERT_NO_FATAL_FAILURE(StartProgram());
    RemoteListView explorer(Item(kExplorerList), program_.Id());
    RemoteListView queue(Item(kExtractionList), program_.Id());
    ASSERT_TRUE(explorer.Usable());

    // To the folder: drive C: from the drive box, then a double click on the folder.
    ASSERT_NO_FATAL_FAILURE(ChooseDrive("C:\\"));
    ASSERT_TRUE(WaitUntil([&] { return PathLabelIs("C:\\") && explorer.Find(folderName_) >= 0; }, kListWaitMs))
        << "choosing C:\\ should list it; the path label shows '" << WindowText(Item(kPathLabel)) << "'";
    ASSERT_TRUE(ClickScreen(explorer.ItemCentre(explorer.Find(folderName_)), 2));
    ASSERT_TRUE(WaitUntil([&] { return PathLabelIs(work_ + "\\") && explorer.Count() == 4; }, kListWaitMs))
        << "a double click on " << folderName_ << " should open it; the path label shows '"
        << WindowText(Item(kPathLabel)) << "' and the list has " << explorer.Count() << " rows";
    // Sub-folders first, then the archives.
    EXPECT_EQ(explorer.Text(0), "more");
    std::set<std::string> archives {explorer.Text(1), explorer.Text(2), explorer.Text(3)};
    EXPECT_EQ(archives, (std::set<std::string> {"alpha.zip", "beta.zip", "gamma.zip"}));
    EXPECT_EQ(WindowText(Item(1023)), "4 Object(s)");

    // A column made wider by dragging its header divider, as a user would.
    HWND header = reinterpret_cast<HWND>(::SendMessageA(Item(kExplorerList), LVM_GETHEADER, 0, 0));
    RemoteListView headerItems(header, program_.Id());
    const int nameWidth = explorer.ColumnWidth(0);
    RECT nameColumn = headerItems.ScreenRect(HDM_GETITEMRECT, 0);
    POINT divider {nameColumn.right - 1, (nameColumn.top + nameColumn.bottom) / 2};
    ASSERT_TRUE(Xdotool(testsupport::DragCommand(divider, POINT {divider.x + 40, divider.y}), 300));
    ASSERT_TRUE(WaitUntil([&] { return explorer.ColumnWidth(0) != nameWidth; }, 3000))
        << "dragging the header divider should widen the Name column";
    const int widenedName = explorer.ColumnWidth(0);

    // Two archives dragged across: click one, Ctrl+click the other, drag the selection.
    const int alphaRow = explorer.Find("alpha.zip");
    const int betaRow = explorer.Find("beta.zip");
    ASSERT_TRUE(ClickScreen(explorer.ItemCentre(alphaRow)));
    ASSERT_TRUE(Xdotool(
        "mousemove " + testsupport::PointText(explorer.ItemCentre(betaRow)) + " keydown ctrl click 1 keyup ctrl"));
    ASSERT_TRUE(WaitUntil([&] { return explorer.SelectedCount() == 2; }, 3000))
        << explorer.SelectedCount() << " rows selected";
    POINT intoQueue = testsupport::ClientPoint(Item(kExtractionList), 60, 40);
    ASSERT_TRUE(Xdotool(testsupport::DragCommand(explorer.ItemCentre(alphaRow), intoQueue), 400));
    ASSERT_TRUE(WaitUntil([&] { return queue.Count() == 2; }, kListWaitMs))
        << "the drop should queue two archives; the list has " << queue.Count();
    const std::string upper = alphaRow < betaRow ? "alpha.zip" : "beta.zip";
    const std::string lower = alphaRow < betaRow ? "beta.zip" : "alpha.zip";
    EXPECT_EQ(queue.Text(0), upper);
    EXPECT_EQ(queue.Text(1), lower);
    EXPECT_EQ(queue.Text(0, 1), work_ + "\\");

    // The sub-folder selected and searched: its archives, at every depth, go on top.
    ASSERT_TRUE(ClickScreen(explorer.ItemCentre(explorer.Find("more"))));
    ASSERT_TRUE(WaitUntil([&] { return explorer.SelectedCount() == 1 && explorer.IsSelected(0); }, 3000));
    ASSERT_TRUE(ClickWindow(Item(kSearchButton)));
    ASSERT_TRUE(WaitUntil([&] { return queue.Count() == 4 && ::IsWindowEnabled(window_); }, kListWaitMs))
        << "Search should queue the two archives under more; the list has " << queue.Count();
    std::set<std::string> found {queue.Text(0, 1) + queue.Text(0), queue.Text(1, 1) + queue.Text(1)};
    EXPECT_EQ(found, (std::set<std::string> {Path("more\\delta.zip"), Path("more\\deeper\\epsilon.zip")}));
    EXPECT_EQ(queue.Text(2), upper) << "the dragged archives stay below the found ones";
    EXPECT_EQ(queue.Text(3), lower);

    // Settings: title sub-folders, the completion message and a desktop shortcut; one mask more.
    ASSERT_TRUE(ClickWindow(Item(kOptionsButton)));
    HWND settings = testsupport::WaitForProcessWindow(program_.Id(), "Settings", kWindowWaitMs);
    ASSERT_NE(settings, nullptr) << "Options should show the Settings dialog";
    EXPECT_FALSE(::IsWindowEnabled(window_)) << "the main window takes no input while Settings is up";
    HWND general = ::GetDlgItem(settings, kGeneralPage);
    for (int option : {kTitleExtract, kMessageBoxAlert, kDesktopShortcut}) {
        HWND box = ::GetDlgItem(general, option);
        ASSERT_NE(box, nullptr) << "no check box " << option << " on the General page";
        EXPECT_FALSE(IsChecked(box)) << option << " is on before the user touched it";
        ASSERT_TRUE(ClickWindow(box));
        EXPECT_TRUE(WaitUntil([&] { return IsChecked(box); }, 3000)) << "a click should check " << option;
    }
    RemoteListView tabs(::GetDlgItem(settings, kTabs), program_.Id());
    RECT maskingTab = tabs.ScreenRect(TCM_GETITEMRECT, 1);
    ASSERT_TRUE(
        ClickScreen(POINT {(maskingTab.left + maskingTab.right) / 2, (maskingTab.top + maskingTab.bottom) / 2}));
    HWND edit = ::GetDlgItem(settings, kMaskEdit);
    ASSERT_TRUE(WaitUntil([&] { return ::IsWindowVisible(edit) != FALSE; }, 3000))
        << "the File Masking tab should show the mask entry";
    RemoteListView masks(::GetDlgItem(::GetDlgItem(settings, kMaskingPage), kMaskList), program_.Id());
    ASSERT_EQ(masks.Count(), 1);
    EXPECT_EQ(masks.Text(0), "*.tmp");
    ASSERT_TRUE(ClickWindow(edit));
    ASSERT_TRUE(Xdotool("type --delay 60 '*.log'"));
    HWND add = ::GetDlgItem(settings, kAddMask);
    ASSERT_TRUE(WaitUntil([&] { return ::IsWindowEnabled(add) != FALSE; }, 3000)) << "typing should enable Add";
    ASSERT_TRUE(ClickWindow(add));
    ASSERT_TRUE(WaitUntil([&] { return masks.Count() == 2; }, 3000));
    EXPECT_EQ(masks.Text(0), "*.log");
    EXPECT_EQ(masks.Text(1), "*.tmp");
    ASSERT_TRUE(ClickWindow(::GetDlgItem(settings, IDOK)));
    ASSERT_TRUE(WaitUntil([&] { return !::IsWindowVisible(settings) && ::IsWindowEnabled(window_); }, 5000))
        << "Apply should hide Settings and give the main window back";

    // Execute: one summary line per queued archive, in list order.
    std::string summary = "Files extracted: \n\n";
    for (int row = 0; row < queue.Count(); ++row)
        summary += queue.Text(row, 1) + queue.Text(row) + "\n";
    ASSERT_TRUE(ClickWindow(Item(kExecuteButton)));
    testsupport::AnsweredBox box = testsupport::AnswerProcessMessageBox(program_.Id(), 30000);
    ASSERT_TRUE(box.shown) << "Execute should end with the summary";
    EXPECT_EQ(box.caption, "kestrova");
    EXPECT_EQ(box.text, summary);
    ASSERT_TRUE(box.closed) << "OK should close the summary";
    EXPECT_EQ(queue.Count(), 4) << "the run leaves the list as it was";

    // The viewer on beta.zip: the members in reverse of their order in the archive.
    const int betaQueued = queue.Find("beta.zip");
    ASSERT_GE(betaQueued, 0);
    ASSERT_TRUE(ClickScreen(queue.ItemCentre(betaQueued)));
    ASSERT_TRUE(WaitUntil([&] { return queue.SelectedCount() == 1 && queue.IsSelected(betaQueued); }, 3000));
    ASSERT_TRUE(ClickWindow(Item(kViewButton)));
    HWND viewer = testsupport::WaitForProcessWindow(program_.Id(), "Archive Viewer", kWindowWaitMs);
    ASSERT_NE(viewer, nullptr) << "Show File Contents should open the viewer";
    RemoteListView members(::GetDlgItem(viewer, kViewerList), program_.Id());
    ASSERT_TRUE(WaitUntil([&] { return members.Count() == 2; }, kListWaitMs)) << members.Count() << " rows";
    EXPECT_EQ(WindowText(::GetDlgItem(viewer, kViewerName)), "beta.zip");
    EXPECT_EQ(members.Text(0, 0), kBeta[1].name);
    EXPECT_EQ(members.Text(0, 1), std::to_string(kBeta[1].data.size()));
    EXPECT_EQ(members.Text(1, 0), kBeta[0].name);
    EXPECT_EQ(members.Text(1, 1), std::to_string(kBeta[0].data.size()));
    EXPECT_EQ(members.Text(1, 2), members.Text(1, 1)) << "a stored member packs to its own size";
    EXPECT_TRUE(HasSuffix(members.Text(1, 3), "%")) << members.Text(1, 3);
    EXPECT_FALSE(::IsWindowEnabled(window_)) << "the main window takes no input while the viewer is up";
    ASSERT_TRUE(ClickWindow(::GetDlgItem(viewer, IDOK)));
    ASSERT_TRUE(WaitUntil([&] { return !::IsWindowVisible(viewer) && ::IsWindowEnabled(window_); }, 5000))
        << "OK should hide the viewer and give the main window back";

    // Closed with Alt+F4 once the window has the keyboard.
    RECT placement {};
    ::GetWindowRect(window_, &placement);
    DWORD exitCode = 12345;
    ASSERT_TRUE(testsupport::CloseWithAltF4(window_, program_, kWindowWaitMs, exitCode))
        << "Alt+F4 should end the program";
    EXPECT_EQ(exitCode, 0u);

    // The extracted trees: each archive into a folder named after it, beside it.
    auto expectTree = [&](const std::string& folder, const std::vector<Member>& contents) {
        for (const Member& member : contents) {
            const std::string path = Path(folder + "\\" + Backslashed(member.name));
            std::string bytes;
            if (HasSuffix(member.name, ".tmp")) {
                EXPECT_FALSE(testsupport::FileExists(path)) << path << " matches the mask *.tmp";
            } else {
                EXPECT_TRUE(ReadFileBytes(path, bytes)) << path << " was not extracted";
                EXPECT_EQ(bytes, member.data) << path;
            }
        }
    };
    expectTree("alpha", kAlpha);
    expectTree("beta", kBeta);
    expectTree("more\\delta", kDelta);
    expectTree("more\\deeper\\epsilon", kEpsilon);
    EXPECT_FALSE(FolderExists(Path("gamma"))) << "gamma.zip was never queued";
    EXPECT_FALSE(testsupport::FileExists(Path("readme.txt")))
        << "with the title option nothing lands beside the archive";

    // The registry key as the program left it.
    EXPECT_EQ(ReadRaw("Placement", "Top"), std::to_string(placement.top));
    EXPECT_EQ(ReadRaw("Placement", "Left"), std::to_string(placement.left));
    EXPECT_EQ(ReadRaw("Placement", "Width"), std::to_string(placement.right));
    EXPECT_EQ(ReadRaw("Placement", "Tall"), std::to_string(placement.bottom));
    EXPECT_EQ(ReadRaw("Columns", "Explore Name"), std::to_string(widenedName));
    EXPECT_EQ(ReadRaw("Columns", "Explore Size"), "56");
    EXPECT_EQ(ReadRaw("Columns", "Explore Created"), "110");
    EXPECT_EQ(ReadRaw("Columns", "List Name"), "150");
    EXPECT_EQ(ReadRaw("Columns", "List Location"), "210");
    EXPECT_EQ(ReadRaw("Extract", "Title Extract"), "1");
    EXPECT_EQ(ReadRaw("Extract", "Message Box Alert"), "1");
    EXPECT_EQ(ReadRaw("Extract", "Ask For Folder"), "0");
    EXPECT_EQ(ReadRaw("Shortcuts", "Desktop Shortcut"), "1");
    EXPECT_EQ(ReadRaw("Shortcuts", "QuickLaunch Shortcut"), "0");
    EXPECT_EQ(ReadRaw("Not To Extract", "0"), "*.log");
    EXPECT_EQ(ReadRaw("Not To Extract", "1"), "*.tmp");
    EXPECT_EQ(ReadRaw("Not To Extract", "2"), "<missing>");
    EXPECT_EQ(ReadRaw("Folders", "Last"), work_ + "\\");
    EXPECT_EQ(ReadRaw("", "FilePath"), testsupport::ProgramPath());
    EXPECT_EQ(ReadRaw("", "Version"), "1.8.00");
    for (const char* name : {"FilePath", "Version"})
        EXPECT_EQ(RawType("", name), static_cast<DWORD>(REG_SZ)) << name;

    // The desktop shortcut starts the program file that saved the settings.
    ASSERT_TRUE(testsupport::FileExists(DesktopShortcutPath())) << "no " << DesktopShortcutPath();
    EXPECT_EQ(ShortcutTarget(DesktopShortcutPath()), testsupport::ProgramPath());
}

}  // namespace
