// Path sanitising, mask matching and the compression factor.
#include "unzip32/core/Extractor.h"
#include "unzip32/core/Mask.h"
#include "unzip32/core/NameDecoder.h"
#include "unzip32/core/SafePath.h"

#include <gtest/gtest.h>

namespace {

using unzip::MakeSafe;
using unzip::MatchMask;

TEST(SafePath, HostileNames_AreRefused)
{
    for (const char* name :
        {"../evil.txt", "a/../../evil.txt", "a\\..\\evil", "/etc/passwd", "\\windows\\x", "C:\\x.txt", "c:x.txt",
            "\\\\server\\share\\x", "\\\\?\\C:\\x", "//server/x", "", "...", "a/ . /b", "./", "/"}) {
        EXPECT_TRUE(MakeSafe(name).refused) << name;
    }
}

TEST(SafePath, OddNames_AreMadeSafeInsideTheTarget)
{
    struct Row {
        const char* name;
        std::vector<std::string> parts;
    };
    const std::vector<Row> rows = {
        {"dir/sub\\file.txt", {"dir", "sub", "file.txt"}},
        {"./a//b/", {"a", "b"}},
        {"file.txt:stream", {"file.txt_stream"}},
        {"a<b>c|d\"e?f*g", {"a_b_c_d_e_f_g"}},
        {"ctl\x01"
         "x",
            {"ctl_x"}},
        {"trailing. . ", {"trailing"}},
        {"dots.../x", {"dots", "x"}},
        {"CON", {"_CON"}},
        {"sub/nul.txt", {"sub", "_nul.txt"}},
        {"com1.tar.gz", {"_com1.tar.gz"}},
        {"LPT9", {"_LPT9"}},
        {"console", {"console"}},
        {"COM10", {"COM10"}},
    };
    for (const Row& row : rows) {
        unzip::SafeName safe = MakeSafe(row.name);
        EXPECT_FALSE(safe.refused) << row.name;
        EXPECT_EQ(row.parts, safe.parts) << row.name;
    }
}

TEST(Mask, WildcardsOverTheWholeName)
{
    EXPECT_TRUE(MatchMask("*.bak", "x.bak", false));
    EXPECT_TRUE(MatchMask("*.bak", "sub/deep/x.bak", false));
    EXPECT_FALSE(MatchMask("*.bak", "x.bak.txt", false));
    EXPECT_TRUE(MatchMask("a?c", "abc", false));
    EXPECT_FALSE(MatchMask("a?c", "ac", false));
    EXPECT_TRUE(MatchMask("sub\\*", "sub/x", false));
    EXPECT_TRUE(MatchMask("sub/*", "sub\\x", false));
    EXPECT_TRUE(MatchMask("*", "", false));
    EXPECT_TRUE(MatchMask("", "", false));
    EXPECT_FALSE(MatchMask("", "a", false));
    EXPECT_TRUE(MatchMask("**a*b*c**", "xxaxxbxxcxx", false));
    // UTF-8: '?' is one character of two, three or four bytes.
    EXPECT_TRUE(MatchMask("?.txt", "Ж.txt", false, true));
    EXPECT_TRUE(MatchMask("?_?", "写_😀", false, true));
    EXPECT_FALSE(MatchMask("?.txt", "ЖЖ.txt", false, true));
    EXPECT_TRUE(MatchMask("*?ото", "Фото", false, true));
    EXPECT_FALSE(MatchMask("?.txt", "Ж.txt", false)) << "bytes without the UTF-8 setting";
}

TEST(Mask, CaseFlag)
{
    EXPECT_FALSE(MatchMask("*.BAK", "x.bak", false));
    EXPECT_TRUE(MatchMask("*.BAK", "x.bak", true));
}

TEST(Mask, ManyStars_StayFast)
{
    const std::string name(20000, 'a');
    EXPECT_FALSE(MatchMask("*a*a*a*a*a*a*a*a*b", name, false));
}

TEST(NameDecoder, Cp437AndUtf8Checks)
{
    EXPECT_EQ("\xC2\xA3\xC3\x9F", unzip::Cp437ToUtf8("\x9c\xe1"));
    EXPECT_TRUE(unzip::IsValidUtf8("\xE4\xB8\x96"));
    EXPECT_FALSE(unzip::IsValidUtf8("\xC0\xAF")) << "overlong '/'";
    EXPECT_FALSE(unzip::IsValidUtf8("\xED\xA0\x80")) << "a surrogate";
}

TEST(CompressionFactor, ShareSavedInWholePercent)
{
    EXPECT_EQ(0u, unzip::CompressionFactor(0, 0));
    EXPECT_EQ(0u, unzip::CompressionFactor(100, 100));
    EXPECT_EQ(0u, unzip::CompressionFactor(100, 120));
    EXPECT_EQ(58u, unzip::CompressionFactor(1000, 419));
    EXPECT_EQ(99u, unzip::CompressionFactor(1000000, 1));
    EXPECT_EQ(50u, unzip::CompressionFactor(10000000000ull, 5000000000ull)) << "no overflow past 4 GiB";
}

}  // namespace
