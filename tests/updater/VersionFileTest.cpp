#include "tests/support/TestSupport.h"
#include "updater/VersionFile.h"

#include <gtest/gtest.h>

namespace {

TEST(VersionFile, FirstSixBytesUpToAZeroByte)
{
    testsupport::TestFolder folder;
    struct Row {
        std::string content;
        std::string expected;
    } rows[] = {
        {"1.8.00", "1.8.00"},
        {"1.8.00\r\nRelease notes", "1.8.00"},
        {"1.01\r\n", "1.01\r\n"},
        {std::string("1.8\0abc", 7), "1.8"},
        // Shorter than six bytes: only what the file holds.
        {"1.9", "1.9"},
        {"", ""},
    };
    for (const Row& row : rows) {
        std::string path = folder.Child("newversion.txt");
        ASSERT_TRUE(testsupport::WriteFileBytes(path, row.content));
        EXPECT_EQ(updater::VersionFile::ReadVersionText(path), row.expected) << row.content;
    }
    EXPECT_EQ(updater::VersionFile::ReadVersionText(folder.Child("missing.txt")), "");
}

TEST(VersionFile, CompareTakesThePartsAsNumbers)
{
    using updater::VersionFile;
    EXPECT_LT(VersionFile::Compare("1.9.00", "1.10.00"), 0);
    EXPECT_GT(VersionFile::Compare("1.8.01", "1.8.00"), 0);
    EXPECT_EQ(VersionFile::Compare("1.8.01", "1.8.1"), 0);
    EXPECT_EQ(VersionFile::Compare("1.8", "1.8.00\r\n"), 0);
    EXPECT_LT(VersionFile::Compare("", "0.1"), 0);
    EXPECT_GT(VersionFile::Compare("99999999999999999999.0", "9999999999999999999.9"), 0);
}

}  // namespace
