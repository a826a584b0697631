// The extraction list's menu and keys, the explorer's Recycle-Bin delete through the real shell,
// and the drive box, driven through the window messages a user's actions produce.
#include "app/CommandLine.h"
#include "app/MainWindow.h"
#include "app/ProcessObjects.h"
#include "resources/kestrova/resource.h"
#include "tests/support/ImportPatch.h"
#include "tests/support/MainWindowFixture.h"

#include <shellapi.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

using testsupport::Column;
using testsupport::RowOf;
using testsupport::SelectRows;

// Every shell file request the code under test makes: its source list as separate paths, and the
// request's flags. The request is then handed on to the real shell.
struct ShellRequests {
    static std::vector<std::vector<std::string>>& Sources()
    {
        static std::vector<std::vector<std::string>> sources;
        return sources;
    }
    static std::vector<FILEOP_FLAGS>& Flags()
    {
        static std::vector<FILEOP_FLAGS> flags;
        return flags;
    }
    static void*& Original()
    {
        static void* original = nullptr;
        return original;
    }
    static int WINAPI Record(SHFILEOPSTRUCTA* request)
    {
        std::vector<std::string> paths;
        for (const char* p = request->pFrom; p != nullptr && *p != '\0'; p += std::strlen(p) + 1)
            paths.emplace_back(p);
        Sources().push_back(paths);
        Flags().push_back(request->fFlags);
        return reinterpret_cast<int(WINAPI*)(SHFILEOPSTRUCTA*)>(Original())(request);
    }
};

std::string TrashFolder()
{
    char unixPath[MAX_PATH] = {};
    if (::GetEnvironmentVariableA("XDG_DATA_HOME", unixPath, MAX_PATH) == 0)
        return std::string();
    // Z: is the host's root folder.
    std::string path = std::string("Z:") + unixPath + "/Trash/files/";
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

class ExtractionListTest : public testsupport::OpenMainWindowFixture {
protected:
    void AddRows(std::initializer_list<const char*> names)
    {
        for (const char* name : names)
            Queue(std::string("C:\\q\\") + name);
    }
    // The key goes to the list view, which reports it to the main window as LVN_KEYDOWN.
    void PressKey(fw::ListView& list, WPARAM key)
    {
        list.Send(WM_KEYDOWN, key, 1);
        list.Send(WM_KEYUP, key, 0xC0000001);
    }
};

TEST_F(ExtractionListTest, EmptyListGreysTheWholeMenuAndDeleteSaysThereIsNothingToRemove)
{
    {
        testsupport::PopupMenuPicker picker(IDM_REMOVE_ALL);
        RightClickExtractionList();
        ASSERT_EQ(picker.MenusSeen(), 1u);
        std::vector<testsupport::SeenMenuItem> items = picker.Items();
        ASSERT_EQ(items.size(), 5u);
        const UINT ids[] = {IDM_EXTRACT_ALL, IDM_EXTRACT_SELECTED, 0, IDM_REMOVE_ALL, IDM_REMOVE_SELECTED};
        for (size_t i = 0; i < items.size(); ++i) {
            EXPECT_EQ(items[i].id, ids[i]) << i;
            if (!items[i].separator) {
                EXPECT_TRUE(items[i].state & MFS_GRAYED) << items[i].text;
            }
        }
        EXPECT_EQ(items[3].text, "Remove &All Files");
    }
    for (WPARAM key : {static_cast<WPARAM>(VK_DELETE), static_cast<WPARAM>(VK_DECIMAL), static_cast<WPARAM>('D')}) {
        testsupport::MessageBoxWatcher watcher(IDOK);
        PressKey(window->ExtractionList, key);
        ASSERT_EQ(watcher.Count(), 1u) << key;
        EXPECT_EQ(watcher.Seen()[0].text, "No files to remove from Extraction List!");
    }
    testsupport::MessageBoxWatcher watcher(IDOK);
    window->deleteButton.Click();
    ASSERT_EQ(watcher.Count(), 1u);
    EXPECT_EQ(watcher.Seen()[0].text, "No files to remove from Extraction List!");
    EXPECT_EQ(window->ExtractionList.GetItemCount(), 0);
}

TEST_F(ExtractionListTest, MenuEnablesItsCommandsWithRowsAndRemovesAllOrTheSelection)
{
    AddRows({"e.zip", "d.zip", "c.zip", "b.zip", "a.zip"});
    ASSERT_EQ(
        Column(window->ExtractionList, 0), (std::vector<std::string> {"a.zip", "b.zip", "c.zip", "d.zip", "e.zip"}));
    EXPECT_EQ(window->ExtractionList.GetItemText(0, 1), "C:\\q\\");

    SelectRows(window->ExtractionList, {1, 3});
    {
        testsupport::PopupMenuPicker picker(IDM_REMOVE_SELECTED);
        RightClickExtractionList();
        ASSERT_EQ(picker.MenusSeen(), 1u);
        for (const testsupport::SeenMenuItem& item : picker.Items())
            if (!item.separator) {
                EXPECT_FALSE(item.state & MFS_GRAYED) << item.text;
            }
    }
    EXPECT_EQ(Column(window->ExtractionList, 0), (std::vector<std::string> {"a.zip", "c.zip", "e.zip"}));

    {
        // Cancelling the menu does nothing.
        testsupport::PopupMenuPicker picker(0);
        RightClickExtractionList();
        ASSERT_EQ(picker.MenusSeen(), 1u);
    }
    EXPECT_EQ(window->ExtractionList.GetItemCount(), 3);

    SelectRows(window->ExtractionList, {0});
    {
        testsupport::PopupMenuPicker picker(IDM_REMOVE_ALL);
        RightClickExtractionList();
        ASSERT_EQ(picker.MenusSeen(), 1u);
    }
    EXPECT_EQ(window->ExtractionList.GetItemCount(), 0);

    // The command also works as a message.
    AddRows({"x.zip", "y.zip"});
    window->Send(WM_COMMAND, IDM_REMOVE_ALL, 0);
    EXPECT_EQ(window->ExtractionList.GetItemCount(), 0);
}

TEST_F(ExtractionListTest, DeleteDecimalAndDKeysRemoveOnlyTheSelectedRows)
{
    AddRows({"e.zip", "d.zip", "c.zip", "b.zip", "a.zip"});
    SelectRows(window->ExtractionList, {1, 3});
    PressKey(window->ExtractionList, VK_DELETE);
    EXPECT_EQ(Column(window->ExtractionList, 0), (std::vector<std::string> {"a.zip", "c.zip", "e.zip"}));
    SelectRows(window->ExtractionList, {2});
    PressKey(window->ExtractionList, VK_DECIMAL);
    EXPECT_EQ(Column(window->ExtractionList, 0), (std::vector<std::string> {"a.zip", "c.zip"}));
    SelectRows(window->ExtractionList, {0});
    PressKey(window->ExtractionList, 'D');
    EXPECT_EQ(Column(window->ExtractionList, 0), (std::vector<std::string> {"c.zip"}));
    // Rows but no selection: nothing happens and nothing is said.
    SelectRows(window->ExtractionList, {});
    testsupport::MessageBoxWatcher watcher(IDOK);
    PressKey(window->ExtractionList, VK_DELETE);
    testsupport::PumpMessages(100);
    EXPECT_EQ(watcher.Count(), 0u);
    EXPECT_EQ(window->ExtractionList.GetItemCount(), 1);
}

TEST_F(ExtractionListTest, DeleteHandsTheShellOneRequestAndNoKeepsTheRowsWhileYesRecyclesTheFiles)
{
    const std::string trash = TrashFolder();
    ASSERT_FALSE(trash.empty()) << "XDG_DATA_HOME must name the recycle bin's home";
    const std::string tag = std::to_string(::GetCurrentProcessId());
    const std::string first = "first" + tag + ".zip";
    const std::string second = "second" + tag + ".zip";
    const std::string sub = "sub" + tag;
    folder.WriteFile(first, "one");
    folder.WriteFile(second, "two");
    folder.MakeFolder(sub);
    folder.WriteFile(sub + "\\inner.zip", "three");
    folder.WriteFile("keep.zip", "four");

    ShellRequests::Sources().clear();
    testsupport::ImportPatch patch("shell32.dll", "SHFileOperationA", reinterpret_cast<void*>(&ShellRequests::Record));
    ShellRequests::Original() = patch.Original();
    ASSERT_TRUE(patch.Patched());

    window->NavigateTo(folder.Path());
    ASSERT_EQ(window->ExplorerList.GetItemCount(), 4);
    const int rows[] = {
        RowOf(window->ExplorerList, first), RowOf(window->ExplorerList, second), RowOf(window->ExplorerList, sub)};
    for (int row : rows)
        ASSERT_GE(row, 0);
    SelectRows(window->ExplorerList, {rows[0], rows[1], rows[2]});
    std::vector<std::string> bottomFirst;
    for (int row = window->ExplorerList.GetItemCount() - 1; row >= 0; --row)
        if (row == rows[0] || row == rows[1] || row == rows[2])
            bottomFirst.push_back(app::CurrentFolder() + window->ExplorerList.GetItemText(row, 0));

    {
        testsupport::MessageBoxWatcher watcher(IDNO);
        PressKey(window->ExplorerList, VK_DELETE);
        EXPECT_EQ(watcher.Count(), 1u) << "the shell asks once for the whole request";
    }
    ASSERT_EQ(ShellRequests::Sources().size(), 1u);
    EXPECT_EQ(ShellRequests::Sources()[0], bottomFirst);
    EXPECT_EQ(ShellRequests::Flags()[0], FOF_ALLOWUNDO | FOF_MULTIDESTFILES);
    EXPECT_EQ(window->ExplorerList.GetItemCount(), 4) << "No leaves the rows";
    EXPECT_TRUE(folder.Exists(first));
    EXPECT_TRUE(folder.Exists(sub + "\\inner.zip"));

    {
        testsupport::MessageBoxWatcher watcher(IDYES);
        PressKey(window->ExplorerList, 'D');
        EXPECT_EQ(watcher.Count(), 1u);
    }
    ASSERT_EQ(ShellRequests::Sources().size(), 2u);
    EXPECT_EQ(ShellRequests::Sources()[1], bottomFirst);
    EXPECT_EQ(Column(window->ExplorerList, 0), (std::vector<std::string> {"keep.zip"}));
    EXPECT_EQ(window->countLabel.GetText(), "4 Object(s)") << "the count is not written again";
    EXPECT_FALSE(folder.Exists(first));
    EXPECT_FALSE(folder.Exists(second));
    EXPECT_FALSE(folder.Exists(sub));
    EXPECT_TRUE(testsupport::FileExists(trash + first));
    EXPECT_TRUE(testsupport::FileExists(trash + second));
    EXPECT_TRUE(testsupport::FileExists(trash + sub + "\\inner.zip"));
    ::DeleteFileA((trash + first).c_str());
    ::DeleteFileA((trash + second).c_str());
    testsupport::TestFolder::Remove(trash + sub);

    // Nothing selected: no request at all.
    SelectRows(window->ExplorerList, {});
    PressKey(window->ExplorerList, VK_DECIMAL);
    EXPECT_EQ(ShellRequests::Sources().size(), 2u);
}

TEST_F(ExtractionListTest, EnterAndEQueueTheSelectedExplorerEntries)
{
    folder.MakeFolder("tree");
    folder.WriteFile("tree\\in.zip", "x");
    folder.WriteFile("top.zip", "x");
    window->NavigateTo(folder.Path());
    ASSERT_EQ(Column(window->ExplorerList, 0), (std::vector<std::string> {"tree", "top.zip"}));
    SelectRows(window->ExplorerList, {0, 1});
    window->ExplorerList.Send(LVM_SETSELECTIONMARK, 0, 1);
    PressKey(window->ExplorerList, VK_RETURN);
    EXPECT_EQ(Column(window->ExtractionList, 0), (std::vector<std::string> {"in.zip", "top.zip"}));
    EXPECT_EQ(window->ExtractionList.GetItemText(0, 1), folder.Path() + "\\tree\\");
    EXPECT_EQ(window->ExtractionList.GetItemText(1, 1), folder.Path() + "\\");
    SelectRows(window->ExplorerList, {1});
    PressKey(window->ExplorerList, 'E');
    EXPECT_EQ(Column(window->ExtractionList, 0), (std::vector<std::string> {"top.zip", "in.zip", "top.zip"}));
    EXPECT_TRUE(window->IsEnabled());
}

// Queued rows keep the order of single insertions at the top, and each row the icon the shell
// reports for its own path, also when a batch mixes archives with a folder named like one.
TEST_F(ExtractionListTest, SearchQueuesInFoundOrderWithEachPathsOwnIcon)
{
    folder.MakeFolder("tree");
    folder.MakeFolder("tree\\box.zip");
    folder.WriteFile("tree\\box.zip\\in.zip", "x");
    folder.WriteFile("tree\\a.zip", "x");
    folder.WriteFile("tree\\b.zip", "x");
    folder.WriteFile("top.zip", "x");
    Queue("C:\\q\\old.zip");
    app::SearchStatusWindow& popup = app::SearchPopup();
    window->NavigateTo(folder.Path());
    SelectRows(window->ExplorerList, {0, 1});
    window->searchButton.Click();
    ASSERT_EQ(window->ExtractionList.GetItemCount(), 6);
    // The search's results, last found on top, then top.zip, then the row that was there.
    std::vector<std::string> expected;
    for (int i = popup.ResultCount() - 1; i >= 0; --i)
        expected.push_back(popup.results[static_cast<size_t>(i)]);
    expected.push_back(folder.Child("top.zip"));
    expected.push_back("C:\\q\\old.zip");
    for (int row = 0; row < 6; ++row) {
        const std::string path =
            window->ExtractionList.GetItemText(row, 1) + window->ExtractionList.GetItemText(row, 0);
        EXPECT_EQ(path, expected[static_cast<size_t>(row)]);
        if (row < 5) {
            EXPECT_EQ(window->ExtractionList.GetItemImage(row), app::IconCache().GetSystemIconIndex(path)) << path;
        }
    }
}

// A drive letter for an empty folder, made for the test and removed afterwards: such a drive lists
// nothing, as one without a medium does.
class TestDrive {
public:
    explicit TestDrive(const std::string& target)
    {
        DWORD drives = ::GetLogicalDrives();
        for (char letter = 'Y'; letter >= 'M'; --letter) {
            if ((drives & (1u << (letter - 'A'))) == 0) {
                device_ = std::string(1, letter) + ":";
                break;
            }
        }
        if (device_.empty() || !::DefineDosDeviceA(0, device_.c_str(), target.c_str()))
            device_.clear();
    }
    ~TestDrive()
    {
        if (!device_.empty())
            ::DefineDosDeviceA(DDD_REMOVE_DEFINITION, device_.c_str(), nullptr);
    }
    std::string Root() const { return device_.empty() ? std::string() : device_ + "\\"; }

private:
    std::string device_;
};

TEST_F(ExtractionListTest, ChoosingADriveListsItsRootAndAnEmptyOneShowsThePlaceholder)
{
    // The drive box is filled once, so the window is made again after the drive exists.
    folder.MakeFolder("empty");
    TestDrive drive(folder.Child("empty"));
    if (drive.Root().empty() || (::GetLogicalDrives() & (1u << (drive.Root()[0] - 'A'))) == 0)
        GTEST_SKIP() << "no test drive letter could be made";
    ASSERT_TRUE(Open());

    auto choose = [this](const std::string& root) {
        for (int i = 0; i < window->driveBox.GetCount(); ++i) {
            if (window->driveBox.GetItemText(i) == root) {
                window->driveBox.SetCurSel(i);
                window->Send(WM_COMMAND, MAKEWPARAM(IDC_MAIN_DRIVES, CBN_SELCHANGE),
                    reinterpret_cast<LPARAM>(window->driveBox.Handle()));
                return true;
            }
        }
        return false;
    };
    ASSERT_TRUE(choose(drive.Root()));
    EXPECT_EQ(app::CurrentFolder(), drive.Root());
    EXPECT_EQ(Column(window->ExplorerList, 0), (std::vector<std::string> {"Please Insert Disk & Refresh"}));
    EXPECT_EQ(window->countLabel.GetText(), "0 Object(s)");
    EXPECT_EQ(window->pathLabel.GetText(), " " + drive.Root());

    // The placeholder is inert: a double click and Search do nothing with it.
    window->ExplorerList.SetItemState(0, LVIS_SELECTED, LVIS_SELECTED);
    window->ExplorerList.Send(LVM_SETSELECTIONMARK, 0, 0);
    window->searchButton.Click();
    EXPECT_EQ(window->ExtractionList.GetItemCount(), 0);

    ASSERT_TRUE(choose("C:\\"));
    EXPECT_EQ(app::CurrentFolder(), "C:\\");
    EXPECT_GE(RowOf(window->ExplorerList, "windows"), 0);
    EXPECT_EQ(RowOf(window->ExplorerList, "Please Insert Disk & Refresh"), -1);
}

// The platform's splitting: quotes keep blanks, the switch stands anywhere; a name the code page
// cannot hold is kept apart rather than queued under a look-alike.
TEST(CommandLine, QuotedPathsTheSwitchAndNamesTheCodePageLacks)
{
    app::CommandLine line = app::CommandLine::Parse(L"kestrova.exe \"C:\\My Zips\\a.zip\" /X D:\\Folder");
    EXPECT_TRUE(line.extractAndClose);
    EXPECT_EQ(line.paths, (std::vector<std::string> {"C:\\My Zips\\a.zip", "D:\\Folder"}));
    EXPECT_FALSE(app::CommandLine::Parse(L"\"C:\\Program Files\\kestrova.exe\"").extractAndClose);
    EXPECT_TRUE(app::CommandLine::Parse(L"kestrova.exe").paths.empty());
    if (::GetACP() != CP_UTF8) {
        line = app::CommandLine::Parse(L"kestrova.exe C:\\\x4E2D.zip");
        EXPECT_TRUE(line.paths.empty());
        EXPECT_EQ(line.unusable.size(), 1u);
    }
}

// A real DROPFILES block, as the shell sends it: archives are queued with their own folder,
// folders searched, and the rest named in one message.
TEST_F(ExtractionListTest, FilesDroppedFromTheShellAreQueuedAndTheRestNamedOnce)
{
    folder.MakeFolder("drop");
    folder.MakeFolder("drop\\deep");
    folder.WriteFile("drop\\deep\\Found.zip", "PK");
    folder.WriteFile("Single.zip", "PK");
    folder.WriteFile("notes.txt", "text");
    const std::vector<std::string> paths = {
        folder.Child("Single.zip"), folder.Child("drop"), folder.Child("notes.txt"), folder.Child("Gone.zip")};
    std::wstring names;
    for (const std::string& path : paths)
        names += std::wstring(path.begin(), path.end()) + L'\0';
    names += L'\0';
    HGLOBAL block = ::GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(DROPFILES) + names.size() * sizeof(wchar_t));
    auto* drop = static_cast<DROPFILES*>(::GlobalLock(block));
    drop->pFiles = sizeof(DROPFILES);
    drop->fWide = TRUE;
    std::memcpy(drop + 1, names.data(), names.size() * sizeof(wchar_t));
    ::GlobalUnlock(block);

    // The box comes up on this thread: a hook reads it before its loop starts. (The search's
    // popup, all statics, passes for a box too: the message is the last one.)
    testsupport::MessageBoxHook watcher(IDOK);
    window->Post(WM_DROPFILES, reinterpret_cast<WPARAM>(block));
    testsupport::PumpMessages(0);
    ASSERT_FALSE(watcher.Seen().empty());
    EXPECT_EQ(watcher.Seen().back().text,
        std::string("These are neither archives nor folders and were not queued:\n") + paths[2] + "\n" + paths[3]);
    EXPECT_EQ(Column(window->ExtractionList, 0), (std::vector<std::string> {"Single.zip", "Found.zip"}));
    EXPECT_EQ(
        Column(window->ExtractionList, 1), (std::vector<std::string> {folder.Child(""), folder.Child("drop\\deep\\")}));
}

}  // namespace
