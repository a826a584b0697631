#include "framework/Text.h"

#include <windows.h>

#include <gtest/gtest.h>

// In code page 1252 (the test prefix's) the exact form refuses what the code page holds only as a
// look-alike ("a" for U+0101) or not at all, where the shown form gives the look-alike or '?'.
TEST(Text, NarrowExactRefusesWhatTheCodePageHoldsOnlyAsALookAlike)
{
    if (::GetACP() != 1252)
        GTEST_SKIP() << "the cases are those of code page 1252";
    std::string ansi;
    EXPECT_TRUE(fw::NarrowExact(L"Caf\x00E9 \x2026", ansi));
    EXPECT_EQ(ansi, "Caf\xE9 \x85");
    EXPECT_FALSE(fw::NarrowExact(L"\x0101.zip", ansi));
    EXPECT_EQ(ansi, "") << "nothing is left of a name that does not convert";
    EXPECT_FALSE(fw::NarrowExact(L"\x4E2D.zip", ansi));
    EXPECT_EQ(fw::Narrow(L"\x0101.zip"), "a.zip");
    EXPECT_EQ(fw::Narrow(L"\x4E2D.zip"), "?.zip");
}
