#pragma once
#include <7zTypes.h>
#include <Xxh64.h>

#include <cstddef>
#include <cstdint>

namespace unzip {

// XXH64 (seed 0) of data given in pieces of any size, as Zstandard's frame checksums take it. The
// 32-byte stripes go through SSE2 in the 32-bit x86 build where the processor has it: there each
// of XXH64's 64-bit products costs three 32-bit ones, and the SSE2 lanes take them two at a time,
// about three times as fast as 7-Zip's C code. Elsewhere 7-Zip's code takes them.
class Xxh64Stream {
public:
    Xxh64Stream() { Reset(); }
    void Reset();
    void Update(const uint8_t* data, size_t size);
    uint64_t Digest() const { return Xxh64State_Digest(&state_, tail_, count_); }

    // The stripes through SSE2 whatever the build (for tests): false where the processor or the
    // build has no SSE2.
    static bool UpdateStripesSse2(CXxh64State& state, const uint8_t* data, size_t stripes);

private:
    static const size_t kStripe = Z7_XXH64_BLOCK_SIZE;
    void Stripes(const uint8_t* data, size_t stripes);

    CXxh64State state_;
    uint64_t count_;
    uint8_t tail_[kStripe];  // the bytes after the last whole stripe
};

}  // namespace unzip
