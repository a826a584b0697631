// UNZIP32.DLL carries an archive's mark of the web (its Zone.Identifier stream) onto every file it
// extracts: zones 3 and 4 only, with the archive's HostUrl and its path as ReferrerUrl; through a
// nested archive, for other kinds of archive, from a split set's first volume; not when the caller
// of Wiz_SingleEntryUnzipEx says no. Under Wine a stream is a file named "file:Zone.Identifier"
// beside the file, read back here through that same name.
#include "tests/support/TestFolder.h"
#include "tests/support/TestSupport.h"
#include "tests/unzip32/DllRunner.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

using testsupport::TestFolder;

namespace {

const char kStream[] = ":Zone.Identifier";
const char kHost[] = "https://downloads.example.com/files/archive.zip";

void Mark(const std::string& file, const std::string& text)
{
    HANDLE stream = ::CreateFileW(
        TestFolder::Wide(file + kStream).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, stream) << file;
    DWORD written = 0;
    ::WriteFile(stream, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    ::CloseHandle(stream);
}

std::string InternetMark(const char* zone = "3")
{
    return std::string("[ZoneTransfer]\r\nZoneId=") + zone + "\r\nHostUrl=" + kHost + "\r\n";
}

// The mark as the library writes it.
std::string Expected(const std::string& zone, const std::string& referrer, const std::string& host)
{
    return "[ZoneTransfer]\r\nZoneId=" + zone + "\r\nReferrerUrl=" + referrer + "\r\n" +
        (host.empty() ? "" : "HostUrl=" + host + "\r\n");
}

// The files under `root` (not folders, not the streams that Wine keeps as files beside them).
std::vector<std::string> FilesUnder(const std::string& root)
{
    std::vector<std::string> files;
    for (const std::string& relative : dllrun::Walk(root))
        if (relative.back() != '\\' && relative.find(':') == std::string::npos)
            files.push_back(relative);
    return files;
}

// Every file under `root` has exactly the mark `expected` (empty: none at all), and no folder has one.
void ExpectMarks(const std::string& root, const std::string& expected, const std::string& what)
{
    const std::vector<std::string> files = FilesUnder(root);
    EXPECT_FALSE(files.empty()) << what;
    for (const std::string& file : files) {
        const std::string path = root + "\\" + file;
        EXPECT_EQ(expected, dllrun::Contents(path + kStream)) << what << ": " << file;
        if (expected.empty()) {
            EXPECT_EQ(INVALID_FILE_ATTRIBUTES, TestFolder::Attributes(path + kStream)) << what << ": " << file;
        }
    }
    for (const std::string& relative : dllrun::Walk(root)) {
        if (relative.back() == '\\') {
            EXPECT_EQ(INVALID_FILE_ATTRIBUTES,
                TestFolder::Attributes(root + "\\" + relative.substr(0, relative.size() - 1) + kStream))
                << what << ": " << relative;
        }
    }
}

std::string SampleZip()
{
    ziptest::Archive zip;
    zip.Add("readme.txt", "read me").Add("bin/setup.exe", "MZ setup").Add("docs/sub/report.doc", "report");
    zip.Add("docs/empty.txt", "");
    return zip.Build();
}

std::string Printed()
{
    std::string printed;
    for (const std::string& line : dllrun::Current().printed)
        printed += line;
    return printed;
}

}  // namespace

TEST(Unzip32Mark, ZonesThreeAndFourAreCarriedOthersAndNoMarkAreNot)
{
    struct Case {
        const char* what;
        const char* mark;  // null: no stream
        const char* zone;  // null: the files get none
        const char* host;
    };
    const Case cases[] = {
        {"internet", "[ZoneTransfer]\r\nZoneId=3\r\nHostUrl=https://downloads.example.com/files/archive.zip\r\n", "3",
            kHost},
        {"restricted, no host", "[ZoneTransfer]\r\nZoneId=4\r\n", "4", ""},
        // As the profile functions read it: a byte-order mark, another section first, names in any
        // case, blanks and bare line feeds.
        {"loosely written", "\xEF\xBB\xBF[Other]\nZoneId=1\n[zonetransfer]\n zoneid = 3 \nhosturl = http://a.example/x\n",
            "3", "http://a.example/x"},
        {"no stream", nullptr, nullptr, nullptr},
        {"trusted site", "[ZoneTransfer]\r\nZoneId=2\r\nHostUrl=https://intranet/x.zip\r\n", nullptr, nullptr},
        {"this computer", "[ZoneTransfer]\r\nZoneId=0\r\n", nullptr, nullptr},
        {"zone in another section", "[Other]\r\nZoneId=3\r\n", nullptr, nullptr},
        {"no number", "[ZoneTransfer]\r\nZoneId=three\r\n", nullptr, nullptr},
    };
    for (const Case& test : cases) {
        TestFolder folder;
        const std::string archive = folder.Child("download.zip");
        folder.WriteFile("download.zip", SampleZip());
        if (test.mark != nullptr)
            Mark(archive, test.mark);
        const std::string target = folder.Child("out");
        EXPECT_EQ(UZ_OK, dllrun::RunLibrary(archive, target.c_str())) << test.what << "\n" << Printed();
        EXPECT_EQ("read me", dllrun::Contents(target + "\\readme.txt")) << test.what;
        ExpectMarks(target, test.zone != nullptr ? Expected(test.zone, archive, test.host) : "", test.what);
    }
}

// The archive inside a marked archive is a marked file: extracted in turn, its files are marked
// as coming from it, with the download's HostUrl still.
TEST(Unzip32Mark, ANestedArchiveCarriesTheMarkOn)
{
    TestFolder folder;
    ziptest::Archive inner;
    inner.Add("deep/payload.exe", "MZ payload").Add("notes.txt", "notes");
    ziptest::Archive outer;
    outer.Add("inner.zip", inner.Build(), false).Add("top.txt", "top");
    const std::string archive = folder.Child("outer.zip");
    folder.WriteFile("outer.zip", outer.Build());
    Mark(archive, InternetMark());

    const std::string first = folder.Child("first");
    ASSERT_EQ(UZ_OK, dllrun::RunLibrary(archive, first.c_str())) << Printed();
    ExpectMarks(first, Expected("3", archive, kHost), "outer");
    const std::string second = folder.Child("second");
    ASSERT_EQ(UZ_OK, dllrun::RunLibrary(first + "\\inner.zip", second.c_str())) << Printed();
    EXPECT_EQ("MZ payload", dllrun::Contents(second + "\\deep\\payload.exe"));
    ExpectMarks(second, Expected("3", first + "\\inner.zip", kHost), "inner");
}

// Wiz_SingleEntryUnzipEx: markOfTheWeb 0 marks nothing, a null record marks as the other entry
// points do, and a record of another size is refused before anything is written.
TEST(Unzip32Mark, TheExEntryPointTurnsTheMarkOffAndRefusesRecordsOfOtherSizes)
{
    TestFolder folder;
    const std::string archive = folder.Child("download.zip");
    folder.WriteFile("download.zip", SampleZip());
    Mark(archive, InternetMark("4"));

    dllrun::RunOptions off;
    off.ex = true;
    UnzipRunOptions record {sizeof(UnzipRunOptions), UZ_NAMES_AS_WINDOWS, 0};
    off.exOptions = &record;
    ASSERT_EQ(UZ_OK, dllrun::RunLibrary(archive, folder.Child("off").c_str(), off)) << Printed();
    ExpectMarks(folder.Child("off"), "", "off");

    record.markOfTheWeb = 1;
    ASSERT_EQ(UZ_OK, dllrun::RunLibrary(archive, folder.Child("on").c_str(), off)) << Printed();
    ExpectMarks(folder.Child("on"), Expected("4", archive, kHost), "on");

    dllrun::RunOptions none;
    none.ex = true;
    ASSERT_EQ(UZ_OK, dllrun::RunLibrary(archive, folder.Child("null").c_str(), none)) << Printed();
    ExpectMarks(folder.Child("null"), Expected("4", archive, kHost), "null record");

    for (unsigned size : {0u, static_cast<unsigned>(sizeof(UnzipRunOptions) - 4), 64u}) {
        record.size = size;
        EXPECT_EQ(UZ_BAD_ARGUMENT, dllrun::RunLibrary(archive, folder.Child("bad").c_str(), off)) << size;
        EXPECT_FALSE(folder.Exists("bad")) << size;
    }
}

// A file whose mark cannot be written stays whole, is named, and the run ends with a warning.
// Under Wine the stream is a file beside the file: a folder of its name refuses the mark as a
// drive without streams (FAT) refuses it on Windows.
TEST(Unzip32Mark, AFileThatCannotBeMarkedStaysAndIsNamed)
{
    TestFolder folder;
    const std::string archive = folder.Child("download.zip");
    folder.WriteFile("download.zip", SampleZip());
    Mark(archive, InternetMark());
    folder.MakeFolder("out");
    folder.MakeFolder(std::string("out\\readme.txt") + kStream);

    const std::string target = folder.Child("out");
    EXPECT_EQ(UZ_WARNING, dllrun::RunLibrary(archive, target.c_str()));
    EXPECT_EQ("read me", dllrun::Contents(target + "\\readme.txt"));
    EXPECT_NE(std::string::npos, Printed().find("not marked: readme.txt (its mark of the web could not be written)\n"))
        << Printed();
    EXPECT_EQ(Expected("3", archive, kHost), dllrun::Contents(target + "\\bin\\setup.exe" + kStream));
}

// Archives read through libarchive and the 7z reader, and a split set, whose mark is its first
// volume's (the named file's when the first has none).
TEST(Unzip32Mark, OtherKindsAndSplitSetsAreMarked)
{
    const char* kinds = std::getenv("KESTROVA_KIND_ARCHIVES");
    const char* sevenZip = std::getenv("KESTROVA_SEVENZIP_ARCHIVES");
    const char* methods = std::getenv("KESTROVA_METHOD_ARCHIVES");
    if (kinds == nullptr || sevenZip == nullptr || methods == nullptr)
        GTEST_SKIP() << "the fixture archives are not set";
    const std::string kindFolder = testsupport::FromHost(kinds);
    const std::string sevenZipFolder = testsupport::FromHost(sevenZip);
    for (const std::string& source : {kindFolder + "\\tar-pax.tar.gz", sevenZipFolder + "\\lzma2.7z"}) {
        TestFolder folder;
        const std::string archive = folder.Child(source.substr(source.rfind('\\') + 1));
        ASSERT_TRUE(::CopyFileA(source.c_str(), archive.c_str(), FALSE)) << source;
        Mark(archive, InternetMark());
        const std::string target = folder.Child("out");
        EXPECT_EQ(UZ_OK, dllrun::RunLibrary(archive, target.c_str())) << source << "\n" << Printed();
        ExpectMarks(target, Expected("3", archive, kHost), source);
    }

    const std::string volumes = testsupport::FromHost(methods) + "\\volumes\\";
    for (bool firstMarked : {true, false}) {
        TestFolder folder;
        for (const char* volume : {"spanned.z01", "spanned.z02", "spanned.z03", "spanned.zip"})
            ASSERT_TRUE(::CopyFileA((volumes + volume).c_str(), folder.Child(volume).c_str(), FALSE)) << volume;
        if (firstMarked)
            Mark(folder.Child("spanned.z01"), InternetMark("4"));
        Mark(folder.Child("spanned.zip"), InternetMark("3"));
        const std::string target = folder.Child("out");
        EXPECT_EQ(UZ_OK, dllrun::RunLibrary(folder.Child("spanned.zip"), target.c_str())) << Printed();
        ExpectMarks(target, Expected(firstMarked ? "4" : "3", folder.Child("spanned.zip"), kHost), "spanned");
    }
}
