#include "unzip32/core/Xxh64Stream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

namespace {

using unzip::Xxh64Stream;

std::vector<uint8_t> RandomBytes(size_t count)
{
    std::mt19937 random(7);
    std::vector<uint8_t> bytes(count);
    for (uint8_t& byte : bytes)
        byte = static_cast<uint8_t>(random());
    return bytes;
}

}  // namespace

// XXH64 of data given in pieces of any size is what 7-Zip's code gives for the whole, whether the
// stripes go through SSE2 (the 32-bit build) or not, at any alignment; the SSE2 stripes give 7-Zip's
// lanes from every start within a stripe.
TEST(Xxh64Stream, PiecesOfAnySizeGiveTheHashOfTheWhole)
{
    const std::vector<uint8_t> data = RandomBytes(300001);
    for (size_t length : {0, 1, 31, 32, 33, 63, 64, 65, 1000, 300000}) {
        CXxh64 whole;
        Xxh64_Init(&whole);
        Xxh64_Update(&whole, data.data() + 1, length);
        const uint64_t expected = Xxh64_Digest(&whole);
        for (size_t piece : {1, 7, 32, 4099, 1 << 20}) {
            Xxh64Stream stream;
            stream.Update(data.data(), 0);
            for (size_t at = 0; at < length; at += piece)
                stream.Update(data.data() + 1 + at, std::min(piece, length - at));
            EXPECT_EQ(expected, stream.Digest()) << length << " in pieces of " << piece;
            stream.Reset();
            stream.Update(data.data() + 1, length);
            EXPECT_EQ(expected, stream.Digest()) << length << " again";
        }
    }
    Xxh64Stream empty;
    EXPECT_EQ(0xEF46DB3751D8E999ull, empty.Digest());

    for (size_t start = 0; start < 32; ++start) {
        CXxh64State ours, theirs;
        Xxh64State_Init(&ours);
        Xxh64State_Init(&theirs);
        if (!Xxh64Stream::UpdateStripesSse2(ours, data.data() + start, 9000))
            GTEST_SKIP() << "no SSE2";
        Xxh64State_UpdateBlocks(&theirs, data.data() + start, data.data() + start + 9000 * 32);
        EXPECT_EQ(0, std::memcmp(ours.v, theirs.v, sizeof ours.v)) << start;
    }
}
