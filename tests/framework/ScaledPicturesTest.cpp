#include "framework/ScaledPictures.h"

#include <gtest/gtest.h>

namespace {

using fw::ScaledPictures;

// Each set from its own DPI up to the midpoint with the next (a tie keeps the smaller set); the
// first below 96, the last above 192.
TEST(ScaledPictures, SetForTakesTheNearestSetAndTheSmallerOnATie)
{
    const struct {
        UINT dpi;
        int set;
    } cases[] = {
        {0, 0}, {72, 0}, {96, 0}, {107, 0}, {108, 0}, {109, 1}, {120, 1}, {132, 1}, {133, 2}, {144, 2},
        {168, 2}, {169, 3}, {192, 3}, {240, 3}, {288, 3}, {480, 3},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ScaledPictures::SetFor(c.dpi), c.set) << c.dpi << " DPI";
    for (int set = 0; set < ScaledPictures::kSets; ++set)
        EXPECT_EQ(ScaledPictures::SetFor(ScaledPictures::kSetDpi[set]), set);
}

TEST(ScaledPictures, PictureIdsOfASetAreTheBaseIdsPlusAThousandPerSet)
{
    EXPECT_EQ(ScaledPictures::PictureId(142, 0), 142);
    EXPECT_EQ(ScaledPictures::PictureId(142, 1), 1142);
    EXPECT_EQ(ScaledPictures::PictureId(170, 3), 3170);
}

// The metrics of the design at 96 DPI, and twice them at 192 (what the window icons are loaded at).
TEST(ScaledPictures, IconSizesFollowTheDpi)
{
    EXPECT_EQ(ScaledPictures::IconSize(96, true), 32);
    EXPECT_EQ(ScaledPictures::IconSize(96, false), 16);
    EXPECT_EQ(ScaledPictures::IconSize(192, true), 64);
    EXPECT_EQ(ScaledPictures::IconSize(192, false), 32);
}

}  // namespace
