// The explorer pane and the extraction list under the real mouse: xdotool moves the pointer and
// presses the buttons through the X server while this thread runs the window's messages.
#include "app/ExtractorApp.h"
#include "app/MainWindow.h"
#include "app/ProcessObjects.h"
#include "resources/kestrova/resource.h"
#include "tests/support/HostInput.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace {

using testsupport::DragCommand;
using testsupport::ItemCentre;
using testsupport::Xdotool;

std::vector<std::string> Column(const fw::ListView& list, int column)
{
    std::vector<std::string> texts;
    for (int row = 0; row < list.GetItemCount(); ++row)
        texts.push_back(list.GetItemText(row, column));
    return texts;
}

int RowOf(const fw::ListView& list, const std::string& name)
{
    for (int row = 0; row < list.GetItemCount(); ++row)
        if (list.GetItemText(row, 0) == name)
            return row;
    return -1;
}

class DragDropInputTest : public testsupport::RegistryFixture {
protected:
    void SetUp() override
    {
        RegistryFixture::SetUp();
        folder.WriteFile("one.zip", "1");
        folder.WriteFile("two.zip", "2");
        folder.WriteFile("three.zip", "3");
        folder.MakeFolder("inside");
        folder.WriteFile("inside\\deep.zip", "4");
        window = std::make_unique<app::MainWindow>();
        ASSERT_TRUE(window->Create(nullptr));
        window->Show(SW_SHOW);
        ::SetForegroundWindow(*window);
        window->NavigateTo(folder.Path());
        testsupport::PumpMessages(300);
        Xdotool("mousemove 5 5");
    }
    void TearDown() override
    {
        Xdotool("mouseup 1 mouseup 3 mousemove 5 5", 50);
        if (window && window->IsValid()) {
            window->Send(WM_CLOSE);
            testsupport::PumpMessages(0);
        }
        window.reset();
        RegistryFixture::TearDown();
    }
    void SelectRows(fw::ListView& list, std::initializer_list<int> rows)
    {
        list.SetItemState(-1, 0, LVIS_SELECTED);
        for (int row : rows)
            list.SetItemState(row, LVIS_SELECTED, LVIS_SELECTED);
    }
    // A point in the extraction list's item area, below its header.
    POINT IntoExtractionList() const { return testsupport::ClientPoint(window->ExtractionList, 60, 40); }
    // A point near the bottom of the explorer list's item area.
    POINT IntoExplorerList() const
    {
        RECT client = window->ExplorerList.GetClientRect();
        return testsupport::ClientPoint(window->ExplorerList, 60, client.bottom - 8);
    }

    testsupport::TestFolder folder;
    std::unique_ptr<app::MainWindow> window;
};

TEST_F(DragDropInputTest, DraggingTwoSelectedArchivesQueuesBothAtTheTopInExplorerOrder)
{
    window->AddToExtractionList("C:\\old\\queued.zip", "C:\\old\\", 0);
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
    EXPECT_EQ(Column(window->ExtractionList, 0), (std::vector<std::string>{upper, lower, "queued.zip"}));
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
    EXPECT_EQ(Column(window->ExtractionList, 0), (std::vector<std::string>{"deep.zip"}));
    EXPECT_EQ(window->ExtractionList.GetItemText(0, 1), folder.Path() + "\\inside\\");
    EXPECT_TRUE(window->IsEnabled());
}

TEST_F(DragDropInputTest, ADragFromTheExtractionListOrBackOntoTheExplorerAddsNothing)
{
    window->AddToExtractionList(folder.Child("two.zip"), folder.Path() + "\\", 0);
    SelectRows(window->ExtractionList, {0});
    ASSERT_TRUE(Xdotool(DragCommand(ItemCentre(window->ExtractionList, 0),
                                    IntoExplorerList()), 400));
    EXPECT_FALSE(app::TheApp().GetDragState().isDragging);
    EXPECT_EQ(window->ExtractionList.GetItemCount(), 1);
    EXPECT_EQ(window->ExplorerList.GetItemCount(), 4);

    // Released over the explorer pane itself.
    SelectRows(window->ExplorerList, {0});
    ASSERT_TRUE(Xdotool(DragCommand(ItemCentre(window->ExplorerList, 0),
                                    IntoExplorerList()), 400));
    EXPECT_FALSE(app::TheApp().GetDragState().isDragging);
    EXPECT_EQ(window->ExtractionList.GetItemCount(), 1);
    EXPECT_EQ(window->ExplorerList.GetItemCount(), 4);
}

TEST_F(DragDropInputTest, RightButtonDuringADragCancelsIt)
{
    SelectRows(window->ExplorerList, {0, 1});
    // The right button ends the drag; it brings up no menu.
    testsupport::PopupMenuPicker picker(0);
    ASSERT_TRUE(Xdotool(DragCommand(ItemCentre(window->ExplorerList, 0), IntoExtractionList(),
                                    "click 3 sleep 0.5 mouseup 1"), 400));
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
    EXPECT_EQ(Column(window->ExtractionList, 0), (std::vector<std::string>{"two.zip"}));
    EXPECT_EQ(window->ExtractionList.GetItemText(0, 1), folder.Path() + "\\");
    EXPECT_EQ(app::CurrentFolder(), folder.Path() + "\\");

    const int inside = RowOf(window->ExplorerList, "inside");
    ASSERT_GE(inside, 0);
    at = ItemCentre(window->ExplorerList, inside);
    ASSERT_TRUE(Xdotool("mousemove " + testsupport::PointText(at) + " click --repeat 2 --delay 80 1", 300));
    EXPECT_EQ(app::CurrentFolder(), folder.Path() + "\\inside\\");
    EXPECT_EQ(Column(window->ExplorerList, 0), (std::vector<std::string>{"deep.zip"}));
    EXPECT_EQ(window->ExtractionList.GetItemCount(), 1) << "opening a folder queues nothing";
}

TEST_F(DragDropInputTest, RightClickInTheExtractionListOpensItsMenu)
{
    window->AddToExtractionList(folder.Child("two.zip"), folder.Path() + "\\", 0);
    testsupport::PopupMenuPicker picker(IDM_REMOVE_ALL);
    ASSERT_TRUE(Xdotool("mousemove " + testsupport::PointText(IntoExtractionList()) + " click 3", 200));
    EXPECT_TRUE(picker.WaitFor(1, 3000));
    EXPECT_EQ(window->ExtractionList.GetItemCount(), 0);
}

}  // namespace
