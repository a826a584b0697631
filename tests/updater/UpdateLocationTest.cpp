#include "tests/support/RegistryFixture.h"
#include "updater/ReadSetting.h"
#include "updater/UpdateLocation.h"

#include <gtest/gtest.h>

namespace {

using updater::UpdateLocation;

class UpdateLocationTest : public testsupport::RegistryFixture {
protected:
    void SetUp() override
    {
        RegistryFixture::SetUp();
        ::SetEnvironmentVariableA(UpdateLocation::kEnvironmentVariable, nullptr);
    }
    void TearDown() override
    {
        ::SetEnvironmentVariableA(UpdateLocation::kEnvironmentVariable, nullptr);
        RegistryFixture::TearDown();
    }
};

TEST_F(UpdateLocationTest, DefaultThenRegistryThenEnvironment)
{
    EXPECT_EQ(UpdateLocation::Base(), "https://www.kestrova.org/update/");
    WriteRaw("", "Update Location", "  http://mirror.example/kestrova  ");
    EXPECT_EQ(UpdateLocation::Base(), "http://mirror.example/kestrova/");
    ::SetEnvironmentVariableA(UpdateLocation::kEnvironmentVariable, "http://localhost:8080/files/");
    EXPECT_EQ(UpdateLocation::Base(), "http://localhost:8080/files/");
    ::SetEnvironmentVariableA(UpdateLocation::kEnvironmentVariable, "   ");
    EXPECT_EQ(UpdateLocation::Base(), "http://mirror.example/kestrova/");
}

TEST_F(UpdateLocationTest, WellFormedUrls)
{
    EXPECT_TRUE(UpdateLocation::IsWellFormedUrl("https://www.kestrova.org/update/newversion.txt"));
    EXPECT_TRUE(UpdateLocation::IsWellFormedUrl("http://127.0.0.1:8765/a/update.exe"));
    EXPECT_TRUE(UpdateLocation::IsWellFormedUrl("file://server/share/newversion.txt"));
    EXPECT_FALSE(UpdateLocation::IsWellFormedUrl(""));
    EXPECT_FALSE(UpdateLocation::IsWellFormedUrl("no such place/newversion.txt"));
    EXPECT_FALSE(UpdateLocation::IsWellFormedUrl("www.kestrova.org/newversion.txt"));
    EXPECT_FALSE(UpdateLocation::IsWellFormedUrl("http:///newversion.txt"));
    EXPECT_FALSE(UpdateLocation::IsWellFormedUrl("1ttp://host/newversion.txt"));
    EXPECT_FALSE(UpdateLocation::IsWellFormedUrl("http://host/new version.txt"));
}

TEST_F(UpdateLocationTest, ReadSetting_TextValuesUntrimmedAndNothingElse)
{
    EXPECT_EQ(updater::ReadSetting("Version"), "");
    WriteRaw("", "Version", " 1.8.00 ");
    EXPECT_EQ(updater::ReadSetting("Version"), " 1.8.00 ");
    DWORD number = 5;
    ::SHSetValueA(HKEY_CURRENT_USER, kProgramKey, "FilePath", REG_DWORD, &number, sizeof number);
    EXPECT_EQ(updater::ReadSetting("FilePath"), "");
}

}  // namespace
