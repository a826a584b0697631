#include "framework/PathInfo.h"
#include "tests/support/TestFolder.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

using fw::PathInfo;

// A scratch folder below the temp folder, removed with its files after each test.
class PathInfoFiles : public ::testing::Test {
protected:
    std::string MakeFile(const std::string& name, size_t size = 0)
    {
        std::string path = folder + name;
        HANDLE file =
            ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        std::string bytes(size, 'x');
        DWORD written = 0;
        if (size > 0)
            ::WriteFile(file, bytes.data(), static_cast<DWORD>(size), &written, nullptr);
        ::CloseHandle(file);
        return path;
    }
    // Sets all three times of a file to local noon of the given day.
    static void SetAllTimes(const std::string& path, WORD year, WORD month, WORD day)
    {
        SYSTEMTIME local {};
        local.wYear = year;
        local.wMonth = month;
        local.wDay = day;
        local.wHour = 12;
        FILETIME localTime {}, utc {};
        ASSERT_TRUE(::SystemTimeToFileTime(&local, &localTime));
        ASSERT_TRUE(::LocalFileTimeToFileTime(&localTime, &utc));
        HANDLE file = ::CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        EXPECT_TRUE(::SetFileTime(file, &utc, &utc, &utc));
        ::CloseHandle(file);
    }
    testsupport::TestFolder scratch;
    std::string folder = scratch.Path() + "\\";
};

TEST(PathInfo, PartsFollowTheRuntimeSplittingRules)
{
    PathInfo setup("C:\\a\\Setup.ZIP");
    EXPECT_EQ(setup.FileName(), "Setup.ZIP");
    EXPECT_EQ(setup.Title(), "Setup");
    EXPECT_EQ(setup.Folder(), "C:\\a\\");
    EXPECT_EQ(setup.Extension(), ".zip");
    EXPECT_EQ(setup.Path(), "C:\\a\\Setup.ZIP") << "the stored path keeps its case";

    EXPECT_EQ(PathInfo("C:\\a\\b").FileName(), "b");
    EXPECT_EQ(PathInfo("C:\\a\\b").Extension(), "");
    EXPECT_EQ(PathInfo("b.zip").Folder(), "");
    EXPECT_EQ(PathInfo("\\\\srv\\share\\x.zip").Folder(), "\\\\srv\\share\\");
    EXPECT_EQ(PathInfo("C:/games/zips/a.b.zip").Folder(), "C:/games/zips/");
    EXPECT_EQ(PathInfo("C:/games/zips/a.b.zip").Title(), "a.b");
    EXPECT_EQ(PathInfo("C:\\Users\\.cache").Title(), "");
    EXPECT_EQ(PathInfo("C:\\Users\\.cache").Extension(), ".cache");

    PathInfo empty;
    EXPECT_EQ(empty.Path(), "");
    EXPECT_EQ(empty.FileName(), "");
    EXPECT_EQ(empty.SetPath("D:\\x.gz"), "D:\\x.gz");
    EXPECT_EQ(empty.FileName(), "x.gz");

    PathInfo copy = setup;
    EXPECT_EQ(copy.Path(), setup.Path());
    EXPECT_EQ(copy.Folder(), "C:\\a\\");
}

// Parts longer than MAX_PATH stay whole: a destination made from a cut folder would be another one.
TEST(PathInfo, LongPartsAndMultibyteNamesStayWhole)
{
    std::string longName(300, 'n');
    PathInfo info("C:\\d\\" + longName + ".zip");
    EXPECT_EQ(info.Title(), longName);
    EXPECT_TRUE(info.IsZipArchive());
    std::string longFolder = "C:\\" + std::string(300, 'f') + "\\x.zip";
    EXPECT_EQ(PathInfo(longFolder).Folder(), "C:\\" + std::string(300, 'f') + "\\");

    // UTF-8: only ASCII is lower-cased, and a dotted capital I is no "i".
    PathInfo photo("C:\\Фото.d\\写真.ZIP");
    EXPECT_EQ(photo.Folder(), "C:\\Фото.d\\");
    EXPECT_EQ(photo.Title(), "写真");
    EXPECT_EQ(photo.Extension(), ".zip");
    EXPECT_TRUE(photo.IsZipArchive());
    PathInfo dotted("ARCHIVE.ZİP");
    EXPECT_EQ(dotted.Extension(), ".zİp");
    EXPECT_FALSE(dotted.IsZipArchive());
}

TEST(PathInfo, ZipArchiveTestLooksForDotZipInTheLowerCasedExtension)
{
    EXPECT_TRUE(PathInfo("X.ZIP").IsZipArchive());
    EXPECT_TRUE(PathInfo("C:\\a\\x.zip").IsZipArchive());
    EXPECT_TRUE(PathInfo("x.Zip").IsZipArchive());
    EXPECT_TRUE(PathInfo("x.zipx").IsZipArchive());
    EXPECT_FALSE(PathInfo("x.zip.bak").IsZipArchive());
    EXPECT_FALSE(PathInfo("x.gz").IsZipArchive());
    EXPECT_FALSE(PathInfo("zip").IsZipArchive());
    EXPECT_FALSE(PathInfo("C:\\a.zip\\readme").IsZipArchive());
}

// Every kind the library reads, by name, with what the title sub-folder is called; of a set only the
// first volume is an archive, and its whole suffix goes.
TEST(PathInfo, ArchiveTestKnowsEveryKindAndOnlyFirstVolumes)
{
    const std::vector<std::pair<std::string, std::vector<std::string>>> titled = {
        {"photos",
            {"photos.zip", "photos.7z", "photos.RAR", "photos.tar", "photos.tar.gz", "photos.TGZ", "photos.tar.bz2",
                "photos.tbz2", "photos.tbz", "photos.Tar.Xz", "photos.txz", "photos.tar.zst", "photos.tzst",
                "photos.cab", "photos.iso", "photos.7z.001", "photos.zip.001", "photos.tar.gz.001", "photos.rar.001",
                "photos.part1.rar", "photos.PART01.rar", "photos.part001.rar"}},
        {"Photos", {"Photos.ZIPX"}},
        {"notes.txt", {"notes.txt.gz", "notes.txt.bz2", "notes.txt.xz", "notes.txt.zst", "notes.txt.lzma"}},
        {"a.b", {"a.b.7z"}},
        {"photos.part", {"photos.part.rar"}},
    };
    for (const auto& title : titled) {
        for (const std::string& name : title.second) {
            PathInfo path("C:\\Downloads\\" + name);
            EXPECT_TRUE(path.IsArchive()) << name;
            EXPECT_EQ(path.ArchiveTitle(), title.first) << name;
        }
    }
    // Volumes after the first, and names of no kind.
    for (const char* name :
        {"photos.7z.002", "photos.zip.002", "photos.part2.rar", "photos.part10.rar", "photos.part11.rar", "photos.r00",
            "photos.z01", "data.001", "x.zip.bak", "x.gzip", "x.tar.gz.txt", "x.7zz", "x.isox", "zip", "tar", "x.txt"})
        EXPECT_FALSE(PathInfo(std::string("C:\\Downloads\\") + name).IsArchive()) << name;
    EXPECT_EQ(PathInfo("C:\\a\\notes.txt").ArchiveTitle(), "notes") << "no archive: the plain title";
    EXPECT_FALSE(PathInfo("C:\\a.tar.gz\\readme").IsArchive()) << "only the last component counts";
}

TEST(PathInfo, RootIsAnyTextOfAtMostFourCharacters)
{
    EXPECT_TRUE(PathInfo("C:\\").IsRoot());
    EXPECT_TRUE(PathInfo("A:\\").IsRoot());
    EXPECT_FALSE(PathInfo("C:\\a\\").IsRoot());
}

TEST(PathInfo, IsFolderOnlyForExistingNamedFoldersBelowTheRoot)
{
    char windows[MAX_PATH] = {};
    ::GetWindowsDirectoryA(windows, MAX_PATH);
    std::string folder = windows;
    EXPECT_TRUE(PathInfo(folder).IsFolder()) << folder;
    EXPECT_FALSE(PathInfo(folder + "\\").IsFolder()) << "an empty name part is never a folder";
    EXPECT_FALSE(PathInfo(folder.substr(0, 3)).IsFolder()) << "drive roots are not reported";
    EXPECT_FALSE(PathInfo(folder + "\\no such folder").IsFolder());
    EXPECT_FALSE(PathInfo(folder + "\\system32\\..").IsFolder());
    EXPECT_FALSE(PathInfo(folder + "\\.").IsFolder());
}

TEST_F(PathInfoFiles, IsFolderTellsFilesFromFolders)
{
    std::string file = MakeFile("autoexec.bat");
    EXPECT_FALSE(PathInfo(file).IsFolder());
    ::CreateDirectoryA((folder + "a.b").c_str(), nullptr);
    EXPECT_TRUE(PathInfo(folder + "a.b").IsFolder());
    EXPECT_TRUE(PathInfo("  " + folder + "a.b  ").IsFolder()) << "blanks around the path are ignored";
    ::CreateDirectoryA((folder + ".cache").c_str(), nullptr);
    EXPECT_FALSE(PathInfo(folder + ".cache").IsFolder()) << "a leading-dot name has an empty name part";
}

TEST_F(PathInfoFiles, EnumeratedEntriesAnswerFromTheirFindData)
{
    MakeFile("data.zip", 10);
    ::CreateDirectoryA((folder + "sub").c_str(), nullptr);
    WIN32_FIND_DATAA data;
    HANDLE find = ::FindFirstFileA((folder + "*").c_str(), &data);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    int seen = 0;
    do {
        std::string name = data.cFileName;
        PathInfo entry(folder + name, data);
        if (name == "data.zip") {
            ++seen;
            EXPECT_FALSE(entry.IsFolder());
            EXPECT_TRUE(entry.IsZipArchive());
            EXPECT_EQ(entry.SizeText(), "10");
        } else if (name == "sub") {
            ++seen;
            EXPECT_TRUE(entry.IsFolder());
        } else {
            EXPECT_FALSE(entry.IsFolder()) << name;
        }
    } while (::FindNextFileA(find, &data));
    ::FindClose(find);
    EXPECT_EQ(seen, 2);
}

TEST_F(PathInfoFiles, SizeTextIsPlainDecimalBytes)
{
    EXPECT_EQ(PathInfo(MakeFile("big.bin", 1048576)).SizeText(), "1048576");
    EXPECT_EQ(PathInfo(MakeFile("empty.bin")).SizeText(), "0");
    ::CreateDirectoryA((folder + "sub").c_str(), nullptr);
    EXPECT_EQ(PathInfo(folder + "sub").SizeText(), "0");
    EXPECT_EQ(PathInfo(folder + "missing.bin").SizeText(), "0");
}

TEST_F(PathInfoFiles, DateTextFormatsTheSelectedTime)
{
    std::string file = MakeFile("old.zip");
    SetAllTimes(file, 1999, 3, 7);
    PathInfo info(file);
    EXPECT_EQ(info.DateText(), "March 07, 1999");
    EXPECT_EQ(info.DateText(0, nullptr), "March 07, 1999");
    EXPECT_EQ(info.DateText(1, "%Y-%m-%d"), "1999-03-07");
    EXPECT_EQ(info.DateText(2, "%d/%m/%Y"), "07/03/1999");
    EXPECT_EQ(info.DateText(3, "%H"), "12");
    EXPECT_EQ(PathInfo(folder + "missing.zip").DateText(), "");
}

TEST_F(PathInfoFiles, DateTextShowsDatesAfter2038)
{
    std::string file = MakeFile("future.zip");
    SetAllTimes(file, 2040, 6, 15);
    EXPECT_EQ(PathInfo(file).DateText(1), "June 15, 2040");
    EXPECT_EQ(PathInfo(file).DateText(), "June 15, 2040");
}

TEST_F(PathInfoFiles, DateTextIsEmptyForWhatTheRuntimeCannotRepresent)
{
    std::string file = MakeFile("ancient.zip");
    SetAllTimes(file, 1965, 1, 1);
    EXPECT_EQ(PathInfo(file).DateText(1), "");

    // Found data straight from an enumeration, with times beyond the runtime's calendar.
    WIN32_FIND_DATAA data {};
    data.ftLastWriteTime.dwHighDateTime = 0x7FFFFFFF;
    EXPECT_EQ(PathInfo(file, data).DateText(1), "");

    // A text that does not fit 127 characters.
    SetAllTimes(file, 1999, 3, 7);
    std::string longFormat(130, 'x');
    EXPECT_EQ(PathInfo(file).DateText(1, longFormat.c_str()), "");
    EXPECT_EQ(PathInfo(file).DateText(1, std::string(127, 'x').c_str()), std::string(127, 'x'));
}

}  // namespace
