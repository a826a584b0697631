// The signature check on real files, with the tests' key (the one these test programs trust).
#include "tests/support/TestFolder.h"
#include "tests/support/TestSupport.h"
#include "tests/updater/UpdaterTestSupport.h"
#include "updater/UpdateSignature.h"
#include "updater/VersionFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace {

using updater::UpdateSignature;

const char kVersion[] = "1.8.00";

bool Verify(const std::string& path, const std::string& signaturePath, const std::string& version = kVersion)
{
    return UpdateSignature::Verify(path, version, signaturePath, updater::kTrustedUpdateKey);
}

// Larger than one read of the check, so that the digest spans several.
TEST(UpdateSignatureTest, OnlyTheExactSignatureOfTheExactFileAndVersionHolds)
{
    testsupport::TestFolder folder;
    const std::string program = updatertest::FakeProgram(200000, 's');
    const std::string signature = updatertest::TestSignature(kVersion, program);
    ASSERT_EQ(signature.size(), UpdateSignature::kSignatureSize);
    std::string path = folder.Child("update.exe");
    std::string signaturePath = folder.Child("update.sig");
    ASSERT_TRUE(testsupport::WriteFileBytes(path, program));
    ASSERT_TRUE(testsupport::WriteFileBytes(signaturePath, signature));
    EXPECT_TRUE(Verify(path, signaturePath));
    // The version is signed with the program: an old signed program does not pass as a new version.
    for (const char* version : {"1.9.00", "1.8.0", "1.8.00\r\n", ""}) {
        SCOPED_TRACE(version);
        EXPECT_FALSE(Verify(path, signaturePath, version));
    }

    std::string flipped = signature;
    flipped[40] = static_cast<char>(flipped[40] ^ 0x01);
    struct Case {
        const char* what;
        std::string signature;
    } wrongSignatures[] = {
        {"one bit flipped", flipped},
        {"one byte short", signature.substr(0, 63)},
        {"a line break after it", signature + "\n"},
        {"empty", ""},
        {"an error page", "<html><body>404 Not Found</body></html>"},
        {"of other bytes", updatertest::TestSignature(kVersion, program + "x")},
    };
    for (const Case& c : wrongSignatures) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(testsupport::WriteFileBytes(signaturePath, c.signature));
        EXPECT_FALSE(Verify(path, signaturePath));
    }

    ASSERT_TRUE(testsupport::WriteFileBytes(signaturePath, signature));
    std::string tampered = program;
    tampered[150000] = static_cast<char>(tampered[150000] + 1);
    ASSERT_TRUE(testsupport::WriteFileBytes(path, tampered));
    EXPECT_FALSE(Verify(path, signaturePath)) << "one byte of the program changed";
    ASSERT_TRUE(testsupport::WriteFileBytes(path, program + "MZ"));
    EXPECT_FALSE(Verify(path, signaturePath)) << "bytes appended to the program";

    ASSERT_TRUE(testsupport::WriteFileBytes(path, program));
    EXPECT_FALSE(Verify(path, folder.Child("none.sig"))) << "no signature file";
    EXPECT_FALSE(Verify(folder.Child("none.exe"), signaturePath)) << "no program file";
    unsigned char otherKey[UpdateSignature::kPublicKeySize];
    std::copy(updater::kTrustedUpdateKey, updater::kTrustedUpdateKey + sizeof otherKey, otherKey);
    otherKey[63] = static_cast<unsigned char>(otherKey[63] ^ 0x01);
    EXPECT_FALSE(UpdateSignature::Verify(path, kVersion, signaturePath, otherKey))
        << "another key (not even on the curve)";
}

// The signing script's output (openssl's signature turned into r and s) is what the check takes:
// the build signs its test copy of kvupdate with scripts/sign-update.sh, for the version file beside
// it ("1.8.00" and a line break: the line break lies beyond the six bytes of the version text).
TEST(UpdateSignatureTest, ASignatureMadeByTheSigningScriptHolds)
{
    std::string folder = updatertest::TestKeyFolder();
    ASSERT_TRUE(testsupport::FileExists(folder + "kvupdate.sig")) << folder;
    std::string version = updater::VersionFile::ReadVersionText(folder + "newversion.txt");
    EXPECT_EQ(version, kVersion);
    EXPECT_TRUE(Verify(folder + "kvupdate.exe", folder + "kvupdate.sig", version));
    EXPECT_FALSE(Verify(folder + "kvupdate.exe", folder + "kvupdate.sig", "1.8.01"));

    testsupport::TestFolder copy;
    std::string program;
    ASSERT_TRUE(testsupport::ReadFileBytes(folder + "kvupdate.exe", program));
    program[program.size() / 2] = static_cast<char>(program[program.size() / 2] ^ 0x20);
    ASSERT_TRUE(testsupport::WriteFileBytes(copy.Child("kvupdate.exe"), program));
    EXPECT_FALSE(Verify(copy.Child("kvupdate.exe"), folder + "kvupdate.sig"));
}

}  // namespace
