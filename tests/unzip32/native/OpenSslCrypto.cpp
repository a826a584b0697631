#include "tests/unzip32/native/OpenSslCrypto.h"

#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/params.h>

#include <climits>

namespace ziptest {

namespace {

class OpenSslAes : public unzip::BlockCipher {
public:
    explicit OpenSslAes(EVP_CIPHER_CTX* context) : context_(context) { }
    OpenSslAes(const OpenSslAes&) = delete;
    OpenSslAes& operator=(const OpenSslAes&) = delete;
    ~OpenSslAes() override { EVP_CIPHER_CTX_free(context_); }
    bool Encrypt(const uint8_t* in, uint8_t* out, size_t blocks) override
    {
        int done = 0;
        return blocks * 16 <= INT_MAX &&
            EVP_EncryptUpdate(context_, out, &done, in, static_cast<int>(blocks * 16)) == 1 &&
            done == static_cast<int>(blocks * 16);
    }

private:
    EVP_CIPHER_CTX* context_;
};

class OpenSslHmac : public unzip::Mac {
public:
    explicit OpenSslHmac(EVP_MAC_CTX* context) : context_(context) { }
    OpenSslHmac(const OpenSslHmac&) = delete;
    OpenSslHmac& operator=(const OpenSslHmac&) = delete;
    ~OpenSslHmac() override { EVP_MAC_CTX_free(context_); }
    bool Update(const uint8_t* data, size_t size) override { return EVP_MAC_update(context_, data, size) == 1; }
    bool Finish(uint8_t code[kSize]) override
    {
        size_t written = 0;
        return EVP_MAC_final(context_, code, &written, kSize) == 1 && written == kSize;
    }

private:
    EVP_MAC_CTX* context_;
};

class OpenSslSha256 : public unzip::Hash {
public:
    explicit OpenSslSha256(EVP_MD_CTX* context) : context_(context) { }
    OpenSslSha256(const OpenSslSha256&) = delete;
    OpenSslSha256& operator=(const OpenSslSha256&) = delete;
    ~OpenSslSha256() override { EVP_MD_CTX_free(context_); }
    bool Update(const uint8_t* data, size_t size) override { return EVP_DigestUpdate(context_, data, size) == 1; }
    bool Finish(uint8_t digest[kSize]) override
    {
        unsigned written = 0;
        return EVP_DigestFinal_ex(context_, digest, &written) == 1 && written == kSize;
    }

private:
    EVP_MD_CTX* context_;
};

class OpenSslCbc : public unzip::ChainDecipher {
public:
    explicit OpenSslCbc(EVP_CIPHER_CTX* context) : context_(context) { }
    OpenSslCbc(const OpenSslCbc&) = delete;
    OpenSslCbc& operator=(const OpenSslCbc&) = delete;
    ~OpenSslCbc() override { EVP_CIPHER_CTX_free(context_); }
    bool Decrypt(const uint8_t* in, uint8_t* out, size_t blocks) override
    {
        int done = 0;
        return blocks * 16 <= INT_MAX &&
            EVP_DecryptUpdate(context_, out, &done, in, static_cast<int>(blocks * 16)) == 1 &&
            done == static_cast<int>(blocks * 16);
    }

private:
    EVP_CIPHER_CTX* context_;
};

}  // namespace

std::unique_ptr<unzip::Hash> OpenSslCrypto::CreateSha256()
{
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    if (context == nullptr)
        return nullptr;
    if (EVP_DigestInit_ex(context, EVP_sha256(), nullptr) != 1) {
        EVP_MD_CTX_free(context);
        return nullptr;
    }
    return std::make_unique<OpenSslSha256>(context);
}

std::unique_ptr<unzip::ChainDecipher> OpenSslCrypto::CreateAesCbcDecipher(
    const uint8_t* key, size_t keySize, const uint8_t iv[16])
{
    const EVP_CIPHER* cipher = keySize == 16 ? EVP_aes_128_cbc()
        : keySize == 24                      ? EVP_aes_192_cbc()
        : keySize == 32                      ? EVP_aes_256_cbc()
                                             : nullptr;
    EVP_CIPHER_CTX* context = cipher != nullptr ? EVP_CIPHER_CTX_new() : nullptr;
    if (context == nullptr)
        return nullptr;
    if (EVP_DecryptInit_ex(context, cipher, nullptr, key, iv) != 1 || EVP_CIPHER_CTX_set_padding(context, 0) != 1) {
        EVP_CIPHER_CTX_free(context);
        return nullptr;
    }
    return std::make_unique<OpenSslCbc>(context);
}

bool OpenSslCrypto::DeriveKey(const uint8_t* password, size_t passwordSize, const uint8_t* salt, size_t saltSize,
    unsigned iterations, uint8_t* key, size_t keySize)
{
    return passwordSize <= INT_MAX && saltSize <= INT_MAX && keySize <= INT_MAX && iterations <= INT_MAX &&
        PKCS5_PBKDF2_HMAC_SHA1(reinterpret_cast<const char*>(password), static_cast<int>(passwordSize), salt,
            static_cast<int>(saltSize), static_cast<int>(iterations), static_cast<int>(keySize), key) == 1;
}

std::unique_ptr<unzip::BlockCipher> OpenSslCrypto::CreateAes(const uint8_t* key, size_t keySize)
{
    const EVP_CIPHER* cipher = keySize == 16 ? EVP_aes_128_ecb()
        : keySize == 24                      ? EVP_aes_192_ecb()
        : keySize == 32                      ? EVP_aes_256_ecb()
                                             : nullptr;
    EVP_CIPHER_CTX* context = cipher != nullptr ? EVP_CIPHER_CTX_new() : nullptr;
    if (context == nullptr)
        return nullptr;
    if (EVP_EncryptInit_ex(context, cipher, nullptr, key, nullptr) != 1 ||
        EVP_CIPHER_CTX_set_padding(context, 0) != 1) {
        EVP_CIPHER_CTX_free(context);
        return nullptr;
    }
    return std::make_unique<OpenSslAes>(context);
}

std::unique_ptr<unzip::Mac> OpenSslCrypto::CreateHmacSha1(const uint8_t* key, size_t keySize)
{
    EVP_MAC* hmac = EVP_MAC_fetch(nullptr, "HMAC", nullptr);
    EVP_MAC_CTX* context = hmac != nullptr ? EVP_MAC_CTX_new(hmac) : nullptr;
    EVP_MAC_free(hmac);  // the context keeps what it needs
    if (context == nullptr)
        return nullptr;
    char digest[] = "SHA1";
    const OSSL_PARAM parameters[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest, 0), OSSL_PARAM_construct_end()};
    if (EVP_MAC_init(context, key, keySize, parameters) != 1) {
        EVP_MAC_CTX_free(context);
        return nullptr;
    }
    return std::make_unique<OpenSslHmac>(context);
}

}  // namespace ziptest
