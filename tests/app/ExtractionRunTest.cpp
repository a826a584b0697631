#include "app/ExtractionOptions.h"
#include "app/MainWindow.h"
#include "app/ProcessObjects.h"
#include "app/RecycleBin.h"
#include "engine/ArchiveViewerDialog.h"
#include "framework/Application.h"
#include "framework/PathInfo.h"
#include "framework/Text.h"
#include "resources/kestrova/resource.h"
#include "settings/SettingsDialog.h"
#include "tests/support/ImportPatch.h"
#include "tests/support/MainWindowFixture.h"
#include "tests/support/ProcessWindows.h"
#include "tests/support/ZipBuilder.h"

#include <commctrl.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace {

using testsupport::FileExists;
using testsupport::MessageBoxWatcher;
using testsupport::ReadFileBytes;
using testsupport::SeenBox;
using testsupport::UnicodeNames;
using testsupport::WideColumn;

std::string ReadText(const std::string& path)
{
    std::string bytes;
    ReadFileBytes(path, bytes);
    return bytes;
}

// The destination rule needs no window: beside the archive or in the chosen folder, with or
// without a sub-folder named after the archive.
TEST(ExtractionDestination, FollowsTheTwoOptions)
{
    fw::PathInfo archive("C:\\Data\\Setup.ZIP");
    app::ExtractionOptions options;
    EXPECT_EQ(app::ExtractionDestination(archive, options, ""), "C:\\Data");
    options.titleFolder = true;
    EXPECT_EQ(app::ExtractionDestination(archive, options, ""), "C:\\Data\\Setup");
    options.askForFolder = true;
    EXPECT_EQ(app::ExtractionDestination(archive, options, "D:\\Out"), "D:\\Out\\Setup");
    options.titleFolder = false;
    EXPECT_EQ(app::ExtractionDestination(archive, options, "D:\\Out"), "D:\\Out");

    // The sub-folder goes without the whole suffix of any kind or set.
    options = app::ExtractionOptions();
    options.titleFolder = true;
    for (const char* name : {"photos.tar.gz", "photos.tgz", "photos.7z.001", "photos.part1.rar", "photos.zip.001"}) {
        fw::PathInfo other(std::string("C:\\Data\\") + name);
        EXPECT_EQ(app::ExtractionDestination(other, options, ""), "C:\\Data\\photos") << name;
    }
}

// One top-level folder, or one single file, brings its own place; anything else needs the title folder.
TEST(ExtractionDestination, OneTopLevelEntryDecidesTheSmartFolder)
{
    using V = std::vector<std::string>;
    EXPECT_TRUE(app::OneTopLevelEntry(V {"Top/", "Top/a.txt", "Top/sub/b.txt"}));
    EXPECT_TRUE(app::OneTopLevelEntry(V {"Top\\a.txt", "Top/b.txt"}));
    EXPECT_TRUE(app::OneTopLevelEntry(V {"single.txt"}));
    EXPECT_FALSE(app::OneTopLevelEntry(V {"Top/a.txt", "other.txt"}));
    EXPECT_FALSE(app::OneTopLevelEntry(V {"a.txt", "b.txt"}));
    EXPECT_FALSE(app::OneTopLevelEntry(V {}));
    EXPECT_FALSE(app::OneTopLevelEntry(V {"/rooted/a.txt"}));
    std::string top;
    EXPECT_TRUE(app::OneTopLevelEntry(V {"Top/", "Top/a.txt"}, &top));
    EXPECT_EQ(top, "Top");
    // In code page 932 the second byte of U+8868 is 0x5C: two files, not one folder "\x95".
    EXPECT_FALSE(app::OneTopLevelEntry(V {"\x95\\a.txt", "\x95\\b.txt"}, &top, 932));
    EXPECT_TRUE(app::OneTopLevelEntry(V {"\x95\\/a.txt", "\x95\\/b.txt"}, &top, 932));
    EXPECT_EQ(top, "\x95\\");

    fw::PathInfo archive("C:\\Data\\Pack.zip");
    app::ExtractionOptions options;
    options.titleFolder = options.smartFolder = true;
    EXPECT_EQ(app::ExtractionDestination(archive, options, "", true), "C:\\Data");
    EXPECT_EQ(app::ExtractionDestination(archive, options, "", false), "C:\\Data\\Pack");
    options.smartFolder = false;
    EXPECT_EQ(app::ExtractionDestination(archive, options, "", true), "C:\\Data\\Pack");
}

// The files of a set, as far as they exist and no further than the first gap, for each naming;
// any other archive is its one file. Only a fixed disk with a drive letter has a Recycle Bin.
TEST(ArchiveVolumes, EachNamingGivesTheVolumesThatExistInOrder)
{
    testsupport::TestFolder folder;
    for (const char* name : {"s.7z.001", "s.7z.002", "s.7z.003", "s.7z.005", "p.part01.rar", "p.part02.rar",
             "p.part03.rar", "o.RAR", "o.R00", "o.R01", "z.z01", "z.z02", "z.zip", "one.zip", "one.z02",
             "alone.rar", "x.tar.gz"})
        folder.WriteFile(name, "v");
    const auto names = [&](const std::string& first) {
        std::vector<std::string> names;
        for (const std::string& path : app::ArchiveVolumes(folder.Child(first)))
            names.push_back(path.substr(folder.Path().size() + 1));
        return names;
    };
    using V = std::vector<std::string>;
    EXPECT_EQ(names("s.7z.001"), (V {"s.7z.001", "s.7z.002", "s.7z.003"}));
    EXPECT_EQ(names("p.part01.rar"), (V {"p.part01.rar", "p.part02.rar", "p.part03.rar"}));
    EXPECT_EQ(names("o.RAR"), (V {"o.RAR", "o.R00", "o.R01"}));
    EXPECT_EQ(names("z.zip"), (V {"z.z01", "z.z02", "z.zip"}));
    EXPECT_EQ(names("one.zip"), (V {"one.zip"})) << "without a .z01 a .zip is no set";
    EXPECT_EQ(names("alone.rar"), (V {"alone.rar"}));
    EXPECT_EQ(names("x.tar.gz"), (V {"x.tar.gz"}));
    EXPECT_EQ(names("gone.zip"), (V {}));

    EXPECT_TRUE(app::HasRecycleBin(folder.Child("one.zip")));
    EXPECT_FALSE(app::HasRecycleBin("\\\\server\\share\\a.zip"));
    EXPECT_FALSE(app::HasRecycleBin("relative\\a.zip"));
    if (::GetDriveTypeA("N:\\") == DRIVE_REMOVABLE) {
        EXPECT_FALSE(app::HasRecycleBin("N:\\a.zip"));
    }
}

class ExtractionRunTest : public testsupport::MainWindowFixture {
protected:
    void SetUp() override
    {
        MainWindowFixture::SetUp();
        ASSERT_TRUE(Open());
        SetOption(app::Settings().titleExtract, false);
        SetOption(app::Settings().askForFolder, false);
        SetOption(app::Settings().messageBoxAlert, true);
        SetOption(app::Settings().smartFolder, false);
        app::Settings().excludeMasks.clear();
        app::Settings().excludeMaskCount = 0;
    }
    static void SetOption(fw::Button& box, bool on) { box.SetCheck(on); }

    // Writes an archive into the test folder and queues it.
    using MainWindowFixture::Queue;
    std::string Queue(const std::string& relative, const ziptest::Archive& zip)
    {
        testsupport::WriteFileBytes(folder.Child(relative), zip.Build());
        return Queue(folder.Child(relative));
    }
    void Select(std::initializer_list<int> rows) { testsupport::SelectRows(window->ExtractionList, rows); }
};

ziptest::Archive PackWith(const std::string& tag)
{
    ziptest::Archive zip;
    zip.Add("readme.txt", "readme of " + tag).Add("docs/manual.txt", std::string(5000, 'm') + tag);
    zip.Add("junk.bak", "old").Add("cache/x.tmp", "tmp", false);
    return zip;
}

TEST_F(ExtractionRunTest, ExtractsEachArchiveNextToItselfAndSummarisesInRowOrder)
{
    folder.MakeFolder("one");
    folder.MakeFolder("two");
    std::string first = Queue("one\\First.zip", PackWith("first"));
    std::string second = Queue("two\\Second.zip", PackWith("second"));
    // Rows go in at the top: Second.zip is row 0.
    MessageBoxWatcher watcher;
    window->executeButton.Click();
    std::vector<SeenBox> boxes = watcher.Seen();

    EXPECT_EQ(ReadText(folder.Child("one\\readme.txt")), "readme of first");
    EXPECT_EQ(ReadText(folder.Child("one\\docs\\manual.txt")), std::string(5000, 'm') + "first");
    EXPECT_EQ(ReadText(folder.Child("two\\readme.txt")), "readme of second");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, fw::Application::Instance()->Title());
    EXPECT_EQ(boxes[0].text, "Files extracted: \n\n" + second + "\n" + first + "\n");
    EXPECT_EQ(window->progressBar.GetPosition(), 0);
    EXPECT_EQ(window->ExtractionList.GetItemCount(), 2) << "the queue is not changed by a run";
}

TEST_F(ExtractionRunTest, TitleOptionExtractsIntoAFolderNamedAfterTheArchiveAndMasksLeaveMembersOut)
{
    SetOption(app::Settings().titleExtract, true);
    SetOption(app::Settings().messageBoxAlert, false);
    app::Settings().excludeMasks = {"*.bak", "*.tmp"};
    app::Settings().excludeMaskCount = 2;
    Queue("Pack.zip", PackWith("pack"));
    MessageBoxWatcher watcher;
    window->executeButton.Click();
    EXPECT_EQ(ReadText(folder.Child("Pack\\readme.txt")), "readme of pack");
    EXPECT_TRUE(FileExists(folder.Child("Pack\\docs\\manual.txt")));
    EXPECT_FALSE(FileExists(folder.Child("Pack\\junk.bak")));
    EXPECT_FALSE(FileExists(folder.Child("Pack\\cache\\x.tmp")));
    EXPECT_TRUE(watcher.Seen().empty()) << "no summary with the completion message off";
}

// The text of the selected item of a tree view of this process; empty when none is selected.
std::string SelectedTreeText(HWND tree)
{
    char text[MAX_PATH] = {};
    TVITEMA item {};
    item.mask = TVIF_TEXT;
    item.hItem = reinterpret_cast<HTREEITEM>(::SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CARET, 0));
    item.pszText = text;
    item.cchTextMax = sizeof text;
    if (tree == nullptr || item.hItem == nullptr ||
        !::SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item)))
        return std::string();
    return text;
}

// On a thread of its own, hands the first folder browser of this process that comes up within ten
// seconds to `answer`.
template <typename Answer> std::thread AnswerFolderBrowser(Answer answer)
{
    return std::thread([answer] {
        for (int i = 0; i < 1500; ++i) {
            if (HWND browser = testsupport::FindOwnWindow("#32770", "Browse for Folder")) {
                answer(browser);
                return;
            }
            ::Sleep(20);
        }
    });
}

TEST_F(ExtractionRunTest, AskForFolderUsesTheChosenFolderOnceForTheRun)
{
    SetOption(app::Settings().askForFolder, true);
    SetOption(app::Settings().titleExtract, true);
    folder.MakeFolder("Out");
    Queue("Pack.zip", PackWith("pack"));
    Queue("Tools.zip", PackWith("tools"));
    const std::string out = folder.Child("Out");

    // The shell's folder browser, answered as a user would: pick the folder and press OK.
    std::atomic<int> browsers {0};
    std::thread chooser = AnswerFolderBrowser([&](HWND browser) {
        ++browsers;
        // The browser fills its tree as it opens and may move the selection meanwhile: select
        // until the tree shows "Out" selected, then press OK.
        HWND tree = ::FindWindowExA(browser, nullptr, "SysTreeView32", nullptr);
        for (int tries = 0; tries < 100 && SelectedTreeText(tree) != "Out"; ++tries) {
            ::SendMessageA(browser, BFFM_SETSELECTIONA, TRUE, reinterpret_cast<LPARAM>(out.c_str()));
            ::Sleep(100);
        }
        ::PostMessageA(browser, WM_COMMAND, IDOK, 0);
    });
    MessageBoxWatcher watcher;
    window->executeButton.Click();
    chooser.join();
    EXPECT_EQ(browsers.load(), 1);
    EXPECT_EQ(ReadText(out + "\\Pack\\readme.txt"), "readme of pack");
    EXPECT_EQ(ReadText(out + "\\Tools\\readme.txt"), "readme of tools");
    ASSERT_EQ(watcher.Seen().size(), 1u);
}

TEST_F(ExtractionRunTest, CancellingTheFolderPickerExtractsNothing)
{
    SetOption(app::Settings().askForFolder, true);
    Queue("Pack.zip", PackWith("pack"));
    std::thread canceller = AnswerFolderBrowser([](HWND browser) { ::PostMessageA(browser, WM_COMMAND, IDCANCEL, 0); });
    MessageBoxWatcher watcher;
    window->executeButton.Click();
    canceller.join();
    EXPECT_FALSE(FileExists(folder.Child("readme.txt")));
    EXPECT_FALSE(FileExists("C:\\readme.txt"));
    EXPECT_TRUE(watcher.Seen().empty()) << "no summary after a cancelled picker";
}

BOOL CALLBACK CountOwnBrowser(HWND window, LPARAM counter)
{
    DWORD process = 0;
    ::GetWindowThreadProcessId(window, &process);
    if (process == ::GetCurrentProcessId() && ::IsWindowVisible(window) &&
        testsupport::WindowText(window) == "Browse for Folder")
        ++*reinterpret_cast<int*>(counter);
    return TRUE;
}

// The visible folder browsers of this process.
int OwnBrowsers()
{
    int count = 0;
    ::EnumWindows(&CountOwnBrowser, reinterpret_cast<LPARAM>(&count));
    return count;
}

// The browser is modal to the main window: Execute meanwhile opens no second one, and closing the
// window ends the browser first, then closes the window, with nothing extracted.
TEST_F(ExtractionRunTest, TheFolderBrowserIsModalToTheWindowAndAClosePassesThroughIt)
{
    SetOption(app::Settings().askForFolder, true);
    Queue("Pack.zip", PackWith("pack"));
    HWND main = *window;
    HWND execute = window->executeButton;
    HWND owner = nullptr;
    bool mainEnabled = true, browserEnded = false;
    int browsers = 0;
    std::thread user = AnswerFolderBrowser([&](HWND browser) {
        owner = ::GetWindow(browser, GW_OWNER);
        mainEnabled = ::IsWindowEnabled(main) != FALSE;
        ::PostMessageA(main, WM_COMMAND, MAKEWPARAM(IDC_MAIN_EXECUTE, BN_CLICKED), reinterpret_cast<LPARAM>(execute));
        ::Sleep(1000);
        browsers = OwnBrowsers();
        ::PostMessageA(main, WM_CLOSE, 0, 0);
        browserEnded = testsupport::WaitUntil([&] { return OwnBrowsers() == 0; }, 5000);
        for (int i = 0; i < 10 && OwnBrowsers() > 0; ++i, ::Sleep(200))
            ::PostMessageA(testsupport::FindOwnWindow("#32770", "Browse for Folder"), WM_COMMAND, IDCANCEL, 0);
    });
    window->executeButton.Click();
    user.join();
    testsupport::PumpMessages(0);
    EXPECT_EQ(owner, main);
    EXPECT_FALSE(mainEnabled);
    EXPECT_EQ(browsers, 1);
    EXPECT_TRUE(browserEnded) << "a close ends the browser";
    EXPECT_FALSE(window->IsValid()) << "and then the window";
    EXPECT_FALSE(FileExists(folder.Child("readme.txt")));
}

HANDLE WINAPI NoThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE, LPVOID, DWORD, LPDWORD)
{
    ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
}

// Without a worker thread the run cannot start: the user is told, and the window stays usable.
TEST_F(ExtractionRunTest, ARunWithoutAThreadSaysSoAndTheNextOneWorks)
{
    Queue("Pack.zip", PackWith("pack"));
    {
        testsupport::MessageBoxHook hook;
        testsupport::ImportPatch patch("kernel32.dll", "CreateThread", reinterpret_cast<void*>(&NoThread));
        ASSERT_TRUE(patch.Patched());
        window->executeButton.Click();
        ASSERT_EQ(hook.Seen().size(), 1u);
        EXPECT_EQ(hook.Seen()[0].text,
            "The extraction could not be started: Windows could not create a thread for it. "
            "Close other programs and try again.");
    }
    EXPECT_FALSE(FileExists(folder.Child("readme.txt")));
    EXPECT_FALSE(window->IsRunning());
    MessageBoxWatcher watcher;
    window->executeButton.Click();
    EXPECT_EQ(ReadText(folder.Child("readme.txt")), "readme of pack");
}

TEST_F(ExtractionRunTest, SelectedRowsOnlyAndADamagedArchiveInTheMiddle)
{
    folder.MakeFolder("a");
    folder.MakeFolder("b");
    folder.MakeFolder("c");
    std::string a = Queue("a\\A.zip", PackWith("a"));
    testsupport::WriteFileBytes(folder.Child("b\\Broken.zip"), "PK\x03\x04 this is no archive at all");
    Queue(folder.Child("b\\Broken.zip"));
    std::string c = Queue("c\\C.zip", PackWith("c"));
    // Rows: C (0), Broken (1), A (2).
    Select({2});
    {
        MessageBoxWatcher watcher;
        testsupport::PopupMenuPicker picker(IDM_EXTRACT_SELECTED);
        RightClickExtractionList();
        EXPECT_EQ(picker.MenusSeen(), 1u);
        EXPECT_TRUE(FileExists(folder.Child("a\\readme.txt")));
        EXPECT_FALSE(FileExists(folder.Child("c\\readme.txt")));
        ASSERT_EQ(watcher.Seen().size(), 1u);
        EXPECT_EQ(watcher.Seen()[0].text, "Files extracted: \n\n" + a + "\n");
    }
    {
        MessageBoxWatcher watcher;
        window->executeButton.Click();
        std::vector<SeenBox> boxes = watcher.Seen();
        EXPECT_TRUE(FileExists(folder.Child("c\\readme.txt")));
        ASSERT_EQ(boxes.size(), 2u);
        EXPECT_EQ(
            boxes[0].text, "Severe error in zip format.\n" + folder.Child("b") + "\n" + folder.Child("b\\Broken.zip"));
        EXPECT_EQ(boxes[1].text,
            "Files extracted: \n\n" + folder.Child("b\\Broken.zip") + " (failed: severe error in zip format)\n" + c +
                "\n" + a + "\n");
    }
    EXPECT_EQ(window->progressBar.GetPosition(), 0);
}

// Every failure shows its own message (the first member skipped, destination and archive on lines
// of their own), and under the heading "Files extracted:" no failed archive passes for extracted:
// the problems come first, each failure with its reason. A title folder made for an archive that
// gave nothing is removed.
TEST_F(ExtractionRunTest, EachFailureShowsItsMessageAndIsMarkedInTheSummary)
{
    SetOption(app::Settings().titleExtract, true);
    std::string good = Queue("Good.zip", PackWith("good"));
    std::string gone = Queue("Gone.zip", PackWith("gone"));
    ::DeleteFileA(gone.c_str());  // deleted after it was queued
    ziptest::Archive skips;
    skips.Add("../escape.txt", "x").Add("fine.txt", "fine");
    std::string skipped = Queue("Skips.zip", skips);
    ziptest::Archive damaged;
    damaged.Add("docs/bad.txt", "damaged data");
    damaged.members[0].declaredCrc = 1;
    std::string broken = Queue("Damaged.zip", damaged);
    std::string blocked = Queue("Blocked.zip", PackWith("blocked"));
    folder.WriteFile("Blocked", "a file where the destination folder should be");
    // Rows: Blocked (0), Damaged (1), Skips (2), Gone (3), Good (4).
    MessageBoxWatcher watcher;
    window->executeButton.Click();
    std::vector<SeenBox> boxes = watcher.Seen();
    ASSERT_EQ(boxes.size(), 5u);
    EXPECT_EQ(boxes[0].text,
        "The destination folder or disk cannot be written (disk full or read-only).\n" + folder.Child("Blocked") +
            "\n" + blocked);
    EXPECT_EQ(boxes[1].text,
        "Generic error in zip format.\nskipping: docs/bad.txt (CRC error)\n" + folder.Child("Damaged") + "\n" + broken);
    EXPECT_EQ(boxes[2].text,
        "Files in archived were skipped.\nskipping: ../escape.txt (unsafe name: parent folder component)\n" +
            folder.Child("Skips") + "\n" + skipped);
    EXPECT_EQ(boxes[3].text, "Archive not found or cannot be opened.\n" + folder.Child("Gone") + "\n" + gone);
    EXPECT_EQ(boxes[4].text,
        "Files extracted: \n\n" + blocked + " (failed: the destination folder or disk cannot be written)\n" + broken +
            " (failed: generic error in zip format)\n" + skipped + " (some files skipped)\n" + gone +
            " (failed: archive not found or cannot be opened)\n" + good + "\n");
    EXPECT_EQ(ReadText(folder.Child("Good\\readme.txt")), "readme of good");
    EXPECT_EQ(ReadText(folder.Child("Skips\\fine.txt")), "fine");
    EXPECT_FALSE(testsupport::FolderExists(folder.Child("Gone")));

    // A folder that was there before stays, empty or not.
    folder.MakeFolder("Gone");
    window->executeButton.Click();
    EXPECT_TRUE(testsupport::FolderExists(folder.Child("Gone")));
}

// A member that does not fit on the destination's volume (T:, 5 MiB, mapped by the test harness:
// tests/support/small-drives.sh) fails the archive with a message; without the drive: skipped.
TEST_F(ExtractionRunTest, AFullDiskShowsItsMessageAndTheArchiveIsMarkedFailed)
{
    if (!testsupport::IsSmallTestDrive("T:\\"))
        GTEST_SKIP() << "drive T: is not mapped";
    ziptest::Archive zip;
    zip.Add("small.txt", "small").Add("big.txt", std::string(20u << 20, 'b'));
    const std::string archive = "T:\\Big.zip";
    ASSERT_TRUE(testsupport::WriteFileBytes(archive, zip.Build()));
    Queue(archive);
    MessageBoxWatcher watcher;
    window->executeButton.Click();
    std::vector<SeenBox> boxes = watcher.Seen();
    EXPECT_EQ(ReadText("T:\\small.txt"), "small");
    EXPECT_FALSE(FileExists("T:\\big.txt")) << "no partial member is left";
    ::DeleteFileA("T:\\small.txt");
    ::DeleteFileA(archive.c_str());
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].text,
        "The destination folder or disk cannot be written (disk full or read-only).\n"
        "skipping: big.txt (cannot write the output file)\nT:\n" +
            archive);
    EXPECT_EQ(boxes[1].text,
        "Files extracted: \n\n" + archive + " (failed: the destination folder or disk cannot be written)\n");
}

// A summary of many archives names thirty and counts the rest, so that its box (and its OK button)
// stays on the screen; a failure in the last row is named all the same, on the first line.
TEST_F(ExtractionRunTest, ASummaryOfManyArchivesNamesThirtyAndCountsTheRest)
{
    ziptest::Archive zip;
    zip.Add("x.txt", "x", false);
    std::vector<std::string> paths;
    for (int i = 0; i < 33; ++i) {
        folder.MakeFolder("p" + std::to_string(i));
        paths.push_back(Queue("p" + std::to_string(i) + "\\a.zip", zip));
    }
    testsupport::WriteFileBytes(paths[0], "PK\x03\x04 this is no archive at all");
    MessageBoxWatcher watcher;
    window->executeButton.Click();
    std::string expected = "Files extracted: \n\n" + paths[0] + " (failed: severe error in zip format)\n";
    for (int i = 32; i > 3; --i)
        expected += paths[static_cast<size_t>(i)] + "\n";
    ASSERT_EQ(watcher.Seen().size(), 2u);
    // The ellipsis is 0x85 in code page 1252 (the test prefix's); other code pages have their own.
    const std::string text = watcher.Seen()[1].text;
    const std::string more = " and 3 more\n";
    ASSERT_GT(text.size(), expected.size() + more.size());
    EXPECT_EQ(text.substr(0, expected.size()), expected);
    EXPECT_EQ(text.substr(text.size() - more.size()), more);
    if (::GetACP() == 1252) {
        EXPECT_EQ(text.substr(expected.size()), "\x85" + more);
    }
    EXPECT_EQ(ReadText(folder.Child("p1\\x.txt")), "x") << "every archive is extracted";
}

// With the title and smart folder options on, an archive's listing decides before it is extracted.
TEST_F(ExtractionRunTest, SmartFolderLeavesOutTheTitleFolderForOneTopLevelEntry)
{
    SetOption(app::Settings().titleExtract, true);
    SetOption(app::Settings().messageBoxAlert, false);
    app::Settings().smartFolder.SetCheck(true);
    ziptest::Archive top;
    top.Add("Top/a.txt", "a").Add("Top/sub/b.txt", "b");
    ziptest::Archive single;
    single.Add("only.txt", "only");
    ziptest::Archive several;
    several.Add("Top/a.txt", "a").Add("loose.txt", "loose");
    Queue("Folder.zip", top);
    Queue("Single.zip", single);
    Queue("Several.zip", several);
    window->executeButton.Click();
    EXPECT_EQ(ReadText(folder.Child("Top\\sub\\b.txt")), "b");
    EXPECT_FALSE(FileExists(folder.Child("Folder\\Top\\a.txt")));
    EXPECT_EQ(ReadText(folder.Child("only.txt")), "only");
    EXPECT_EQ(ReadText(folder.Child("Several\\loose.txt")), "loose");
    EXPECT_EQ(ReadText(folder.Child("Several\\Top\\a.txt")), "a");

    app::Settings().smartFolder.SetCheck(false);
    window->executeButton.Click();
    EXPECT_EQ(ReadText(folder.Child("Folder\\Top\\a.txt")), "a") << "off: the title folder as always";
    EXPECT_EQ(ReadText(folder.Child("Single\\only.txt")), "only");
}

// Smart Folder never merges into, or replaces, what is already there: an archive whose one entry
// exists beside it goes into its title folder.
TEST_F(ExtractionRunTest, SmartFolderKeepsTheTitleFolderWhenItsEntryIsAlreadyThere)
{
    SetOption(app::Settings().titleExtract, true);
    SetOption(app::Settings().messageBoxAlert, false);
    app::Settings().smartFolder.SetCheck(true);
    folder.MakeFolder("docs");
    folder.WriteFile("docs\\guide.txt", "the user's guide");
    folder.WriteFile("notes.txt", "the user's notes");
    ziptest::Archive docs, notes;
    docs.Add("docs/guide.txt", "the archive's guide");
    notes.Add("notes.txt", "the archive's notes");
    Queue("Pack.zip", docs);
    Queue("Notes.zip", notes);
    window->executeButton.Click();
    EXPECT_EQ(ReadText(folder.Child("docs\\guide.txt")), "the user's guide");
    EXPECT_EQ(ReadText(folder.Child("notes.txt")), "the user's notes");
    EXPECT_EQ(ReadText(folder.Child("Pack\\docs\\guide.txt")), "the archive's guide");
    EXPECT_EQ(ReadText(folder.Child("Notes\\notes.txt")), "the archive's notes");
}

TEST_F(ExtractionRunTest, ViewerShowsTheMembersLastReportedFirst)
{
    ziptest::Archive zip;
    zip.Add("a.txt", std::string(1000, 'a')).Add("b.txt", "bb", false).Add("c.txt", std::string(300, 'c'));
    Queue("View.zip", zip);

    {
        MessageBoxWatcher watcher;
        window->viewButton.Click();
        ASSERT_EQ(watcher.Seen().size(), 1u);
        EXPECT_EQ(watcher.Seen()[0].text, "Please select a file to view!");
    }
    Queue("Other.zip", zip);
    Select({0, 1});
    {
        MessageBoxWatcher watcher;
        window->viewButton.Click();
        ASSERT_EQ(watcher.Seen().size(), 1u);
        EXPECT_EQ(watcher.Seen()[0].text, "Only able to view one file at a time!");
    }

    engine::ArchiveViewerDialog& viewer = app::Viewer();
    for (int round = 0; round < 2; ++round) {
        Select({1});
        window->viewButton.Click();
        ASSERT_TRUE(viewer.IsVisible());
        EXPECT_FALSE(window->IsEnabled());
        EXPECT_EQ(viewer.memberList.GetColumnCount(), 4);
        ASSERT_EQ(viewer.memberList.GetItemCount(), 3);
        EXPECT_EQ(viewer.memberList.GetItemText(0, 0), "c.txt");
        EXPECT_EQ(viewer.memberList.GetItemText(1, 0), "b.txt");
        EXPECT_EQ(viewer.memberList.GetItemText(2, 0), "a.txt");
        EXPECT_EQ(viewer.memberList.GetItemText(2, 1), "1000");
        EXPECT_NE(viewer.memberList.GetItemText(2, 2), "1000");
        EXPECT_NE(viewer.memberList.GetItemText(2, 3), "0%");
        EXPECT_EQ(viewer.memberList.GetItemText(1, 1), "2");
        EXPECT_EQ(viewer.memberList.GetItemText(1, 2), "2") << "stored: packed equals unpacked";
        EXPECT_EQ(viewer.memberList.GetItemText(1, 3), "0%");
        EXPECT_EQ(viewer.nameLabel.GetText(), "View.zip");
        RECT main = window->GetWindowRect();
        RECT shown = viewer.GetWindowRect();
        EXPECT_EQ(shown.left, main.left + 45);
        EXPECT_EQ(shown.right - shown.left, 354);

        // Escape in the member list closes it like OK.
        if (round == 0) {
            NMLVKEYDOWN key {};
            key.hdr.hwndFrom = viewer.memberList;
            key.hdr.idFrom = IDC_VIEWER_LIST;
            key.hdr.code = LVN_KEYDOWN;
            key.wVKey = VK_ESCAPE;
            viewer.Send(WM_NOTIFY, IDC_VIEWER_LIST, reinterpret_cast<LPARAM>(&key));
        } else {
            viewer.Send(WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        }
        EXPECT_FALSE(viewer.IsVisible());
        EXPECT_TRUE(window->IsEnabled());
        EXPECT_EQ(viewer.memberList.GetItemCount(), 0);
        EXPECT_EQ(viewer.memberList.GetColumnCount(), 0);
    }
}

// The code page chosen for names without Unicode is the one the viewer shows them in and the run
// extracts them under: "Отчёт.txt" as CP866 bytes reads as such with 866, as "ÄΓτ±Γ.txt" with 437.
TEST_F(ExtractionRunTest, ChosenNamePageIsTheViewersAndTheRuns)
{
    ziptest::Archive zip;
    zip.Add("\x8E\xE2\xE7\xF1\xE2.txt", "report");
    Queue("Legacy.zip", zip);
    engine::ArchiveViewerDialog& viewer = app::Viewer();
    auto viewed = [&](unsigned page) {
        app::Settings().SelectNamePage(page);
        Select({0});
        window->viewButton.Click();
        std::vector<std::wstring> names = WideColumn(viewer.memberList, 0);
        viewer.Send(WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        return names;
    };
    EXPECT_EQ(viewed(866), std::vector<std::wstring> {L"\u041E\u0442\u0447\u0451\u0442.txt"});
    EXPECT_EQ(viewed(437), std::vector<std::wstring> {L"\u00C4\u0393\u03C4\u00B1\u0393.txt"});

    app::Settings().SelectNamePage(866);
    MessageBoxWatcher watcher;
    window->executeButton.Click();
    EXPECT_EQ(ReadText(folder.Child("\u041E\u0442\u0447\u0451\u0442.txt")), "report");
    EXPECT_EQ(watcher.Seen().size(), 1u);
}

// Archives, members and masks named outside any single-byte code page, in the program's UTF-8 code
// page: each archive goes into a folder named after its title, masks leave exactly their members
// out, a member without the UTF-8 flag is read as CP437, and summary and viewer show the names.
TEST_F(ExtractionRunTest, UnicodeArchivesMembersAndMasksExtractUnderTheirNames)
{
    const std::vector<std::string>& names = UnicodeNames();
    SetOption(app::Settings().titleExtract, true);
    app::Settings().excludeMasks = {"*.тмп", names[2] + "*", "?.txt"};
    app::Settings().excludeMaskCount = 3;
    folder.MakeFolder(names[1]);
    ziptest::Archive zip;
    zip.Add(names[3] + "/" + names[4] + ".txt", "deep").Add(names[0] + ".txt", "kept");
    zip.Add("черновик.тмп", "masked").Add(names[2] + ".txt", "masked too").Add("тмп.txt", "kept too");
    zip.Add("Ж.txt", "one character").Add("ЖЖ.txt", "two");
    ziptest::WithUtf8Names(zip);
    ziptest::Archive legacy;
    legacy.Add("caf\x82.txt", "cp437");
    const std::string first = Queue(names[1] + "\\" + names[4] + ".zip", zip);
    const std::string second = Queue(names[1] + "\\legacy.zip", legacy);

    MessageBoxWatcher watcher;
    window->executeButton.Click();
    const std::string out = folder.Child(names[1] + "\\" + names[4]) + "\\";
    EXPECT_EQ(ReadText(out + names[3] + "\\" + names[4] + ".txt"), "deep");
    EXPECT_EQ(ReadText(out + names[0] + ".txt"), "kept");
    EXPECT_EQ(ReadText(out + "тмп.txt"), "kept too");
    EXPECT_FALSE(FileExists(out + "черновик.тмп"));
    EXPECT_FALSE(FileExists(out + names[2] + ".txt"));
    EXPECT_FALSE(FileExists(out + "Ж.txt"));
    EXPECT_EQ(ReadText(out + "ЖЖ.txt"), "two");
    EXPECT_EQ(ReadText(folder.Child(names[1] + "\\legacy\\café.txt")), "cp437");
    ASSERT_EQ(watcher.Seen().size(), 1u);
    EXPECT_EQ(watcher.Seen()[0].text, "Files extracted: \n\n" + second + "\n" + first + "\n");

    Select({1});
    window->viewButton.Click();
    engine::ArchiveViewerDialog& viewer = app::Viewer();
    ASSERT_TRUE(viewer.IsVisible());
    std::vector<std::wstring> members = WideColumn(viewer.memberList, 0);
    EXPECT_EQ(members.size(), 7u);
    EXPECT_NE(std::find(members.begin(), members.end(), fw::Widen(names[3] + "/" + names[4] + ".txt")), members.end());
    EXPECT_EQ(viewer.nameLabel.GetText(), names[4] + ".zip");
    viewer.Send(WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
}

// An archive in a folder deeper than MAX_PATH characters is extracted beside itself into a folder
// named after it, members whose full path runs far past MAX_PATH included.
TEST_F(ExtractionRunTest, ArchivesInFoldersDeeperThanMaxPathExtractThere)
{
    SetOption(app::Settings().titleExtract, true);
    const std::string deep = folder.MakeDeepFolder("a_long_folder_name_" + UnicodeNames()[3], 280);
    const std::string member = std::string(100, 'm') + "/" + UnicodeNames()[1] + std::string(100, 'n') + ".txt";
    ziptest::Archive zip;
    ziptest::WithUtf8Names(zip.Add(member, "far"));
    const std::string archive = Queue(deep + "\\Tief.zip", zip);
    ASSERT_GT(archive.size(), static_cast<size_t>(MAX_PATH));
    MessageBoxWatcher watcher;
    window->executeButton.Click();
    EXPECT_EQ(ReadText(folder.Child(deep + "\\Tief\\" + std::string(100, 'm') + "\\" + UnicodeNames()[1] +
                  std::string(100, 'n') + ".txt")),
        "far");
    ASSERT_EQ(watcher.Seen().size(), 1u);
    EXPECT_EQ(watcher.Seen()[0].text, "Files extracted: \n\n" + archive + "\n");
}

}  // namespace

namespace {

// The bytes a file holds now (a file being written included); 0 when there is none.
uint64_t SizeNow(const std::string& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data {};
    if (!::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
        return 0;
    return (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// The bytes written so far for `path`: a file is written under a temporary name (~kv*.tmp) in its
// folder and takes its own name only when complete.
uint64_t WrittenSoFar(const std::string& path)
{
    uint64_t most = SizeNow(path);
    const std::string folder = path.substr(0, path.rfind('\\') + 1);
    WIN32_FIND_DATAA match;
    HANDLE find = ::FindFirstFileA((folder + "~kv*.tmp").c_str(), &match);
    if (find == INVALID_HANDLE_VALUE)
        return most;
    do
        most = std::max(most, (static_cast<uint64_t>(match.nFileSizeHigh) << 32) | match.nFileSizeLow);
    while (::FindNextFileA(find, &match));
    ::FindClose(find);
    return most;
}

// What a probe thread saw of the window while a run went on.
struct RunProbes {
    int count = 0;
    int late = 0;  // not answered within 200 ms
    bool queueDisabled = false;
    LRESULT position = 0;
    LRESULT range = 0;
    std::string caption;
    bool moved = false;
};

class ExtractionWorkerTest : public ExtractionRunTest {
protected:
    // Probes made before `act` whatever the run has written: a gigabyte of zeros is written fast
    // enough that 64 MiB can be there by the third probe.
    static constexpr int kProbesFirst = 6;

    // Presses Execute and, from another thread every 20 ms, asks the window for an answer within
    // 200 ms; once `partial` has `stopAt` bytes and `probesFirst` probes are made, reads the bar
    // and the caption, moves the window and calls `act`. Answers the milliseconds from `act` to the
    // end of the run.
    template <typename Act>
    DWORD RunAndProbe(
        const std::string& partial, uint64_t stopAt, RunProbes& probes, Act act, int probesFirst = kProbesFirst)
    {
        HWND main = *window;
        HWND bar = window->progressBar;
        HWND remove = window->deleteButton;
        std::atomic<DWORD> acted {0};
        std::thread prober([&] {
            for (int i = 0; i < 1500 && acted == 0; ++i, ::Sleep(20)) {
                DWORD_PTR answer = 0;
                const DWORD start = ::GetTickCount();
                const bool answered = ::SendMessageTimeoutA(main, WM_NULL, 0, 0, SMTO_NORMAL, 200, &answer) != 0;
                ++probes.count;
                if (!answered || ::GetTickCount() - start > 200)
                    ++probes.late;
                if (probes.count < probesFirst || WrittenSoFar(partial) < stopAt)
                    continue;
                probes.queueDisabled = !::IsWindowEnabled(remove);
                probes.position = ::SendMessageA(bar, PBM_GETPOS, 0, 0);
                probes.range = ::SendMessageA(bar, PBM_GETRANGE, FALSE, 0);
                probes.caption = testsupport::WindowText(main);
                RECT before {};
                RECT after {};
                ::GetWindowRect(main, &before);
                ::SetWindowPos(main, nullptr, before.left + 7, before.top + 5, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
                ::GetWindowRect(main, &after);
                probes.moved = after.left == before.left + 7;
                acted = ::GetTickCount();
                act(main);
            }
        });
        window->executeButton.Click();
        const DWORD ended = ::GetTickCount();
        prober.join();
        return acted != 0 ? ended - acted : 0xFFFFFFFF;
    }
};

// The run goes on a worker: the window answers, moves and shows how far the run is; Execute
// pressed again stops inside a gigabyte member within a second and a half, leaving no part of
// it, the members before it, and a summary that says where the run stopped.
TEST_F(ExtractionWorkerTest, TheWindowAnswersDuringARunAndExecuteStopsInsideABigMember)
{
    folder.MakeFolder("small");
    folder.MakeFolder("big");
    folder.MakeFolder("later");
    Queue("later\\Later.zip", PackWith("later"));
    ziptest::Archive huge;
    huge.Add("first.txt", "first").AddZeros("huge.bin", 1ull << 30);
    const std::string big = Queue("big\\Big.zip", huge);
    const std::string small = Queue("small\\Small.zip", PackWith("small"));
    // Rows: Small (0), Big (1), Later (2).
    MessageBoxWatcher watcher;
    RunProbes probes;
    HWND execute = window->executeButton;
    const DWORD stopTook = RunAndProbe(
        folder.Child("big\\huge.bin"), 64u << 20, probes, [execute](HWND) { ::PostMessageA(execute, BM_CLICK, 0, 0); });

    EXPECT_LE(stopTook, 1500u);
    EXPECT_GT(probes.count, 3);
    EXPECT_EQ(probes.late, 0) << "of " << probes.count << " probes";
    EXPECT_TRUE(probes.moved);
    EXPECT_TRUE(probes.queueDisabled);
    EXPECT_EQ(probes.range, 3 * app::MainWindow::kProgressPerRow);
    EXPECT_GT(probes.position, 1 * app::MainWindow::kProgressPerRow) << "the bar moves inside an archive";
    EXPECT_LT(probes.position, 2 * app::MainWindow::kProgressPerRow);
    EXPECT_EQ(probes.caption, "Kestrova - 2 of 3");

    EXPECT_FALSE(FileExists(folder.Child("big\\huge.bin"))) << "no partial file";
    EXPECT_EQ(ReadText(folder.Child("big\\first.txt")), "first");
    EXPECT_EQ(ReadText(folder.Child("small\\readme.txt")), "readme of small");
    EXPECT_FALSE(FileExists(folder.Child("later\\readme.txt")));
    ASSERT_EQ(watcher.Seen().size(), 1u);
    EXPECT_EQ(watcher.Seen()[0].text, "Files extracted: \n\n" + big + " (stopped)\n" + small + "\n");
    EXPECT_EQ(window->LastSummary().ExitCode(), 3) << "what kestrova.exe /x would end with";
    EXPECT_EQ(window->GetText(), "Kestrova");
    EXPECT_TRUE(window->deleteButton.IsEnabled());
    EXPECT_EQ(window->progressBar.GetPosition(), 0);
}

// Closing during a run asks first; yes stops the run and then closes the window, with no summary.
TEST_F(ExtractionWorkerTest, ClosingDuringARunAsksThenStopsAndCloses)
{
    ziptest::Archive huge;
    huge.AddZeros("huge.bin", 1ull << 30);
    Queue("Big.zip", huge);
    MessageBoxWatcher watcher(IDYES);
    RunProbes probes;
    const DWORD took = RunAndProbe(
        folder.Child("huge.bin"), 16u << 20, probes, [](HWND main) { ::PostMessageA(main, WM_CLOSE, 0, 0); });
    EXPECT_LE(took, 3000u) << "the question is answered, then the run stops";
    testsupport::PumpMessages(0);
    EXPECT_FALSE(window->IsValid());
    ASSERT_EQ(watcher.Seen().size(), 1u);
    EXPECT_EQ(watcher.Seen()[0].text, "Stop the extraction?");
    EXPECT_FALSE(FileExists(folder.Child("huge.bin")));
}

// The worker's questions are served by whatever message loop the window's thread is in: a failure
// met while the "Stop the extraction?" box is up shows over it, and with both answered (No) the run
// goes on to its end.
TEST_F(ExtractionWorkerTest, AFailureShowsWhileTheStopQuestionIsUpAndTheRunGoesOn)
{
    testsupport::WriteFileBytes(folder.Child("Broken.zip"), "PK\x03\x04 this is no archive at all");
    const std::string broken = Queue(folder.Child("Broken.zip"));
    // A gigabyte, and the close sent at the first probe that sees it begun: zeros inflate fast
    // enough that a smaller member, or a later close, can be done before the question is up.
    ziptest::Archive zeros;
    zeros.AddZeros("big.bin", 1ull << 30);
    const std::string big = Queue("Big.zip", zeros);
    // Rows: Big (0), Broken (1). The window is closed as soon as Big's member is begun, so that the
    // stop question is up well before the failure; it is answered once the failure has come over it.
    int boxes = 0;
    MessageBoxWatcher watcher({IDNO, IDOK}, std::string(), 0, [&boxes] {
        if (boxes++ > 0)
            return std::string();
        HWND failure = testsupport::WaitForProcessWindowWhere(::GetCurrentProcessId(), 20000, [](HWND box) {
            return testsupport::IsMessageBox(box) && testsupport::MessageBoxText(box).rfind("Severe error", 0) == 0;
        });
        return std::string(failure != nullptr ? "failure shown" : "");
    });
    RunProbes probes;
    RunAndProbe(
        folder.Child("big.bin"), 1, probes, [](HWND main) { ::PostMessageA(main, WM_CLOSE, 0, 0); }, 1);
    const std::vector<SeenBox> seen = watcher.Seen();
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0].text, "Stop the extraction?");
    EXPECT_EQ(seen[0].note, "failure shown");
    EXPECT_EQ(seen[1].text, "Severe error in zip format.\n" + folder.Path() + "\n" + broken);
    EXPECT_EQ(seen[2].text, "Files extracted: \n\n" + broken + " (failed: severe error in zip format)\n" + big + "\n");
    EXPECT_TRUE(window->IsValid()) << "No keeps the window open";
    EXPECT_EQ(SizeNow(folder.Child("big.bin")), 1ull << 30);
}

// The bar's range is the rows the run handles: all three for Execute, the one selected for
// "Extract Selected Files".
TEST_F(ExtractionWorkerTest, TheProgressRangeIsTheRowsTheRunHandles)
{
    SetOption(app::Settings().messageBoxAlert, false);
    for (const char* name : {"a", "b", "c"}) {
        folder.MakeFolder(name);
        Queue(std::string(name) + "\\" + name + ".zip", PackWith(name));
    }
    Select({1});
    window->executeButton.Click();
    EXPECT_EQ(window->progressBar.Send(PBM_GETRANGE, FALSE, 0), 3 * app::MainWindow::kProgressPerRow);
    window->RunExtraction(false);
    EXPECT_EQ(window->progressBar.Send(PBM_GETRANGE, FALSE, 0), 1 * app::MainWindow::kProgressPerRow);
    EXPECT_EQ(window->progressBar.GetPosition(), 0);
    EXPECT_TRUE(FileExists(folder.Child("c\\readme.txt")));
}

// E, Enter and a double click on an archive in the explorer queue it, but not while a run goes on.
TEST_F(ExtractionWorkerTest, ExplorerKeysAddNoRowsDuringARun)
{
    ziptest::Archive huge;
    huge.AddZeros("huge.bin", 1ull << 30);
    Queue("Big.zip", huge);
    testsupport::WriteFileBytes(folder.Child("Other.zip"), PackWith("other").Build());
    window->NavigateTo(folder.Path());
    const int other = testsupport::RowOf(window->ExplorerList, "Other.zip");
    ASSERT_GE(other, 0);
    testsupport::SelectRows(window->ExplorerList, {other});
    window->ExplorerList.Send(LVM_SETSELECTIONMARK, 0, other);
    HWND explorer = window->ExplorerList;
    HWND queue = window->ExtractionList;
    HWND execute = window->executeButton;
    LRESULT rowsDuringRun = -1;
    MessageBoxWatcher watcher;
    RunProbes probes;
    RunAndProbe(folder.Child("huge.bin"), 16u << 20, probes, [&](HWND main) {
        for (WPARAM key : {WPARAM('E'), WPARAM(VK_RETURN)}) {
            ::SendMessageA(explorer, WM_KEYDOWN, key, 1);
            ::SendMessageA(explorer, WM_KEYUP, key, 0xC0000001);
        }
        testsupport::NotifyListClick(main, explorer, NM_DBLCLK);
        rowsDuringRun = ::SendMessageA(queue, LVM_GETITEMCOUNT, 0, 0);
        ::PostMessageA(execute, BM_CLICK, 0, 0);
    });
    EXPECT_EQ(rowsDuringRun, 1);
    EXPECT_EQ(window->ExtractionList.GetItemCount(), 1);
    testsupport::NotifyListClick(*window, window->ExplorerList, NM_DBLCLK);
    EXPECT_EQ(window->ExtractionList.GetItemCount(), 2) << "after the run the double click queues again";
}

}  // namespace
