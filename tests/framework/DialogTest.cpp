#include "framework/Application.h"
#include "framework/Button.h"
#include "framework/ComboBoxEx.h"
#include "framework/Dialog.h"
#include "framework/ImageList.h"
#include "framework/ListView.h"
#include "framework/ProgressBar.h"
#include "framework/Static.h"
#include "tests/framework/framework_test_ids.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

class TestApplication : public fw::Application {
protected:
    void InitInstance() override { }
};
TestApplication g_testApp;

// A list that handles the notifications it sends itself and counts its own mouse messages.
class ReflectingList : public fw::ListView {
public:
    void Bound() override { Subclass(); }
    bool OnReflectedNotify(const NMHDR& header, LRESULT& result) override
    {
        if (header.code != LVN_INSERTITEM)
            return false;
        ++insertNotices;
        result = 0;
        return true;
    }
    LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) override
    {
        if (msg == WM_RBUTTONUP) {
            ++rightButtonUps;
            return 0;
        }
        return CallOriginal(msg, wParam, lParam);
    }
    int insertNotices = 0;
    int rightButtonUps = 0;
};

class TestDialog : public fw::ModelessDialog {
public:
    TestDialog() : fw::ModelessDialog(IDD_TEST) { }
    ReflectingList list;
    fw::Button button;
    fw::ComboBoxEx combo;
    fw::ProgressBar progress;
    fw::Static label;
    std::vector<std::string> events;
    int parentInsertNotices = 0;

protected:
    bool OnInit() override
    {
        Bind(IDC_TEST_LIST, list);
        Bind(IDC_TEST_BUTTON, button);
        Bind(IDC_TEST_COMBO, combo);
        Bind(IDC_TEST_PROGRESS, progress);
        Bind(IDC_TEST_STATIC, label);
        events.push_back("init");
        return true;
    }
    bool OnCommand(int id, int code, HWND) override
    {
        switch (id) {
        case IDC_TEST_BUTTON: events.push_back("button " + std::to_string(code)); return true;
        default: return false;
        }
    }
    bool OnNotify(int id, const NMHDR& header, LRESULT& result) override
    {
        if (id == IDC_TEST_LIST && header.code == LVN_INSERTITEM)
            ++parentInsertNotices;
        if (id == IDC_TEST_LIST && header.code == LVN_KEYDOWN) {
            events.push_back("key");
            result = 0;
            return true;
        }
        return false;
    }
    void OnDestroy() override { events.push_back(IsValid() ? "destroy with handle" : "destroy without handle"); }
};

TEST(Dialog, ModelessCreateRunsInitAndRoutesCommands)
{
    TestDialog dialog;
    ASSERT_TRUE(dialog.Create(nullptr));
    EXPECT_EQ(fw::Dialog::FromHandle(dialog), &dialog);
    dialog.button.Click();
    ASSERT_EQ(dialog.events.size(), 2u);
    EXPECT_EQ(dialog.events[0], "init");
    EXPECT_EQ(dialog.events[1], "button 0");
    EXPECT_TRUE(dialog.Destroy());
    EXPECT_EQ(dialog.events.back(), "destroy with handle");
    EXPECT_EQ(dialog.Handle(), nullptr);
}

TEST(Dialog, ReflectedNotificationReachesTheControlAndNotTheParent)
{
    TestDialog dialog;
    ASSERT_TRUE(dialog.Create(nullptr));
    dialog.list.InsertColumn(0, "Name:", 80);
    dialog.list.InsertItem(0, "a.zip");
    dialog.list.InsertItem(0, "b.zip");
    EXPECT_EQ(dialog.list.insertNotices, 2);
    EXPECT_EQ(dialog.parentInsertNotices, 0);

    // A notification the control does not take goes on to the parent's map.
    NMLVKEYDOWN key {};
    key.hdr.hwndFrom = dialog.list;
    key.hdr.idFrom = IDC_TEST_LIST;
    key.hdr.code = LVN_KEYDOWN;
    key.wVKey = 'E';
    dialog.Send(WM_NOTIFY, IDC_TEST_LIST, reinterpret_cast<LPARAM>(&key));
    EXPECT_EQ(dialog.events.back(), "key");

    // The subclassed control sees its own mouse messages.
    dialog.list.Send(WM_RBUTTONUP, 0, MAKELPARAM(3, 3));
    EXPECT_EQ(dialog.list.rightButtonUps, 1);
    dialog.Destroy();
}

TEST(ListView, RowsColumnsAndSelection)
{
    TestDialog dialog;
    ASSERT_TRUE(dialog.Create(nullptr));
    fw::ListView& list = dialog.list;
    EXPECT_EQ(list.InsertColumn(0, "Name:", 120), 0);
    EXPECT_EQ(list.InsertColumn(1, "Location:", 77), 1);
    EXPECT_EQ(list.GetColumnCount(), 2);
    EXPECT_EQ(list.GetColumnWidth(1), 77);

    EXPECT_EQ(list.InsertItem(0, "first.zip"), 0);
    EXPECT_EQ(list.InsertItem(0, "second.zip"), 0);
    std::string longLocation(3000, 'x');
    EXPECT_TRUE(list.SetItemText(0, 1, longLocation));
    EXPECT_EQ(list.GetItemText(0, 0), "second.zip");
    EXPECT_EQ(list.GetItemText(1, 0), "first.zip");
    EXPECT_EQ(list.GetItemText(0, 1), longLocation);
    EXPECT_EQ(list.GetItemCount(), 2);

    EXPECT_EQ(list.GetNextItem(-1, LVNI_SELECTED), -1);
    list.SetItemState(1, LVIS_SELECTED, LVIS_SELECTED);
    EXPECT_EQ(list.GetSelectedCount(), 1);
    EXPECT_EQ(list.GetNextItem(-1, LVNI_SELECTED), 1);
    EXPECT_EQ(list.GetItemState(1, LVIS_SELECTED), static_cast<UINT>(LVIS_SELECTED));

    EXPECT_TRUE(list.DeleteItem(0));
    EXPECT_EQ(list.GetItemText(0, 0), "first.zip");
    EXPECT_TRUE(list.DeleteColumn(1));
    EXPECT_EQ(list.GetColumnCount(), 1);
    dialog.Destroy();
}

TEST(Controls, ComboProgressAndStatic)
{
    TestDialog dialog;
    ASSERT_TRUE(dialog.Create(nullptr));
    EXPECT_EQ(dialog.combo.InsertItem(-1, "Z:\\", 3, 3), 0);
    EXPECT_EQ(dialog.combo.InsertItem(-1, "C:\\", 3, 3), 1);
    EXPECT_EQ(dialog.combo.GetCount(), 2);
    EXPECT_EQ(dialog.combo.GetItemText(1), "C:\\");
    EXPECT_EQ(dialog.combo.GetCurSel(), CB_ERR);
    EXPECT_TRUE(dialog.combo.SetCurSel(1));
    EXPECT_EQ(dialog.combo.GetCurSel(), 1);
    EXPECT_FALSE(dialog.combo.SetCurSel(5));

    dialog.progress.SetRange(0, 3);
    dialog.progress.SetStep(1);
    dialog.progress.StepIt();
    dialog.progress.StepIt();
    EXPECT_EQ(dialog.progress.GetPosition(), 2);
    dialog.progress.SetPosition(0);
    EXPECT_EQ(dialog.progress.GetPosition(), 0);

    EXPECT_TRUE(dialog.label.SetText(" C:\\Games\\"));
    EXPECT_EQ(dialog.label.GetText(), " C:\\Games\\");
    dialog.Destroy();
}

TEST(ImageList, MovesOwnershipAndNeverDestroysABorrowedList)
{
    {
        fw::ImageList list;
        ASSERT_TRUE(list.Create(16, 16, ILC_COLOR32 | ILC_MASK, 1, 1));
        EXPECT_EQ(list.AddIcon(nullptr), -1);
        EXPECT_EQ(list.AddIcon(::LoadIconA(nullptr, IDI_APPLICATION)), 0);
        fw::ImageList moved(std::move(list));
        EXPECT_EQ(list.Handle(), nullptr);
        EXPECT_EQ(moved.GetCount(), 1);
    }

    HIMAGELIST foreign = ImageList_Create(16, 16, ILC_COLOR32, 1, 1);
    ImageList_ReplaceIcon(foreign, -1, ::LoadIconA(nullptr, IDI_APPLICATION));
    {
        fw::ImageList borrowed;
        borrowed.AttachBorrowed(foreign);
        EXPECT_EQ(borrowed.GetCount(), 1);
    }
    EXPECT_EQ(ImageList_GetImageCount(foreign), 1) << "a borrowed list must survive";
    ImageList_Destroy(foreign);
}

TEST(Application, TitleIsTheProgramFileNameWithoutExtension)
{
    EXPECT_EQ(fw::Application::Instance(), &g_testApp);
    EXPECT_EQ(g_testApp.Title(), "framework_tests");
}

}  // namespace
