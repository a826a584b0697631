#include "app/MainWindow.h"
#include "app/ProcessObjects.h"
#include "app/ShellFileOperation.h"
#include "resources/kestrova/resource.h"
#include "framework/Text.h"
#include "tests/support/MainWindowFixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using testsupport::Column;
using testsupport::RowOf;
using testsupport::SelectRows;
using testsupport::UnicodeNames;
using testsupport::WideColumn;

HBITMAP LoadResourceBitmap(int id)
{
    return static_cast<HBITMAP>(::LoadImageA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(id), IMAGE_BITMAP, 0, 0, 0));
}

// The pixels of a bitmap: handles of the same picture need not be equal.
std::vector<BYTE> BitmapBits(HBITMAP bitmap)
{
    BITMAP info {};
    if (bitmap == nullptr || ::GetObjectA(bitmap, sizeof info, &info) == 0)
        return {};
    std::vector<BYTE> bits(static_cast<size_t>(info.bmWidthBytes) * static_cast<size_t>(info.bmHeight));
    ::GetBitmapBits(bitmap, static_cast<LONG>(bits.size()), bits.data());
    return bits;
}

class ExplorerPaneTest : public testsupport::OpenMainWindowFixture { };

TEST_F(ExplorerPaneTest, ListsFoldersThenArchivesAndCountsThem)
{
    folder.MakeFolder("Docs");
    folder.MakeFolder("Zips");
    folder.MakeFolder("old.zip");
    folder.WriteFile("a.zip", "PK\5\6" + std::string(18, '\0'));
    folder.WriteFile("B.ZIP", "x");
    folder.WriteFile("setup.zipx", "12345");
    folder.WriteFile("data.zip.bak", "x");
    folder.WriteFile("notes.txt", "x");

    window->NavigateTo(folder.Path());
    std::vector<std::string> names = Column(window->ExplorerList, 0);
    // Folders first, then archives; each group in file-system order (which the test does not know).
    ASSERT_EQ(names.size(), 7u);
    std::vector<std::string> folders(names.begin(), names.begin() + 3);
    std::vector<std::string> archives(names.begin() + 3, names.end());
    std::sort(folders.begin(), folders.end());
    std::sort(archives.begin(), archives.end());
    EXPECT_EQ(folders, (std::vector<std::string> {"Docs", "Zips", "old.zip"}));
    EXPECT_EQ(archives, (std::vector<std::string> {"B.ZIP", "a.zip", "old.zip", "setup.zipx"}));
    EXPECT_EQ(window->countLabel.GetText(), "7 Object(s)");
    EXPECT_EQ(window->pathLabel.GetText(), " " + folder.Path() + "\\");
    EXPECT_EQ(app::CurrentFolder(), folder.Path() + "\\");
    EXPECT_EQ(window->ExtractionList.dropFolder, folder.Path()) << "the text exactly as navigated to";

    for (int row = 0; row < window->ExplorerList.GetItemCount(); ++row) {
        if (window->ExplorerList.GetItemText(row, 0) == "setup.zipx") {
            EXPECT_EQ(window->ExplorerList.GetItemText(row, 1), "5");
        }
        if (window->ExplorerList.GetItemText(row, 0) == "Docs") {
            EXPECT_EQ(window->ExplorerList.GetItemText(row, 1), "0");
        }
        EXPECT_FALSE(window->ExplorerList.GetItemText(row, 2).empty());
    }
}

TEST_F(ExplorerPaneTest, ListsEveryEntryOfALargeFolder)
{
    for (int i = 0; i < 150; ++i)
        folder.WriteFile("archive" + std::to_string(i) + ".zip", "x");
    for (int i = 0; i < 120; ++i)
        folder.MakeFolder("folder" + std::to_string(i));
    window->NavigateTo(folder.Path() + "\\");
    EXPECT_EQ(window->ExplorerList.GetItemCount(), 270);
    EXPECT_EQ(window->countLabel.GetText(), "270 Object(s)");
}

// The explorer keeps its rows itself and the control asks for them: what the control answers,
// what it shows and how its selection follows edits must be what real items would give.
TEST_F(ExplorerPaneTest, RowsTheControlAsksForBehaveAsItems)
{
    folder.MakeFolder("Beta");
    folder.WriteFile("alpha.zip", "x");
    folder.WriteFile("gamma.zip", "x");
    window->NavigateTo(folder.Path());
    app::DragListView& list = window->ExplorerList;
    ASSERT_TRUE(list.IsVirtual());
    ASSERT_EQ(list.GetItemCount(), 3);
    EXPECT_EQ(list.GetItemText(0, 0), "Beta");

    // Each row's icon comes through the control, as for an inserted item.
    LVITEMA item {};
    item.mask = LVIF_IMAGE;
    item.iItem = 0;
    item.iImage = -7;
    ASSERT_TRUE(list.Send(LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item)));
    EXPECT_GE(item.iImage, 0) << "the folder icon";
    EXPECT_NE(list.Send(LVM_GETIMAGELIST, LVSIL_SMALL), 0);

    // Type-ahead: the control asks which row begins with the typed text.
    LVFINDINFOA find {};
    find.flags = LVFI_PARTIAL | LVFI_STRING | LVFI_WRAP;
    find.psz = "GAM";
    EXPECT_EQ(
        list.GetItemText(
            static_cast<int>(list.Send(LVM_FINDITEMA, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&find))), 0),
        "gamma.zip");
    find.psz = "zzz";
    EXPECT_EQ(list.Send(LVM_FINDITEMA, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&find)), -1);

    // Rows put in ahead of a selected one: the selection stays with its row.
    SelectRows(list, {2});
    std::string selected = list.GetItemText(2, 0);
    app::DragListView::Row row;
    row.texts[0] = "new.zip";
    std::vector<app::DragListView::Row> added(2, row);
    list.InsertRows(1, added);
    ASSERT_EQ(list.GetItemCount(), 5);
    EXPECT_EQ(list.GetItemText(1, 0), "new.zip");
    EXPECT_EQ(list.GetNextItem(-1, LVNI_SELECTED), 4);
    EXPECT_EQ(list.GetItemText(4, 0), selected);

    // Deleting a row moves the later rows, their texts and their selection up together.
    list.DeleteItem(1);
    EXPECT_EQ(list.GetItemCount(), 4);
    EXPECT_EQ(list.GetNextItem(-1, LVNI_SELECTED), 3);
    EXPECT_EQ(list.GetItemText(3, 0), selected);
    EXPECT_EQ(list.GetItemText(0, 0), "Beta");
}

TEST_F(ExplorerPaneTest, UpClimbsToTheDriveRootAndStopsThere)
{
    folder.MakeFolder("Games");
    folder.MakeFolder("Games\\Zips");
    window->NavigateTo(folder.Path() + "\\Games\\Zips\\");
    window->upButton.Click();
    EXPECT_EQ(app::CurrentFolder(), folder.Path() + "\\Games\\");
    window->upButton.Click();
    EXPECT_EQ(app::CurrentFolder(), folder.Path() + "\\");

    const std::vector<BYTE> up = BitmapBits(LoadResourceBitmap(IDB_UP));
    const std::vector<BYTE> rootUp = BitmapBits(LoadResourceBitmap(IDB_UP_ROOT));
    ASSERT_NE(up, rootUp);
    EXPECT_EQ(BitmapBits(window->upButton.GetBitmap()), up);

    window->NavigateTo("C:\\");
    EXPECT_EQ(BitmapBits(window->upButton.GetBitmap()), rootUp);
    window->upButton.Click();
    EXPECT_EQ(app::CurrentFolder(), "C:\\");
    EXPECT_EQ(BitmapBits(window->upButton.GetBitmap()), rootUp);
    window->NavigateTo(folder.Path());
    EXPECT_EQ(BitmapBits(window->upButton.GetBitmap()), up);
}

TEST_F(ExplorerPaneTest, DriveBoxListsTheHighestLetterFirst)
{
    std::vector<std::string> drives;
    for (int i = 0; i < window->driveBox.GetCount(); ++i)
        drives.push_back(window->driveBox.GetItemText(i));
    ASSERT_GE(drives.size(), 2u);  // Wine has C: and Z: at least
    for (size_t i = 1; i < drives.size(); ++i)
        EXPECT_GT(drives[i - 1], drives[i]);
    EXPECT_EQ(drives.back().size(), 3u);
}

TEST_F(ExplorerPaneTest, SearchQueuesEveryArchiveOfTheSelectedFolderLastFoundFirst)
{
    folder.MakeFolder("tree");
    folder.MakeFolder("tree\\sub");
    folder.MakeFolder("tree\\sub\\deeper");
    folder.WriteFile("tree\\a.zip", "x");
    folder.WriteFile("tree\\sub\\b.ZIP", "x");
    folder.WriteFile("tree\\sub\\deeper\\c.zip", "x");
    folder.WriteFile("tree\\sub\\x.zip.bak", "x");
    window->NavigateTo(folder.Path());
    ASSERT_EQ(window->ExplorerList.GetItemText(0, 0), "tree");
    SelectRows(window->ExplorerList, {0});
    window->ExplorerList.Send(LVM_SETSELECTIONMARK, 0, 0);
    window->searchButton.Click();

    ASSERT_EQ(window->ExtractionList.GetItemCount(), 3);
    std::vector<std::string> names = Column(window->ExtractionList, 0);
    std::vector<std::string> sorted = names;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(sorted, (std::vector<std::string> {"a.zip", "b.ZIP", "c.zip"}));
    for (int row = 0; row < 3; ++row) {
        std::string location = window->ExtractionList.GetItemText(row, 1);
        EXPECT_EQ(location.back(), '\\');
        EXPECT_EQ(location.find(folder.Path()), 0u);
    }
    // The popup's table is in search order; the queue shows it reversed.
    app::SearchStatusWindow& popup = app::SearchPopup();
    ASSERT_EQ(popup.ResultCount(), 3);
    EXPECT_EQ(popup.results.back(), window->ExtractionList.GetItemText(0, 1) + names[0]);
    EXPECT_TRUE(window->IsEnabled());

    // A second search that finds fewer queues only its own results.
    window->NavigateTo(folder.Path() + "\\tree\\sub");
    int deeper = -1;
    for (int row = 0; row < window->ExplorerList.GetItemCount(); ++row)
        if (window->ExplorerList.GetItemText(row, 0) == "deeper")
            deeper = row;
    ASSERT_GE(deeper, 0);
    SelectRows(window->ExplorerList, {deeper});
    window->ExplorerList.Send(LVM_SETSELECTIONMARK, 0, deeper);
    window->searchButton.Click();
    EXPECT_EQ(window->ExtractionList.GetItemCount(), 4);
    EXPECT_EQ(window->ExtractionList.GetItemText(0, 0), "c.zip");
    EXPECT_TRUE(window->IsEnabled());
}

// Every kind the library reads is listed, counted and searched; of a set only its first volume, which
// stands for the whole set. The pane goes by the names, so the contents do not matter here.
TEST_F(ExplorerPaneTest, EveryArchiveKindIsListedAndSearchedFirstVolumesOnly)
{
    const std::vector<std::string> listed = {"a.zip", "b.7z", "c.rar", "d.tar", "e.tar.gz", "f.tgz", "g.tar.bz2",
        "h.tbz2", "i.tbz", "j.tar.xz", "k.txz", "l.tar.zst", "m.tzst", "n.txt.gz", "o.txt.bz2", "p.txt.xz", "q.txt.zst",
        "r.txt.lzma", "s.cab", "t.iso", "u.7z.001", "v.zip.001", "w.part1.rar", "x.part01.rar", "OLD.RAR", "span.zip"};
    const std::vector<std::string> hidden = {
        "u.7z.002", "v.zip.002", "w.part2.rar", "x.part02.rar", "OLD.r00", "OLD.r01", "span.z01", "notes.txt"};
    folder.MakeFolder("mixed");
    for (const std::string& name : listed)
        folder.WriteFile("mixed\\" + name, "x");
    for (const std::string& name : hidden)
        folder.WriteFile("mixed\\" + name, "x");

    window->NavigateTo(folder.Path() + "\\mixed");
    std::vector<std::string> names = Column(window->ExplorerList, 0);
    std::sort(names.begin(), names.end());
    std::vector<std::string> expected = listed;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(names, expected);
    EXPECT_EQ(window->countLabel.GetText(), std::to_string(listed.size()) + " Object(s)");

    window->NavigateTo(folder.Path());
    SelectRows(window->ExplorerList, {RowOf(window->ExplorerList, "mixed")});
    window->searchButton.Click();
    std::vector<std::string> queued = Column(window->ExtractionList, 0);
    std::sort(queued.begin(), queued.end());
    EXPECT_EQ(queued, expected);

    // Paths from the command line or a drop from the shell take the same test.
    window->QueuePaths({folder.Child("mixed\\b.7z"), folder.Child("mixed\\w.part1.rar")});
    EXPECT_EQ(window->ExtractionList.GetItemText(0, 0), "b.7z");
    EXPECT_EQ(window->ExtractionList.GetItemText(1, 0), "w.part1.rar");
    EXPECT_EQ(window->ExtractionList.GetItemCount(), static_cast<int>(listed.size()) + 2);
}

TEST_F(ExplorerPaneTest, SearchFindsMoreThanAThousandArchives)
{
    folder.MakeFolder("many");
    for (int i = 0; i < 1100; ++i)
        folder.WriteFile("many\\" + std::to_string(i) + ".zip", "");
    app::SearchStatusWindow& popup = app::SearchPopup();
    ASSERT_TRUE(popup.Create(*window));
    popup.Search(folder.Path() + "\\many");
    EXPECT_EQ(popup.ResultCount(), 1100);
    popup.Destroy();
    EXPECT_TRUE(window->IsEnabled());
}

// The program runs in the UTF-8 code page: names outside any single-byte one show as their
// characters, open and are searched; so do folders deeper than MAX_PATH characters.
TEST_F(ExplorerPaneTest, UnicodeNamesAndFoldersDeeperThanMaxPathShowOpenAndAreSearched)
{
    ASSERT_EQ(::GetACP(), static_cast<UINT>(CP_UTF8)) << "the manifest asks for the UTF-8 code page";
    std::vector<std::wstring> expected;
    for (const std::string& name : UnicodeNames()) {
        folder.MakeFolder(name);
        folder.WriteFile(name + "\\" + name + ".ZIP", "x");
        expected.push_back(fw::Widen(name));
    }
    window->NavigateTo(folder.Path());
    std::vector<std::wstring> shown = WideColumn(window->ExplorerList, 0);
    std::sort(shown.begin(), shown.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(shown, expected);
    EXPECT_EQ(shown[0].find(L'?'), std::wstring::npos);

    const std::string photos = UnicodeNames()[1];
    int row = RowOf(window->ExplorerList, photos);
    ASSERT_GE(row, 0);
    SelectRows(window->ExplorerList, {row});
    window->ExplorerList.Send(LVM_SETSELECTIONMARK, 0, row);
    testsupport::NotifyListClick(*window, window->ExplorerList, NM_DBLCLK);
    EXPECT_EQ(app::CurrentFolder(), folder.Child(photos) + "\\");
    EXPECT_EQ(WideColumn(window->ExplorerList, 0), (std::vector<std::wstring> {fw::Widen(photos + ".ZIP")}));
    EXPECT_EQ(window->pathLabel.GetText(), " " + folder.Child(photos) + "\\");

    // A folder 300 characters deep lists, opens from its parent, climbs Up and is searched.
    const std::string deep = folder.MakeDeepFolder("deep_" + UnicodeNames()[3] + "_folder", 340);
    folder.WriteFile(deep + "\\" + photos + ".zip", "x");
    const std::string parent = folder.Child(deep.substr(0, deep.find_last_of('\\')));
    window->NavigateTo(parent);
    ASSERT_EQ(window->ExplorerList.GetItemCount(), 1);
    SelectRows(window->ExplorerList, {0});
    window->ExplorerList.Send(LVM_SETSELECTIONMARK, 0, 0);
    testsupport::NotifyListClick(*window, window->ExplorerList, NM_DBLCLK);
    EXPECT_EQ(app::CurrentFolder(), folder.Child(deep) + "\\");
    EXPECT_EQ(Column(window->ExplorerList, 0), (std::vector<std::string> {photos + ".zip"}));
    EXPECT_EQ(window->ExplorerList.GetItemText(0, 1), "1");
    window->upButton.Click();
    EXPECT_EQ(app::CurrentFolder(), parent + "\\");

    window->NavigateTo(folder.Path());
    SelectRows(window->ExplorerList, {});
    for (int i = 0; i < window->ExplorerList.GetItemCount(); ++i)
        window->ExplorerList.SetItemState(i, LVIS_SELECTED, LVIS_SELECTED);
    window->searchButton.Click();
    std::vector<std::string> locations = Column(window->ExtractionList, 1);
    EXPECT_EQ(window->ExtractionList.GetItemCount(), static_cast<int>(UnicodeNames().size()) + 1);
    EXPECT_NE(std::find(locations.begin(), locations.end(), folder.Child(deep) + "\\"), locations.end());
    EXPECT_NE(std::find(locations.begin(), locations.end(), folder.Child(photos) + "\\"), locations.end());
}

TEST(ShellFileOperation, SourceListGrowsToExactlyWhatItNeeds)
{
    app::ShellFileOperation operation;
    EXPECT_EQ(operation.SourceList(), nullptr);
    operation.AddSource(std::string(10, 'a'));
    EXPECT_EQ(operation.SourceCapacity(), 12);
    operation.AddSource(std::string(20, 'b'));
    EXPECT_EQ(operation.SourceCapacity(), 33);
    operation.AddSource(std::string(30, 'c'));
    EXPECT_EQ(operation.SourceCapacity(), 64);
    EXPECT_EQ(operation.SourceLength(), 63);
    const char* list = operation.SourceList();
    EXPECT_EQ(std::string(list), std::string(10, 'a'));
    EXPECT_EQ(std::string(list + 11), std::string(20, 'b'));
    EXPECT_EQ(std::string(list + 32), std::string(30, 'c'));
    EXPECT_EQ(list[63], '\0');
}

}  // namespace
