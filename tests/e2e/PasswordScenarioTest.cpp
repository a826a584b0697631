// An archive encrypted with WinZip AES (written by 7-Zip) in a queue of three (and a 7z with
// encrypted names in its place), through the real
// kestrova.exe and UNZIP32.DLL, used as a user would: the prompt comes up once for the run and the
// right password extracts the archive; on a second run "Skip" leaves nothing of it and the run
// says why. Skipped while the library cannot open the archive with the right password.
#include "resources/kestrova/resource.h"
#include "tests/support/HostInput.h"
#include "tests/support/ProcessWindows.h"
#include "tests/support/ProgramProcess.h"
#include "tests/support/RemoteListView.h"
#include "tests/support/TestSupport.h"
#include "tests/support/ZipBuilder.h"
#include "unzip32/unzip32.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using testsupport::WaitUntil;
using testsupport::WindowText;

const char kPassword[] = "SECRET";
const std::string kSecretA = "the first encrypted member\r\n";
const std::string kSecretB = std::string(20000, 'b') + " the second, in a folder";

int UZ_API GivePassword(char* buffer, int size, const char*, const char*)
{
    if (size <= static_cast<int>(sizeof kPassword))
        return 1;
    std::memcpy(buffer, kPassword, sizeof kPassword);
    return 0;
}

// The library's result for testing `archive` with the right password; -1 when it cannot be called.
int TestWithPassword(const std::string& archive)
{
    HMODULE library = ::LoadLibraryA((testsupport::BinFolder() + "UNZIP32.DLL").c_str());
    if (library == nullptr)
        return -1;
    auto call = reinterpret_cast<WizSingleEntryUnzipFunction>(
        reinterpret_cast<void*>(::GetProcAddress(library, "Wiz_SingleEntryUnzip")));
    int result = -1;
    if (call != nullptr) {
        UnzipOptions options {};
        options.testArchive = 1;
        options.archive = archive.c_str();
        UnzipCallbacks callbacks {};
        callbacks.password = &GivePassword;
        result = call(0, nullptr, 0, nullptr, &options, &callbacks);
    }
    ::FreeLibrary(library);
    return result;
}

// The folder lies on Z:, the host's root, so that the host's 7z writes the archive straight into it.
class PasswordScenarioTest : public testsupport::RegistryFixture {
protected:
    void SetUp() override
    {
        RegistryFixture::SetUp();
        host_ = "/tmp/kestrova-password-" + std::to_string(::GetCurrentProcessId());
        work_ = testsupport::FromHost(host_);
        testsupport::TestFolder::Remove(work_);
        ASSERT_TRUE(::CreateDirectoryA(work_.c_str(), nullptr)) << work_;
        ASSERT_TRUE(PackSecrets("-tzip -mem=AES256", "secret.zip")) << "7z could not write the encrypted archive";
        ziptest::Archive first, last;
        first.Add("one.txt", "plain one");
        last.Add("three.txt", "plain three", false);
        ASSERT_TRUE(testsupport::WriteFileBytes(Path("one.zip"), first.Build()));
        ASSERT_TRUE(testsupport::WriteFileBytes(Path("three.zip"), last.Build()));
        WriteRaw("Folders", "Last", work_ + "\\");
        WriteRaw("Extract", "Title Extract", "1");
        WriteRaw("Extract", "Message Box Alert", "1");
    }
    void TearDown() override
    {
        program_.Close();
        testsupport::TestFolder::Remove(work_);
        RegistryFixture::TearDown();
    }

    std::string Path(const std::string& relative) const { return work_ + "\\" + relative; }

    // The two secret files packed by the host's 7z with `options` and the password into `archive` in
    // the work folder.
    bool PackSecrets(const std::string& options, const std::string& archive) const
    {
        const std::string source = work_ + "-src";
        testsupport::TestFolder::Remove(source);
        ::CreateDirectoryA(source.c_str(), nullptr);
        ::CreateDirectoryA((source + "\\docs").c_str(), nullptr);
        const bool made = testsupport::WriteFileBytes(source + "\\a.txt", kSecretA) &&
            testsupport::WriteFileBytes(source + "\\docs\\b.txt", kSecretB) &&
            testsupport::RunHost("cd " + host_ + "-src && /usr/bin/7z a -bd " + options + " -p" + kPassword + " " +
                    host_ + "/" + archive + " a.txt docs/b.txt >/dev/null",
                60000);
        testsupport::TestFolder::Remove(source);
        return made;
    }

    // After the right password: no further prompt, the run's summary names no failure, and the secret
    // files and the plain archive before them are extracted.
    void ExpectNoPromptAndTheSecrets(const char* why) const
    {
        HWND prompt = nullptr, box = nullptr;
        NextWindow(prompt, box, 60000);
        ASSERT_EQ(prompt, nullptr) << why;
        ASSERT_NE(box, nullptr) << "the run should end with its summary";
        const std::string summary = testsupport::MessageBoxText(box);
        EXPECT_EQ(std::string::npos, summary.find("(failed")) << summary;
        testsupport::PressMessageBoxButton(box, IDOK);
        std::string bytes;
        EXPECT_TRUE(testsupport::ReadFileBytes(Path("secret\\a.txt"), bytes) && bytes == kSecretA);
        EXPECT_TRUE(testsupport::ReadFileBytes(Path("secret\\docs\\b.txt"), bytes) && bytes == kSecretB);
        EXPECT_TRUE(testsupport::FileExists(Path("one\\one.txt")));
    }

    // Starts the program in the work folder and queues its three archives.
    void StartAndQueueAll()
    {
        ASSERT_TRUE(program_.Start(testsupport::ProgramPath()));
        window_ = testsupport::WaitForMainWindow(program_.Id(), 20000);
        ASSERT_NE(window_, nullptr) << "the main window did not appear";
        testsupport::RemoteListView explorer(::GetDlgItem(window_, IDC_MAIN_EXPLORER), program_.Id());
        testsupport::RemoteListView queue(::GetDlgItem(window_, IDC_MAIN_EXTRACTION), program_.Id());
        ASSERT_TRUE(WaitUntil([&] { return explorer.Count() == 3; }, 20000)) << explorer.Count() << " rows";
        explorer.Select(-1, true);
        Post(IDC_MAIN_SEARCH);
        ASSERT_TRUE(WaitUntil([&] { return queue.Count() == 3 && ::IsWindowEnabled(window_); }, 20000));
    }

    // Starts the program, queues its archives and presses Execute: the password prompt comes up.
    void StartAndExecuteToThePrompt(HWND& prompt, HWND& box)
    {
        StartAndQueueAll();
        ASSERT_FALSE(HasFatalFailure());
        Post(IDC_MAIN_EXECUTE);
        NextWindow(prompt, box, 30000);
        ASSERT_NE(prompt, nullptr) << "Execute should ask for the password; box: " << testsupport::MessageBoxText(box);
    }

    // Types `password` into the prompt and presses OK; true when the prompt then closed.
    static bool Answer(HWND prompt, const char* password)
    {
        ::SetDlgItemTextA(prompt, IDC_PASSWORD_EDIT, password);
        ::PostMessageA(prompt, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        return WaitUntil([&] { return !::IsWindow(prompt); }, 10000);
    }

    void Post(int button) const
    {
        ::PostMessageA(window_, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
            reinterpret_cast<LPARAM>(::GetDlgItem(window_, button)));
    }

    // The next password prompt or message box of the program (prompt or box is set), or neither
    // within `timeoutMs`.
    void NextWindow(HWND& prompt, HWND& box, DWORD timeoutMs) const
    {
        prompt = box = nullptr;
        HWND found = testsupport::WaitForProcessWindowWhere(program_.Id(), timeoutMs, [](HWND window) {
            return ::GetDlgItem(window, IDC_PASSWORD_EDIT) != nullptr || testsupport::IsMessageBox(window);
        });
        (::GetDlgItem(found, IDC_PASSWORD_EDIT) != nullptr ? prompt : box) = found;
    }

    std::string host_;
    std::string work_;
    testsupport::ChildProcess program_;
    HWND window_ = nullptr;
};

TEST_F(PasswordScenarioTest, PromptOnceRightPasswordExtracts_SkipOnTheNextRunExtractsNothing)
{
    const int tested = TestWithPassword(Path("secret.zip"));
    ASSERT_EQ(UZ_OK, tested) << "the library should accept the right password";

    // First run: one prompt for the two encrypted members; the password typed and OK clicked.
    HWND prompt = nullptr, box = nullptr;
    StartAndExecuteToThePrompt(prompt, box);
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_EQ("kestrova", WindowText(prompt));
    EXPECT_EQ(0u, WindowText(::GetDlgItem(prompt, IDC_PASSWORD_MEMBER)).rfind("Password for ", 0));
    EXPECT_EQ("in " + Path("secret.zip"), WindowText(::GetDlgItem(prompt, IDC_PASSWORD_ARCHIVE)));
    EXPECT_EQ(window_, ::GetWindow(prompt, GW_OWNER));
    ASSERT_TRUE(testsupport::ClickWindow(::GetDlgItem(prompt, IDC_PASSWORD_EDIT)));
    ASSERT_TRUE(testsupport::Xdotool(std::string("type --delay 60 ") + kPassword));
    // From the field Tab goes to OK, Skip and back to the field; Enter presses the focused OK.
    for (int id : {IDOK, IDCANCEL, IDC_PASSWORD_EDIT, IDOK}) {
        testsupport::Xdotool("key Tab", 100);
        GUITHREADINFO focus {};
        focus.cbSize = sizeof focus;
        ::GetGUIThreadInfo(::GetWindowThreadProcessId(prompt, nullptr), &focus);
        EXPECT_EQ(::GetDlgCtrlID(focus.hwndFocus), id);
    }
    ASSERT_TRUE(testsupport::Xdotool("key Return"));
    ExpectNoPromptAndTheSecrets("the password that opened the first member opens the second");
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_TRUE(testsupport::FileExists(Path("three\\three.txt")));

    // Second run: the password is not kept; Skip at the prompt is the user's choice, so the run
    // reports no failure for it, and the summary says why the archive was left out.
    ASSERT_TRUE(WaitUntil([&] { return ::IsWindowEnabled(window_) != FALSE; }, 10000));
    testsupport::TestFolder::Remove(Path("secret"));
    Post(IDC_MAIN_EXECUTE);
    int prompts = 0;
    std::vector<std::string> texts;
    for (;;) {
        NextWindow(prompt, box, 30000);
        if (prompt != nullptr) {
            ASSERT_LE(++prompts, 2) << "one prompt per encrypted member at most";
            ASSERT_TRUE(testsupport::ClickWindow(::GetDlgItem(prompt, IDCANCEL)));
            ASSERT_TRUE(WaitUntil([&] { return !::IsWindow(prompt); }, 10000)) << "Skip should close the prompt";
            continue;
        }
        ASSERT_NE(box, nullptr) << "the run should end with its summary";
        texts.push_back(testsupport::MessageBoxText(box));
        testsupport::PressMessageBoxButton(box, IDOK);
        ASSERT_TRUE(WaitUntil([&] { return !::IsWindow(box); }, 10000));
        if (texts.back().rfind("Files extracted: ", 0) == 0)
            break;
    }
    EXPECT_EQ(1, prompts) << "a new run asks again, once for the archive";
    ASSERT_EQ(1u, texts.size()) << texts[0];
    EXPECT_NE(std::string::npos, texts[0].find(Path("secret.zip") + " (skipped: no password)\n")) << texts[0];
    EXPECT_FALSE(testsupport::FileExists(Path("secret\\a.txt")));
    EXPECT_FALSE(testsupport::FileExists(Path("secret\\docs\\b.txt")));

    ::PostMessageA(window_, WM_CLOSE, 0, 0);
    DWORD exitCode = 1;
    ASSERT_TRUE(program_.WaitForExit(30000, exitCode));
    EXPECT_EQ(0u, exitCode);
}

// Wrong passwords: the prompt says so, and three of them end the questions for the archive (not
// three per member), which then fails with its message. Closing the main window during a prompt
// ends the prompt and asks whether to stop; No asks for the password again, Yes closes.
TEST_F(PasswordScenarioTest, WrongPasswordsSaySoAndEndAtThree_CloseDuringThePromptAsksToStop)
{
    StartAndQueueAll();
    ASSERT_FALSE(HasFatalFailure());
    Post(IDC_MAIN_EXECUTE);
    HWND prompt = nullptr, box = nullptr;
    std::vector<std::string> notes;
    for (;;) {
        NextWindow(prompt, box, 30000);
        if (prompt == nullptr)
            break;
        ASSERT_LT(notes.size(), 3u) << "no more than three wrong answers per archive";
        notes.push_back(WindowText(::GetDlgItem(prompt, IDC_PASSWORD_WRONG)));
        ASSERT_TRUE(Answer(prompt, "wrong"));
    }
    const std::string again = "Wrong password. Try again:";
    EXPECT_EQ((std::vector<std::string> {"", again, again}), notes);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ("Unable to retrive password.\nskipping: a.txt (encrypted member, wrong password)\n" + Path("secret") +
            "\n" + Path("secret.zip"),
        testsupport::MessageBoxText(box));
    testsupport::PressMessageBoxButton(box, IDOK);
    ASSERT_TRUE(WaitUntil([&] { return !::IsWindow(box); }, 10000));
    NextWindow(prompt, box, 30000);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(0u, testsupport::MessageBoxText(box).rfind("Files extracted: ", 0));
    testsupport::PressMessageBoxButton(box, IDOK);
    ASSERT_TRUE(WaitUntil([&] { return !::IsWindow(box); }, 10000));
    ASSERT_TRUE(WaitUntil([&] { return ::IsWindowEnabled(window_) != FALSE; }, 10000));

    Post(IDC_MAIN_EXECUTE);
    for (int answer : {IDNO, IDYES}) {
        NextWindow(prompt, box, 30000);
        ASSERT_NE(prompt, nullptr) << "answer " << answer << ", box: " << testsupport::MessageBoxText(box);
        ::PostMessageA(window_, WM_CLOSE, 0, 0);
        EXPECT_TRUE(WaitUntil([&] { return !::IsWindow(prompt); }, 10000)) << "the close ends the prompt";
        NextWindow(prompt, box, 30000);
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(nullptr, prompt);
        EXPECT_EQ("Stop the extraction?", testsupport::MessageBoxText(box));
        testsupport::PressMessageBoxButton(box, answer);
        ASSERT_TRUE(WaitUntil([&] { return !::IsWindow(box); }, 10000));
    }
    DWORD exitCode = 1;
    ASSERT_TRUE(program_.WaitForExit(30000, exitCode)) << "Yes closes the window and ends the program";
    EXPECT_EQ(0u, exitCode);
    EXPECT_FALSE(testsupport::FileExists(Path("secret\\a.txt")));
}

// A 7z whose names are encrypted too (7z a -p -mhe=on) goes through the same prompt, asked before
// anything of it is read: a wrong answer asks again, the right one extracts it.
TEST_F(PasswordScenarioTest, SevenZipWithEncryptedNamesAsksAndExtracts)
{
    ASSERT_TRUE(::DeleteFileA(Path("secret.zip").c_str()));
    ASSERT_TRUE(PackSecrets("-mhe=on", "secret.7z")) << "7z could not write the encrypted archive";

    HWND prompt = nullptr, box = nullptr;
    StartAndExecuteToThePrompt(prompt, box);
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_EQ("in " + Path("secret.7z"), WindowText(::GetDlgItem(prompt, IDC_PASSWORD_ARCHIVE)));
    ASSERT_TRUE(Answer(prompt, "wrong"));
    NextWindow(prompt, box, 30000);
    ASSERT_NE(prompt, nullptr) << "a wrong password asks again; box: " << testsupport::MessageBoxText(box);
    EXPECT_EQ("Wrong password. Try again:", WindowText(::GetDlgItem(prompt, IDC_PASSWORD_WRONG)));
    ASSERT_TRUE(Answer(prompt, kPassword));
    ExpectNoPromptAndTheSecrets("the right password opens the whole archive");
}

}  // namespace
