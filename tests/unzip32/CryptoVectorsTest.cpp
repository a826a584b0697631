// The host cryptography behind WinZip AES against published vectors: PBKDF2-HMAC-SHA1 (RFC 6070),
// AES (FIPS-197, appendix C), HMAC-SHA1 (RFC 2202). Built twice: under Wine with the library's
// bcrypt implementation, natively with the tests' OpenSSL one.
#ifdef _WIN32
#include "unzip32/dll/BcryptCrypto.h"
using TestedCrypto = unzip::BcryptCrypto;
#else
#include "tests/unzip32/native/OpenSslCrypto.h"
using TestedCrypto = ziptest::OpenSslCrypto;
#endif

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace {

std::string Hex(const uint8_t* data, size_t size)
{
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < size; ++i) {
        text += kDigits[data[i] >> 4];
        text += kDigits[data[i] & 15];
    }
    return text;
}

std::string Bytes(const std::string& hex)
{
    std::string bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return bytes;
}

const uint8_t* U8(const std::string& text)
{
    return reinterpret_cast<const uint8_t*>(text.data());
}

}  // namespace

TEST(HostCrypto, Pbkdf2HmacSha1MatchesRfc6070)
{
    struct Row {
        std::string password, salt;
        unsigned iterations;
        const char* expected;
    };
    const Row rows[] = {
        {"password", "salt", 1, "0c60c80f961f0e71f3a9b524af6012062fe037a6"},
        {"password", "salt", 2, "ea6c014dc72d6f8ccd1ed92ace1d41f0d8de8957"},
        {"password", "salt", 4096, "4b007901b765489abead49d926f721d065a429c1"},
        {"passwordPASSWORDpassword", "saltSALTsaltSALTsaltSALTsaltSALTsalt", 4096,
            "3d2eec4fe41c849b80c8d83662c0e44a8b291a964cf2f07038"},
        {std::string("pass\0word", 9), std::string("sa\0lt", 5), 4096, "56fa6aa75548099dcc37d7f03425e0c3"},
    };
    TestedCrypto crypto;
    for (const Row& row : rows) {
        uint8_t key[32] = {};
        const size_t size = std::string(row.expected).size() / 2;
        ASSERT_TRUE(crypto.DeriveKey(
            U8(row.password), row.password.size(), U8(row.salt), row.salt.size(), row.iterations, key, size));
        EXPECT_EQ(row.expected, Hex(key, size)) << row.password << " " << row.iterations;
    }
}

TEST(HostCrypto, AesMatchesFips197ForEachKeySize)
{
    const std::string plain = Bytes("00112233445566778899aabbccddeeff");
    const char* const expected[] = {
        "69c4e0d86a7b0430d8cdb78070b4c55a", "dda97ca4864cdfe06eaf70a0ec0d7191", "8ea2b7ca516745bfeafc49904b496089"};
    TestedCrypto crypto;
    for (size_t i = 0; i < 3; ++i) {
        std::string key;
        for (size_t k = 0; k < 16 + 8 * i; ++k)
            key += static_cast<char>(k);
        std::unique_ptr<unzip::BlockCipher> aes = crypto.CreateAes(U8(key), key.size());
        ASSERT_TRUE(aes);
        // Three blocks in one call: each is encrypted on its own (no chaining between them).
        const std::string in = plain + plain + plain;
        uint8_t out[48] = {};
        ASSERT_TRUE(aes->Encrypt(U8(in), out, 3));
        const std::string want = expected[i];
        EXPECT_EQ(want + want + want, Hex(out, sizeof out)) << key.size();
    }
}

TEST(HostCrypto, HmacSha1MatchesRfc2202InAnyPieces)
{
    struct Row {
        std::string key, data;
        const char* expected;
    };
    const Row rows[] = {
        {std::string(20, '\x0b'), "Hi There", "b617318655057264e28bc0b6fb378c8ef146be00"},
        {"Jefe", "what do ya want for nothing?", "effcdf6ae5eb2fa2d27416d5f184df9c259a7c79"},
        {std::string(80, '\xaa'), "Test Using Larger Than Block-Size Key - Hash Key First",
            "aa4ae5e15272d00e95705637ce8a3b55ed402112"},
    };
    TestedCrypto crypto;
    for (const Row& row : rows) {
        for (size_t piece : {row.data.size(), size_t(1), size_t(5)}) {
            std::unique_ptr<unzip::Mac> mac = crypto.CreateHmacSha1(U8(row.key), row.key.size());
            ASSERT_TRUE(mac);
            for (size_t at = 0; at < row.data.size(); at += piece)
                ASSERT_TRUE(mac->Update(U8(row.data) + at, std::min(piece, row.data.size() - at)));
            uint8_t code[unzip::Mac::kSize] = {};
            ASSERT_TRUE(mac->Finish(code));
            EXPECT_EQ(row.expected, Hex(code, sizeof code)) << row.data << " in pieces of " << piece;
        }
    }
}
