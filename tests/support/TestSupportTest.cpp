#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using testsupport::MessageBoxWatcher;
using testsupport::PopupMenuPicker;

const UINT kOpen = 32775;
const UINT kDelete = 32776;
const UINT kRename = 32777;
const UINT kProperties = 32778;

// A visible owner for boxes and menus; destroyed at the end of the test.
class OwnerWindow {
public:
    OwnerWindow()
        : hwnd_(::CreateWindowExA(0, "STATIC", "Support Owner", WS_POPUP | WS_VISIBLE, 10, 10, 200, 100, nullptr,
              nullptr, nullptr, nullptr))
    {
    }
    ~OwnerWindow() { ::DestroyWindow(hwnd_); }
    operator HWND() const { return hwnd_; }

private:
    HWND hwnd_;
};

// A decoy with the program's caption, standing for the main window: a dialog-class window with a
// list view must never be taken for a message box.
class DecoyDialog {
public:
    DecoyDialog()
        : hwnd_(::CreateWindowExA(0, "#32770", "Kestrova", WS_POPUP | WS_VISIBLE | WS_CAPTION, 300, 10, 300, 200,
              nullptr, nullptr, nullptr, nullptr))
    {
        ::CreateWindowExA(0, "Button", "Execute", WS_CHILD | WS_VISIBLE, 5, 5, 80, 24, hwnd_,
            reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDOK)), nullptr, nullptr);
        ::CreateWindowExA(0, "SysListView32", "", WS_CHILD | WS_VISIBLE, 5, 35, 200, 100, hwnd_,
            reinterpret_cast<HMENU>(static_cast<INT_PTR>(1000)), nullptr, nullptr);
    }
    ~DecoyDialog() { ::DestroyWindow(hwnd_); }
    operator HWND() const { return hwnd_; }

private:
    HWND hwnd_;
};

TEST(MessageBoxWatcher, ReadsCaptionAndTextAndPressesTheButton)
{
    OwnerWindow owner;
    MessageBoxWatcher watcher(IDNO);
    int answer = ::MessageBoxA(owner, "Replace the file?", "Kestrova", MB_YESNO);
    EXPECT_EQ(answer, IDNO);
    auto seen = watcher.Seen();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].caption, "Kestrova");
    EXPECT_EQ(seen[0].text, "Replace the file?");
    EXPECT_EQ(seen[0].button, IDNO);
}

TEST(MessageBoxWatcher, AnswersOkOnlyBoxesWithOkAndUsesTheButtonsInOrder)
{
    MessageBoxWatcher watcher(std::vector<int> {IDYES, IDCANCEL});
    EXPECT_EQ(::MessageBoxA(nullptr, "Files extracted: 2", "Kestrova", MB_OK), IDOK) << "no Yes: OK instead";
    EXPECT_EQ(::MessageBoxA(nullptr, "second", "Kestrova", MB_OKCANCEL), IDCANCEL);
    EXPECT_EQ(::MessageBoxA(nullptr, "third", "Kestrova", MB_OKCANCEL), IDCANCEL) << "the last button repeats";
    auto seen = watcher.Seen();
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0].button, IDOK);
    EXPECT_EQ(seen[0].text, "Files extracted: 2");
    EXPECT_EQ(seen[2].text, "third");
}

TEST(MessageBoxWatcher, IgnoresDialogsAndOtherCaptions)
{
    DecoyDialog decoy;
    MessageBoxWatcher watcher(IDOK, "Kestrova");
    testsupport::PumpMessages(100);
    EXPECT_EQ(watcher.Count(), 0u) << "a dialog with a list view is no message box";
    EXPECT_TRUE(::IsWindow(decoy));

    // A box with another caption is left alone; this second watcher closes it.
    MessageBoxWatcher closer(IDOK, "Other");
    EXPECT_EQ(::MessageBoxA(decoy, "not ours", "Other", MB_OK), IDOK);
    EXPECT_EQ(watcher.Count(), 0u);
    EXPECT_EQ(closer.Count(), 1u);
}

TEST(MessageBoxWatcher, SeesBoxesOfAnotherThread)
{
    MessageBoxWatcher watcher(IDOK);
    int answer = 0;
    std::thread shower([&] { answer = ::MessageBoxA(nullptr, "from a worker", "kvupdate", MB_OK | MB_ICONSTOP); });
    EXPECT_TRUE(watcher.WaitFor(1, 5000));
    shower.join();
    EXPECT_EQ(answer, IDOK);
    ASSERT_EQ(watcher.Count(), 1u);
    EXPECT_EQ(watcher.Seen()[0].caption, "kvupdate");
}

TEST(MessageBoxHook, AnswersBoxesOfThisThread)
{
    testsupport::MessageBoxHook hook(IDYES);
    EXPECT_EQ(::MessageBoxA(nullptr, "Create the folder?", "Kestrova", MB_YESNO), IDYES);
    ASSERT_EQ(hook.Seen().size(), 1u);
    EXPECT_EQ(hook.Seen()[0].caption, "Kestrova");
    EXPECT_EQ(hook.Seen()[0].text, "Create the folder?");
}

// Open, separator, Delete (greyed), Rename, separator, Properties (checked).
HMENU MakeMenu()
{
    HMENU menu = ::CreatePopupMenu();
    ::AppendMenuA(menu, MF_STRING, kOpen, "Open");
    ::AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
    ::AppendMenuA(menu, MF_STRING | MF_GRAYED, kDelete, "Delete");
    ::AppendMenuA(menu, MF_STRING, kRename, "Rename");
    ::AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
    ::AppendMenuA(menu, MF_STRING | MF_CHECKED, kProperties, "Properties");
    return menu;
}

UINT Track(HWND owner, HMENU menu)
{
    return static_cast<UINT>(
        ::TrackPopupMenu(menu, TPM_RETURNCMD | TPM_NONOTIFY | TPM_LEFTALIGN, 50, 50, 0, owner, nullptr));
}

TEST(PopupMenuPicker, PicksTheItemWithTheCommandIdAcrossSeparators)
{
    OwnerWindow owner;
    HMENU menu = MakeMenu();
    for (UINT id : {kOpen, kRename, kProperties}) {
        PopupMenuPicker picker(id);
        EXPECT_EQ(Track(owner, menu), id);
        EXPECT_EQ(picker.MenusSeen(), 1u);
    }
    ::DestroyMenu(menu);
}

TEST(PopupMenuPicker, ReadsTheItemsAndTheirStates)
{
    OwnerWindow owner;
    HMENU menu = MakeMenu();
    PopupMenuPicker picker(kDelete);
    EXPECT_EQ(Track(owner, menu), 0u) << "a greyed item gives no command";
    auto items = picker.Items();
    ASSERT_EQ(items.size(), 6u);
    EXPECT_EQ(items[0].id, kOpen);
    EXPECT_EQ(items[0].text, "Open");
    EXPECT_TRUE(items[1].separator);
    EXPECT_EQ(items[2].id, kDelete);
    EXPECT_TRUE(items[2].state & MFS_GRAYED);
    EXPECT_TRUE(items[5].state & MFS_CHECKED);
    ::DestroyMenu(menu);
}

TEST(PopupMenuPicker, CancelsWithEscapeOrEndMenuAndForUnknownIds)
{
    OwnerWindow owner;
    HMENU menu = MakeMenu();
    {
        PopupMenuPicker picker(0);
        EXPECT_EQ(Track(owner, menu), 0u);
        EXPECT_EQ(picker.MenusSeen(), 1u);
    }
    {
        PopupMenuPicker picker(0, PopupMenuPicker::Cancel::EndMenu);
        EXPECT_EQ(Track(owner, menu), 0u);
        EXPECT_EQ(picker.MenusSeen(), 1u);
    }
    {
        PopupMenuPicker picker(12345);
        EXPECT_EQ(Track(owner, menu), 0u);
    }
    ::DestroyMenu(menu);
}

TEST(WaitForWindow, FindsVisibleWindowsOnly)
{
    HWND hidden =
        ::CreateWindowExA(0, "STATIC", "Support Hidden", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(testsupport::WaitForWindow("Static", "Support Hidden", 50), nullptr);
    ::ShowWindow(hidden, SW_SHOWNOACTIVATE);
    EXPECT_EQ(testsupport::WaitForWindow(nullptr, "Support Hidden", 1000), hidden);
    EXPECT_EQ(testsupport::WaitForWindow("Static", "Support Hidden", 1000), hidden);
    ::DestroyWindow(hidden);
    EXPECT_EQ(testsupport::WaitForWindow(nullptr, "Support Hidden", 0), nullptr);
}

int g_timerCalls = 0;

void CALLBACK CountTimer(HWND window, UINT, UINT_PTR id, DWORD)
{
    ++g_timerCalls;
    ::KillTimer(window, id);
}

TEST(PumpMessages, DispatchesMessagesForTheTimeAndStopsAtQuit)
{
    OwnerWindow window;
    g_timerCalls = 0;
    ::SetTimer(window, 1, 30, CountTimer);
    EXPECT_FALSE(testsupport::PumpMessages(0));
    EXPECT_EQ(g_timerCalls, 0) << "nothing waits yet";
    EXPECT_FALSE(testsupport::PumpMessages(300));
    EXPECT_EQ(g_timerCalls, 1);
    ::PostQuitMessage(3);
    EXPECT_TRUE(testsupport::PumpMessages(5000));
}

TEST(RegistryKeyGuard, RemovesTheWholeProgramKeyButNothingAbove)
{
    const char kDeep[] = "Software\\Kestrova\\Placement\\one\\two";
    {
        testsupport::RegistryKeyGuard guard;
        HKEY key = nullptr;
        ASSERT_EQ(::RegCreateKeyExA(HKEY_CURRENT_USER, kDeep, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
            ERROR_SUCCESS);
        ::RegSetValueExA(key, "Top", 0, REG_SZ, reinterpret_cast<const BYTE*>("5"), 2);
        ::RegCloseKey(key);
        ::RegCreateKeyExA(
            HKEY_CURRENT_USER, "Software\\Kestrova\\Columns", 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr);
        ::RegCloseKey(key);
    }
    HKEY key = nullptr;
    EXPECT_NE(::RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Kestrova", 0, KEY_READ, &key), ERROR_SUCCESS);
    ASSERT_EQ(::RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_READ, &key), ERROR_SUCCESS);
    ::RegCloseKey(key);
    EXPECT_TRUE(testsupport::DeleteProgramKey()) << "a missing key counts as deleted";
}

TEST(FileHelpers, WriteAndReadWholeFilesInAFolderThatGoesAway)
{
    std::string folder;
    {
        testsupport::TestFolder temp;
        folder = temp.Path();
        const std::string path = temp.Child("a.bin");
        const std::string bytes("PK\x03\x04\0\xff", 6);
        ASSERT_TRUE(testsupport::WriteFileBytes(path, bytes));
        std::string back;
        ASSERT_TRUE(testsupport::ReadFileBytes(path, back));
        EXPECT_EQ(back, bytes);
        temp.MakeFolder("sub");
        ASSERT_TRUE(testsupport::WriteFileBytes(temp.Child("sub\\b.txt"), "x"));
        back = "stale";
        EXPECT_FALSE(testsupport::ReadFileBytes(temp.Child("missing"), back));
        EXPECT_EQ(back, "");
    }
    EXPECT_FALSE(testsupport::FileExists(folder));
}

}  // namespace
