// The real kestrova.exe on a folder of downloads of every kind it reads (made at build time by the
// tools that write them, make_mixed_archives.py, in KESTROVA_MIXED_ARCHIVES): the explorer lists each
// archive once (the first volume of a set), Search queues them, one Execute extracts every one into
// a sub-folder named after it exactly as the writing tools' own reader does, and the viewer lists a
// 7z's members.
#include "tests/support/HostInput.h"
#include "tests/support/ProcessWindows.h"
#include "tests/support/ProgramProcess.h"
#include "tests/support/RegistryFixture.h"
#include "tests/support/RemoteListView.h"
#include "tests/support/TestFolder.h"
#include "tests/support/TestSupport.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <set>
#include <sstream>
#include <string>

namespace {

using testsupport::ClickScreen;
using testsupport::ClickWindow;
using testsupport::RemoteListView;
using testsupport::WaitUntil;
using testsupport::WindowText;

const int kExplorerList = 1000;
const int kExtractionList = 1006;
const int kViewButton = 1009;
const int kSearchButton = 1011;
const int kExecuteButton = 1013;
const int kCountLabel = 1023;
const int kViewerList = 1000;

std::string MixedFolder()
{
    const char* folder = std::getenv("KESTROVA_MIXED_ARCHIVES");
    return folder != nullptr && *folder != '\0' ? testsupport::FromHost(folder) : std::string();
}

// Every file and folder under `root`, by its path relative to it: a file's bytes, a folder as "/".
void ReadTree(const std::string& root, const std::string& relative, std::map<std::string, std::string>& tree)
{
    WIN32_FIND_DATAA found;
    const std::string base = relative.empty() ? root : root + "\\" + relative;
    HANDLE find = ::FindFirstFileA((base + "\\*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE)
        return;
    do {
        const std::string name = found.cFileName;
        if (name == "." || name == "..")
            continue;
        const std::string path = relative.empty() ? name : relative + "\\" + name;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            tree[path] = "/";
            ReadTree(root, path, tree);
        } else {
            testsupport::ReadFileBytes(root + "\\" + path, tree[path]);
        }
    } while (::FindNextFileA(find, &found));
    ::FindClose(find);
}

std::set<std::string> Lines(const std::string& text)
{
    std::set<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (!line.empty())
            lines.insert(line);
    return lines;
}

class MixedArchivesScenarioTest : public testsupport::RegistryFixture {
protected:
    void TearDown() override
    {
        testsupport::Xdotool("mouseup 1 mousemove 5 5", 50);
        program_.Close();
        RegistryFixture::TearDown();
    }
    testsupport::ChildProcess program_;
    testsupport::TestFolder work_;
};

TEST_F(MixedArchivesScenarioTest, EveryKindIsListedQueuedByOneSearchAndExtractedByOneExecute)
{
    const std::string source = MixedFolder();
    if (source.empty())
        GTEST_SKIP() << "KESTROVA_MIXED_ARCHIVES is not set";
    std::string listedText;
    ASSERT_TRUE(testsupport::ReadFileBytes(source + "\\listed.txt", listedText));
    const std::set<std::string> listed = Lines(listedText);
    std::map<std::string, std::string> archives;
    ReadTree(source + "\\mixed", "", archives);
    for (const auto& archive : archives)
        ASSERT_TRUE(testsupport::WriteFileBytes(work_.Child(archive.first), archive.second));

    WriteRaw("Folders", "Last", work_.Path() + "\\");
    WriteRaw("Extract", "Title Extract", "1");
    WriteRaw("Extract", "Message Box Alert", "1");
    ASSERT_TRUE(program_.Start(testsupport::ProgramPath()));
    HWND window = testsupport::WaitForMainWindow(program_.Id(), 20000);
    ASSERT_NE(window, nullptr) << "the main window did not appear";
    RemoteListView explorer(::GetDlgItem(window, kExplorerList), program_.Id());
    RemoteListView queue(::GetDlgItem(window, kExtractionList), program_.Id());

    // One row per archive, a set by its first volume.
    ASSERT_TRUE(WaitUntil([&] { return explorer.Count() == static_cast<int>(listed.size()); }, 10000))
        << "the explorer lists " << explorer.Count() << " of " << listed.size() << " archives";
    std::set<std::string> shown;
    for (int row = 0; row < explorer.Count(); ++row)
        shown.insert(explorer.Text(row));
    EXPECT_EQ(shown, listed);
    EXPECT_EQ(WindowText(::GetDlgItem(window, kCountLabel)), std::to_string(listed.size()) + " Object(s)");

    // All of them selected (a click on the first, Shift+End) and queued by Search.
    ASSERT_TRUE(ClickScreen(explorer.ItemCentre(0)));
    ASSERT_TRUE(testsupport::Xdotool("key shift+End"));
    ASSERT_TRUE(WaitUntil([&] { return explorer.SelectedCount() == explorer.Count(); }, 3000));
    ASSERT_TRUE(ClickWindow(::GetDlgItem(window, kSearchButton)));
    ASSERT_TRUE(WaitUntil([&] { return queue.Count() == static_cast<int>(listed.size()); }, 10000))
        << "Search queued " << queue.Count();

    // One Execute: every archive extracted, none failed nor with files skipped.
    std::set<std::string> summary;
    for (int row = 0; row < queue.Count(); ++row)
        summary.insert(queue.Text(row, 1) + queue.Text(row));
    ASSERT_TRUE(ClickWindow(::GetDlgItem(window, kExecuteButton)));
    testsupport::AnsweredBox box = testsupport::AnswerProcessMessageBox(program_.Id(), 120000);
    ASSERT_TRUE(box.shown) << "Execute should end with the summary";
    EXPECT_EQ(box.text.rfind("Files extracted: \n\n", 0), 0u) << box.text;
    EXPECT_EQ(Lines(box.text.substr(box.text.find("\n\n") + 2)), summary) << box.text;

    // The viewer lists a 7z's members.
    const int sevenZip = queue.Find("lzma2.7z");
    ASSERT_GE(sevenZip, 0);
    ASSERT_TRUE(ClickScreen(queue.ItemCentre(sevenZip)));
    ASSERT_TRUE(WaitUntil([&] { return queue.SelectedCount() == 1 && queue.IsSelected(sevenZip); }, 3000));
    ASSERT_TRUE(ClickWindow(::GetDlgItem(window, kViewButton)));
    HWND viewer = testsupport::WaitForProcessWindow(program_.Id(), "Archive Viewer", 20000);
    ASSERT_NE(viewer, nullptr) << "Show File Contents should open the viewer";
    RemoteListView members(::GetDlgItem(viewer, kViewerList), program_.Id());
    ASSERT_TRUE(WaitUntil([&] { return members.Count() >= 3; }, 10000)) << members.Count() << " rows";
    EXPECT_GE(members.Find("readme.txt"), 0);
    EXPECT_GE(members.Find("data/values.bin"), 0);

    // Each archive's tree byte for byte in the sub-folder named after it (a set's whole suffix gone).
    std::map<std::string, std::string> expected;
    ReadTree(source + "\\expected", "", expected);
    ASSERT_FALSE(expected.empty());
    std::map<std::string, std::string> extracted;
    ReadTree(work_.Path(), "", extracted);
    for (const auto& archive : archives)
        extracted.erase(archive.first);
    for (const auto& entry : expected) {
        auto got = extracted.find(entry.first);
        if (got == extracted.end())
            ADD_FAILURE() << entry.first << " was not extracted";
        else
            EXPECT_TRUE(got->second == entry.second) << entry.first << " differs";
    }
    for (const auto& entry : extracted)
        EXPECT_TRUE(expected.count(entry.first) != 0) << entry.first << " was extracted but is in no archive";
}

}  // namespace
