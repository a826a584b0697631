// The real kestrova.exe through a long queue: 3,000 archives found by one search and extracted by
// one Execute, the library loaded afresh for each of them. The program must live through the whole
// queue (it used to vanish with exit code 3 after about a thousand archives) and every archive must
// be extracted.
#include "tests/support/ProcessWindows.h"
#include "tests/support/ProgramProcess.h"
#include "tests/support/RegistryFixture.h"
#include "tests/support/RemoteListView.h"
#include "tests/support/TestFolder.h"
#include "tests/support/TestSupport.h"
#include "tests/support/ZipBuilder.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

using testsupport::RemoteListView;
using testsupport::WaitUntil;

const int kExplorerList = 1000;
const int kExtractionList = 1006;
const int kSearchButton = 1011;
const int kExecuteButton = 1013;

const int kFolders = 3;
const int kArchivesPerFolder = 1000;
const int kArchives = kFolders * kArchivesPerFolder;
// Large enough for the library to hand it to a decoding thread.
const size_t kLargeSize = 260 * 1024;
const char kNote[] = "one of three thousand";

std::string LargeText()
{
    std::string text;
    for (size_t i = 0; text.size() < kLargeSize; ++i)
        text += "line " + std::to_string(i) + " of the large member\r\n";
    text.resize(kLargeSize);
    return text;
}

class LongRunTest : public testsupport::RegistryFixture {
protected:
    void SetUp() override
    {
        RegistryFixture::SetUp();
        work_ = "C:\\kestrova-long-" + std::to_string(::GetCurrentProcessId());
        testsupport::TestFolder::Remove(work_);
        ASSERT_TRUE(::CreateDirectoryA(work_.c_str(), nullptr)) << work_;
        ziptest::Archive zip;
        zip.Add("large.txt", LargeText()).Add("note.txt", kNote, false);
        const std::string bytes = zip.Build();
        for (int folder = 1; folder <= kFolders; ++folder) {
            ASSERT_TRUE(::CreateDirectoryA(Folder(folder).c_str(), nullptr));
            for (int archive = 0; archive < kArchivesPerFolder; ++archive)
                ASSERT_TRUE(testsupport::WriteFileBytes(Archive(folder, archive) + ".zip", bytes));
        }
        // The program opens on the folder; each archive goes into a folder of its own name, and
        // the run ends with its summary.
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

    std::string Folder(int folder) const { return work_ + "\\set" + std::to_string(folder); }
    // The archive's path without ".zip": also the folder it is extracted into.
    std::string Archive(int folder, int archive) const
    {
        char name[16];
        std::snprintf(name, sizeof name, "\\p%04d", archive);
        return Folder(folder) + name;
    }

    int ExtractedCount() const
    {
        int count = 0;
        for (int folder = 1; folder <= kFolders; ++folder)
            for (int archive = 0; archive < kArchivesPerFolder; ++archive)
                count += testsupport::FileExists(Archive(folder, archive) + "\\note.txt") ? 1 : 0;
        return count;
    }

    testsupport::ChildProcess program_;
    std::string work_;
};

TEST_F(LongRunTest, ThreeThousandArchivesFoundBySearchAreAllExtractedByOneExecute)
{
    // Decoding threads asked for, as on any machine with more than one processor.
    ASSERT_TRUE(program_.Start(testsupport::ProgramPath(), std::string(), "KESTROVA_UNZIP_THREADS", "2"));
    HWND window = testsupport::WaitForMainWindow(program_.Id(), 20000);
    ASSERT_NE(window, nullptr) << "the main window did not appear";
    RemoteListView explorer(::GetDlgItem(window, kExplorerList), program_.Id());
    RemoteListView queue(::GetDlgItem(window, kExtractionList), program_.Id());
    ASSERT_TRUE(WaitUntil([&] { return explorer.Count() == kFolders; }, 20000))
        << "the explorer should list the " << kFolders << " folders; it has " << explorer.Count() << " rows";

    // The three folders selected and searched.
    explorer.Select(-1, true);
    ASSERT_EQ(kFolders, explorer.SelectedCount());
    ::PostMessageA(window, WM_COMMAND, MAKEWPARAM(kSearchButton, BN_CLICKED),
        reinterpret_cast<LPARAM>(::GetDlgItem(window, kSearchButton)));
    ASSERT_TRUE(WaitUntil([&] { return queue.Count() == kArchives && ::IsWindowEnabled(window); }, 30 * 60000))
        << "the search should queue " << kArchives << " archives; the list has " << queue.Count();

    // Execute, then wait for the summary, unless the program ends first.
    ::PostMessageA(window, WM_COMMAND, MAKEWPARAM(kExecuteButton, BN_CLICKED),
        reinterpret_cast<LPARAM>(::GetDlgItem(window, kExecuteButton)));
    HWND box = nullptr;
    DWORD exitCode = 0;
    bool ended = false;
    WaitUntil(
        [&] {
            box = testsupport::WaitForProcessMessageBox(program_.Id(), 0);
            ended = program_.WaitForExit(0, exitCode);
            return box != nullptr || ended;
        },
        60 * 60000);
    ASSERT_FALSE(ended) << "kestrova.exe ended with exit code " << exitCode << " after " << ExtractedCount() << " of "
                        << kArchives << " archives";
    ASSERT_NE(box, nullptr) << "no summary after an hour; " << ExtractedCount() << " archives extracted";

    // The summary names the first archives (the files below tell the whole outcome).
    EXPECT_EQ("kestrova", testsupport::WindowText(box));
    const std::string summary = testsupport::MessageBoxText(box);
    EXPECT_EQ(0u, summary.rfind("Files extracted: \n\n" + work_ + "\\set", 0)) << summary;
    EXPECT_EQ(std::string::npos, summary.find("(failed")) << summary;
    testsupport::PressMessageBoxButton(box, IDOK);

    const std::string large = LargeText();
    int missing = 0;
    for (int folder = 1; folder <= kFolders; ++folder) {
        for (int archive = 0; archive < kArchivesPerFolder; ++archive) {
            std::string note, bytes;
            const std::string target = Archive(folder, archive);
            if (!testsupport::ReadFileBytes(target + "\\note.txt", note) || note != kNote ||
                !testsupport::ReadFileBytes(target + "\\large.txt", bytes) || bytes != large) {
                ADD_FAILURE() << target << ".zip was not extracted whole";
                if (++missing == 10)
                    FAIL() << "and more; giving up";
            }
        }
    }
    ASSERT_TRUE(WaitUntil([&] { return !::IsWindow(box); }, 10000)) << "OK should close the summary";

    // And the program still ends as usual.
    ::PostMessageA(window, WM_CLOSE, 0, 0);
    ASSERT_TRUE(program_.WaitForExit(30000, exitCode)) << "kestrova.exe did not end after the run";
    EXPECT_EQ(0u, exitCode);
}

}  // namespace
