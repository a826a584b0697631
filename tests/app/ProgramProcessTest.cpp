// Starts the real kestrova.exe as its own process and drives it from outside, as a user would: real
// input goes through the X server.
#include "tests/support/ProgramProcess.h"
#include "tests/support/RegistryFixture.h"
#include "tests/support/RemoteListView.h"
#include "tests/support/TestFolder.h"
#include "tests/support/ZipBuilder.h"

#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using testsupport::ProgramPath;
using testsupport::WaitForMainWindow;

class ProgramProcessTest : public testsupport::RegistryFixture {
protected:
    void SetUp() override
    {
        RegistryFixture::SetUp();
        BeforeStart();
        ASSERT_TRUE(program_.Start(ProgramPath()));
        window_ = WaitForMainWindow(program_.Id(), 20000);
        ASSERT_NE(window_, nullptr) << "the main window did not appear";
    }
    void TearDown() override
    {
        program_.Close();
        RegistryFixture::TearDown();
    }
    DWORD CloseAndWait()
    {
        ::PostMessageA(window_, WM_CLOSE, 0, 0);
        DWORD code = 12345;
        EXPECT_TRUE(program_.WaitForExit(20000, code));
        return code;
    }

    virtual void BeforeStart() { }

    testsupport::ChildProcess program_;
    HWND window_ = nullptr;
};

// The program starts in the last folder it showed, here one named outside any single-byte code
// page (this test program, like the program, runs in UTF-8).
class UnicodeStartFolderTest : public ProgramProcessTest {
protected:
    void BeforeStart() override
    {
        const std::vector<std::string>& names = testsupport::UnicodeNames();
        start_ = folder_.Child(names[3]) + "\\";
        folder_.MakeFolder(names[3]);
        for (const std::string& name : names)
            folder_.MakeFolder(names[3] + "\\" + name);
        WriteRaw("Folders", "Last", start_);
    }

    testsupport::TestFolder folder_;
    std::string start_;
};

TEST_F(ProgramProcessTest, StartsWithItsWindowAndEndsWithExitCodeZeroAfterSaving)
{
    EXPECT_NE(::GetDlgItem(window_, 1000), nullptr);
    char version[16] = {};
    ::SendMessageA(::GetDlgItem(window_, 1060), WM_GETTEXT, sizeof version, reinterpret_cast<LPARAM>(version));
    EXPECT_STREQ(version, "1.8.00");
    int children = 0;
    for (HWND child = ::GetWindow(window_, GW_CHILD); child != nullptr; child = ::GetWindow(child, GW_HWNDNEXT))
        ++children;
    EXPECT_EQ(children, 17);

    EXPECT_EQ(CloseAndWait(), 0u);
    EXPECT_NE(ReadRaw("Placement", "Tall"), "<missing>");
    EXPECT_EQ(ReadRaw("Columns", "List Location"), "210");
    // No window of the program is left behind.
    EXPECT_FALSE(::IsWindow(window_));
}

// The real program shows the names as their characters (no question marks: it runs in the UTF-8
// code page its manifest asks for) and writes the folder back to the registry unchanged.
TEST_F(UnicodeStartFolderTest, ShowsUnicodeNamesAndKeepsTheFolderInTheRegistry)
{
    testsupport::RemoteListView explorer(::GetDlgItem(window_, 1000), program_.Id());
    ASSERT_TRUE(explorer.Usable());
    std::vector<std::wstring> shown;
    for (int row = 0; row < explorer.Count(); ++row)
        shown.push_back(explorer.WideText(row));
    std::vector<std::wstring> expected;
    for (const std::string& name : testsupport::UnicodeNames())
        expected.push_back(testsupport::TestFolder::Wide(name));
    std::sort(shown.begin(), shown.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(shown, expected);
    EXPECT_EQ(CloseAndWait(), 0u);
    EXPECT_EQ(ReadRaw("Folders", "Last"), start_);
}

// `kestrova.exe /x paths...` queues the archives given (a path with blanks in quotes), extracts
// them at once and ends with exit code 0; the completion message stays off, as its option is.
TEST(ProgramCommandLine, SlashXExtractsTheArchivesGivenAndEndsWithExitCodeZero)
{
    testsupport::RegistryKeyGuard key;
    testsupport::TestFolder folder;
    folder.MakeFolder("With Blanks");
    ziptest::Archive zip;
    zip.Add("inside.txt", "inside").Add("sub/more.txt", "more");
    const std::string archive = folder.Child("With Blanks\\Pack One.zip");
    ASSERT_TRUE(testsupport::WriteFileBytes(archive, zip.Build()));
    testsupport::ChildProcess program;
    ASSERT_TRUE(program.StartCommand("\"" + ProgramPath() + "\" /x \"" + archive + "\""));
    DWORD code = 12345;
    ASSERT_TRUE(program.WaitForExit(30000, code));
    EXPECT_EQ(code, 0u);
    std::string text;
    EXPECT_TRUE(testsupport::ReadFileBytes(folder.Child("With Blanks\\inside.txt"), text));
    EXPECT_EQ(text, "inside");
    EXPECT_TRUE(testsupport::FileExists(folder.Child("With Blanks\\sub\\more.txt")));
}

// Unattended: no box waits for a click (the completion message is on), the exit code tells the
// worst that happened, and /log holds one line per archive, problems first, in UTF-8 (the code
// page of both programs here). A title folder that nothing came into is not left behind.
class ProgramUnattendedTest : public testsupport::RegistryFixture { };

TEST_F(ProgramUnattendedTest, SlashXRunsWithoutABoxWithAnExitCodeAndALog)
{
    WriteRaw("Extract", "Message Box Alert", "1");
    WriteRaw("Extract", "Title Extract", "1");
    testsupport::TestFolder folder;
    ziptest::Archive good, damaged, unsafe;
    good.Add("fine.txt", "fine");
    damaged.Add("ok.txt", "ok").Add("bad.txt", "damaged data");
    damaged.members[1].declaredCrc = 1;
    unsafe.Add("../escape.txt", "x");
    const std::string goodPath = folder.Child("Café.zip"), damagedPath = folder.Child("Damaged.zip"),
                      unsafePath = folder.Child("Unsafe.zip"), missing = folder.Child("Missing.zip");
    ASSERT_TRUE(testsupport::WriteFileBytes(goodPath, good.Build()));
    ASSERT_TRUE(testsupport::WriteFileBytes(damagedPath, damaged.Build()));
    ASSERT_TRUE(testsupport::WriteFileBytes(unsafePath, unsafe.Build()));
    const std::string log = folder.Child("run.log");
    auto run = [&](const std::string& paths) {
        testsupport::ChildProcess program;
        DWORD code = 12345;
        EXPECT_TRUE(program.StartCommand("\"" + ProgramPath() + "\" /x /log \"" + log + "\" " + paths));
        EXPECT_TRUE(program.WaitForExit(30000, code)) << "the run waits for a click";
        return code;
    };
    EXPECT_EQ(run("\"" + goodPath + "\" \"" + damagedPath + "\" \"" + unsafePath + "\" \"" + missing + "\""), 2u);
    std::string text;
    EXPECT_TRUE(testsupport::ReadFileBytes(log, text));
    EXPECT_EQ(text,
        missing + " (failed: neither an archive nor a folder)\r\n" + damagedPath +
            " (failed: generic error in zip format)\r\n" + unsafePath + " (some files skipped)\r\n" + goodPath +
            "\r\n");
    EXPECT_TRUE(testsupport::FileExists(folder.Child("Café\\fine.txt")));
    EXPECT_TRUE(testsupport::FileExists(folder.Child("Damaged\\ok.txt")));
    EXPECT_FALSE(testsupport::FolderExists(folder.Child("Unsafe"))) << "made for the run, left empty";

    folder.MakeFolder("Unsafe");
    EXPECT_EQ(run("\"" + unsafePath + "\""), 1u);
    EXPECT_TRUE(testsupport::FolderExists(folder.Child("Unsafe"))) << "it was there before";
    EXPECT_TRUE(testsupport::ReadFileBytes(log, text));
    EXPECT_EQ(text, unsafePath + " (some files skipped)\r\n");
    EXPECT_EQ(run("\"" + goodPath + "\""), 0u);
}

// A downloaded archive's mark of the web goes onto every file the program extracts from it; with
// the setting off ("Extract"\"Mark Of The Web" "0") none gets it. Under Wine the mark is a file
// named after the file with ":Zone.Identifier", read back through that name.
TEST_F(ProgramUnattendedTest, SlashXCarriesTheMarkOfTheWebUnlessTheSettingIsOff)
{
    WriteRaw("Extract", "Title Extract", "1");
    testsupport::TestFolder folder;
    ziptest::Archive zip;
    zip.Add("setup.exe", "MZ setup").Add("docs/read.txt", "read");
    const std::string archive = folder.Child("Download.zip");
    const std::string host = "https://downloads.example.com/Download.zip";
    ASSERT_TRUE(testsupport::WriteFileBytes(archive, zip.Build()));
    ASSERT_TRUE(testsupport::WriteFileBytes(
        archive + ":Zone.Identifier", "[ZoneTransfer]\r\nZoneId=3\r\nHostUrl=" + host + "\r\n"));
    auto run = [&]() {
        testsupport::ChildProcess program;
        DWORD code = 12345;
        EXPECT_TRUE(program.StartCommand("\"" + ProgramPath() + "\" /x \"" + archive + "\""));
        EXPECT_TRUE(program.WaitForExit(30000, code));
        return code;
    };
    EXPECT_EQ(run(), 0u);
    for (const char* file : {"Download\\setup.exe", "Download\\docs\\read.txt"}) {
        std::string mark;
        EXPECT_TRUE(testsupport::ReadFileBytes(folder.Child(file) + ":Zone.Identifier", mark)) << file;
        EXPECT_EQ(mark, "[ZoneTransfer]\r\nZoneId=3\r\nReferrerUrl=" + archive + "\r\nHostUrl=" + host + "\r\n");
    }

    testsupport::TestFolder::Remove(folder.Child("Download"));
    WriteRaw("Extract", "Mark Of The Web", "0");
    EXPECT_EQ(run(), 0u);
    for (const char* file : {"Download\\setup.exe", "Download\\docs\\read.txt"}) {
        EXPECT_TRUE(testsupport::FileExists(folder.Child(file))) << file;
        EXPECT_FALSE(testsupport::FileExists(folder.Child(file) + ":Zone.Identifier")) << file;
    }
}

// The setting for files that were there reaches the run: Skip keeps the user's file and the archive
// counts as "some files skipped"; Keep Both writes the archive's file beside it and the run is clean.
TEST_F(ProgramUnattendedTest, ExistingFilesAreSkippedOrKeptBothAsTheSettingSays)
{
    testsupport::TestFolder folder;
    ziptest::Archive zip;
    zip.Add("notes.txt", "archived");
    const std::string archive = folder.Child("Notes.zip"), log = folder.Child("run.log");
    ASSERT_TRUE(testsupport::WriteFileBytes(archive, zip.Build()));
    ASSERT_TRUE(testsupport::WriteFileBytes(folder.Child("notes.txt"), "edited"));
    auto run = [&](const char* choice) {
        WriteRaw("Extract", "Existing Files", choice);
        testsupport::ChildProcess program;
        DWORD code = 12345;
        EXPECT_TRUE(program.StartCommand("\"" + ProgramPath() + "\" /x /log \"" + log + "\" \"" + archive + "\""));
        EXPECT_TRUE(program.WaitForExit(30000, code)) << "the run waits for a click";
        return code;
    };
    std::string text;
    EXPECT_EQ(run("1"), 1u);
    EXPECT_TRUE(testsupport::ReadFileBytes(log, text));
    EXPECT_EQ(text, archive + " (some files skipped)\r\n");
    EXPECT_TRUE(testsupport::ReadFileBytes(folder.Child("notes.txt"), text));
    EXPECT_EQ(text, "edited");
    EXPECT_EQ(run("2"), 0u);
    EXPECT_TRUE(testsupport::ReadFileBytes(folder.Child("notes.txt"), text));
    EXPECT_EQ(text, "edited");
    EXPECT_TRUE(testsupport::ReadFileBytes(folder.Child("notes (2).txt"), text));
    EXPECT_EQ(text, "archived");
}

}  // namespace
