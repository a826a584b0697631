#pragma once
// The cryptography that WinZip AES members and encrypted 7z archives need, provided by the host: the library uses Windows'
// own (bcrypt.dll), the native build for tests and fuzzing another one behind the same interface.
#include <cstddef>
#include <cstdint>
#include <memory>

namespace unzip {

// AES with one key, encrypting 16-byte blocks each on its own (ECB): the counter mode of WinZip AES
// is built on it. Used by one thread at a time.
class BlockCipher {
public:
    virtual ~BlockCipher() = default;
    // Encrypts `blocks` blocks of 16 bytes from `in` into `out` (the two do not overlap).
    virtual bool Encrypt(const uint8_t* in, uint8_t* out, size_t blocks) = 0;
};

// HMAC-SHA1 over data given in pieces. Used by one thread at a time.
class Mac {
public:
    static const size_t kSize = 20;
    virtual ~Mac() = default;
    virtual bool Update(const uint8_t* data, size_t size) = 0;
    // The code of everything given so far; the object is used up.
    virtual bool Finish(uint8_t code[kSize]) = 0;
};

// SHA-256 over data given in pieces (7z's key derivation). Used by one thread at a time.
class Hash {
public:
    static const size_t kSize = 32;
    virtual ~Hash() = default;
    virtual bool Update(const uint8_t* data, size_t size) = 0;
    // The digest of everything given so far; the object is used up.
    virtual bool Finish(uint8_t digest[kSize]) = 0;
};

// AES decryption in CBC mode (7z), the chain going on from call to call. Used by one thread at a time.
class ChainDecipher {
public:
    virtual ~ChainDecipher() = default;
    // Decrypts `blocks` blocks of 16 bytes from `in` into `out` (the same memory, or apart).
    virtual bool Decrypt(const uint8_t* in, uint8_t* out, size_t blocks) = 0;
};

// Makes the keys. Its functions are called on the calling thread only; the objects they return
// may then be used on a worker thread.
class Crypto {
public:
    virtual ~Crypto() = default;
    // PBKDF2 with HMAC-SHA1: `keySize` bytes from the password and salt.
    virtual bool DeriveKey(const uint8_t* password, size_t passwordSize, const uint8_t* salt, size_t saltSize,
        unsigned iterations, uint8_t* key, size_t keySize) = 0;
    // AES with a 16-, 24- or 32-byte key; null when it cannot be set up.
    virtual std::unique_ptr<BlockCipher> CreateAes(const uint8_t* key, size_t keySize) = 0;
    // HMAC-SHA1 with the key; null when it cannot be set up.
    virtual std::unique_ptr<Mac> CreateHmacSha1(const uint8_t* key, size_t keySize) = 0;
    // SHA-256; null when it cannot be set up.
    virtual std::unique_ptr<Hash> CreateSha256() { return nullptr; }
    // AES-CBC decryption with a 16-, 24- or 32-byte key and a 16-byte initial vector; null when it
    // cannot be set up.
    virtual std::unique_ptr<ChainDecipher> CreateAesCbcDecipher(const uint8_t* key, size_t keySize, const uint8_t iv[16])
    {
        (void)key;
        (void)keySize;
        (void)iv;
        return nullptr;
    }
};

}  // namespace unzip
