#include "unzip32/dll/BcryptCrypto.h"

#include <cstring>
#include <utility>

namespace unzip {

namespace {

// bcrypt takes 32-bit sizes: larger pieces go in several calls.
const size_t kLargestPiece = 1u << 30;

// Owns a key or hash object from the moment bcrypt makes it.
template <NTSTATUS(WINAPI* destroy)(BCRYPT_HANDLE)> struct Destroy {
    void operator()(BCRYPT_HANDLE object) const { destroy(object); }
};
using OwnedKey = std::unique_ptr<void, Destroy<&::BCryptDestroyKey>>;
using OwnedHash = std::unique_ptr<void, Destroy<&::BCryptDestroyHash>>;

// Hash data in pieces of at most kLargestPiece bytes.
bool HashData(BCRYPT_HASH_HANDLE hash, const uint8_t* data, size_t size)
{
    while (size > 0) {
        const ULONG piece = static_cast<ULONG>(size < kLargestPiece ? size : kLargestPiece);
        if (!BCRYPT_SUCCESS(::BCryptHashData(hash, const_cast<PUCHAR>(data), piece, 0)))
            return false;
        data += piece;
        size -= piece;
    }
    return true;
}

// Encrypts or decrypts whole blocks in pieces of at most kLargestPiece bytes. ECB needs neither an
// initialisation vector nor padding; in CBC bcrypt leaves the last cipher block in `iv`, so the chain
// goes on with the next call.
bool CryptBlocks(BCRYPT_KEY_HANDLE key, bool decrypt, const uint8_t* in, uint8_t* out, size_t blocks, UCHAR* iv,
    ULONG ivSize)
{
    size_t left = 16 * blocks;
    while (left > 0) {
        const ULONG piece = static_cast<ULONG>(left < kLargestPiece ? left : kLargestPiece);
        ULONG done = 0;
        PUCHAR input = const_cast<PUCHAR>(in);
        const NTSTATUS status = decrypt ? ::BCryptDecrypt(key, input, piece, nullptr, iv, ivSize, out, piece, &done, 0)
                                        : ::BCryptEncrypt(key, input, piece, nullptr, iv, ivSize, out, piece, &done, 0);
        if (!BCRYPT_SUCCESS(status) || done != piece)
            return false;
        in += piece;
        out += piece;
        left -= piece;
    }
    return true;
}

class BcryptAes : public BlockCipher {
public:
    explicit BcryptAes(OwnedKey key) : key_(std::move(key)) { }

    bool Encrypt(const uint8_t* in, uint8_t* out, size_t blocks) override
    {
        return CryptBlocks(key_.get(), false, in, out, blocks, nullptr, 0);
    }

private:
    OwnedKey key_;
};

class BcryptCbc : public ChainDecipher {
public:
    BcryptCbc(OwnedKey key, const uint8_t iv[16]) : key_(std::move(key)) { std::memcpy(iv_, iv, sizeof iv_); }

    bool Decrypt(const uint8_t* in, uint8_t* out, size_t blocks) override
    {
        return CryptBlocks(key_.get(), true, in, out, blocks, iv_, sizeof iv_);
    }

private:
    OwnedKey key_;
    UCHAR iv_[16];
};

// A bcrypt hash object behind either interface: the HMAC (Mac) or the plain SHA-256 (Hash).
template <class Interface> class BcryptHash : public Interface {
public:
    explicit BcryptHash(OwnedHash hash) : hash_(std::move(hash)) { }

    bool Update(const uint8_t* data, size_t size) override { return HashData(hash_.get(), data, size); }
    bool Finish(uint8_t result[Interface::kSize]) override
    {
        return BCRYPT_SUCCESS(::BCryptFinishHash(hash_.get(), result, static_cast<ULONG>(Interface::kSize), 0));
    }

private:
    OwnedHash hash_;
};

// An AES provider in the chaining mode given: keys made from it take that mode. Null when it cannot
// be opened.
BCRYPT_ALG_HANDLE OpenAes(const wchar_t* mode, size_t modeSize)
{
    BCRYPT_ALG_HANDLE opened = nullptr;
    if (!BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(&opened, BCRYPT_AES_ALGORITHM, nullptr, 0)))
        return nullptr;
    if (!BCRYPT_SUCCESS(::BCryptSetProperty(opened, BCRYPT_CHAINING_MODE,
            reinterpret_cast<PUCHAR>(const_cast<wchar_t*>(mode)), static_cast<ULONG>(modeSize), 0))) {
        ::BCryptCloseAlgorithmProvider(opened, 0);
        return nullptr;
    }
    return opened;
}

}  // namespace

BcryptCrypto::~BcryptCrypto()
{
    if (aes_ != nullptr)
        ::BCryptCloseAlgorithmProvider(aes_, 0);
    if (hmac_ != nullptr)
        ::BCryptCloseAlgorithmProvider(hmac_, 0);
    if (aesCbc_ != nullptr)
        ::BCryptCloseAlgorithmProvider(aesCbc_, 0);
    if (sha256_ != nullptr)
        ::BCryptCloseAlgorithmProvider(sha256_, 0);
}

BCRYPT_ALG_HANDLE BcryptCrypto::AesCbc()
{
    if (aesCbc_ == nullptr)
        aesCbc_ = OpenAes(BCRYPT_CHAIN_MODE_CBC, sizeof BCRYPT_CHAIN_MODE_CBC);
    return aesCbc_;
}

BCRYPT_ALG_HANDLE BcryptCrypto::Sha256()
{
    if (sha256_ == nullptr &&
        !BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(&sha256_, BCRYPT_SHA256_ALGORITHM, nullptr, 0)))
        sha256_ = nullptr;
    return sha256_;
}

BCRYPT_ALG_HANDLE BcryptCrypto::Aes()
{
    if (aes_ == nullptr)
        aes_ = OpenAes(BCRYPT_CHAIN_MODE_ECB, sizeof BCRYPT_CHAIN_MODE_ECB);
    return aes_;
}

BCRYPT_ALG_HANDLE BcryptCrypto::Hmac()
{
    if (hmac_ == nullptr &&
        !BCRYPT_SUCCESS(
            ::BCryptOpenAlgorithmProvider(&hmac_, BCRYPT_SHA1_ALGORITHM, nullptr, BCRYPT_ALG_HANDLE_HMAC_FLAG)))
        hmac_ = nullptr;
    return hmac_;
}

bool BcryptCrypto::DeriveKey(const uint8_t* password, size_t passwordSize, const uint8_t* salt, size_t saltSize,
    unsigned iterations, uint8_t* key, size_t keySize)
{
    BCRYPT_ALG_HANDLE prf = Hmac();
    return prf != nullptr && passwordSize < kLargestPiece && saltSize < kLargestPiece && keySize < kLargestPiece &&
        BCRYPT_SUCCESS(::BCryptDeriveKeyPBKDF2(prf, const_cast<PUCHAR>(password), static_cast<ULONG>(passwordSize),
            const_cast<PUCHAR>(salt), static_cast<ULONG>(saltSize), iterations, key, static_cast<ULONG>(keySize), 0));
}

std::unique_ptr<BlockCipher> BcryptCrypto::CreateAes(const uint8_t* key, size_t keySize)
{
    BCRYPT_ALG_HANDLE aes = Aes();
    BCRYPT_KEY_HANDLE handle = nullptr;
    // Without a key object buffer bcrypt keeps the key schedule itself, and wipes it when the key
    // is destroyed.
    if (aes == nullptr ||
        !BCRYPT_SUCCESS(::BCryptGenerateSymmetricKey(
            aes, &handle, nullptr, 0, const_cast<PUCHAR>(key), static_cast<ULONG>(keySize), 0)))
        return nullptr;
    OwnedKey owned(handle);
    return std::make_unique<BcryptAes>(std::move(owned));
}

std::unique_ptr<Mac> BcryptCrypto::CreateHmacSha1(const uint8_t* key, size_t keySize)
{
    BCRYPT_ALG_HANDLE hmac = Hmac();
    BCRYPT_HASH_HANDLE handle = nullptr;
    if (hmac == nullptr ||
        !BCRYPT_SUCCESS(
            ::BCryptCreateHash(hmac, &handle, nullptr, 0, const_cast<PUCHAR>(key), static_cast<ULONG>(keySize), 0)))
        return nullptr;
    OwnedHash owned(handle);
    return std::make_unique<BcryptHash<Mac>>(std::move(owned));
}

std::unique_ptr<Hash> BcryptCrypto::CreateSha256()
{
    BCRYPT_ALG_HANDLE sha256 = Sha256();
    BCRYPT_HASH_HANDLE handle = nullptr;
    if (sha256 == nullptr || !BCRYPT_SUCCESS(::BCryptCreateHash(sha256, &handle, nullptr, 0, nullptr, 0, 0)))
        return nullptr;
    OwnedHash owned(handle);
    return std::make_unique<BcryptHash<Hash>>(std::move(owned));
}

std::unique_ptr<ChainDecipher> BcryptCrypto::CreateAesCbcDecipher(
    const uint8_t* key, size_t keySize, const uint8_t iv[16])
{
    BCRYPT_ALG_HANDLE aes = AesCbc();
    BCRYPT_KEY_HANDLE handle = nullptr;
    if (aes == nullptr ||
        !BCRYPT_SUCCESS(::BCryptGenerateSymmetricKey(
            aes, &handle, nullptr, 0, const_cast<PUCHAR>(key), static_cast<ULONG>(keySize), 0)))
        return nullptr;
    OwnedKey owned(handle);
    return std::make_unique<BcryptCbc>(std::move(owned), iv);
}

}  // namespace unzip
