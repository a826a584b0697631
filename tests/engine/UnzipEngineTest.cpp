// The binding to UNZIP32.DLL: listings, result messages and a library that is absent, unusable or
// lacks its entry point. Message boxes are answered by a CBT hook on the test thread.
#include "engine/UnzipEngine.h"

#include "engine/PasswordSession.h"

#include "tests/support/TestSupport.h"
#include "tests/support/ZipBuilder.h"
#include "unzip32/unzip32.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <new>
#include <vector>

namespace {

using engine::UnzipEngine;
using testsupport::MessageBoxHook;
using ziptest::Archive;
using ziptest::Member;
using ziptest::Stored;

const char kMissingText[] =
    "Cannot find UNZIP32.DLL. The Dll must be in the application directory, the path, the Windows directory or "
    "the Windows System directory.";

class UnzipEngineTest : public testing::Test {
protected:
    std::string Write(const Archive& archive)
    {
        std::string path = folder.Child("test.zip");
        testsupport::WriteFileBytes(path, archive.Build());
        return path;
    }
    testsupport::TestFolder folder;
};

TEST_F(UnzipEngineTest, Listing_CollectsTextsBeyondAThousandMembers)
{
    Archive archive;
    archive.members.push_back(Stored("first.txt", "0123456789"));
    archive.members.push_back({"text.txt", ziptest::Text(100000)});
    for (int i = 0; i < 1498; ++i)
        archive.members.push_back(Stored("many/" + std::to_string(i), ""));
    const std::string path = Write(archive);
    MessageBoxHook hook;
    UnzipEngine engine;
    ASSERT_EQ(1, engine.Unzip(path, nullptr, nullptr, 0, true));
    EXPECT_TRUE(hook.Seen().empty());
    ASSERT_EQ(1500, engine.GetMemberCount());
    EXPECT_EQ("first.txt", engine.GetMemberName(0));
    EXPECT_EQ("10", engine.GetMemberSize(0));
    EXPECT_EQ("10", engine.GetMemberPackedSize(0));
    EXPECT_EQ("0%", engine.GetMemberRatio(0));
    EXPECT_EQ("100000", engine.GetMemberSize(1));
    EXPECT_EQ(std::to_string(ziptest::Deflate(ziptest::Text(100000)).size()), engine.GetMemberPackedSize(1));
    const unsigned long packed = std::stoul(engine.GetMemberPackedSize(1));
    EXPECT_EQ(std::to_string((100000 - packed) * 100 / 100000) + "%", engine.GetMemberRatio(1));
    EXPECT_EQ("many/1497", engine.GetMemberName(1499));
}

TEST_F(UnzipEngineTest, EmptyArchive_ListsNoMembers)
{
    Archive empty;
    const std::string path = Write(empty);
    MessageBoxHook hook;
    UnzipEngine engine;
    EXPECT_EQ(1, engine.Unzip(path, nullptr, nullptr, 0, true));
    EXPECT_EQ(0, engine.GetMemberCount());
    EXPECT_TRUE(hook.Seen().empty());
}

TEST_F(UnzipEngineTest, SkippedMembers_ShowCode1WithTargetAndPath_MemberCountStays0)
{
    Archive archive;
    archive.members = {Stored("../escape.txt", "x"), Stored("fine.txt", "y")};
    const std::string path = Write(archive);
    const std::string target = folder.Child("out\\");
    char mask[] = "*.bak";
    char* masks[] = {mask};
    MessageBoxHook hook;
    UnzipEngine engine;
    EXPECT_EQ(0, engine.Unzip(path, target.c_str(), masks, 1, false));
    ASSERT_EQ(1u, hook.Seen().size());
    EXPECT_EQ("Files in archived were skipped.\nskipping: ../escape.txt (unsafe name: parent folder component)\n" +
            target + "\n" + path,
        hook.Seen()[0].text);
    EXPECT_EQ(0, engine.GetMemberCount());
    EXPECT_EQ(1, engine.GetResult());
    EXPECT_TRUE(folder.Exists("out\\fine.txt"));
    EXPECT_FALSE(folder.Exists("escape.txt"));
}

// A member written under a new name (another one had its name) is the one the message names.
TEST_F(UnzipEngineTest, RenamedMember_ShowsCode1WithTheLineThatNamesIt)
{
    Archive archive;
    archive.members = {Stored("Same.txt", "x"), Stored("SAME.txt", "y")};
    const std::string path = Write(archive);
    const std::string target = folder.Child("out\\");
    MessageBoxHook hook;
    UnzipEngine engine;
    EXPECT_EQ(0, engine.Unzip(path, target.c_str(), nullptr, 0, false));
    ASSERT_EQ(1u, hook.Seen().size());
    EXPECT_EQ(
        "Files in archived were skipped.\nrenamed: SAME.txt as SAME (2).txt (a file of that name was extracted "
        "before)\n" +
            target + "\n" + path,
        hook.Seen()[0].text);
    std::string renamed;
    EXPECT_TRUE(testsupport::ReadFileBytes(folder.Child("out\\SAME (2).txt"), renamed));
    EXPECT_EQ("y", renamed);
}

// The settings' choice for files that were there (0 overwrite, 1 skip, 2 keep both) reaches the
// library. Members skipped by the choice make result 1, yet only another problem is told at once,
// and the message names that one.
TEST_F(UnzipEngineTest, ExistingFiles_FollowTheChoiceAndKeptOnesAloneAreNotTold)
{
    Archive archive;
    archive.members = {Stored("mine.txt", "archived")};
    const std::string path = Write(archive);
    const std::string target = folder.Child("out\\");
    const std::vector<std::pair<int, std::string>> choices {{0, "archived"}, {1, "edited"}, {2, "edited"}};
    for (const auto& choice : choices) {
        testsupport::WriteFileBytes(folder.Child("out\\mine.txt"), "edited");
        MessageBoxHook hook;
        UnzipEngine engine;
        engine.SetExistingFiles(choice.first);
        EXPECT_EQ(choice.first == 1 ? 0 : 1, engine.Unzip(path, target.c_str(), nullptr, 0, false));
        EXPECT_TRUE(hook.Seen().empty());
        EXPECT_EQ(choice.first == 1 ? UZ_WARNING : UZ_OK, engine.GetResult());
        std::string bytes;
        EXPECT_TRUE(testsupport::ReadFileBytes(folder.Child("out\\mine.txt"), bytes));
        EXPECT_EQ(choice.second, bytes) << choice.first;
    }
    EXPECT_TRUE(folder.Exists("out\\mine (2).txt"));

    archive.members.push_back(Stored("../escape.txt", "x"));
    const std::string both = Write(archive);
    MessageBoxHook hook;
    UnzipEngine engine;
    engine.SetExistingFiles(1);
    EXPECT_EQ(0, engine.Unzip(both, target.c_str(), nullptr, 0, false));
    ASSERT_EQ(1u, hook.Seen().size());
    EXPECT_EQ("Files in archived were skipped.\nskipping: ../escape.txt (unsafe name: parent folder component)\n" +
            target + "\n" + both,
        hook.Seen()[0].text);
}

TEST_F(UnzipEngineTest, FailedListing_ShowsTextLineBreakAndPathOnly)
{
    const std::string path = folder.Child("not-a-zip.zip");
    testsupport::WriteFileBytes(path, std::string(4000, 'n'));
    MessageBoxHook hook;
    UnzipEngine engine;
    EXPECT_EQ(0, engine.Unzip(path, nullptr, nullptr, 0, true));
    ASSERT_EQ(1u, hook.Seen().size());
    EXPECT_EQ("Severe error in zip format.\n" + path, hook.Seen()[0].text);
    EXPECT_EQ(0, engine.GetMemberCount());
}

// A download cut off in its second member: extracting says how many files were recovered (and the
// summary's reason says the same), listing shows them without a message.
TEST_F(UnzipEngineTest, CutArchive_SaysHowManyFilesWereRecoveredAndListsThem)
{
    Archive archive;
    archive.Add("first.txt", "first").Add("cut.bin", ziptest::RandomBytes(5000));
    const std::string whole = archive.Build();
    const std::string path = folder.Child("cut.zip");
    testsupport::WriteFileBytes(path, whole.substr(0, whole.size() - 3000));
    const std::string target = folder.Child("out\\");
    {
        MessageBoxHook hook;
        UnzipEngine engine;
        EXPECT_EQ(0, engine.Unzip(path, target.c_str(), nullptr, 0, false));
        EXPECT_EQ(UZ_SEVERE_ERROR, engine.GetResult());
        ASSERT_EQ(1u, hook.Seen().size());
        EXPECT_EQ(
            "The archive is damaged: 1 of its files were recovered.\n" + target + "\n" + path, hook.Seen()[0].text);
        EXPECT_EQ("the archive is damaged: 1 of its files were recovered", engine.Reason());
        EXPECT_TRUE(folder.Exists("out\\first.txt"));
        EXPECT_FALSE(folder.Exists("out\\cut.bin"));
    }
    MessageBoxHook hook;
    UnzipEngine engine;
    EXPECT_EQ(1, engine.Unzip(path, nullptr, nullptr, 0, true));
    EXPECT_TRUE(hook.Seen().empty());
    ASSERT_EQ(1, engine.GetMemberCount());
    EXPECT_EQ("first.txt", engine.GetMemberName(0));
}

// An archive deleted after it was queued (9) and a destination that cannot be written (50, here
// a file standing where a folder of the target should be) each show their own text, with the
// destination and the archive path on lines of their own.
TEST_F(UnzipEngineTest, MissingArchiveAndUnwritableDestination_ShowTheirTextsOnSeparateLines)
{
    Archive archive;
    archive.members = {Stored("a.txt", "a")};
    const std::string present = Write(archive);
    folder.WriteFile("blocker", "a file, not a folder");
    struct Case {
        std::string archive;
        std::string target;
        int result;
        const char* text;
    } cases[] = {
        {folder.Child("absent.zip"), folder.Child("out\\"), 9, "Archive not found or cannot be opened."},
        {present, folder.Child("blocker\\out"), 50,
            "The destination folder or disk cannot be written (disk full or read-only)."},
    };
    for (const Case& c : cases) {
        MessageBoxHook hook;
        UnzipEngine engine;
        EXPECT_EQ(0, engine.Unzip(c.archive, c.target.c_str(), nullptr, 0, false));
        EXPECT_EQ(c.result, engine.GetResult());
        ASSERT_EQ(1u, hook.Seen().size()) << c.result;
        EXPECT_EQ(std::string(c.text) + "\n" + c.target + "\n" + c.archive, hook.Seen()[0].text);
    }
}

TEST(UnzipEngineTexts, EveryDocumentedCodeHasItsOwnText)
{
    EXPECT_EQ("Files in archived were skipped.", UnzipEngine::ResultText(1));
    EXPECT_EQ("Generic error in zip format.", UnzipEngine::ResultText(2));
    EXPECT_EQ("Severe error in zip format.", UnzipEngine::ResultText(3));
    EXPECT_EQ("Unable to allocate memory for one or more buffers during initialization.", UnzipEngine::ResultText(4));
    EXPECT_EQ("Unable to retrive password.", UnzipEngine::ResultText(5));
    EXPECT_EQ("Unable to allocate memory during decompression to disk.", UnzipEngine::ResultText(6));
    EXPECT_EQ("Unable to allocate memory during in-memory decompression.", UnzipEngine::ResultText(7));
    EXPECT_EQ("Archive not found or cannot be opened.", UnzipEngine::ResultText(UZ_NOT_FOUND));
    EXPECT_EQ("Invalid options.", UnzipEngine::ResultText(UZ_BAD_ARGUMENT));
    EXPECT_EQ("No files matched.", UnzipEngine::ResultText(UZ_NO_MATCH));
    EXPECT_EQ("The destination folder or disk cannot be written (disk full or read-only).",
        UnzipEngine::ResultText(UZ_DISK_FULL));
    EXPECT_EQ("Internal error.", UnzipEngine::ResultText(UZ_INTERNAL));
    EXPECT_EQ("Unexpected result 12 from the extraction library.", UnzipEngine::ResultText(12));
}

// A user at the password prompt: gives the answers in order (null: Skip) and notes each question
// as "member@archive file name", with " again" when the prompt said the last password was wrong.
class ScriptedPrompt : public engine::PasswordPrompt {
public:
    explicit ScriptedPrompt(std::vector<const char*> answers) : answers_(std::move(answers)) { }
    bool AskPassword(const std::string& member, const std::string& archive, bool again, std::string& password) override
    {
        asked.push_back(member + "@" + archive.substr(archive.find_last_of('\\') + 1) + (again ? " again" : ""));
        const char* answer = next_ < answers_.size() ? answers_[next_++] : nullptr;
        if (answer != nullptr)
            password = answer;
        return answer != nullptr;
    }
    std::vector<std::string> asked;

private:
    std::vector<const char*> answers_;
    size_t next_ = 0;
};

TEST(PasswordSession, PasswordLongerThanTheBuffer_IsNotHandedOverCutShort)
{
    ScriptedPrompt prompt({"longer than eight"});
    engine::PasswordSession session(prompt);
    char buffer[8] = {};
    EXPECT_EQ(1, session.Answer(buffer, sizeof buffer, "a.txt", "C:\\a.zip"));
    EXPECT_EQ(std::string(), std::string(buffer));
}

// The library cases run in a child copy of this program, started from a folder that holds either
// no UNZIP32.DLL, a file of that name that is no library, a library without the entry point or
// one that asks for passwords. KV_ENGINE_CHILD tells the child what to expect; `test` is the child's
// test to run.
int RunChild(const std::string& mode, const std::string& libraryFile, const std::string& test = "RunsAsTheParentSays")
{
    testsupport::TestFolder place;
    char self[MAX_PATH] = {};
    ::GetModuleFileNameA(nullptr, self, MAX_PATH);
    const std::string exe = place.Child("engine_child.exe");
    if (!::CopyFileA(self, exe.c_str(), FALSE))
        return -1;
    if (!libraryFile.empty()) {
        std::string dllFolder(self);
        dllFolder.resize(dllFolder.find_last_of('\\') + 1);
        if (libraryFile == "garbage")
            place.WriteFile("UNZIP32.DLL", "this is not a library");
        else if (!::CopyFileA((dllFolder + libraryFile).c_str(), place.Child("UNZIP32.DLL").c_str(), FALSE))
            return -1;
    }
    ::SetEnvironmentVariableA("KV_ENGINE_CHILD", mode.c_str());
    std::string command = "\"" + exe + "\" --gtest_filter=UnzipEngineChild." + test;
    STARTUPINFOA startup {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process {};
    BOOL started = ::CreateProcessA(
        nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, place.Path().c_str(), &startup, &process);
    ::SetEnvironmentVariableA("KV_ENGINE_CHILD", nullptr);
    if (!started)
        return -1;
    ::WaitForSingleObject(process.hProcess, 60000);
    DWORD code = 1;
    ::GetExitCodeProcess(process.hProcess, &code);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    return static_cast<int>(code);
}

TEST(UnzipEngineLibrary, Absent_BothUsersGetTheMissingLibraryMessage)
{
    EXPECT_EQ(0, RunChild("missing", ""));
}

TEST(UnzipEngineLibrary, NotALibrary_EndsWithAMessage)
{
    EXPECT_EQ(0, RunChild("unloadable", "garbage"));
}

TEST(UnzipEngineLibrary, WithoutEntryPoint_EndsWithAMessage)
{
    EXPECT_EQ(0, RunChild("noentry", "fake_unzip32.dll"));
}

TEST(UnzipEngineLibrary, Passwords_AskedOncePerRunAndAgainOnlyWhenWrong)
{
    EXPECT_EQ(0, RunChild("passwords", "fake_password_unzip32.dll", "Passwords"));
}

TEST(UnzipEngineLibrary, NamePage_GoesToTheEntryPointThatTakesIt)
{
    EXPECT_EQ(0, RunChild("names", "fake_names_unzip32.dll", "NamePage"));
}

// Runs only inside the child started above.
TEST(UnzipEngineChild, RunsAsTheParentSays)
{
    const char* mode = std::getenv("KV_ENGINE_CHILD");
    if (mode == nullptr || std::string(mode) == "passwords" || std::string(mode) == "names")
        GTEST_SKIP() << "only in the child process";
    testsupport::TestFolder folder;
    const std::string path = folder.Child("a.zip");
    Archive archive;
    archive.members = {Stored("a.txt", "a")};
    testsupport::WriteFileBytes(path, archive.Build());
    const std::string target = folder.Child("out\\");
    MessageBoxHook hook;
    UnzipEngine extractRun;
    EXPECT_EQ(0, extractRun.Unzip(path, target.c_str(), nullptr, 0, false));
    UnzipEngine viewerRun;
    EXPECT_EQ(0, viewerRun.Unzip(path, nullptr, nullptr, 0, true));
    EXPECT_EQ(0, viewerRun.GetMemberCount());
    EXPECT_FALSE(folder.Exists("out\\a.txt"));
    ASSERT_EQ(2u, hook.Seen().size()) << "one message per run";
    const std::string text = hook.Seen()[0].text;
    EXPECT_EQ(text, hook.Seen()[1].text);
    const std::string expected = mode;
    if (expected == "missing") {
        EXPECT_EQ(kMissingText, text);
    } else if (expected == "unloadable") {
        EXPECT_EQ(0u, text.find("Cannot load UNZIP32.DLL")) << text;
    } else {
        EXPECT_NE(std::string::npos, text.find("has no entry point Wiz_SingleEntryUnzip")) << text;
    }
}

// Runs only inside the child started with the library that has both entry points.
TEST(UnzipEngineChild, NamePage)
{
    const char* mode = std::getenv("KV_ENGINE_CHILD");
    if (mode == nullptr || std::string(mode) != "names")
        GTEST_SKIP() << "only in the child process";
    auto listed = [](UnzipEngine& engine) {
        EXPECT_EQ(1, engine.Unzip("any.zip", nullptr, nullptr, 0, true));
        return engine.GetMemberName(0);
    };
    UnzipEngine automatic;
    EXPECT_EQ("page 0", listed(automatic));
    UnzipEngine chosen;
    chosen.SetNamePage(866);
    EXPECT_EQ("page 866", listed(chosen));
    chosen.SetNamePage(UZ_NAMES_AS_WINDOWS);
    EXPECT_EQ("page 1", listed(chosen));
}

// Runs only inside the child started with the password-asking library. One run (one session) over
// a queue, then a second run: the fake's log shows what the library was given, the prompt what the
// user was asked.
TEST(UnzipEngineChild, Passwords)
{
    const char* mode = std::getenv("KV_ENGINE_CHILD");
    if (mode == nullptr || std::string(mode) != "passwords")
        GTEST_SKIP() << "only in the child process";
    testsupport::TestFolder folder;
    folder.WriteFile("one.zip", "a.txt alpha\nb.txt alpha\n");
    folder.WriteFile("two.zip", "c.txt alpha\n");
    folder.WriteFile("three.zip", "d.txt gamma\n");
    folder.WriteFile("four.zip", "e.txt alpha\nf.txt other\n");
    folder.WriteFile("five.zip", "g.txt secret\n");
    folder.WriteFile("six.zip", "h.txt secret\ni.txt secret\n");
    const std::string target = folder.Child("out\\");
    auto extract = [&](engine::PasswordSession& session, const char* name) {
        UnzipEngine engine;
        engine.SetPasswords(&session);
        engine.SetNamePage(866);  // this library has only the call without it: called all the same
        engine.Unzip(folder.Child(name), target.c_str(), nullptr, 0, false);
        return engine.GetResult();
    };
    auto asked = [&](const char* name) {
        std::string log;
        testsupport::ReadFileBytes(folder.Child(name) + ".asked", log);
        return log;
    };

    MessageBoxHook hook;
    {
        ScriptedPrompt user({"alpha", "wrong", "gamma", "alpha", nullptr, nullptr});
        engine::PasswordSession run(user);
        EXPECT_EQ(0, extract(run, "one.zip"));
        EXPECT_EQ(0, extract(run, "two.zip"));
        EXPECT_EQ(0, extract(run, "two.zip")) << "the same archive again is no second question";
        EXPECT_EQ(0, extract(run, "three.zip")) << "opened at the third question";
        EXPECT_EQ(5, extract(run, "four.zip")) << "f.txt skipped";
        EXPECT_EQ(5, extract(run, "six.zip")) << "skipped once for the whole archive";
        EXPECT_EQ((std::vector<std::string> {"a.txt@one.zip", "d.txt@three.zip", "d.txt@three.zip again",
                      "e.txt@four.zip", "f.txt@four.zip", "h.txt@six.zip"}),
            user.asked);
    }
    EXPECT_EQ("a.txt=alpha\nb.txt=alpha\n", asked("one.zip"));
    EXPECT_EQ("c.txt=alpha\nc.txt=alpha\n", asked("two.zip"));
    EXPECT_EQ("d.txt=alpha\nd.txt=wrong\nd.txt=gamma\n", asked("three.zip"));
    EXPECT_EQ("e.txt=gamma\ne.txt=alpha\nf.txt=alpha\nf.txt!\n", asked("four.zip"));
    EXPECT_EQ("h.txt=alpha\nh.txt!\ni.txt!\n", asked("six.zip"));
    EXPECT_TRUE(hook.Seen().empty()) << "Skip is the user's choice, not a failure to report";

    // A new run knows no password; three wrong answers end the questions about the whole archive
    // (the last one is still tried on the next member: it may have opened the first at the last
    // question), and the failure is reported. Right at the third try, it opens the rest.
    ScriptedPrompt user({"x", "y", "z", "never asked"});
    engine::PasswordSession run(user);
    const size_t logged = asked("six.zip").size();
    EXPECT_EQ(5, extract(run, "six.zip"));
    EXPECT_EQ((std::vector<std::string> {"h.txt@six.zip", "h.txt@six.zip again", "h.txt@six.zip again"}), user.asked);
    EXPECT_EQ("h.txt=x\nh.txt=y\nh.txt=z\ni.txt=z\ni.txt!\n", asked("six.zip").substr(logged));
    ASSERT_EQ(1u, hook.Seen().size());
    EXPECT_EQ("Unable to retrive password.\n" + target + "\n" + folder.Child("six.zip"), hook.Seen()[0].text);
    ScriptedPrompt late({"x", "y", "secret", "never asked"});
    engine::PasswordSession lateRun(late);
    EXPECT_EQ(0, extract(lateRun, "six.zip"));
    EXPECT_EQ(0, extract(lateRun, "five.zip")) << "the third answer is known to be right";
    EXPECT_EQ(3u, late.asked.size());
}

// A listener that throws (memory running out in the program's callback) cannot unwind through the
// library: the archive ends with the failure and its message, and the process goes on.
TEST_F(UnzipEngineTest, ListenerThatThrows_EndsTheArchiveWithAMessage)
{
    struct Throwing : engine::RunListener {
        void ShowFailure(const std::string& text) override { shown.push_back(text); }
        bool AtMember(const char*, unsigned long) override { throw std::bad_alloc(); }
        std::vector<std::string> shown;
    } listener;
    Archive archive;
    archive.members = {Stored("a.txt", "a"), Stored("b.txt", "b")};
    const std::string path = Write(archive);
    const std::string target = folder.Child("out");
    UnzipEngine engine;
    engine.SetListener(&listener);
    EXPECT_EQ(0, engine.Unzip(path, target.c_str(), nullptr, 0, false));
    EXPECT_EQ(UZ_MEMORY_DISK, engine.GetResult());
    EXPECT_FALSE(folder.Exists("out\\b.txt"));
    ASSERT_EQ(1u, listener.shown.size());
    EXPECT_EQ("Unable to allocate memory during decompression to disk.\n" + target + "\n" + path, listener.shown[0]);
}

}  // namespace
