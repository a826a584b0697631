#include "updater/UpdateSignature.h"

#include <windows.h>

#include <bcrypt.h>

#include <cstring>
#include <vector>

namespace updater {

namespace {

const ULONG kDigestSize = 32;
const DWORD kReadChunk = 64 * 1024;

HANDLE OpenForReading(const std::string& path)
{
    return ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
}

// The signature file's bytes when it holds exactly kSignatureSize of them (an error page served in
// its place, a cut or a padded file are not signatures).
bool ReadSignature(const std::string& path, unsigned char (&signature)[UpdateSignature::kSignatureSize])
{
    HANDLE file = OpenForReading(path);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    unsigned char bytes[UpdateSignature::kSignatureSize + 1] = {};
    DWORD total = 0;
    DWORD got = 0;
    while (total < sizeof bytes && ::ReadFile(file, bytes + total, sizeof bytes - total, &got, nullptr) && got > 0)
        total += got;
    ::CloseHandle(file);
    if (total != UpdateSignature::kSignatureSize)
        return false;
    std::memcpy(signature, bytes, sizeof signature);
    return true;
}

// Feeds the whole file to `hash` in chunks, so that a large program never sits in memory at once.
bool HashContents(HANDLE file, BCRYPT_HASH_HANDLE hash)
{
    std::vector<UCHAR> buffer(kReadChunk);
    for (;;) {
        DWORD read = 0;
        if (!::ReadFile(file, buffer.data(), kReadChunk, &read, nullptr))
            return false;
        if (read == 0)
            return true;
        if (!BCRYPT_SUCCESS(::BCryptHashData(hash, buffer.data(), read, 0)))
            return false;
    }
}

// The digest of the signed bytes: the version text, one zero byte, then the whole file from its start.
bool DigestOfUpdate(HANDLE file, const std::string& version, unsigned char (&digest)[kDigestSize])
{
    if (::SetFilePointer(file, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER)
        return false;
    std::vector<UCHAR> versionBytes(version.begin(), version.end());
    versionBytes.push_back(0);
    bool done = false;
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    if (BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
        ULONG objectSize = 0;
        ULONG got = 0;
        if (BCRYPT_SUCCESS(::BCryptGetProperty(
                algorithm, BCRYPT_OBJECT_LENGTH, reinterpret_cast<PUCHAR>(&objectSize), sizeof objectSize, &got, 0))) {
            // The oldest systems with this library want the hash object's memory from the caller.
            std::vector<UCHAR> object(objectSize);
            BCRYPT_HASH_HANDLE hash = nullptr;
            if (BCRYPT_SUCCESS(::BCryptCreateHash(algorithm, &hash, object.data(), objectSize, nullptr, 0, 0))) {
                done = BCRYPT_SUCCESS(
                           ::BCryptHashData(hash, versionBytes.data(), static_cast<ULONG>(versionBytes.size()), 0)) &&
                    HashContents(file, hash) && BCRYPT_SUCCESS(::BCryptFinishHash(hash, digest, kDigestSize, 0));
                ::BCryptDestroyHash(hash);
            }
        }
        ::BCryptCloseAlgorithmProvider(algorithm, 0);
    }
    return done;
}

}  // namespace

bool UpdateSignature::Verify(const std::string& path, const std::string& version, const std::string& signaturePath,
    const unsigned char* publicKey)
{
    HANDLE file = OpenForReading(path);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    bool valid = Verify(file, version, signaturePath, publicKey);
    ::CloseHandle(file);
    return valid;
}

bool UpdateSignature::Verify(
    HANDLE program, const std::string& version, const std::string& signaturePath, const unsigned char* publicKey)
{
    unsigned char signature[kSignatureSize];
    unsigned char digest[kDigestSize];
    if (!ReadSignature(signaturePath, signature) || !DigestOfUpdate(program, version, digest))
        return false;

    // The public key as the library takes it: a header naming the curve, then X and Y.
    unsigned char blob[sizeof(BCRYPT_ECCKEY_BLOB) + kPublicKeySize] = {};
    BCRYPT_ECCKEY_BLOB header {BCRYPT_ECDSA_PUBLIC_P256_MAGIC, kPublicKeySize / 2};
    std::memcpy(blob, &header, sizeof header);
    std::memcpy(blob + sizeof header, publicKey, kPublicKeySize);

    bool valid = false;
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    if (!BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0)))
        return false;
    BCRYPT_KEY_HANDLE key = nullptr;
    if (BCRYPT_SUCCESS(::BCryptImportKeyPair(algorithm, nullptr, BCRYPT_ECCPUBLIC_BLOB, &key, blob, sizeof blob, 0))) {
        valid =
            BCRYPT_SUCCESS(::BCryptVerifySignature(key, nullptr, digest, kDigestSize, signature, kSignatureSize, 0));
        ::BCryptDestroyKey(key);
    }
    ::BCryptCloseAlgorithmProvider(algorithm, 0);
    return valid;
}

}  // namespace updater
