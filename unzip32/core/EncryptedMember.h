#pragma once
#include "unzip32/core/Crypto.h"
#include "unzip32/core/Decryption.h"
#include "unzip32/core/Directory.h"
#include "unzip32/core/Secret.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace unzip {

// The encryption header in front of an encrypted member's data (PKWARE's traditional 12 bytes, or
// WinZip AES's salt and password verifier), read once and then tried with each password offered.
class EncryptedMember {
public:
    // Reads the header at the start of the member's data (`start`, `length` bytes, the encryption's
    // own bytes included). UnsupportedMethod (with `detail`) for an encryption not decoded here,
    // DataError when the data is too short to hold the encryption's bytes, Truncated when it cannot
    // be read.
    Status Read(
        Source& source, const Entry& entry, uint64_t start, uint64_t length, Crypto* crypto, std::string& detail);
    // Checks the password against the header: Ok with the member's decryption, Encrypted for a
    // wrong password, UnsupportedMethod for AES without cryptography, Internal when the
    // cryptography fails. Keeps nothing of the password.
    Status Try(const Secret& password, std::unique_ptr<Decryption>& decryption) const;

    // Where the encrypted content (what the decoder reads) lies, once Read succeeded.
    uint64_t DataStart() const { return dataStart_; }
    uint64_t DataLength() const { return dataLength_; }

private:
    Status TryTraditional(const Secret& password, std::unique_ptr<Decryption>& decryption) const;
    Status TryAes(const Secret& password, std::unique_ptr<Decryption>& decryption) const;

    const Entry* entry_ = nullptr;
    Crypto* crypto_ = nullptr;
    std::vector<uint8_t> header_;  // the 12 bytes, or the salt followed by the verifier
    size_t keySize_ = 0;           // AES: 16, 24 or 32
    uint64_t dataStart_ = 0;
    uint64_t dataLength_ = 0;
};

}  // namespace unzip
