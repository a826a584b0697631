// Encrypted members through the core under the sanitizers, with the tests' OpenSSL cryptography:
// 7z's ZipCrypto and AES archives (tests/unzip32/make_method_archives.py, folder in
// KESTROVA_METHOD_ARCHIVES) inline and on worker threads, the password asked again after a wrong
// one, and the encryptions that are refused.
#include "tests/unzip32/native/OpenSslCrypto.h"
#include "tests/unzip32/CountingHost.h"
#include "tests/support/ZipBuilder.h"
#include "unzip32/core/Extractor.h"
#include "unzip32/core/StdWorkerThreads.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

using namespace unzip;
using ziptest::Archive;
using ziptest::CountingHost;
using ziptest::Member;

namespace {

// Answers the password questions from `answers` in turn, over and over (none: no password).
class PasswordHost : public CountingHost {
public:
    bool Password(const std::string&, Secret& password) override
    {
        if (answers.empty())
            return false;
        const std::string& answer = answers[static_cast<size_t>(asked++) % answers.size()];
        password.Assign(answer.data(), answer.size());
        return true;
    }
    Crypto* Cryptography() override { return withCrypto ? &crypto : nullptr; }

    std::vector<std::string> answers;
    bool withCrypto = true;
    int asked = 0;
    ziptest::OpenSslCrypto crypto;
};

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

ExtractReport Unpack(const std::string& bytes, PasswordHost& host, unsigned threads = 0)
{
    MemorySource source(bytes.data(), bytes.size());
    StdWorkerThreads workers;
    ExtractOptions options;
    options.threads = threads;
    options.workers = threads > 0 ? &workers : nullptr;
    return Extract(source, host, options);
}

class Encryption : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* found = std::getenv("KESTROVA_METHOD_ARCHIVES");
        if (found == nullptr)
            GTEST_SKIP() << "KESTROVA_METHOD_ARCHIVES is not set";
        folder = found;
        std::istringstream lines(ReadFile(folder + "/crypto.txt"));
        std::getline(lines, password);
        std::string name;
        while (std::getline(lines, name))
            archives.push_back(name);
        ASSERT_EQ(6u, archives.size());
    }
    std::string Original(const std::string& name) { return ReadFile(folder + "/files/" + name); }

    std::string folder;
    std::string password;
    std::vector<std::string> archives;
};

}  // namespace

// The DLL tests check results and files in detail; here every decryption (and its damaged copy)
// runs inline and on workers under the sanitizers.
TEST_F(Encryption, ArchivesOf7zExtractWithThePasswordInlineAndOnWorkers)
{
    for (const std::string& name : archives) {
        for (unsigned threads : {0u, 2u}) {
            PasswordHost host;
            host.answers = {password};
            const ExtractReport r = Unpack(ReadFile(folder + "/" + name), host, threads);
            EXPECT_EQ(r.members, r.extracted) << name;
            EXPECT_EQ(r.members, host.asked) << name;  // once per member
            for (const auto& file : host.files)
                EXPECT_TRUE(file.second == Original(file.first)) << name << ": " << file.first;
            PasswordHost damaged;
            damaged.answers = {password};
            EXPECT_EQ(1,
                Unpack(ReadFile(folder + "/" + name.substr(0, name.size() - 4) + ".corrupt.zip"), damaged, threads)
                    .damaged)
                << name;
        }
    }
}

TEST_F(Encryption, WrongPasswordsAreAskedForThreeTimesThenTheMemberIsSkipped)
{
    for (const std::string& name : {archives[0], archives[4]}) {
        PasswordHost host;
        host.answers = {"wrong", "", password};
        ExtractReport r = Unpack(ReadFile(folder + "/" + name), host);
        EXPECT_EQ(r.members, r.extracted) << name;
        EXPECT_EQ(3 * r.members, host.asked) << name;

        PasswordHost refused;
        refused.answers = {"wrong"};
        r = Unpack(ReadFile(folder + "/" + name), refused);
        EXPECT_EQ(r.members, r.skippedEncrypted) << name;
        EXPECT_EQ(3 * r.members, refused.asked) << name;
        EXPECT_TRUE(refused.files.empty() && refused.abandoned == 0) << name;  // nothing was even created
        EXPECT_EQ(static_cast<size_t>(r.members), refused.LinesWith("(encrypted member, wrong password)")) << name;
    }
}

TEST(EncryptionRefused, StrongEncryptionEncryptedDirectoryAndAesWithoutCryptographyAreUnsupported_CutIsDamaged)
{
    Archive a;
    Member strong;
    strong.name = "strong.txt";
    strong.data = "data";
    strong.flags = 0x0041;
    Member masked = strong;
    masked.name = "masked.txt";
    masked.flags = 0x2001;
    Member aes;
    aes.name = "aes.txt";
    aes.data = std::string(40, 'x');
    aes.method = 99;
    aes.flags = 0x0001;
    aes.centralExtra = std::string(
        "\x01\x99\x07\x00\x02\x00"
        "AE\x03\x00\x00",
        11);
    Member cut = strong;  // too short for the 12-byte encryption header
    cut.name = "cut.txt";
    cut.flags = 0x0001;
    a.members = {strong, masked, aes, cut};
    const std::string bytes = a.Build();
    MemorySource source(bytes.data(), bytes.size());
    PasswordHost host;
    host.answers = {"password"};
    host.withCrypto = false;
    const ExtractReport r = Extract(source, host, ExtractOptions());
    EXPECT_EQ(3, r.skippedUnsupported);
    EXPECT_EQ(1, r.damaged);
    EXPECT_EQ(2, host.asked);  // for the AES member and the cut one only
    EXPECT_EQ(1u, host.LinesWith("strong.txt (strong encryption is not supported)"));
    EXPECT_EQ(1u, host.LinesWith("masked.txt (encrypted central directory is not supported)"));
    EXPECT_EQ(1u, host.LinesWith("aes.txt (AES encryption is not available)"));
}
