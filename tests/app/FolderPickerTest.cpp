#include "app/FolderPicker.h"
#include "tests/support/TestSupport.h"

#include <windows.h>

#include <shlobj.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>

namespace {

// Answers the shell's folder browser from a second thread, as a user would.
class BrowserDriver {
public:
    // Selects `select` and presses OK, or presses Cancel when it is empty.
    explicit BrowserDriver(const std::string& select) : select_(select)
    {
        thread_ = std::thread([this] { Run(); });
    }
    ~BrowserDriver() { Join(); }
    void Join()
    {
        if (thread_.joinable())
            thread_.join();
    }
    std::string seenTexts;

private:
    void Run()
    {
        for (int i = 0; i < 1500; ++i) {
            HWND box = testsupport::FindOwnWindow("#32770", "Browse for Folder");
            if (box != nullptr && ::IsWindowVisible(box)) {
                ::Sleep(200);
                ::EnumChildWindows(box, &CollectText, reinterpret_cast<LPARAM>(this));
                if (select_.empty()) {
                    ::PostMessageA(box, WM_COMMAND, IDCANCEL, 0);
                } else {
                    ::SendMessageA(box, BFFM_SETSELECTIONA, TRUE, reinterpret_cast<LPARAM>(select_.c_str()));
                    ::Sleep(100);
                    ::PostMessageA(box, WM_COMMAND, IDOK, 0);
                }
                return;
            }
            ::Sleep(20);
        }
    }
    static BOOL CALLBACK CollectText(HWND child, LPARAM param)
    {
        char text[256] = {};
        ::GetWindowTextA(child, text, sizeof text);
        reinterpret_cast<BrowserDriver*>(param)->seenTexts += std::string(text) + "|";
        return TRUE;
    }
    std::string select_;
    std::thread thread_;
};

TEST(FolderPicker, ReturnsTheChosenFolder)
{
    char windows[MAX_PATH] = {};
    ::GetWindowsDirectoryA(windows, MAX_PATH);
    app::FolderPicker picker;
    picker.title = "Select the folder";
    std::string chosen;
    std::string texts;
    {
        BrowserDriver driver(windows);
        chosen = picker.Browse();
        driver.Join();
        texts = driver.seenTexts;
    }
    EXPECT_STRCASEEQ(chosen.c_str(), windows);
    EXPECT_EQ(picker.result, chosen);
    EXPECT_NE(texts.find("Select the folder"), std::string::npos) << texts;
}

TEST(FolderPicker, CancelGivesEmptyTextAndAnEmptyTitleShowsOpen)
{
    app::FolderPicker picker;
    std::string texts;
    std::string chosen = "unchanged";
    {
        BrowserDriver driver("");
        chosen = picker.Browse();
        driver.Join();
        texts = driver.seenTexts;
    }
    EXPECT_EQ(chosen, "");
    EXPECT_NE(texts.find("Open|"), std::string::npos) << texts;
}

TEST(FolderPicker, RootThatTheShellCannotParseGivesEmptyText)
{
    app::FolderPicker picker;
    picker.root = "Q:\\no\\such\\folder";
    std::string texts;
    {
        // Cancels a browser should one appear after all, so that the test cannot hang.
        BrowserDriver driver("");
        EXPECT_EQ(picker.Browse(), "");
        driver.Join();
        texts = driver.seenTexts;
    }
    EXPECT_EQ(texts, "") << "no browser is shown";
}

}  // namespace
