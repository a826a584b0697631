// The password prompt as the main window shows it: its texts and masked field, the typed text
// handed over by OK, and Skip, Escape and the close box answering none. The dialog is driven from
// a thread timer, which fires inside its modal loop; keys are posted as the keyboard delivers them.
#include "app/MainWindow.h"
#include "framework/Application.h"
#include "resources/kestrova/resource.h"
#include "tests/support/MainWindowFixture.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace {

const char kMember[] = "docs/a.txt";
const char kArchive[] = "C:\\x\\archive.zip";

void Type(HWND prompt, const std::string& text)
{
    HWND edit = ::GetDlgItem(prompt, IDC_PASSWORD_EDIT);
    for (char c : text)
        ::PostMessageA(edit, WM_CHAR, static_cast<WPARAM>(static_cast<unsigned char>(c)), 1);
}

void PressKey(HWND prompt, WPARAM key)
{
    HWND edit = ::GetDlgItem(prompt, IDC_PASSWORD_EDIT);
    ::PostMessageA(edit, WM_KEYDOWN, key, 1);
    ::PostMessageA(edit, WM_KEYUP, key, static_cast<LPARAM>(0xC0000001u));
}

class PasswordDialogTest : public testsupport::OpenMainWindowFixture {
protected:
    // The main window's prompt for kMember in kArchive, with `act` done to it once it is up.
    bool Ask(std::function<void(HWND)> act, std::string& password, bool again = false)
    {
        act_ = std::move(act);
        prompt_ = nullptr;
        UINT_PTR timer = ::SetTimer(nullptr, 0, 20, &OnTick);
        bool answered = window->AskPassword(kMember, kArchive, again, password);
        ::KillTimer(nullptr, timer);
        return answered;
    }

    // Called by the timer until the prompt is up; then does what the test asked to it.
    static void CALLBACK OnTick(HWND, UINT, UINT_PTR timer, DWORD)
    {
        HWND prompt = testsupport::FindOwnWindow("#32770", fw::Application::Instance()->Title().c_str());
        if (prompt == nullptr || ::GetDlgItem(prompt, IDC_PASSWORD_EDIT) == nullptr)
            return;
        ::KillTimer(nullptr, timer);
        prompt_ = prompt;
        act_(prompt);
    }

    static std::function<void(HWND)> act_;
    static HWND prompt_;  // the prompt the timer found
};

std::function<void(HWND)> PasswordDialogTest::act_;
HWND PasswordDialogTest::prompt_ = nullptr;

TEST_F(PasswordDialogTest, NamesMemberAndArchive_MasksTheField_OkHandsOverTheTypedText)
{
    std::string caption, member, archive, wrong = "not read";
    LONG_PTR style = 0;
    HWND owner = nullptr, focus = nullptr, edit = nullptr;
    std::string password;
    bool answered = Ask(
        [&](HWND prompt) {
            caption = testsupport::WindowText(prompt);
            member = testsupport::WindowText(::GetDlgItem(prompt, IDC_PASSWORD_MEMBER));
            archive = testsupport::WindowText(::GetDlgItem(prompt, IDC_PASSWORD_ARCHIVE));
            wrong = testsupport::WindowText(::GetDlgItem(prompt, IDC_PASSWORD_WRONG));
            edit = ::GetDlgItem(prompt, IDC_PASSWORD_EDIT);
            style = ::GetWindowLongPtrA(edit, GWL_STYLE);
            owner = ::GetWindow(prompt, GW_OWNER);
            focus = ::GetFocus();
            Type(prompt, "s3 cr=t");
            PressKey(prompt, VK_RETURN);
        },
        password);
    ASSERT_NE(prompt_, nullptr) << "the prompt did not come up";
    EXPECT_TRUE(answered);
    EXPECT_EQ("s3 cr=t", password);
    EXPECT_EQ(fw::Application::Instance()->Title(), caption);
    EXPECT_EQ("Password for docs/a.txt", member);
    EXPECT_EQ("in C:\\x\\archive.zip", archive);
    EXPECT_EQ("", wrong) << "nothing was typed wrong yet";
    EXPECT_NE(0, style & ES_PASSWORD);
    EXPECT_EQ(window->Handle(), owner);
    EXPECT_EQ(edit, focus) << "the field has the keyboard";
    EXPECT_FALSE(::IsWindow(prompt_));
}

TEST_F(PasswordDialogTest, SkipEscapeAndCloseBox_AnswerNone)
{
    const std::function<void(HWND)> endings[] = {
        [](HWND prompt) { ::SendMessageA(::GetDlgItem(prompt, IDCANCEL), BM_CLICK, 0, 0); },
        [](HWND prompt) { PressKey(prompt, VK_ESCAPE); },
        [](HWND prompt) { ::PostMessageA(prompt, WM_SYSCOMMAND, SC_CLOSE, 0); },
    };
    int ending = 0;
    for (const auto& end : endings) {
        std::string password;
        std::string skipText, wrong;
        bool answered = Ask(
            [&](HWND prompt) {
                skipText = testsupport::WindowText(::GetDlgItem(prompt, IDCANCEL));
                wrong = testsupport::WindowText(::GetDlgItem(prompt, IDC_PASSWORD_WRONG));
                Type(prompt, "typed");
                end(prompt);
            },
            password, true);
        ASSERT_NE(prompt_, nullptr) << "the prompt did not come up, ending " << ending;
        EXPECT_FALSE(answered) << "ending " << ending;
        EXPECT_EQ("", password) << "ending " << ending;
        EXPECT_EQ("Skip", skipText);
        EXPECT_EQ("Wrong password. Try again:", wrong) << "asked again after a wrong password";
        ++ending;
    }
}

}  // namespace
