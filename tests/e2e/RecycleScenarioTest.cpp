// "Move Archives To The Recycle Bin After Extraction" through the real kestrova.exe: the archives
// extracted cleanly go to the bin (Wine's is the XDG trash of the XDG_DATA_HOME the program is
// started with) with every volume of a split set, in one shell request at the end of the run; an
// archive that failed, or that a stop kept from being reached, stays with its row. Where the bin
// cannot take a file, nothing is deleted for good.
#include "resources/kestrova/resource.h"
#include "tests/support/ProcessWindows.h"
#include "tests/support/ProgramProcess.h"
#include "tests/support/RegistryFixture.h"
#include "tests/support/RemoteListView.h"
#include "tests/support/TestFolder.h"
#include "tests/support/TestSupport.h"
#include "tests/support/ZipBuilder.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using testsupport::WaitUntil;

class RecycleScenarioTest : public testsupport::RegistryFixture {
protected:
    void SetUp() override
    {
        RegistryFixture::SetUp();
        host_ = "/tmp/kestrova-recycle-" + std::to_string(::GetCurrentProcessId());
        work_ = testsupport::FromHost(host_);
        testsupport::TestFolder::Remove(work_);
        ASSERT_TRUE(::CreateDirectoryA(work_.c_str(), nullptr)) << work_;
        ASSERT_TRUE(::CreateDirectoryA(Path("xdg").c_str(), nullptr));
        WriteRaw("Folders", "Last", work_ + "\\");
        WriteRaw("Extract", "Title Extract", "1");
        WriteRaw("Extract", "Message Box Alert", "1");
        WriteRaw("Extract", "Recycle Archives", "1");
    }
    void TearDown() override
    {
        program_.Close();
        testsupport::TestFolder::Remove(work_);
        RegistryFixture::TearDown();
    }

    std::string Path(const std::string& relative) const { return work_ + "\\" + relative; }

    // A small archive whose one member is named after it.
    void MakeArchive(const std::string& name) const
    {
        ziptest::Archive zip;
        zip.Add(name + ".txt", "the member of " + name);
        ASSERT_TRUE(testsupport::WriteFileBytes(Path(name), zip.Build()));
    }

    // kestrova.exe with `arguments`, its Recycle Bin under `xdgHome` (the host's path).
    void Start(const std::string& arguments, const std::string& xdgHome)
    {
        ASSERT_TRUE(program_.StartCommand(
            "\"" + testsupport::ProgramPath() + "\" " + arguments, std::string(), "XDG_DATA_HOME", xdgHome));
    }
    std::string Quoted(const std::vector<std::string>& names) const
    {
        std::string line;
        for (const std::string& name : names)
            line += "\"" + Path(name) + "\" ";
        return line;
    }

    // The names in the test's Recycle Bin, sorted.
    std::vector<std::string> Trash() const
    {
        std::vector<std::string> names;
        WIN32_FIND_DATAA match;
        HANDLE find = ::FindFirstFileA(Path("xdg\\Trash\\files\\*").c_str(), &match);
        if (find == INVALID_HANDLE_VALUE)
            return names;
        do {
            if (std::string(match.cFileName) != "." && std::string(match.cFileName) != "..")
                names.push_back(match.cFileName);
        } while (::FindNextFileA(find, &match));
        ::FindClose(find);
        std::sort(names.begin(), names.end());
        return names;
    }

    std::vector<std::string> Rows() const
    {
        testsupport::RemoteListView queue(::GetDlgItem(window_, IDC_MAIN_EXTRACTION), program_.Id());
        std::vector<std::string> rows;
        for (int row = 0; row < queue.Count(); ++row)
            rows.push_back(queue.Text(row));
        return rows;
    }

    void Post(int button) const
    {
        ::PostMessageA(window_, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
            reinterpret_cast<LPARAM>(::GetDlgItem(window_, button)));
    }

    std::string host_;
    std::string work_;
    testsupport::ChildProcess program_;
    HWND window_ = nullptr;
};

// Five rows: two good archives, a split set of three volumes (with a stray fifth piece beyond the
// gap, which is no part of it), a damaged archive, and a good one after it. Execute is pressed
// again while the damaged archive's failure is shown: the run stops there, the last archive is
// never reached. The three good archives went to the bin, the set with exactly its three volumes;
// the damaged and the unreached archive stay where they were, with their rows.
TEST_F(RecycleScenarioTest, GoodArchivesAndWholeSetsGoToTheBin_FailedAndUnreachedStayWithTheirRows)
{
    MakeArchive("one.zip");
    MakeArchive("three.zip");
    MakeArchive("five.zip");
    ziptest::Archive set;
    set.Add("two.txt", std::string(3000, 't'), false);
    const std::string bytes = set.Build();
    const size_t third = bytes.size() / 3;
    ASSERT_TRUE(testsupport::WriteFileBytes(Path("two.zip.001"), bytes.substr(0, third)));
    ASSERT_TRUE(testsupport::WriteFileBytes(Path("two.zip.002"), bytes.substr(third, third)));
    ASSERT_TRUE(testsupport::WriteFileBytes(Path("two.zip.003"), bytes.substr(2 * third)));
    ASSERT_TRUE(testsupport::WriteFileBytes(Path("two.zip.005"), "not of the set"));
    ASSERT_TRUE(testsupport::WriteFileBytes(Path("four.zip"), "PK\x03\x04 this archive is damaged beyond repair"));

    Start(Quoted({"one.zip", "two.zip.001", "three.zip", "four.zip", "five.zip"}), host_ + "/xdg");
    ASSERT_FALSE(HasFatalFailure());
    window_ = testsupport::WaitForMainWindow(program_.Id(), 20000);
    ASSERT_NE(window_, nullptr) << "the main window did not appear";
    ASSERT_TRUE(WaitUntil([&] { return Rows().size() == 5; }, 20000));
    Post(IDC_MAIN_EXECUTE);

    HWND failure = testsupport::WaitForProcessMessageBox(program_.Id(), 60000);
    ASSERT_NE(failure, nullptr) << "the damaged archive's failure should be shown";
    ASSERT_NE(std::string::npos, testsupport::MessageBoxText(failure).find(Path("four.zip")))
        << testsupport::MessageBoxText(failure);
    EXPECT_EQ(std::vector<std::string> {}, Trash()) << "nothing goes to the bin before the run's end";
    Post(IDC_MAIN_EXECUTE);  // Execute again: stop
    testsupport::PressMessageBoxButton(failure, IDOK);
    ASSERT_TRUE(WaitUntil([&] { return !::IsWindow(failure); }, 10000));

    HWND box = testsupport::WaitForProcessMessageBox(program_.Id(), 60000);
    ASSERT_NE(box, nullptr) << "the run should end with its summary";
    const std::string summary = testsupport::MessageBoxText(box);
    EXPECT_EQ(0u, summary.rfind("Files extracted: \n\n" + Path("four.zip") + " (failed: ", 0)) << summary;
    const std::string tail = Path("one.zip") + "\n" + Path("two.zip.001") + "\n" + Path("three.zip") +
        "\n\nMoved to the Recycle Bin: 3 archives\n";
    EXPECT_EQ(summary.size() - tail.size(), summary.rfind(tail)) << summary;
    testsupport::PressMessageBoxButton(box, IDOK);

    EXPECT_EQ((std::vector<std::string> {"one.zip", "three.zip", "two.zip.001", "two.zip.002", "two.zip.003"}), Trash());
    for (const char* kept : {"four.zip", "five.zip", "two.zip.005"})
        EXPECT_TRUE(testsupport::FileExists(Path(kept))) << kept << " should have stayed";
    EXPECT_EQ((std::vector<std::string> {"four.zip", "five.zip"}), Rows());
    std::string member;
    EXPECT_TRUE(testsupport::ReadFileBytes(Path("one\\one.zip.txt"), member) && member == "the member of one.zip");
    EXPECT_TRUE(testsupport::ReadFileBytes(Path("two\\two.txt"), member) && member == std::string(3000, 't'));
    EXPECT_FALSE(testsupport::FileExists(Path("five"))) << "the stop came before the last archive";
}

// Unattended runs: with the setting off nothing moves and the log says nothing of the bin; with it
// on the archive goes and the log says so.
TEST_F(RecycleScenarioTest, UnattendedRunMovesOnlyWithTheSettingOn)
{
    MakeArchive("first.zip");
    MakeArchive("second.zip");
    DWORD exitCode = 99;
    WriteRaw("Extract", "Recycle Archives", "0");
    Start("/x /log \"" + Path("off.log") + "\" " + Quoted({"first.zip", "second.zip"}), host_ + "/xdg");
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_TRUE(program_.WaitForExit(60000, exitCode));
    EXPECT_EQ(0u, exitCode);
    EXPECT_TRUE(testsupport::FileExists(Path("first\\first.zip.txt")));
    EXPECT_EQ(std::vector<std::string> {}, Trash());
    EXPECT_TRUE(testsupport::FileExists(Path("first.zip")) && testsupport::FileExists(Path("second.zip")));
    std::string log;
    ASSERT_TRUE(testsupport::ReadFileBytes(Path("off.log"), log));
    EXPECT_EQ(Path("first.zip") + "\r\n" + Path("second.zip") + "\r\n", log);

    WriteRaw("Extract", "Recycle Archives", "1");
    Start("/x /log \"" + Path("on.log") + "\" " + Quoted({"second.zip"}), host_ + "/xdg");
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_TRUE(program_.WaitForExit(60000, exitCode));
    EXPECT_EQ(0u, exitCode);
    EXPECT_EQ(std::vector<std::string> {"second.zip"}, Trash());
    EXPECT_TRUE(testsupport::FileExists(Path("first.zip")));
    ASSERT_TRUE(testsupport::ReadFileBytes(Path("on.log"), log));
    EXPECT_EQ(Path("second.zip") + "\r\n\r\nMoved to the Recycle Bin: 1 archive\r\n", log);
}

// A Recycle Bin that cannot be made (the XDG folder cannot be created): the shell would delete the
// files for good in silence; asked to warn first, it asks, and No keeps the archive and its row.
TEST_F(RecycleScenarioTest, WhereTheBinCannotTakeTheArchiveItIsNeverDeletedForGood)
{
    MakeArchive("kept.zip");
    Start(Quoted({"kept.zip"}), "/proc/kestrova-no-trash");
    ASSERT_FALSE(HasFatalFailure());
    window_ = testsupport::WaitForMainWindow(program_.Id(), 20000);
    ASSERT_NE(window_, nullptr) << "the main window did not appear";
    ASSERT_TRUE(WaitUntil([&] { return Rows().size() == 1; }, 20000));
    Post(IDC_MAIN_EXECUTE);

    // The shell's warning (the summary has no No), then the summary.
    HWND warning = testsupport::WaitForProcessWindowWhere(program_.Id(), 60000, [&](HWND window) {
        return window != window_ && ::IsWindowVisible(window) && ::GetDlgItem(window, IDNO) != nullptr;
    });
    ASSERT_NE(warning, nullptr) << "the shell should ask before it deletes for good";
    EXPECT_TRUE(testsupport::FileExists(Path("kept.zip")));
    ::PostMessageA(warning, WM_COMMAND, MAKEWPARAM(IDNO, BN_CLICKED), 0);
    ASSERT_TRUE(WaitUntil([&] { return !::IsWindow(warning); }, 10000)) << "No should end the warning";

    HWND box = testsupport::WaitForProcessMessageBox(program_.Id(), 60000);
    ASSERT_NE(box, nullptr) << "the run should end with its summary";
    EXPECT_EQ("Files extracted: \n\n" + Path("kept.zip") + "\n\nNot moved to the Recycle Bin: 1 archive\n",
        testsupport::MessageBoxText(box));
    testsupport::PressMessageBoxButton(box, IDOK);
    EXPECT_TRUE(testsupport::FileExists(Path("kept.zip")));
    EXPECT_EQ(std::vector<std::string> {"kept.zip"}, Rows());
}

}  // namespace
