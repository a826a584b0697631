// UNZIP32.DLL through its export, called exactly as the program calls it.
#include "tests/support/TestSupport.h"
#include "tests/support/ZipBuilder.h"
#include "tests/unzip32/DllRunner.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using dllrun::Contents;
using dllrun::RunLibrary;
using ziptest::Archive;
using ziptest::Member;
using ziptest::Stored;

// A sandbox folder with the archive in it and the target two levels down, so that anything
// written outside the target shows up in the sandbox.
class DllTest : public testing::Test {
protected:
    int Extract(const Archive& archive, std::vector<std::string> exclude = {}, bool caseInsensitive = false)
    {
        testsupport::WriteFileBytes(archivePath, archive.Build());
        return RunLibrary(archivePath, target.c_str(), {false, caseInsensitive, std::move(exclude)});
    }
    int List(const Archive& archive)
    {
        testsupport::WriteFileBytes(archivePath, archive.Build());
        return RunLibrary(archivePath, nullptr, {true, false, {}});
    }
    // Everything in the sandbox other than the archive and the target's own folders.
    std::vector<std::string> Outside()
    {
        std::vector<std::string> all = dllrun::Walk(sandbox);
        std::vector<std::string> outside;
        for (const std::string& p : all)
            if (p != "archive.zip" && p != "out\\" && p != "out\\deeper\\" && p.rfind("out\\deeper\\", 0) != 0)
                outside.push_back(p);
        return outside;
    }
    std::vector<std::string> Inside() { return dllrun::Walk(target); }
    std::string In(const std::string& relative) { return target + "\\" + relative; }

    testsupport::TestFolder folder;
    std::string sandbox = folder.Path();
    std::string target = sandbox + "\\out\\deeper";
    std::string archivePath = sandbox + "\\archive.zip";
    const dllrun::Seen& seen = dllrun::Current();
};

TEST_F(DllTest, List_GivesOneRecordPerMemberInOrder)
{
    Archive archive;
    Member text {"docs/readme.txt", ziptest::Text(10000)};
    text.dosDate = static_cast<uint16_t>(((2019 - 1980) << 9) | (7 << 5) | 14);
    text.dosTime = static_cast<uint16_t>((15 << 11) | (42 << 5));
    archive.members = {Stored("a.bin", "0123456789"), text, {"docs/", ""}};
    ASSERT_EQ(0, List(archive));
    ASSERT_EQ(3u, seen.listed.size());
    EXPECT_EQ("a.bin", seen.listed[0].name);
    EXPECT_EQ(10u, seen.listed[0].size);
    EXPECT_EQ(0u, seen.listed[0].factor);
    EXPECT_EQ("Stored", seen.listed[0].method);
    const dllrun::Listed& m = seen.listed[1];
    EXPECT_EQ("docs/readme.txt", m.name);
    EXPECT_EQ(10000u, m.size);
    EXPECT_EQ(ziptest::Deflate(ziptest::Text(10000)).size(), m.packed);
    EXPECT_EQ(100u - (m.packed * 100 + 9999) / 10000, m.factor);
    EXPECT_EQ(7u, m.month);
    EXPECT_EQ(14u, m.day);
    EXPECT_EQ(2019u, m.year);
    EXPECT_EQ(15u, m.hour);
    EXPECT_EQ(42u, m.minute);
    EXPECT_EQ(ziptest::Crc(ziptest::Text(10000)), m.crc);
    EXPECT_EQ("Deflate", m.method);
    EXPECT_TRUE(seen.printed.empty()) << "a listing prints nothing";
    EXPECT_TRUE(Outside().empty());
}

TEST_F(DllTest, List_ArchiveWithoutMembers_Succeeds)
{
    Archive empty;
    EXPECT_EQ(0, List(empty));
    EXPECT_TRUE(seen.listed.empty());
}

TEST_F(DllTest, Extract_FoldersTimesAttributesAndOneLinePerMember)
{
    Archive archive;
    Member dos = Stored("dos.txt", "dos time");
    dos.dosDate = static_cast<uint16_t>(((2020 - 1980) << 9) | (3 << 5) | 4);
    dos.dosTime = static_cast<uint16_t>((10 << 11) | (20 << 5));
    Member ntfs {"a/b/ntfs.txt", ziptest::Text(200000)};
    const uint64_t when = 132000000000000000ull;  // 2019-04-19
    ntfs.centralExtra = ziptest::Extra(0x000a,
        ziptest::Le32(0) + ziptest::Le16(1) + ziptest::Le16(24) + ziptest::Le64(when) + ziptest::Le64(when) +
            ziptest::Le64(when));
    Member readOnly = Stored("ro.txt", "read only");
    readOnly.externalAttributes = 0x01;
    archive.members = {dos, {"empty/", ""}, ntfs, readOnly};
    ASSERT_EQ(0, Extract(archive));
    EXPECT_EQ(ziptest::Text(200000), Contents(In("a\\b\\ntfs.txt")));
    EXPECT_EQ("dos time", Contents(In("dos.txt")));
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesA(In("empty").c_str()));
    EXPECT_TRUE(::GetFileAttributesA(In("ro.txt").c_str()) & FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(4u, seen.printed.size());
    EXPECT_FALSE(seen.offThread);

    WIN32_FILE_ATTRIBUTE_DATA data;
    ASSERT_TRUE(::GetFileAttributesExA(In("a\\b\\ntfs.txt").c_str(), GetFileExInfoStandard, &data));
    EXPECT_EQ(
        when, (static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime);
    ASSERT_TRUE(::GetFileAttributesExA(In("dos.txt").c_str(), GetFileExInfoStandard, &data));
    FILETIME local;
    SYSTEMTIME st;
    ::FileTimeToLocalFileTime(&data.ftLastWriteTime, &local);
    ::FileTimeToSystemTime(&local, &st);
    EXPECT_EQ(2020, st.wYear);
    EXPECT_EQ(10, st.wHour);
    EXPECT_EQ(20, st.wMinute);

    // A second run overwrites everything without asking, the read-only file too.
    archive.members[3].data = "new text";
    ASSERT_EQ(0, Extract(archive));
    EXPECT_EQ("new text", Contents(In("ro.txt")));
    EXPECT_TRUE(Outside().empty());
}

TEST_F(DllTest, HostileNames_NothingWrittenOutsideTheTarget)
{
    Archive archive;
    for (const char* name : {"../up.txt", "..\\up2.txt", "a/../../up3.txt", "/abs.txt", "\\abs2.txt", "C:\\drive.txt",
             "C:drive2.txt", "\\\\server\\share\\unc.txt", "\\\\?\\C:\\dev.txt", "//server/share/unc2.txt"})
        archive.members.push_back(Stored(name, "evil"));
    for (const char* name : {"CON", "sub/aux.txt", "stream.txt:evil", "trailing. ", "ctl\x07.txt", "q?.txt"})
        archive.members.push_back(Stored(name, "odd"));
    archive.members.push_back(Stored("good.txt", "good"));
    ASSERT_EQ(1, Extract(archive)) << "refused members make the result 1";
    EXPECT_TRUE(Outside().empty());
    std::vector<std::string> inside = Inside();
    const std::vector<std::string> expected = {
        "_CON", "ctl_.txt", "good.txt", "q_.txt", "stream.txt_evil", "sub\\", "sub\\_aux.txt", "trailing"};
    std::vector<std::string> sorted = expected;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(sorted, inside);
    size_t refused = 0;
    for (const std::string& line : seen.printed)
        if (line.find("unsafe") != std::string::npos)
            ++refused;
    EXPECT_EQ(10u, refused);
}

TEST_F(DllTest, Bombs_AreRefusedAndNothingGrowsPastTheDeclaredSize)
{
    Archive shared;
    shared.members = {{"a", std::string(2000000, 'a')}, {"b", std::string(2000000, 'a')}};
    shared.members[1].declaredOffset = 0;
    EXPECT_EQ(3, Extract(shared));
    EXPECT_TRUE(Inside().empty());

    Archive lying;
    lying.members = {{"big", std::string(5000000, 'z')}, Stored("ok", "ok")};
    lying.members[0].declaredSize = 1000;
    EXPECT_EQ(2, Extract(lying));
    EXPECT_EQ(std::vector<std::string> {"ok"}, Inside());
    EXPECT_TRUE(Outside().empty());
}

TEST_F(DllTest, DamagedMember_Result2_PartialRemoved_ExistingFileKept)
{
    ::CreateDirectoryA((sandbox + "\\out").c_str(), nullptr);
    ::CreateDirectoryA(target.c_str(), nullptr);
    testsupport::WriteFileBytes(In("bad.txt"), "the user's old file");
    Archive archive;
    archive.members = {
        {"bad.txt", ziptest::Text(3000000)}, {"new-bad.txt", ziptest::Text(3000000)}, Stored("good.txt", "good")};
    archive.members[0].declaredCrc = 1;
    archive.members[1].declaredCrc = 2;
    EXPECT_EQ(2, Extract(archive));
    EXPECT_EQ("the user's old file", Contents(In("bad.txt"))) << "bad data never replaces a file";
    EXPECT_EQ((std::vector<std::string> {"bad.txt", "good.txt"}), Inside());
}

TEST_F(DllTest, EncryptedAndUnsupportedMembers)
{
    Archive encrypted;
    Member secret {"secret.txt", "xxxxxxxxxxxx"};
    secret.flags = 1;
    encrypted.members = {secret, Stored("plain.txt", "plain")};
    EXPECT_EQ(5, Extract(encrypted));
    EXPECT_EQ(std::vector<std::string> {"plain.txt"}, Inside());

    Archive unsupported;
    Member imploded {"packed.imp", "not really imploded"};
    imploded.method = 6;
    unsupported.members = {imploded};
    EXPECT_EQ(1, Extract(unsupported));
    ASSERT_EQ(1u, seen.printed.size());
    EXPECT_NE(std::string::npos, seen.printed[0].find("Implode"));
}

TEST_F(DllTest, ArchiveProblems_GiveTheirCodes)
{
    EXPECT_EQ(UZ_NOT_FOUND, RunLibrary(sandbox + "\\missing.zip", target.c_str()));
    testsupport::WriteFileBytes(archivePath, std::string(5000, 'x'));
    EXPECT_EQ(3, RunLibrary(archivePath, target.c_str()));
    EXPECT_EQ(1u, seen.printed.size());
    Archive split;
    split.members = {Stored("a", "a")};
    split.disk = 2;
    EXPECT_EQ(3, Extract(split));
    // No other disk beside it: the first is named.
    EXPECT_EQ("error: the volume archive.z01 is missing\n", seen.printed[0]);
}

TEST_F(DllTest, ExclusionMasks_CaseByOption)
{
    Archive archive;
    archive.members = {Stored("keep.txt", "k"), Stored("x.bak", "b"), Stored("sub/Y.BAK", "B")};
    EXPECT_EQ(0, Extract(archive, {"*.bak"}));
    EXPECT_EQ((std::vector<std::string> {"keep.txt", "sub\\", "sub\\Y.BAK"}), Inside());
    testsupport::TestFolder::Remove(sandbox + "\\out");
    EXPECT_EQ(0, Extract(archive, {"*.bak"}, true));
    EXPECT_EQ(std::vector<std::string> {"keep.txt"}, Inside());
}

TEST_F(DllTest, UnicodeNames_TrueNameOnDisk_CodePageFormInTheListing)
{
    Archive archive;
    Member world = Stored("\xE4\xB8\x96\xE7\x95\x8C.txt", "world");  // 世界.txt
    world.flags = 0x0800;
    Member cafe = Stored("caf\x82.txt", "cafe");  // café in CP437
    archive.members = {world, cafe};
    ASSERT_EQ(0, Extract(archive));
    EXPECT_NE(INVALID_FILE_ATTRIBUTES,
        ::GetFileAttributesW((std::wstring(target.begin(), target.end()) + L"\\\u4e16\u754c.txt").c_str()));
    EXPECT_NE(INVALID_FILE_ATTRIBUTES,
        ::GetFileAttributesW((std::wstring(target.begin(), target.end()) + L"\\caf\u00e9.txt").c_str()));
    ASSERT_EQ(0, List(archive));
    ASSERT_EQ(2u, seen.listed.size());
    wchar_t wide[16] = {};
    ::MultiByteToWideChar(CP_ACP, 0, seen.listed[1].name.c_str(), -1, wide, 16);
    EXPECT_EQ(std::wstring(L"caf\u00e9.txt"), wide);
}

TEST_F(DllTest, MissingTargetIsCreatedWithItsParents)
{
    target = sandbox + "\\out\\deeper\\and\\deeper";
    Archive archive;
    archive.members = {Stored("f.txt", "f")};
    ASSERT_EQ(0, Extract(archive));
    EXPECT_EQ("f", Contents(In("f.txt")));
}

TEST_F(DllTest, BareDriveTarget_MeansTheDrivesRoot)
{
    char current[MAX_PATH];
    ::GetCurrentDirectoryA(MAX_PATH, current);
    ::SetCurrentDirectoryA(sandbox.c_str());
    const std::string name = "kvroot" + std::to_string(::GetCurrentProcessId()) + ".txt";
    Archive archive;
    archive.members = {Stored(name, "root")};
    target = sandbox.substr(0, 2);  // "C:"
    const int result = Extract(archive);
    ::SetCurrentDirectoryA(current);
    const std::string atRoot = sandbox.substr(0, 2) + "\\" + name;
    EXPECT_EQ(0, result);
    EXPECT_EQ("root", Contents(atRoot));
    EXPECT_FALSE(Contents(sandbox + "\\" + name) == "root");
    ::DeleteFileA(atRoot.c_str());
}

TEST_F(DllTest, ManyMembers_DecodedInParallel_CallbacksOnTheCallingThread)
{
    Archive archive;
    for (int i = 0; i < 60; ++i)
        archive.members.push_back({"m/" + std::to_string(i) + ".txt",
            ziptest::Text(100000 + static_cast<size_t>(i), static_cast<uint32_t>(i))});
    ASSERT_EQ(0, Extract(archive));
    EXPECT_FALSE(seen.offThread);
    ASSERT_EQ(60u, seen.printed.size());
    for (int i = 0; i < 60; ++i) {
        EXPECT_NE(std::string::npos, seen.printed[static_cast<size_t>(i)].find("m/" + std::to_string(i) + ".txt"));
        EXPECT_EQ(ziptest::Text(100000 + static_cast<size_t>(i), static_cast<uint32_t>(i)),
            Contents(In("m\\" + std::to_string(i) + ".txt")));
    }
}

TEST(DllExports, EntryPointIsUndecorated)
{
    HMODULE library = ::LoadLibraryA("UNZIP32.DLL");
    ASSERT_NE(nullptr, library);
    EXPECT_NE(nullptr, reinterpret_cast<void*>(::GetProcAddress(library, "Wiz_SingleEntryUnzip")));
    ::FreeLibrary(library);
}

}  // namespace
