#include "unzip32/core/Xxh64Stream.h"

#include <algorithm>
#include <cstring>

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#include <emmintrin.h>
#define KV_XXH64_SSE2 1
#endif

namespace unzip {

namespace {

#if KV_XXH64_SSE2
bool ProcessorHasSse2()
{
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    return __get_cpuid(1, &eax, &ebx, &ecx, &edx) && (edx & bit_SSE2) != 0;
}

const uint64_t kPrime1 = 0x9E3779B185EBCA87ull;
const uint64_t kPrime2 = 0xC2B2AE3D27D4EB4Full;

// The low 64 bits of each lane of `a` times the constant whose halves are `low` and `high`:
// low(a) * low + ((high(a) * low + low(a) * high) << 32).
#define KV_MUL64(a, low, high)                                                                                         \
    _mm_add_epi64(_mm_mul_epu32((a), (low)),                                                                           \
        _mm_slli_epi64(_mm_add_epi64(_mm_mul_epu32(_mm_srli_epi64((a), 32), (low)), _mm_mul_epu32((a), (high))), 32))

// One XXH64 round on the four lanes, two in each register, for every stripe:
// lane = rotl(lane + input * prime2, 31) * prime1.
__attribute__((target("sse2"))) void StripesSse2(uint64_t* lanes, const uint8_t* data, size_t stripes)
{
    const __m128i prime1Low = _mm_set1_epi32(static_cast<int>(kPrime1 & 0xffffffffu));
    const __m128i prime1High = _mm_set1_epi32(static_cast<int>(kPrime1 >> 32));
    const __m128i prime2Low = _mm_set1_epi32(static_cast<int>(kPrime2 & 0xffffffffu));
    const __m128i prime2High = _mm_set1_epi32(static_cast<int>(kPrime2 >> 32));
    __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(lanes));
    __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(lanes + 2));
    for (; stripes > 0; --stripes, data += 32) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data));
        const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16));
        a = _mm_add_epi64(a, KV_MUL64(x, prime2Low, prime2High));
        b = _mm_add_epi64(b, KV_MUL64(y, prime2Low, prime2High));
        a = _mm_or_si128(_mm_slli_epi64(a, 31), _mm_srli_epi64(a, 33));
        b = _mm_or_si128(_mm_slli_epi64(b, 31), _mm_srli_epi64(b, 33));
        a = KV_MUL64(a, prime1Low, prime1High);
        b = KV_MUL64(b, prime1Low, prime1High);
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(lanes), a);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(lanes + 2), b);
}
#undef KV_MUL64
#endif

// SSE2 only pays where 64-bit products are not native.
#if KV_XXH64_SSE2 && defined(__i386__)
const bool kUseSse2 = ProcessorHasSse2();
#else
const bool kUseSse2 = false;
#endif

}  // namespace

bool Xxh64Stream::UpdateStripesSse2(CXxh64State& state, const uint8_t* data, size_t stripes)
{
#if KV_XXH64_SSE2
    if (!ProcessorHasSse2())
        return false;
    StripesSse2(state.v, data, stripes);
    return true;
#else
    (void)state;
    (void)data;
    (void)stripes;
    return false;
#endif
}

void Xxh64Stream::Reset()
{
    Xxh64State_Init(&state_);
    count_ = 0;
}

void Xxh64Stream::Stripes(const uint8_t* data, size_t stripes)
{
#if KV_XXH64_SSE2
    if (kUseSse2) {
        StripesSse2(state_.v, data, stripes);
        return;
    }
#endif
    Xxh64State_UpdateBlocks(&state_, data, data + stripes * kStripe);
}

void Xxh64Stream::Update(const uint8_t* data, size_t size)
{
    if (size == 0)
        return;
    const size_t held = static_cast<size_t>(count_ % kStripe);
    count_ += size;
    if (held > 0) {
        const size_t part = std::min(size, kStripe - held);
        std::memcpy(tail_ + held, data, part);
        data += part;
        size -= part;
        if (held + part < kStripe)
            return;
        Stripes(tail_, 1);
    }
    const size_t stripes = size / kStripe;
    if (stripes > 0)
        Stripes(data, stripes);
    std::memcpy(tail_, data + stripes * kStripe, size - stripes * kStripe);
}

}  // namespace unzip
