#pragma once
#include <windows.h>

#include <bcrypt.h>

#include "unzip32/core/Crypto.h"

namespace unzip {

// Windows' own cryptography (bcrypt.dll) for WinZip AES members and encrypted 7z archives. The
// providers are opened when first needed and closed with the object, which must outlive every
// cipher, hash and MAC it made.
class BcryptCrypto : public Crypto {
public:
    BcryptCrypto() = default;
    BcryptCrypto(const BcryptCrypto&) = delete;
    BcryptCrypto& operator=(const BcryptCrypto&) = delete;
    ~BcryptCrypto() override;

    bool DeriveKey(const uint8_t* password, size_t passwordSize, const uint8_t* salt, size_t saltSize,
        unsigned iterations, uint8_t* key, size_t keySize) override;
    std::unique_ptr<BlockCipher> CreateAes(const uint8_t* key, size_t keySize) override;
    std::unique_ptr<Mac> CreateHmacSha1(const uint8_t* key, size_t keySize) override;
    std::unique_ptr<Hash> CreateSha256() override;
    std::unique_ptr<ChainDecipher> CreateAesCbcDecipher(
        const uint8_t* key, size_t keySize, const uint8_t iv[16]) override;

private:
    BCRYPT_ALG_HANDLE Aes();
    BCRYPT_ALG_HANDLE AesCbc();
    BCRYPT_ALG_HANDLE Hmac();
    BCRYPT_ALG_HANDLE Sha256();

    BCRYPT_ALG_HANDLE aes_ = nullptr;     // AES in ECB mode
    BCRYPT_ALG_HANDLE hmac_ = nullptr;    // SHA-1 opened for HMAC (also what PBKDF2 runs on)
    BCRYPT_ALG_HANDLE aesCbc_ = nullptr;  // AES in CBC mode
    BCRYPT_ALG_HANDLE sha256_ = nullptr;
};

}  // namespace unzip
