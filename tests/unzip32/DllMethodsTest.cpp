// UNZIP32.DLL, called as the program calls it, on archives of every compression method that the
// tools which write them made at build time (make_method_archives.py, in KESTROVA_METHOD_ARCHIVES):
// each extracts byte for byte, lists its methods by name and passes the test mode; its damaged
// and truncated copies give result 2 and leave no wrong file behind; members that need more
// memory than a decoder may take are skipped with the reason (result 1). 7z's encrypted archives
// (ZipCrypto, AES) go through the password callback: asked once per member with the right
// password, three times with a wrong one (then result 5 and no file), never for a listing.
#include "tests/support/TestFolder.h"
#include "tests/support/TestSupport.h"
#include "tests/unzip32/DllRunner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>

using testsupport::TestFolder;

namespace {

std::string ArchiveFolder()
{
    const char* folder = std::getenv("KESTROVA_METHOD_ARCHIVES");
    if (folder == nullptr || *folder == '\0')
        return std::string();
    return testsupport::FromHost(folder);
}

// The archives of methods.txt with the methods their members use.
std::map<std::string, std::string> Archives(const std::string& folder)
{
    std::string text;
    dllrun::ReadWhole(dllrun::Wide(folder + "\\methods.txt"), text);
    std::map<std::string, std::string> archives;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        const size_t space = line.find(' ');
        if (space != std::string::npos)
            archives[line.substr(0, space)] = line.substr(space + 1);
    }
    return archives;
}

std::string Original(const std::string& folder, std::string name)
{
    std::replace(name.begin(), name.end(), '/', '\\');
    std::string bytes;
    dllrun::ReadWhole(dllrun::Wide(folder + "\\files\\" + name), bytes);
    return bytes;
}

// Files under `target` that differ from the originals, and how many are identical.
std::vector<std::string> Compare(
    const std::string& folder, const std::string& target, const std::vector<dllrun::Listed>& members, int& identical)
{
    std::vector<std::string> differing;
    identical = 0;
    for (const dllrun::Listed& member : members) {
        if (member.name.back() == '/')
            continue;
        std::string path = target + "\\" + member.name;
        std::replace(path.begin(), path.end(), '/', '\\');
        std::string bytes;
        if (!dllrun::ReadWhole(dllrun::Wide(path), bytes))
            continue;
        if (bytes == Original(folder, member.name))
            ++identical;
        else
            differing.push_back(member.name);
    }
    return differing;
}

const char* MethodText(int id)
{
    switch (id) {
    case 0: return "Stored";
    case 9: return "Deflate64";
    case 12: return "BZip2";
    case 14: return "LZMA";
    case 20:
    case 93: return "Zstd";
    case 95: return "XZ";
    case 98: return "PPMd";
    default: return "?";
    }
}

// What the password callback was asked, and what it answers: the answers in turn, over and over
// (none: it answers 1, "no password").
struct PasswordAsked {
    std::string prompt;
    std::string archive;
    int size;
};
std::vector<std::string> g_answers;
std::vector<PasswordAsked> g_asked;

int UZ_API Answer(char* buffer, int size, const char* prompt, const char* archive)
{
    dllrun::Note();
    g_asked.push_back(PasswordAsked {prompt, archive, size});
    if (g_answers.empty())
        return 1;
    const std::string& answer = g_answers[(g_asked.size() - 1) % g_answers.size()];
    std::memcpy(buffer, answer.c_str(), answer.size() + 1);
    return 0;
}

// One run of dllrun::RunLibrary with `password` as the password callback.
int RunWithPassword(const std::string& archive, const char* target, dllrun::RunOptions run,
    UnzipPasswordCallback password = &Answer)
{
    g_asked.clear();
    run.password = password;
    return dllrun::RunLibrary(archive, target, run);
}

class Unzip32Methods : public ::testing::Test {
protected:
    void SetUp() override
    {
        folder = ArchiveFolder();
        if (folder.empty())
            GTEST_SKIP() << "KESTROVA_METHOD_ARCHIVES is not set";
        archives = Archives(folder);
        ASSERT_GE(archives.size(), 10u);
    }
    std::vector<dllrun::Listed> List(const std::string& archive)
    {
        dllrun::RunOptions list;
        list.list = true;
        EXPECT_EQ(0, dllrun::RunLibrary(folder + "\\" + archive, nullptr, list)) << archive;
        return dllrun::Current().listed;
    }

    std::string folder;
    std::map<std::string, std::string> archives;
};

}  // namespace

TEST_F(Unzip32Methods, EveryArchiveListsTestsAndExtractsByteForByte)
{
    for (const auto& archive : archives) {
        const std::vector<dllrun::Listed> members = List(archive.first);
        ASSERT_FALSE(members.empty()) << archive.first;
        // The listing names each member's method; the archive uses all the methods it should.
        std::istringstream ids(archive.second);
        int id = 0;
        while (ids >> id) {
            const bool named = std::any_of(
                members.begin(), members.end(), [&](const dllrun::Listed& m) { return m.method == MethodText(id); });
            EXPECT_TRUE(named) << archive.first << " lists no member as " << MethodText(id);
        }
        dllrun::RunOptions test;
        test.test = true;
        EXPECT_EQ(0, dllrun::RunLibrary(folder + "\\" + archive.first, nullptr, test)) << archive.first;

        TestFolder out;
        const std::string target = out.Child("out");
        EXPECT_EQ(0, dllrun::RunLibrary(folder + "\\" + archive.first, target.c_str())) << archive.first;
        EXPECT_FALSE(dllrun::Current().offThread) << archive.first;
        int identical = 0;
        const std::vector<std::string> differing = Compare(folder, target, members, identical);
        EXPECT_TRUE(differing.empty()) << archive.first << ": " << differing.front();
        EXPECT_EQ(static_cast<int>(members.size()), identical) << archive.first;
    }
}

TEST_F(Unzip32Methods, DamagedCopiesGiveResultTwoAndNoWrongFile)
{
    for (const auto& archive : archives) {
        const std::string base = archive.first.substr(0, archive.first.size() - 4);
        const std::vector<dllrun::Listed> members = List(archive.first);
        for (const char* variant : {".corrupt.zip", ".truncated.zip"}) {
            const std::string path = folder + "\\" + base + variant;
            if (::GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES)
                continue;
            TestFolder out;
            const std::string target = out.Child("out");
            EXPECT_EQ(2, dllrun::RunLibrary(path, target.c_str())) << base << variant;
            int identical = 0;
            const std::vector<std::string> differing = Compare(folder, target, members, identical);
            EXPECT_TRUE(differing.empty()) << base << variant << ": " << differing.front();
            EXPECT_EQ(static_cast<int>(members.size()) - 1, identical) << base << variant;
            dllrun::RunOptions test;
            test.test = true;
            EXPECT_EQ(2, dllrun::RunLibrary(path, nullptr, test)) << base << variant;
        }
    }
}

TEST_F(Unzip32Methods, MembersOverTheMemoryLimitAreSkippedWithTheReason)
{
    for (const char* name : {"over-limit-lzma.zip", "over-limit-zstd.zip"}) {
        TestFolder out;
        const std::string target = out.Child("out");
        EXPECT_EQ(1, dllrun::RunLibrary(folder + "\\" + name, target.c_str())) << name;
        std::string printed;
        for (const std::string& line : dllrun::Current().printed)
            printed += line;
        EXPECT_NE(std::string::npos, printed.find("skipping: hungry.txt (")) << printed;
        EXPECT_NE(std::string::npos, printed.find(" MiB of memory)")) << printed;
        EXPECT_FALSE(out.Exists("out\\hungry.txt")) << name;
        std::string small;
        EXPECT_TRUE(dllrun::ReadWhole(dllrun::Wide(target + "\\small.txt"), small)) << name;
        EXPECT_EQ("small and fine\n", small);
    }
}

class Unzip32Encryption : public Unzip32Methods {
protected:
    void SetUp() override
    {
        Unzip32Methods::SetUp();
        std::string text;
        dllrun::ReadWhole(dllrun::Wide(folder + "\\crypto.txt"), text);
        std::istringstream lines(text);
        std::getline(lines, password);
        std::string name;
        while (std::getline(lines, name))
            encrypted.push_back(name);
        ASSERT_EQ(6u, encrypted.size());
        g_answers = {password};
    }
    std::vector<dllrun::Listed> ListEncrypted(const std::string& archive)
    {
        dllrun::RunOptions list;
        list.list = true;
        EXPECT_EQ(0, RunWithPassword(folder + "\\" + archive, nullptr, list)) << archive;
        EXPECT_TRUE(g_asked.empty()) << archive << ": a listing needs no password";
        return dllrun::Current().listed;
    }

    std::string password;
    std::vector<std::string> encrypted;
};

TEST_F(Unzip32Encryption, RightPasswordListsTestsAndExtractsByteForByte)
{
    for (const std::string& archive : encrypted) {
        const std::vector<dllrun::Listed> members = ListEncrypted(archive);
        ASSERT_FALSE(members.empty()) << archive;
        for (const dllrun::Listed& member : members) {
            EXPECT_EQ('E', member.encrypted) << archive << ": " << member.name;
            EXPECT_NE("AES", member.method) << archive << ": the method under the encryption is named";
        }
        dllrun::RunOptions test;
        test.test = true;
        EXPECT_EQ(0, RunWithPassword(folder + "\\" + archive, nullptr, test)) << archive;
        EXPECT_EQ(members.size(), g_asked.size()) << archive;

        TestFolder out;
        const std::string target = out.Child("out");
        const std::string path = folder + "\\" + archive;
        EXPECT_EQ(0, RunWithPassword(path, target.c_str(), dllrun::RunOptions())) << archive;
        EXPECT_FALSE(dllrun::Current().offThread) << archive;
        ASSERT_EQ(members.size(), g_asked.size()) << archive;
        for (size_t i = 0; i < members.size(); ++i) {
            EXPECT_EQ(members[i].name, g_asked[i].prompt) << archive;
            EXPECT_EQ(path, g_asked[i].archive) << archive;
            EXPECT_GE(g_asked[i].size, 256) << archive;
        }
        int identical = 0;
        const std::vector<std::string> differing = Compare(folder, target, members, identical);
        EXPECT_TRUE(differing.empty()) << archive << ": " << differing.front();
        EXPECT_EQ(static_cast<int>(members.size()), identical) << archive;
    }
}

TEST_F(Unzip32Encryption, WrongOrNoPasswordSkipsEveryMemberWithResultFiveAndNoFile)
{
    for (const char* archive : {"crypto-zipcrypto.zip", "crypto-aes256.zip"}) {
        const size_t members = ListEncrypted(archive).size();
        const std::string path = folder + "\\" + archive;
        TestFolder out;
        const std::string target = out.Child("out");
        g_answers = {"wrong", password + "x", ""};
        EXPECT_EQ(5, RunWithPassword(path, target.c_str(), dllrun::RunOptions())) << archive;
        EXPECT_EQ(3 * members, g_asked.size()) << archive;
        g_answers.clear();
        EXPECT_EQ(5, RunWithPassword(path, target.c_str(), dllrun::RunOptions())) << archive;
        EXPECT_EQ(members, g_asked.size()) << archive;
        EXPECT_EQ(5, RunWithPassword(path, target.c_str(), dllrun::RunOptions(), nullptr)) << archive;
        EXPECT_EQ(0, dllrun::CountEntries(target)) << archive;
    }
}

TEST_F(Unzip32Encryption, DamagedEncryptedDataGivesResultTwoAndNoWrongFile)
{
    for (const std::string& archive : encrypted) {
        const std::vector<dllrun::Listed> members = ListEncrypted(archive);
        const std::string base = archive.substr(0, archive.size() - 4);
        TestFolder out;
        const std::string target = out.Child("out");
        EXPECT_EQ(2, RunWithPassword(folder + "\\" + base + ".corrupt.zip", target.c_str(), dllrun::RunOptions()))
            << archive;
        int identical = 0;
        const std::vector<std::string> differing = Compare(folder, target, members, identical);
        EXPECT_TRUE(differing.empty()) << archive << ": " << differing.front();
        EXPECT_EQ(static_cast<int>(members.size()) - 1, identical) << archive;
    }
    // AE-1 keeps the CRC besides the authentication code, and it is checked.
    TestFolder out;
    const std::string target = out.Child("out");
    EXPECT_EQ(2, RunWithPassword(folder + "\\crypto-ae1.badcrc.zip", target.c_str(), dllrun::RunOptions()));
    EXPECT_EQ(0, dllrun::CountEntries(target + "\\sub"));
}

// 7z archives through the library's own 7z reader (make_sevenzip_archives.py, in
// KESTROVA_SEVENZIP_ARCHIVES): one of each family of coders, damage, and names and data encrypted
// together, whose password is asked for through the callback before any member.
class Unzip32SevenZip : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* found = std::getenv("KESTROVA_SEVENZIP_ARCHIVES");
        if (found == nullptr || *found == '\0')
            GTEST_SKIP() << "KESTROVA_SEVENZIP_ARCHIVES is not set";
        folder = testsupport::FromHost(found);
        dllrun::ReadWhole(dllrun::Wide(folder + "\\password.txt"), password);
        ASSERT_FALSE(password.empty());
    }
    std::vector<dllrun::Listed> List(const std::string& archive)
    {
        dllrun::RunOptions list;
        list.list = true;
        EXPECT_EQ(0, RunWithPassword(folder + "\\" + archive, nullptr, list)) << archive;
        return dllrun::Current().listed;
    }
    // Extracts into a new folder: the result, with every file compared with its original.
    int Extract(const std::string& archive, const std::vector<dllrun::Listed>& members, int& identical,
        std::vector<std::string>& differing)
    {
        TestFolder out;
        const std::string target = out.Child("out");
        const int result = RunWithPassword(folder + "\\" + archive, target.c_str(), dllrun::RunOptions());
        differing = Compare(folder, target, members, identical);
        return result;
    }
    static int Files(const std::vector<dllrun::Listed>& members)
    {
        return static_cast<int>(std::count_if(
            members.begin(), members.end(), [](const dllrun::Listed& m) { return m.name.back() != '/'; }));
    }

    std::string folder;
    std::string password;
};

TEST_F(Unzip32SevenZip, EachFamilyListsItsMethodAndExtractsByteForByte)
{
    g_answers.clear();
    const std::pair<const char*, const char*> archives[] = {{"lzma2.7z", "LZMA2"}, {"ppmd.7z", "PPMd"},
        {"bzip2.7z", "BZip2"}, {"deflate64.7z", "Deflate64"}, {"bcj2.7z", "LZMA2 BCJ2"}};
    for (const auto& archive : archives) {
        const std::vector<dllrun::Listed> members = List(archive.first);
        ASSERT_FALSE(members.empty()) << archive.first;
        EXPECT_TRUE(std::any_of(members.begin(), members.end(),
            [&](const dllrun::Listed& m) { return m.method == archive.second; }))
            << archive.first << " lists no member as " << archive.second;
        int identical = 0;
        std::vector<std::string> differing;
        EXPECT_EQ(0, Extract(archive.first, members, identical, differing)) << archive.first;
        EXPECT_TRUE(differing.empty()) << archive.first << ": " << differing.front();
        EXPECT_EQ(Files(members), identical) << archive.first;
    }
    const std::vector<dllrun::Listed> members = List("lzma2.7z");
    int identical = 0;
    std::vector<std::string> differing;
    EXPECT_EQ(2, Extract("lzma2.corrupt.7z", members, identical, differing));
    EXPECT_TRUE(differing.empty()) << differing.front();
}

TEST_F(Unzip32SevenZip, EncryptedNamesAskForThePasswordOnceBeforeAnyMember)
{
    g_answers = {"wrong", password};
    const std::vector<dllrun::Listed> members = List("aes-headers.7z");
    ASSERT_EQ(2u, g_asked.size());
    EXPECT_EQ("aes-headers.7z", g_asked[0].prompt);
    ASSERT_FALSE(members.empty());
    for (const dllrun::Listed& member : members) {
        if (member.size > 0)
            EXPECT_EQ('E', member.encrypted) << member.name;
    }

    int identical = 0;
    std::vector<std::string> differing;
    EXPECT_EQ(0, Extract("aes-headers.7z", members, identical, differing));
    EXPECT_EQ(2u, g_asked.size());
    EXPECT_EQ(Files(members), identical);

    g_answers = {"wrong"};
    EXPECT_EQ(5, Extract("aes-headers.7z", members, identical, differing));
    EXPECT_EQ(static_cast<size_t>(3), g_asked.size());
    EXPECT_EQ(0, identical);
}
