// The explorer pane and the extraction list under the real mouse: xdotool moves the pointer and
// presses the buttons through the X server while this thread runs the window's messages.
#include "app/ExtractorApp.h"
#include "app/MainWindow.h"
#include "app/ProcessObjects.h"
#include "resources/kestrova/resource.h"
#include "tests/support/HostInput.h"
#include "tests/support/MainWindowFixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using testsupport::Column;
using testsupport::DragCommand;
using testsupport::ItemCentre;
using testsupport::RowOf;
using testsupport::SelectRows;
using testsupport::Xdotool;

class DragDropInputTest : public testsupport::MainWindowFixture {
protected:
    void SetUp() override
    {
        MainWindowFixture::SetUp();
        folder.WriteFile("one.zip", "1");
        folder.WriteFile("two.zip", "2");
        folder.WriteFile("three.zip", "3");
        folder.MakeFolder("inside");
        folder.WriteFile("inside\\deep.zip", "4");
        ASSERT_TRUE(Open());
        window->Show(SW_SHOW);
        ::SetForegroundWindow(*window);
        window->NavigateTo(folder.Path());
        testsupport::PumpMessages(300);
        Xdotool("mousemove 5 5");
    }
    void TearDown() override
    {
        Xdotool("mouseup 1 mouseup 3 mousemove 5 5", 50);
        MainWindowFixture::TearDown();
    }
    // A point in the extraction list's item area, below its header.
    POINT IntoExtractionList() const { return testsupport::ClientPoint(window->ExtractionList, 60, 40); }
    // A point near the bottom of the explorer list's item area.
    POINT IntoExplorerList() const
    {
        RECT client = window->ExplorerList.GetClientRect();
        return testsupport::ClientPoint(window->ExplorerList, 60, client.bottom - 8);
    }
};

TEST_F(DragDropInputTest, DraggingTwoSelectedArchivesQueuesBothAtTheTopInExplorerOrder)
{
    Queue("C:\\old\\queued.zip");
    std::vector<std::string> explorer = Column(window->ExplorerList, 0);
    ASSERT_EQ(explorer.size(), 4u);
    const int a = RowOf(window->ExplorerList, "one.zip");
    const int b = RowOf(window->ExplorerList, "three.zip");
    SelectRows(window->ExplorerList, {a, b});
    const std::string upper = explorer[static_cast<size_t>(std::min(a, b))];
    const std::string lower = explorer[static_cast<size_t>(std::max(a, b))];

    // The drag starts on one of the selected rows; the whole selection is dropped.
    ASSERT_TRUE(Xdotool(DragCommand(ItemCentre(window->ExplorerList, a), IntoExtractionList()), 400));
    EXPECT_FALSE(app::TheApp().GetDragState().isDragging);
    EXPECT_EQ(Column(window->ExtractionList, 0), (std::vector<std::string> {upper, lower, "queued.zip"}));
    EXPECT_EQ(window->ExtractionList.GetItemText(0, 1), folder.Path() + "\\");
    EXPECT_EQ(window->ExtractionList.GetItemText(1, 1), folder.Path() + "\\");
    EXPECT_EQ(window->ExplorerList.GetItemCount(), 4) << "the explorer keeps its entries";
}

TEST_F(DragDropInputTest, DroppingAFolderQueuesTheArchivesFoundInIt)
{
    const int inside = RowOf(window->ExplorerList, "inside");
    ASSERT_GE(inside, 0);
    SelectRows(window->ExplorerList, {inside});
    ASSERT_TRUE(Xdotool(DragCommand(ItemCentre(window->ExplorerList, inside), IntoExtractionList()), 400));
    EXPECT_EQ(Column(window->ExtractionList, 0), (std::vector<std::string> {"deep.zip"}));
    EXPECT_EQ(window->ExtractionList.GetItemText(0, 1), folder.Path() + "\\inside\\");
    EXPECT_TRUE(window->IsEnabled());
}

// Names outside any single-byte code page, and a folder deeper than MAX_PATH, go across unchanged.
TEST_F(DragDropInputTest, DroppingAUnicodeFolderQueuesItsArchivesUnderTheirNames)
{
    const std::string photos = testsupport::UnicodeNames()[1];
    const std::string archive = testsupport::UnicodeNames()[4] + ".zip";
    const std::string deep = folder.MakeDeepFolder(photos, 300);
    folder.WriteFile(deep + "\\" + archive, "5");
    window->NavigateTo(folder.Path());
    const int row = RowOf(window->ExplorerList, photos);
    ASSERT_GE(row, 0);
    SelectRows(window->ExplorerList, {row});
    ASSERT_TRUE(Xdotool(DragCommand(ItemCentre(window->ExplorerList, row), IntoExtractionList()), 400));
    EXPECT_EQ(testsupport::WideColumn(window->ExtractionList, 0),
        (std::vector<std::wstring> {testsupport::TestFolder::Wide(archive)}));
    EXPECT_EQ(window->ExtractionList.GetItemText(0, 1), folder.Child(deep) + "\\");
}

TEST_F(DragDropInputTest, ADragFromTheExtractionListOrBackOntoTheExplorerAddsNothing)
{
    Queue(folder.Child("two.zip"));
    SelectRows(window->ExtractionList, {0});
    ASSERT_TRUE(Xdotool(DragCommand(ItemCentre(window->ExtractionList, 0), IntoExplorerList()), 400));
    EXPECT_FALSE(app::TheApp().GetDragState().isDragging);
    EXPECT_EQ(window->ExtractionList.GetItemCount(), 1);
    EXPECT_EQ(window->ExplorerList.GetItemCount(), 4);

    // Released over the explorer pane itself.
    SelectRows(window->ExplorerList, {0});
    ASSERT_TRUE(Xdotool(DragCommand(ItemCentre(window->ExplorerList, 0), IntoExplorerList()), 400));
    EXPECT_FALSE(app::TheApp().GetDragState().isDragging);
    EXPECT_EQ(window->ExtractionList.GetItemCount(), 1);
    EXPECT_EQ(window->ExplorerList.GetItemCount(), 4);
}

TEST_F(DragDropInputTest, RightButtonDuringADragCancelsIt)
{
    SelectRows(window->ExplorerList, {0, 1});
    // The right button ends the drag; it brings up no menu.
    testsupport::PopupMenuPicker picker(0);
    ASSERT_TRUE(Xdotool(
        DragCommand(ItemCentre(window->ExplorerList, 0), IntoExtractionList(), "click 3 sleep 0.5 mouseup 1"), 400));
    EXPECT_FALSE(app::TheApp().GetDragState().isDragging);
    EXPECT_EQ(window->ExtractionList.GetItemCount(), 0);
    EXPECT_EQ(picker.MenusSeen(), 0u);
}

TEST_F(DragDropInputTest, DoubleClickOpensAFolderAndQueuesAnArchive)
{
    const int archive = RowOf(window->ExplorerList, "two.zip");
    ASSERT_GE(archive, 0);
    POINT at = ItemCentre(window->ExplorerList, archive);
    ASSERT_TRUE(Xdotool("mousemove " + testsupport::PointText(at) + " click --repeat 2 --delay 80 1", 300));
    EXPECT_EQ(Column(window->ExtractionList, 0), (std::vector<std::string> {"two.zip"}));
    EXPECT_EQ(window->ExtractionList.GetItemText(0, 1), folder.Path() + "\\");
    EXPECT_EQ(app::CurrentFolder(), folder.Path() + "\\");

    const int inside = RowOf(window->ExplorerList, "inside");
    ASSERT_GE(inside, 0);
    at = ItemCentre(window->ExplorerList, inside);
    ASSERT_TRUE(Xdotool("mousemove " + testsupport::PointText(at) + " click --repeat 2 --delay 80 1", 300));
    EXPECT_EQ(app::CurrentFolder(), folder.Path() + "\\inside\\");
    EXPECT_EQ(Column(window->ExplorerList, 0), (std::vector<std::string> {"deep.zip"}));
    EXPECT_EQ(window->ExtractionList.GetItemCount(), 1) << "opening a folder queues nothing";
}

TEST_F(DragDropInputTest, RightClickInTheExtractionListOpensItsMenu)
{
    Queue(folder.Child("two.zip"));
    testsupport::PopupMenuPicker picker(IDM_REMOVE_ALL);
    ASSERT_TRUE(Xdotool("mousemove " + testsupport::PointText(IntoExtractionList()) + " click 3", 200));
    EXPECT_TRUE(picker.WaitFor(1, 3000));
    EXPECT_EQ(window->ExtractionList.GetItemCount(), 0);
}

}  // namespace
