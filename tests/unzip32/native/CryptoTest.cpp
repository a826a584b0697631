// Encrypted members through the core under the sanitizers, with the tests' OpenSSL cryptography:
// 7z's ZipCrypto and AES archives (tests/unzip32/make_method_archives.py, folder in
// KESTROVA_METHOD_ARCHIVES) inline and on worker threads, the password asked again after a wrong
// one, the encryptions that are refused, and a typed password tried in the locale's code pages.
#include "tests/unzip32/native/OpenSslCrypto.h"
#include "tests/support/IconvNameCodec.h"
#include "tests/unzip32/CountingHost.h"
#include "tests/support/ZipBuilder.h"
#include "unzip32/core/Extractor.h"
#include "unzip32/core/StdWorkerThreads.h"

#include <gtest/gtest.h>
#include <zlib.h>

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

// A stored member encrypted with PKWARE's traditional encryption under `password` (bytes as given).
Member ZipCryptoMember(const std::string& name, const std::string& password, const std::string& data)
{
    const z_crc_t* table = get_crc_table();
    uint32_t keys[3] = {0x12345678, 0x23456789, 0x34567890};
    auto update = [&](uint8_t plain) {
        keys[0] = static_cast<uint32_t>(table[(keys[0] ^ plain) & 0xFF]) ^ (keys[0] >> 8);
        keys[1] = (keys[1] + (keys[0] & 0xFF)) * 134775813u + 1;
        keys[2] = static_cast<uint32_t>(table[(keys[2] ^ (keys[1] >> 24)) & 0xFF]) ^ (keys[2] >> 8);
    };
    for (char c : password)
        update(static_cast<uint8_t>(c));
    Member member(name, data, 0);
    member.flags = 0x0001;
    const std::string plain = std::string(11, '\x5A') + static_cast<char>(ziptest::Crc(data) >> 24) + data;
    for (char c : plain) {
        const uint32_t t = (keys[2] | 2) & 0xFFFF;
        member.rawPacked += static_cast<char>(static_cast<uint8_t>(c) ^ static_cast<uint8_t>((t * (t ^ 1)) >> 8));
        update(static_cast<uint8_t>(c));
    }
    return member;
}

// A stored WinZip AES-128 member (AE-2) under `password` (bytes as given).
Member AesMember(const std::string& name, const std::string& password, const std::string& data)
{
    ziptest::OpenSslCrypto crypto;
    const std::string salt = "saltsalt";
    uint8_t derived[34];
    EXPECT_TRUE(crypto.DeriveKey(reinterpret_cast<const uint8_t*>(password.data()), password.size(),
        reinterpret_cast<const uint8_t*>(salt.data()), salt.size(), 1000, derived, sizeof derived));
    std::unique_ptr<BlockCipher> aes = crypto.CreateAes(derived, 16);
    std::string cipher = data;
    for (size_t block = 0; block * 16 < cipher.size(); ++block) {
        uint8_t counter[16] = {static_cast<uint8_t>(block + 1)};
        uint8_t stream[16];
        aes->Encrypt(counter, stream, 1);
        for (size_t i = block * 16; i < cipher.size() && i < block * 16 + 16; ++i)
            cipher[i] = static_cast<char>(static_cast<uint8_t>(cipher[i]) ^ stream[i % 16]);
    }
    std::unique_ptr<Mac> mac = crypto.CreateHmacSha1(derived + 16, 16);
    uint8_t code[Mac::kSize];
    mac->Update(reinterpret_cast<const uint8_t*>(cipher.data()), cipher.size());
    mac->Finish(code);
    Member member(name, data, 99);
    member.flags = 0x0001;
    member.declaredCrc = 0;
    member.centralExtra = member.localExtra = ziptest::Extra(0x9901, ziptest::Le16(2) + "AE\x01" + ziptest::Le16(0));
    member.rawPacked = salt + std::string(reinterpret_cast<const char*>(derived + 32), 2) + cipher +
        std::string(reinterpret_cast<const char*>(code), 10);
    return member;
}

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

// A password typed in Russian, stored by older writers in the OEM (CP866) or ANSI (CP1251) page:
// the one answer opens both members, one prompt each; a wrong one is still asked for three times.
TEST(EncryptionForms, TypedPasswordIsTriedInTheLocalesPages_OnePromptCoversAllForms)
{
    const kvtest::IconvNameCodec russian(866, 1251);
    std::string oem;
    std::string ansi;
    ASSERT_TRUE(russian.FromUtf8(866, "пароль", oem) && russian.FromUtf8(1251, "пароль", ansi));
    Archive archive;
    archive.members = {ZipCryptoMember("zipcrypto.txt", oem, "traditional"), AesMember("aes.txt", ansi, "advanced")};
    const std::string bytes = archive.Build();
    for (const char* typed : {"пароль", "неверно"}) {
        PasswordHost host;
        host.names = &russian;
        host.answers = {typed};
        MemorySource source(bytes.data(), bytes.size());
        const ExtractReport r = Extract(source, host, ExtractOptions());
        if (std::string(typed) == "пароль") {
            EXPECT_EQ(2, r.extracted);
            EXPECT_EQ(2, host.asked);
            EXPECT_EQ("traditional", host.files["zipcrypto.txt"]);
            EXPECT_EQ("advanced", host.files["aes.txt"]);
        } else {
            EXPECT_EQ(2, r.skippedEncrypted);
            EXPECT_EQ(2 * kPasswordAsks, host.asked);
        }
    }
}
