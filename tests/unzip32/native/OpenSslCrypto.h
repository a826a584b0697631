#pragma once
// The core's cryptography for the native build (tests and fuzzer), from OpenSSL's libcrypto; the
// library itself uses Windows' own (unzip32/dll/BcryptCrypto).
#include "unzip32/core/Crypto.h"

namespace ziptest {

class OpenSslCrypto : public unzip::Crypto {
public:
    bool DeriveKey(const uint8_t* password, size_t passwordSize, const uint8_t* salt, size_t saltSize,
        unsigned iterations, uint8_t* key, size_t keySize) override;
    std::unique_ptr<unzip::BlockCipher> CreateAes(const uint8_t* key, size_t keySize) override;
    std::unique_ptr<unzip::Mac> CreateHmacSha1(const uint8_t* key, size_t keySize) override;
    std::unique_ptr<unzip::Hash> CreateSha256() override;
    std::unique_ptr<unzip::ChainDecipher> CreateAesCbcDecipher(
        const uint8_t* key, size_t keySize, const uint8_t iv[16]) override;
};

}  // namespace ziptest
