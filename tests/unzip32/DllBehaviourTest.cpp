// UNZIP32.DLL through its export, on archives built in the test: listing, extracting with folders,
// overwriting, masks, targets, file times, attributes and names, and the result of each problem.
#include "tests/support/TestSupport.h"
#include "tests/unzip32/DllRunner.h"
#include "tests/support/ZipBuilder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

using dllrun::Contents;
using dllrun::Current;
using dllrun::RunLibrary;
using testsupport::TestFolder;
using ziptest::Archive;
using ziptest::Member;
using ziptest::Tar;
using ziptest::Text;

namespace {

std::string Save(const TestFolder& folder, const std::string& name, const Archive& archive)
{
    folder.WriteFile(name, archive.Build());
    return folder.Child(name);
}

Archive Sample()
{
    Archive a;
    a.members.push_back(Member("docs/", "", 0));
    a.members.push_back(Member("docs/readme.txt", Text(10000)));
    a.members.push_back(Member("deep/er/data.bin", Text(333), 0));
    a.members.push_back(Member("old.bak", "backup"));
    a.members.push_back(Member("deep/x.BAK", "backup 2", 0));
    return a;
}

// The most of the process's address space seen mapped to files (views), sampled at each service
// call.
SIZE_T g_mappedPeak = 0;

SIZE_T MappedNow()
{
    SIZE_T mapped = 0;
    MEMORY_BASIC_INFORMATION region;
    for (const char* at = nullptr; ::VirtualQuery(at, &region, sizeof region) == sizeof region;
         at = static_cast<const char*>(region.BaseAddress) + region.RegionSize) {
        if (region.Type == MEM_MAPPED && region.State == MEM_COMMIT)
            mapped += region.RegionSize;
        if (region.RegionSize == 0)
            break;
    }
    return mapped;
}

int UZ_API SampleViews(const char*, unsigned long)
{
    g_mappedPeak = std::max(g_mappedPeak, MappedNow());
    return 0;
}

// What the service callback saw of big.bin's folder while it was written, and a file it puts under
// big.bin's name at its first call during the writing (when asked to).
struct Watch {
    std::string folder;
    bool occupy = false;
    bool occupied = false;
    int calls = 0;
    int temporarySeen = 0;
    int realNameSeen = 0;
} g_watch;

bool AnyTemporary(const std::string& folder)
{
    WIN32_FIND_DATAA match;
    HANDLE find = ::FindFirstFileA((folder + "\\~kv*.tmp").c_str(), &match);
    if (find == INVALID_HANDLE_VALUE)
        return false;
    ::FindClose(find);
    return true;
}

int UZ_API WatchBigFile(const char* name, unsigned long)
{
    if (std::string(name) != "big.bin" || ++g_watch.calls == 1)
        return 0;  // the first call comes before the member is started
    const std::string real = g_watch.folder + "\\big.bin";
    if (!g_watch.occupied && ::GetFileAttributesA(real.c_str()) != INVALID_FILE_ATTRIBUTES)
        ++g_watch.realNameSeen;
    if (AnyTemporary(g_watch.folder)) {
        ++g_watch.temporarySeen;
        if (g_watch.occupy && !g_watch.occupied) {
            g_watch.occupied = true;
            HANDLE file = ::CreateFileA(real.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
            DWORD written = 0;
            ::WriteFile(file, "theirs", 6, &written, nullptr);
            ::CloseHandle(file);
        }
    }
    return 0;
}

}  // namespace

TEST(Unzip32Dll, ListReportsEveryMemberInOrderAndWritesNothing)
{
    TestFolder folder;
    std::string archive = Save(folder, "list.zip", Sample());
    ASSERT_EQ(0, RunLibrary(archive, nullptr, {true, false, {}}));
    const auto& listed = Current().listed;
    ASSERT_EQ(5u, listed.size());
    EXPECT_EQ("docs/", listed[0].name);
    EXPECT_EQ("docs/readme.txt", listed[1].name);
    EXPECT_EQ(10000u, listed[1].size);
    EXPECT_LT(listed[1].packed, 10000u);
    EXPECT_EQ((10000u - listed[1].packed) * 100 / 10000, listed[1].factor);
    EXPECT_EQ(0u, listed[2].factor);  // stored
    EXPECT_EQ(0u, listed[0].factor);  // empty
    EXPECT_FALSE(Current().offThread);
    EXPECT_EQ(1, dllrun::CountEntries(folder.Path()));  // only the archive

    Archive empty;
    std::string emptyPath = Save(folder, "empty.zip", empty);
    EXPECT_EQ(0, RunLibrary(emptyPath, nullptr, {true, false, {}}));
    EXPECT_TRUE(Current().listed.empty());
}

TEST(Unzip32Dll, ExtractsWithFoldersIntoAMissingTarget)
{
    TestFolder folder;
    std::string archive = Save(folder, "a.zip", Sample());
    std::string target = folder.Child("new\\nested\\target");
    ASSERT_EQ(0, RunLibrary(archive, target.c_str()));
    EXPECT_EQ(Text(10000), Contents(target + "\\docs\\readme.txt"));
    EXPECT_EQ(Text(333), Contents(target + "\\deep\\er\\data.bin"));
    EXPECT_EQ("backup", Contents(target + "\\old.bak"));
    EXPECT_FALSE(Current().offThread);
    // One short line per member.
    EXPECT_GE(Current().printed.size(), 4u);
    for (const std::string& line : Current().printed)
        EXPECT_EQ(line.size() - 1, line.find('\n')) << line;
}

TEST(Unzip32Dll, OverwritesExistingAndReadOnlyFilesAndAppliesReadOnly)
{
    TestFolder folder;
    Archive a;
    Member ro("locked.txt", "new content", 0);
    ro.externalAttributes = FILE_ATTRIBUTE_READONLY;
    a.members.push_back(ro);
    a.members.push_back(Member("plain.txt", "fresh"));
    std::string archive = Save(folder, "o.zip", a);
    folder.MakeFolder("t");
    folder.WriteFile("t\\plain.txt", "stale stale stale");
    folder.WriteFile("t\\locked.txt", "old");
    ::SetFileAttributesA(folder.Child("t\\locked.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    ASSERT_EQ(0, RunLibrary(archive, folder.Child("t").c_str()));
    EXPECT_EQ("fresh", Contents(folder.Child("t\\plain.txt")));
    EXPECT_EQ("new content", Contents(folder.Child("t\\locked.txt")));
    EXPECT_TRUE(::GetFileAttributesA(folder.Child("t\\locked.txt").c_str()) & FILE_ATTRIBUTE_READONLY);
    EXPECT_FALSE(::GetFileAttributesA(folder.Child("t\\plain.txt").c_str()) & FILE_ATTRIBUTE_READONLY);
    // A second run replaces the now read-only file again.
    ASSERT_EQ(0, RunLibrary(archive, folder.Child("t").c_str()));
    EXPECT_EQ("new content", Contents(folder.Child("t\\locked.txt")));
}

TEST(Unzip32Dll, ExclusionMasksWithCaseSwitch)
{
    TestFolder folder;
    std::string archive = Save(folder, "m.zip", Sample());
    ASSERT_EQ(0, RunLibrary(archive, folder.Child("cs").c_str(), {false, false, {"*.bak", "deep\\er\\*"}}));
    EXPECT_FALSE(folder.Exists("cs\\old.bak"));
    EXPECT_TRUE(folder.Exists("cs\\deep\\x.BAK"));  // case-sensitive: *.bak leaves .BAK
    EXPECT_FALSE(folder.Exists("cs\\deep\\er\\data.bin"));
    EXPECT_TRUE(folder.Exists("cs\\docs\\readme.txt"));
    ASSERT_EQ(0, RunLibrary(archive, folder.Child("ci").c_str(), {false, true, {"*.bak"}}));
    EXPECT_FALSE(folder.Exists("ci\\old.bak"));
    EXPECT_FALSE(folder.Exists("ci\\deep\\x.BAK"));
}

TEST(Unzip32Dll, FileTimesFromNtfsThenUnixThenDos)
{
    TestFolder folder;
    Archive a;
    const uint64_t ntfs = 130000000000000000ull;  // 2012-12-15
    Member n("ntfs.txt", "n", 0);
    n.centralExtra = ziptest::Extra(0x000a,
        ziptest::Le32(0) + ziptest::Le16(1) + ziptest::Le16(24) + ziptest::Le64(ntfs) + ziptest::Le64(ntfs) +
            ziptest::Le64(ntfs));
    a.members.push_back(n);
    Member u("unix.txt", "u", 0);
    u.centralExtra = ziptest::Extra(0x5455, "\x01" + ziptest::Le32(1000000000));  // 2001-09-09 01:46:40 UTC
    a.members.push_back(u);
    Member d("dos.txt", "d", 0);
    d.dosDate = static_cast<uint16_t>(((2010 - 1980) << 9) | (6 << 5) | 15);
    d.dosTime = static_cast<uint16_t>((13 << 11) | (30 << 5) | 10);
    a.members.push_back(d);
    std::string archive = Save(folder, "t.zip", a);
    ASSERT_EQ(0, RunLibrary(archive, folder.Child("out").c_str()));

    auto modified = [&](const std::string& name) {
        WIN32_FILE_ATTRIBUTE_DATA data {};
        ::GetFileAttributesExA(folder.Child("out\\" + name).c_str(), GetFileExInfoStandard, &data);
        return (static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
    };
    EXPECT_EQ(ntfs, modified("ntfs.txt"));
    EXPECT_EQ(1000000000ull * 10000000ull + 116444736000000000ull, modified("unix.txt"));
    FILETIME local {}, utc {};
    ::DosDateTimeToFileTime(d.dosDate, d.dosTime, &local);
    ::LocalFileTimeToFileTime(&local, &utc);
    EXPECT_EQ((static_cast<uint64_t>(utc.dwHighDateTime) << 32) | utc.dwLowDateTime, modified("dos.txt"));
}

// DOS times are local: each is turned into UTC by the zone's rules for its own date, on ordinary
// days and on the days the clocks change (run once more in a zone with summer time, Europe/Berlin,
// whose clocks went forward on 31 March 2024 at 02:00 and back on 27 October at 03:00).
TEST(Unzip32Dll, DosTimesFollowTheZoneOnEveryDay)
{
    struct Stamp {
        int year, month, day, hour, minute, second;
    };
    const char* zoneName = std::getenv("TZ");
    if (zoneName != nullptr && std::string(zoneName) == "Europe/Berlin") {
        TIME_ZONE_INFORMATION zone {};
        ::GetTimeZoneInformation(&zone);
        ASSERT_EQ(-60, zone.Bias) << "the zone from TZ did not reach the program";
        ASSERT_EQ(-60, zone.DaylightBias);
    }
    const Stamp stamps[] = {
        {2024, 1, 15, 0, 0, 0},
        {2024, 1, 15, 12, 30, 20},
        {2024, 1, 15, 23, 59, 58},
        {2024, 3, 31, 1, 59, 58},
        {2024, 3, 31, 3, 0, 0},
        {2024, 3, 31, 23, 0, 0},
        {2024, 7, 1, 8, 15, 0},
        {2024, 10, 27, 1, 30, 0},
        {2024, 10, 27, 4, 0, 0},
        {2024, 10, 27, 23, 59, 58},
        {1999, 3, 7, 10, 0, 0},
    };
    TestFolder folder;
    Archive a;
    for (size_t i = 0; i < sizeof stamps / sizeof stamps[0]; ++i) {
        const Stamp& t = stamps[i];
        Member m("t" + std::to_string(i) + ".txt", "x", 0);
        m.dosDate = static_cast<uint16_t>(((t.year - 1980) << 9) | (t.month << 5) | t.day);
        m.dosTime = static_cast<uint16_t>((t.hour << 11) | (t.minute << 5) | (t.second / 2));
        a.members.push_back(m);
    }
    std::string archive = Save(folder, "times.zip", a);
    ASSERT_EQ(0, RunLibrary(archive, folder.Child("out").c_str()));
    for (size_t i = 0; i < a.members.size(); ++i) {
        const Member& m = a.members[i];
        FILETIME local {};
        SYSTEMTIME localTime {}, utcTime {};
        FILETIME utc {};
        ::DosDateTimeToFileTime(m.dosDate, m.dosTime, &local);
        ::FileTimeToSystemTime(&local, &localTime);
        ::TzSpecificLocalTimeToSystemTime(nullptr, &localTime, &utcTime);
        ::SystemTimeToFileTime(&utcTime, &utc);
        WIN32_FILE_ATTRIBUTE_DATA data {};
        ASSERT_TRUE(::GetFileAttributesExA(folder.Child("out\\" + m.name).c_str(), GetFileExInfoStandard, &data));
        EXPECT_EQ(utc.dwLowDateTime, data.ftLastWriteTime.dwLowDateTime) << m.name;
        EXPECT_EQ(utc.dwHighDateTime, data.ftLastWriteTime.dwHighDateTime) << m.name;
    }
}

TEST(Unzip32Dll, NamesAreCreatedUnderTheirTrueNames)
{
    TestFolder folder;
    Archive a;
    Member utf8("\xE4\xB8\x96\xE7\x95\x8C.txt", "utf8", 0);  // 世界
    utf8.flags = 0x0800;
    a.members.push_back(utf8);
    a.members.push_back(Member("caf\x82.txt", "cp437", 0));  // café in CP437
    Member unicode("x\x81.txt", "unicode extra", 0);
    unicode.centralExtra =
        ziptest::Extra(0x7075, "\x01" + ziptest::Le32(ziptest::Crc("x\x81.txt")) + "\xCE\xA9mega.txt");  // Ωmega
    a.members.push_back(unicode);
    std::string archive = Save(folder, "n.zip", a);
    ASSERT_EQ(0, RunLibrary(archive, folder.Child("out").c_str()));
    std::wstring out = dllrun::Wide(folder.Child("out\\"));
    std::string bytes;
    EXPECT_TRUE(dllrun::ReadWhole(out + L"\x4E16\x754C.txt", bytes));
    EXPECT_EQ("utf8", bytes);
    EXPECT_TRUE(dllrun::ReadWhole(out + L"caf\x00E9.txt", bytes));
    EXPECT_EQ("cp437", bytes);
    EXPECT_TRUE(dllrun::ReadWhole(out + L"\x03A9mega.txt", bytes));
    EXPECT_EQ(3, dllrun::CountEntries(folder.Child("out")));
}

TEST(Unzip32Dll, ProblemsGiveTheirResultAndTheRestIsExtracted)
{
    struct Case {
        const char* what;
        Member bad;
        int result;
    };
    std::vector<Case> cases;
    {
        Member m("sub/crc.txt", Text(5000));
        m.declaredCrc = 1;
        cases.push_back({"bad CRC", m, UZ_FORMAT_ERROR});
    }
    {
        Member m("secret.txt", "x", 0);
        m.flags = 1;
        cases.push_back({"encrypted", m, UZ_PASSWORD});
    }
    {
        Member m("w.wv", "x", 0);
        m.method = 97;
        cases.push_back({"unsupported method", m, UZ_WARNING});
    }
    for (const char* evil :
        {"../evil.txt", "..\\evil.txt", "/evil.txt", "C:\\evil.txt", "\\\\host\\share\\evil.txt", "a/../../evil.txt"}) {
        cases.push_back({evil, Member(evil, "x", 0), UZ_WARNING});
    }
    for (const Case& c : cases) {
        TestFolder folder;
        Archive a;
        a.members.push_back(Member("good1.txt", Text(3000)));
        a.members.push_back(c.bad);
        a.members.push_back(Member("good2.txt", "two", 0));
        std::string archive = Save(folder, "p.zip", a);
        folder.MakeFolder("sentinel");
        ASSERT_EQ(c.result, RunLibrary(archive, folder.Child("sentinel\\out").c_str())) << c.what;
        EXPECT_EQ(Text(3000), Contents(folder.Child("sentinel\\out\\good1.txt"))) << c.what;
        EXPECT_EQ("two", Contents(folder.Child("sentinel\\out\\good2.txt"))) << c.what;
        EXPECT_EQ(1, dllrun::CountEntries(folder.Child("sentinel"))) << c.what;
        EXPECT_FALSE(folder.Exists("evil.txt")) << c.what;
        // No partial output for the bad member, under its name or a temporary one.
        EXPECT_FALSE(folder.Exists("sentinel\\out\\" + c.bad.name)) << c.what;
        for (const std::string& left : dllrun::Walk(folder.Child("sentinel\\out")))
            EXPECT_TRUE(left == "good1.txt" || left == "good2.txt" || left == "sub\\") << c.what << ": " << left;
        bool named = false;
        for (const std::string& line : Current().printed)
            named = named || line.find(c.bad.name) != std::string::npos;
        EXPECT_TRUE(named) << c.what;
    }
}

// A download cut off in its last member: the complete members come out, nothing of the cut one,
// result 3 and the count of recovered files as the last line; a listing shows the same two.
TEST(Unzip32Dll, CutArchiveRecoversItsCompleteMembers)
{
    TestFolder folder;
    Archive a;
    a.members.push_back(Member("docs/good1.txt", Text(3000)));
    Member streamed("good2.bin", Text(700, 2), 0);
    streamed.descriptor = true;
    a.members.push_back(streamed);
    a.members.push_back(Member("cut.bin", ziptest::RandomBytes(20000), 0));
    const std::string whole = a.Build();
    folder.WriteFile("cut.zip", whole.substr(0, whole.size() - 15000));
    const std::string archive = folder.Child("cut.zip");
    ASSERT_EQ(UZ_SEVERE_ERROR, RunLibrary(archive, folder.Child("out").c_str()));
    EXPECT_EQ(Text(3000), Contents(folder.Child("out\\docs\\good1.txt")));
    EXPECT_EQ(Text(700, 2), Contents(folder.Child("out\\good2.bin")));
    EXPECT_EQ((std::vector<std::string> {"docs\\", "docs\\good1.txt", "good2.bin"}), dllrun::Walk(folder.Child("out")));
    ASSERT_FALSE(Current().printed.empty());
    EXPECT_EQ("The archive is damaged: 2 of its files were recovered.\n", Current().printed.back());

    dllrun::RunOptions list;
    list.list = true;
    EXPECT_EQ(UZ_SEVERE_ERROR, RunLibrary(archive, nullptr, list));
    ASSERT_EQ(2u, Current().listed.size());
    EXPECT_EQ("good2.bin", Current().listed[1].name);
}

// A file where a member's folder should be (a file member, or a link member, which is written as
// a file) skips that member with its own reason and result 1, not the full or read-only disk's.
TEST(Unzip32Dll, AFileWhereAFolderShouldBeSkipsTheMemberWithItsReason)
{
    TestFolder folder;
    Archive a;
    a.members.push_back(Member("blocker", "a file", 0));
    a.members.push_back(Member("blocker/inner.txt", "inner", 0));
    Member link("link", "blocker", 0);
    link.versionMadeBy = 0x0314;
    link.externalAttributes = 0120777u << 16;
    a.members.push_back(link);
    a.members.push_back(Member("link/deeper/x.txt", "x", 0));
    a.members.push_back(Member("good.txt", "good", 0));
    const std::string archive = Save(folder, "b.zip", a);
    EXPECT_EQ(UZ_WARNING, RunLibrary(archive, folder.Child("out").c_str()));
    EXPECT_EQ("a file", Contents(folder.Child("out\\blocker")));
    EXPECT_EQ("good", Contents(folder.Child("out\\good.txt")));
    int reasons = 0;
    for (const std::string& line : Current().printed)
        reasons += line.find("a file stands where its folder should be") != std::string::npos ? 1 : 0;
    EXPECT_EQ(2, reasons);
}

// A file is written under a temporary name and takes its own name only when complete: while a
// large member is written (its service calls come during it) only a ~kv*.tmp is there, for a ZIP
// archive and a tar alike; a name that another program takes meanwhile keeps that program's file
// unless overwriting is asked for (the member is skipped, as one whose file was there before), and
// no temporary file stays either way.
TEST(Unzip32Dll, NewFilesTakeTheirNamesOnlyWhenComplete)
{
    TestFolder folder;
    const std::string big = Text(20u << 20);
    Archive zip;
    zip.members.push_back(Member("big.bin", big));
    zip.members.push_back(Member("small.txt", "small", 0));
    folder.WriteFile("a.zip", zip.Build());
    folder.WriteFile("a.tar", Tar({{"big.bin", big}, {"small.txt", "small"}}));
    dllrun::RunOptions watched;
    watched.service = &WatchBigFile;
    for (const char* archive : {"a.zip", "a.tar"}) {
        for (int occupy = 0; occupy < 3; ++occupy) {  // 1: taken meanwhile, 2: and overwriting is off
            const std::string what = std::string(archive) + " occupied " + std::to_string(occupy);
            const std::string out = folder.Child("out-" + std::string(archive) + std::to_string(occupy));
            g_watch = Watch();
            g_watch.folder = out;
            g_watch.occupy = occupy > 0;
            watched.overwrite = occupy != 2 ? 1 : 0;
            EXPECT_EQ(occupy == 2 ? UZ_WARNING : UZ_OK, RunLibrary(folder.Child(archive), out.c_str(), watched))
                << what;
            EXPECT_GE(g_watch.temporarySeen, 1) << what;
            EXPECT_EQ(0, g_watch.realNameSeen) << what;
            EXPECT_TRUE(Contents(out + "\\big.bin") == (occupy == 2 ? "theirs" : big)) << what;
            EXPECT_EQ("small", Contents(out + "\\small.txt")) << what;
            EXPECT_EQ(2, dllrun::CountEntries(out)) << what << ": no temporary file stays";
        }
    }
}

// Members whose names Windows takes for one file (case, non-ASCII case, trailing dots and spaces)
// all come out, the later ones numbered past what the target holds; a file that was there before
// the run is still replaced. The result tells that not everything went under its own name.
TEST(Unzip32Dll, NamesEqualAsWindowsComparesThemAreAllKept)
{
    TestFolder folder;
    Archive zip;
    const std::vector<std::string> names {"README", "readme", "A.txt", "a.txt", "x.pdf ", "x.pdf", "dir./f.txt",
        "dir/f.txt", "\xC3\x84pfel.txt", "\xC3\xA4pfel.txt"};  // Äpfel, äpfel
    for (const std::string& name : names)
        zip.members.push_back(Member(name, "<" + name + ">", 0));
    WithUtf8Names(zip);
    folder.MakeFolder("out");
    folder.WriteFile("out\\a.txt", "there before");
    folder.WriteFile("out\\x (2).pdf", "there before");
    const std::string out = folder.Child("out");
    EXPECT_EQ(UZ_WARNING, RunLibrary(Save(folder, "n.zip", zip), out.c_str()));
    const std::vector<std::pair<std::string, std::string>> expected {{"README", "README"}, {"readme (2)", "readme"},
        {"A.txt", "A.txt"}, {"a (2).txt", "a.txt"}, {"x.pdf", "x.pdf "}, {"x (3).pdf", "x.pdf"},
        {"dir\\f.txt", "dir./f.txt"}, {"dir\\f (2).txt", "dir/f.txt"}, {names[8], names[8]},
        {"\xC3\xA4pfel (2).txt", names[9]}};
    for (const auto& file : expected)
        EXPECT_EQ("<" + file.second + ">", Contents(out + "\\" + file.first)) << file.first;
    EXPECT_EQ("there before", Contents(out + "\\x (2).pdf"));
    EXPECT_EQ(10, dllrun::CountEntries(out));
    bool told = false;
    for (const std::string& line : Current().printed)
        told = told || line.find("renamed: a.txt as a (2).txt") == 0;
    EXPECT_TRUE(told);

    folder.WriteFile("c.tar", Tar({{"Case.txt", "upper"}, {"case.txt", "lower"}}));
    EXPECT_EQ(UZ_WARNING, RunLibrary(folder.Child("c.tar"), folder.Child("tar").c_str()));
    EXPECT_EQ("upper", Contents(folder.Child("tar\\Case.txt")));
    EXPECT_EQ("lower", Contents(folder.Child("tar\\case (2).txt")));
}

// Each choice for what was in the destination before the run: a file the user edited (named in
// another case), a read-only file, a folder with a member file's name, and a folder that a folder
// member merges with. Overwrite replaces the files and skips the member the folder blocks; Skip
// keeps all and skips those members; Keep Both writes them numbered beside, and a second run numbers
// on. A tar goes the same way, and its two members of one name are numbered as a rename in every mode.
TEST(Unzip32Dll, ExistingFilesAreOverwrittenSkippedOrKeptBoth)
{
    TestFolder folder;
    Archive zip;
    zip.members = {Member("notes.txt", "archived notes", 0), Member("locked.txt", "archived lock", 0),
        Member("photos", "archived photos file", 0), Member("docs/", "", 0), Member("docs/readme.txt", "readme", 0)};
    const std::string archive = Save(folder, "e.zip", zip);
    folder.WriteFile("e.tar", Tar({{"notes.txt", "archived notes"}, {"photos", "archived photos file"},
                                  {"Case.txt", "upper"}, {"case.txt", "lower"}}));
    auto prepare = [&](const std::string& name) {
        const std::string out = folder.Child(name);
        folder.MakeFolder(name);
        folder.MakeFolder(name + "\\photos");
        folder.MakeFolder(name + "\\docs");
        folder.WriteFile(name + "\\Notes.txt", "edited by the user");
        folder.WriteFile(name + "\\locked.txt", "old");
        folder.WriteFile(name + "\\photos\\inside.jpg", "jpg");
        folder.WriteFile(name + "\\docs\\mine.txt", "mine");
        ::SetFileAttributesA((out + "\\locked.txt").c_str(), FILE_ATTRIBUTE_READONLY);
        return out;
    };
    auto lowerWalk = [](const std::string& out) {
        std::vector<std::string> walked = dllrun::Walk(out);
        for (std::string& entry : walked)
            for (char& c : entry)
                c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
        std::sort(walked.begin(), walked.end());
        return walked;
    };
    auto printed = [](const std::string& line) {
        const auto& lines = Current().printed;
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    };
    const std::vector<std::string> before {"docs\\", "docs\\mine.txt", "docs\\readme.txt", "locked.txt", "notes.txt",
        "photos\\", "photos\\inside.jpg"};
    dllrun::RunOptions run;
    for (int choice : {1, 0, 2}) {
        SCOPED_TRACE(choice);
        run.overwrite = choice;
        const std::string out = prepare("out" + std::to_string(choice));
        EXPECT_EQ(choice == 2 ? UZ_OK : UZ_WARNING, RunLibrary(archive, out.c_str(), run));
        const bool replaced = choice == 1;
        EXPECT_EQ(replaced ? "archived notes" : "edited by the user", Contents(out + "\\notes.txt"));
        EXPECT_EQ(replaced ? "archived lock" : "old", Contents(out + "\\locked.txt"));
        EXPECT_EQ(!replaced, (::GetFileAttributesA((out + "\\locked.txt").c_str()) & FILE_ATTRIBUTE_READONLY) != 0);
        EXPECT_EQ("jpg", Contents(out + "\\photos\\inside.jpg"));
        EXPECT_EQ("mine", Contents(out + "\\docs\\mine.txt"));
        EXPECT_EQ("readme", Contents(out + "\\docs\\readme.txt"));
        std::vector<std::string> expected = before;
        if (choice == 2) {
            expected.insert(expected.end(), {"locked (2).txt", "notes (2).txt", "photos (2)"});
            std::sort(expected.begin(), expected.end());
            EXPECT_EQ("archived notes", Contents(out + "\\notes (2).txt"));
            EXPECT_EQ("archived lock", Contents(out + "\\locked (2).txt"));
            EXPECT_EQ("archived photos file", Contents(out + "\\photos (2)"));
            EXPECT_TRUE(printed("keeping both: notes.txt as notes (2).txt (a file or folder of that name was there before)\n"));
            EXPECT_EQ(expected, lowerWalk(out));
            EXPECT_EQ(UZ_OK, RunLibrary(archive, out.c_str(), run));
            EXPECT_EQ("archived notes", Contents(out + "\\notes (3).txt"));
        } else if (choice == 0) {
            EXPECT_TRUE(printed("skipping: notes.txt (a file or folder of that name was there before: kept as it was)\n"));
            EXPECT_TRUE(printed("skipping: photos (a file or folder of that name was there before: kept as it was)\n"));
        } else {
            EXPECT_TRUE(printed("skipping: photos (a folder stands where the file should be)\n"));
        }
        if (choice != 2)
            EXPECT_EQ(expected, lowerWalk(out));

        const std::string tar = prepare("tar" + std::to_string(choice));
        EXPECT_EQ(UZ_WARNING, RunLibrary(folder.Child("e.tar"), tar.c_str(), run));
        EXPECT_EQ(replaced ? "archived notes" : "edited by the user", Contents(tar + "\\notes.txt"));
        EXPECT_EQ(choice == 2 ? "archived notes" : "", Contents(tar + "\\notes (2).txt"));
        EXPECT_EQ(choice == 2 ? "archived photos file" : "", Contents(tar + "\\photos (2)"));
        EXPECT_EQ("jpg", Contents(tar + "\\photos\\inside.jpg"));
        EXPECT_EQ("lower", Contents(tar + "\\case (2).txt"));
    }
}

// In folders the run created the library does not ask the file system about names it did not
// make there; what it did make is still seen: a file member where the run made a folder is
// skipped, a folder named again in another case is the same folder, a member named again is
// numbered (ZIP and tar, into a target the run creates and into a folder it creates in one that was
// there).
TEST(Unzip32Dll, FoldersTheRunMadeStillShowWhatItMadeInThem)
{
    TestFolder folder;
    Archive zip;
    zip.members = {Member("photos/", "", 0), Member("photos", "a file", 0), Member("Sub/a.txt", "a", 0),
        Member("SUB/b.txt", "b", 0), Member("sub/A.TXT", "again", 0)};
    const std::string archive = Save(folder, "m.zip", zip);
    folder.WriteFile("m.tar", Tar({{"dir/f.txt", "f"}, {"dir", "a file"}, {"dir/F.txt", "again"}}));
    folder.MakeFolder("there");
    for (const std::string& out : {folder.Child("new"), folder.Child("there\\new")}) {
        SCOPED_TRACE(out);
        EXPECT_EQ(UZ_WARNING, RunLibrary(archive, out.c_str()));
        EXPECT_NE(0u, ::GetFileAttributesA((out + "\\photos").c_str()) & FILE_ATTRIBUTE_DIRECTORY);
        const auto& lines = Current().printed;
        EXPECT_NE(lines.end(),
            std::find(lines.begin(), lines.end(), "skipping: photos (a folder stands where the file should be)\n"));
        EXPECT_EQ("a", Contents(out + "\\Sub\\a.txt"));
        EXPECT_EQ("b", Contents(out + "\\Sub\\b.txt"));
        EXPECT_EQ("again", Contents(out + "\\Sub\\A (2).TXT"));
        EXPECT_EQ(std::vector<std::string>({"Sub\\", "Sub\\A (2).TXT", "Sub\\a.txt", "Sub\\b.txt", "photos\\"}),
            dllrun::Walk(out));

        const std::string tar = out + "-tar";
        EXPECT_EQ(UZ_WARNING, RunLibrary(folder.Child("m.tar"), tar.c_str()));
        EXPECT_EQ("f", Contents(tar + "\\dir\\f.txt"));
        EXPECT_EQ("again", Contents(tar + "\\dir\\F (2).txt"));
        EXPECT_EQ(2, dllrun::CountEntries(tar + "\\dir"));
    }
}

// A file named with 250 characters is replaced by a member of that name (its temporary name has to
// fit the file system too), and a destination deeper than 260 characters on a share is written
// (\\kestrova-test\share, which map-drive.sh maps in the test prefix; else that half skips).
TEST(Unzip32Dll, LongNamesAndLongShareDestinations)
{
    TestFolder folder;
    const std::string name(250, 'n');
    for (const char* content : {"old", "new"}) {
        Archive a;
        a.members.push_back(Member(name, content, 0));
        EXPECT_EQ(UZ_OK, RunLibrary(Save(folder, "long.zip", a), folder.Child("out").c_str())) << content;
        EXPECT_EQ(content, Contents("\\\\?\\" + folder.Child("out\\" + name)));
    }
    EXPECT_EQ(1, dllrun::CountEntries(folder.Child("out"))) << "no temporary file stays";

    if (::GetFileAttributesA("\\\\kestrova-test\\share") == INVALID_FILE_ATTRIBUTES)
        GTEST_SKIP() << "\\\\kestrova-test\\share is not mapped";
    std::string deep = "\\kestrova-test\\share\\long";
    for (char c = 'a'; c < 'f'; ++c)
        deep += "\\" + std::string(50, c);
    Archive a;
    a.members.push_back(Member("sub/file.txt", "deep", 0));
    EXPECT_EQ(UZ_OK, RunLibrary(Save(folder, "deep.zip", a), ("\\" + deep).c_str()));
    EXPECT_EQ("deep", Contents("\\\\?\\UNC" + deep + "\\sub\\file.txt"));
    TestFolder::Remove("\\\\?\\UNC\\kestrova-test\\share\\long");
}

// Archives are read with ReadFile, never through views of the file (under Wine slower, and on a
// pulled medium a fault in whatever touches the pages): a stored member of 24 MiB extracts byte
// for byte with no view mapped meanwhile, on a fixed drive and on a removable one. The test command
// maps N: as removable before Wine's services start; where it was not mapped so (ctest run by hand
// in another prefix) the removable half skips.
TEST(Unzip32Dll, ArchivesAreReadWithoutViews)
{
    Archive a;
    a.members.push_back(ziptest::Stored("big.bin", Text(24u << 20)));
    const std::string bytes = a.Build();
    ::SetEnvironmentVariableA("KESTROVA_UNZIP_THREADS", "0");  // the calling thread reads
    dllrun::RunOptions sampled;
    sampled.service = &SampleViews;
    auto viewed = [&](const std::string& folder) {
        TestFolder::Remove(folder);
        ::CreateDirectoryA(folder.c_str(), nullptr);
        const std::string archive = folder + "\\big.zip";
        HANDLE file = ::CreateFileA(archive.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD written = 0;
        ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        ::CloseHandle(file);
        const SIZE_T before = MappedNow();
        g_mappedPeak = 0;
        EXPECT_EQ(UZ_OK, RunLibrary(archive, (folder + "\\out").c_str(), sampled)) << folder;
        EXPECT_TRUE(Contents(folder + "\\out\\big.bin") == a.members[0].data) << folder;
        TestFolder::Remove(folder);
        return g_mappedPeak > before ? g_mappedPeak - before : 0;
    };
    TestFolder fixed;
    EXPECT_LT(viewed(fixed.Child("c")), SIZE_T(8) << 20) << "views on a fixed drive";
    if (::GetDriveTypeA("N:\\") == DRIVE_REMOVABLE) {
        EXPECT_LT(viewed("N:\\views"), SIZE_T(8) << 20) << "views on a removable drive";
    }
    ::SetEnvironmentVariableA("KESTROVA_UNZIP_THREADS", nullptr);
    if (::GetDriveTypeA("N:\\") != DRIVE_REMOVABLE)
        GTEST_SKIP() << "drive N: is not mapped as removable";
}

TEST(Unzip32Dll, DeviceAndInvalidNamesStayInsideTheTarget)
{
    TestFolder folder;
    Archive a;
    for (const char* name : {"CON", "nul.txt", "sub/COM1.log", "a:stream", "what?.txt", "trail. ", "lpt9"})
        a.members.push_back(Member(name, name, 0));
    std::string archive = Save(folder, "d.zip", a);
    folder.MakeFolder("sentinel");
    int result = RunLibrary(archive, folder.Child("sentinel\\out").c_str());
    EXPECT_TRUE(result == UZ_OK || result == UZ_WARNING) << result;
    EXPECT_EQ(1, dllrun::CountEntries(folder.Child("sentinel")));
    EXPECT_FALSE(folder.Exists("a"));
    EXPECT_GE(dllrun::CountEntries(folder.Child("sentinel\\out")), 1);
}

TEST(Unzip32Dll, MissingArchiveAndNonArchive)
{
    TestFolder folder;
    EXPECT_EQ(UZ_NOT_FOUND, RunLibrary(folder.Child("absent.zip"), folder.Child("o").c_str()));
    folder.WriteFile("junk.zip", std::string(5000, 'j'));
    EXPECT_EQ(UZ_SEVERE_ERROR, RunLibrary(folder.Child("junk.zip"), folder.Child("o").c_str()));
    EXPECT_FALSE(Current().printed.empty());
}

// "K:" is the drive's root, whatever the drive's current folder. The test harness maps K: to a
// scratch folder (a dosdevices link in the prefix); without it the test is skipped.
TEST(Unzip32Dll, BareDriveTargetMeansTheRoot)
{
    if (::GetDriveTypeA("K:\\") == DRIVE_NO_ROOT_DIR || ::GetDriveTypeA("K:\\") == DRIVE_UNKNOWN)
        GTEST_SKIP() << "drive K: is not mapped";
    TestFolder folder;
    Archive a;
    a.members.push_back(Member("at-root.txt", "root", 0));
    std::string archive = Save(folder, "r.zip", a);
    ::CreateDirectoryA("K:\\current", nullptr);
    char previous[MAX_PATH];
    ::GetCurrentDirectoryA(MAX_PATH, previous);
    ASSERT_TRUE(::SetCurrentDirectoryA("K:\\current"));
    ::SetCurrentDirectoryA(previous);  // K:'s current folder stays K:\current
    ::DeleteFileA("K:\\at-root.txt");
    EXPECT_EQ(0, RunLibrary(archive, "K:"));
    EXPECT_EQ("root", Contents("K:\\at-root.txt"));
    EXPECT_FALSE(::GetFileAttributesA("K:\\current\\at-root.txt") != INVALID_FILE_ATTRIBUTES);
    ::DeleteFileA("K:\\at-root.txt");
    ::RemoveDirectoryA("K:\\current");
}

// A destination that fills up (T:, a 5 MiB volume) or is read-only (R:) gives 50, leaves no
// partial file, and the members that fit are still extracted. The test harness maps both drives
// (tests/support/small-drives.sh); without them the test is skipped.
TEST(Unzip32Dll, FullOrReadOnlyDestinationGives50)
{
    if (!testsupport::IsSmallTestDrive("T:\\") || !testsupport::IsSmallTestDrive("R:\\"))
        GTEST_SKIP() << "drives T: and R: are not mapped";
    TestFolder folder;
    Archive a;
    a.members.push_back(Member("small.txt", "small"));
    a.members.push_back(Member("big.txt", Text(20u << 20)));
    a.members.push_back(Member("after.txt", "after", 0));
    std::string archive = Save(folder, "big.zip", a);

    EXPECT_EQ(UZ_DISK_FULL, RunLibrary(archive, "T:\\full"));
    EXPECT_EQ("small", Contents("T:\\full\\small.txt"));
    EXPECT_EQ("after", Contents("T:\\full\\after.txt"));
    EXPECT_EQ(2, dllrun::CountEntries("T:\\full")) << "no partial big.txt";
    bool named = false;
    for (const std::string& line : Current().printed)
        named = named || line.find("big.txt") != std::string::npos;
    EXPECT_TRUE(named);
    TestFolder::Remove("T:\\full");

    EXPECT_EQ(UZ_DISK_FULL, RunLibrary(archive, "R:\\out"));
    EXPECT_EQ(UZ_DISK_FULL, RunLibrary(archive, "R:"));
    EXPECT_EQ(0, dllrun::CountEntries("R:"));
}
