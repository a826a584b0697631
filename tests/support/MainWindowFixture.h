#pragma once
// The program's main window made in the test program itself, on a clean registry key, with a test
// folder for the files it lists and queues; and small readers of its list views.
#include "app/MainWindow.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

namespace testsupport {

// The texts of one column, row by row.
inline std::vector<std::string> Column(const fw::ListView& list, int column)
{
    std::vector<std::string> texts;
    for (int row = 0; row < list.GetItemCount(); ++row)
        texts.push_back(list.GetItemText(row, column));
    return texts;
}

// The texts of one column as the control gives them in UTF-16 (LVM_GETITEMTEXTW), which is what
// a user sees: a name the code page lost would come back as question marks.
inline std::vector<std::wstring> WideColumn(const fw::ListView& list, int column)
{
    std::vector<std::wstring> texts;
    for (int row = 0; row < list.GetItemCount(); ++row) {
        wchar_t text[1024] = {};
        LVITEMW item {};
        item.iSubItem = column;
        item.pszText = text;
        item.cchTextMax = 1024;
        ::SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
        texts.push_back(text);
    }
    return texts;
}

// The first row whose name (column 0) is `name`; -1 when there is none.
inline int RowOf(const fw::ListView& list, const std::string& name)
{
    for (int row = 0; row < list.GetItemCount(); ++row)
        if (list.GetItemText(row, 0) == name)
            return row;
    return -1;
}

// Selects exactly these rows.
inline void SelectRows(fw::ListView& list, std::initializer_list<int> rows)
{
    list.SetItemState(-1, 0, LVIS_SELECTED);
    for (int row : rows)
        list.SetItemState(row, LVIS_SELECTED, LVIS_SELECTED);
}

// A test that opens the main window itself (after writing what it should find in the registry,
// for instance); the window still open at the end is closed before the key is cleared.
class MainWindowFixture : public RegistryFixture {
protected:
    void TearDown() override
    {
        Close();
        window.reset();
        RegistryFixture::TearDown();
    }

    // Makes a new main window, closing one that is open, and handles what its creation posted.
    bool Open()
    {
        Close();
        window = std::make_unique<app::MainWindow>();
        bool made = window->Create(nullptr);
        PumpMessages(0);
        return made;
    }
    // Closes the window as its close box does, which saves the settings and destroys it.
    void Close()
    {
        if (window == nullptr || !window->IsValid())
            return;
        window->Send(WM_CLOSE);
        PumpMessages(0);
        EXPECT_FALSE(window->IsValid()) << "WM_CLOSE destroys the main window";
    }

    // Queues the file at `path` in the extraction list, located in its folder; answers the path.
    std::string Queue(const std::string& path)
    {
        window->AddToExtractionList(path, path.substr(0, path.find_last_of('\\') + 1), 0);
        return path;
    }
    // What a right click in the extraction list tells the window: its menu comes up.
    void RightClickExtractionList() { NotifyListClick(*window, window->ExtractionList, NM_RCLICK); }

    TestFolder folder;
    std::unique_ptr<app::MainWindow> window;
};

// The same with the window open from the start of each test.
class OpenMainWindowFixture : public MainWindowFixture {
protected:
    void SetUp() override
    {
        MainWindowFixture::SetUp();
        ASSERT_TRUE(Open());
    }
};

}  // namespace testsupport
