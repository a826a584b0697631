#include "unzip32/core/EncryptedMember.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

namespace unzip {

namespace {

// PKWARE's traditional encryption ("ZipCrypto"): three 32-bit keys stirred by every plain byte.
const size_t kTraditionalHeader = 12;

// WinZip AES: the password verifier follows the salt, the 10-byte authentication code follows the
// data; PBKDF2 makes the AES key, the HMAC key and the verifier from the password, 1000 rounds.
const size_t kVerifierSize = 2;
const size_t kCodeSize = 10;
const unsigned kAesIterations = 1000;

// zlib's CRC-32 table, taken at load time (a function's own static would need the runtime's
// thread-safe guard, which the library does without).
const z_crc_t* const kCrcTable = get_crc_table();

uint32_t CrcStep(uint32_t crc, uint8_t byte)
{
    return static_cast<uint32_t>(kCrcTable[(crc ^ byte) & 0xFF]) ^ (crc >> 8);
}

struct TraditionalKeys {
    uint32_t k0 = 0x12345678;
    uint32_t k1 = 0x23456789;
    uint32_t k2 = 0x34567890;

    ~TraditionalKeys() { Wipe(this, sizeof *this); }
    void Update(uint8_t plain)
    {
        k0 = CrcStep(k0, plain);
        k1 = (k1 + (k0 & 0xFF)) * 134775813u + 1;
        k2 = CrcStep(k2, static_cast<uint8_t>(k1 >> 24));
    }
    uint8_t Decrypt(uint8_t cipher)
    {
        const uint32_t t = (k2 | 2) & 0xFFFF;
        const uint8_t plain = static_cast<uint8_t>(cipher ^ static_cast<uint8_t>((t * (t ^ 1)) >> 8));
        Update(plain);
        return plain;
    }
};

class TraditionalDecryption : public Decryption {
public:
    explicit TraditionalDecryption(const TraditionalKeys& start) : start_(start), keys_(start) { }
    bool Decrypt(uint8_t* data, size_t size) override
    {
        for (size_t i = 0; i < size; ++i)
            data[i] = keys_.Decrypt(data[i]);
        return true;
    }
    Status Finish(Source&) override { return Status::Ok; }
    std::unique_ptr<Decryption> Restart() const override { return std::make_unique<TraditionalDecryption>(start_); }

private:
    TraditionalKeys start_;  // the keys right after the header
    TraditionalKeys keys_;
};

// AES in counter mode as WinZip defines it: the counter is a 16-byte little-endian number that
// starts at 1, and the key stream is its encryption. The HMAC is taken over the encrypted data.
class AesDecryption : public Decryption {
public:
    AesDecryption(std::shared_ptr<BlockCipher> cipher, std::unique_ptr<Mac> mac, uint64_t codeAt)
        : cipher_(std::move(cipher)), mac_(std::move(mac)), codeAt_(codeAt)
    {
    }
    ~AesDecryption() override { Wipe(stream_, sizeof stream_); }

    bool Decrypt(uint8_t* data, size_t size) override
    {
        if (mac_ && !mac_->Update(data, size))
            return false;
        while (size > 0) {
            if (used_ == sizeof stream_ && !NextStream())
                return false;
            const size_t piece = std::min(size, sizeof stream_ - used_);
            for (size_t i = 0; i < piece; ++i)
                data[i] ^= stream_[used_ + i];
            used_ += piece;
            data += piece;
            size -= piece;
        }
        return true;
    }

    Status Finish(Source& source) override
    {
        uint8_t stored[kCodeSize];
        if (!source.Read(codeAt_, stored, sizeof stored))
            return Status::Truncated;
        uint8_t code[Mac::kSize];
        if (!mac_ || !mac_->Finish(code))
            return Status::Internal;
        mac_.reset();
        unsigned differ = 0;
        for (size_t i = 0; i < kCodeSize; ++i)
            differ |= static_cast<unsigned>(code[i] ^ stored[i]);
        return differ == 0 ? Status::Ok : Status::BadAuthentication;
    }

    std::unique_ptr<Decryption> Restart() const override
    {
        return std::make_unique<AesDecryption>(cipher_, nullptr, codeAt_);
    }

private:
    static const size_t kBlocks = 1024;  // key stream made per call of the cipher

    bool NextStream()
    {
        for (size_t b = 0; b < kBlocks; ++b) {
            ++counter_;
            uint8_t* block = counters_ + 16 * b;
            for (size_t i = 0; i < 8; ++i)
                block[i] = static_cast<uint8_t>(counter_ >> (8 * i));
            std::memset(block + 8, 0, 8);
        }
        if (!cipher_->Encrypt(counters_, stream_, kBlocks))
            return false;
        used_ = 0;
        return true;
    }

    std::shared_ptr<BlockCipher> cipher_;  // shared with the decryptions Restart makes
    std::unique_ptr<Mac> mac_;             // null: nothing is checked
    uint64_t codeAt_;
    uint64_t counter_ = 0;
    uint8_t counters_[16 * kBlocks];
    uint8_t stream_[16 * kBlocks];
    size_t used_ = sizeof stream_;
};

}  // namespace

Status EncryptedMember::Read(
    Source& source, const Entry& entry, uint64_t start, uint64_t length, Crypto* crypto, std::string& detail)
{
    entry_ = &entry;
    crypto_ = crypto;
    size_t trailer = 0;
    if (entry.method == 99) {
        if (!entry.aes) {
            detail = "AES encryption without its extra field";
            return Status::UnsupportedMethod;
        }
        if (entry.aesStrength < 1 || entry.aesStrength > 3) {
            detail = "unknown AES key strength " + std::to_string(entry.aesStrength);
            return Status::UnsupportedMethod;
        }
        if (entry.aesVersion != 1 && entry.aesVersion != 2) {
            detail = "unknown AES encryption version " + std::to_string(entry.aesVersion);
            return Status::UnsupportedMethod;
        }
        keySize_ = 8u * (entry.aesStrength + 1u);
        header_.resize(keySize_ / 2 + kVerifierSize);
        trailer = kCodeSize;
    } else {
        header_.resize(kTraditionalHeader);
    }
    if (length < header_.size() + trailer)
        return Status::DataError;
    if (!source.Read(start, header_.data(), header_.size()))
        return Status::Truncated;
    dataStart_ = start + header_.size();
    dataLength_ = length - header_.size() - trailer;
    return Status::Ok;
}

Status EncryptedMember::Try(const Secret& password, std::unique_ptr<Decryption>& decryption) const
{
    if (keySize_ != 0 && crypto_ == nullptr)
        return Status::UnsupportedMethod;
    return keySize_ != 0 ? TryAes(password, decryption) : TryTraditional(password, decryption);
}

Status EncryptedMember::TryTraditional(const Secret& password, std::unique_ptr<Decryption>& decryption) const
{
    TraditionalKeys keys;
    for (size_t i = 0; i < password.Size(); ++i)
        keys.Update(password.Data()[i]);
    uint8_t last = 0;
    for (uint8_t byte : header_)
        last = keys.Decrypt(byte);
    // The header's last byte repeats the high byte of the CRC, or of the DOS time when the CRC was
    // not known yet as the header was written (flag bit 3: it follows the data in a descriptor).
    const uint8_t check = (entry_->flags & 0x0008) != 0 ? static_cast<uint8_t>(entry_->dosTime >> 8)
                                                        : static_cast<uint8_t>(entry_->crc >> 24);
    if (last != check)
        return Status::Encrypted;
    decryption = std::make_unique<TraditionalDecryption>(keys);
    return Status::Ok;
}

Status EncryptedMember::TryAes(const Secret& password, std::unique_ptr<Decryption>& decryption) const
{
    const size_t saltSize = keySize_ / 2;
    uint8_t derived[2 * 32 + kVerifierSize];
    const size_t derivedSize = 2 * keySize_ + kVerifierSize;
    static const uint8_t kNothing = 0;
    const uint8_t* text = password.Size() > 0 ? password.Data() : &kNothing;
    if (!crypto_->DeriveKey(text, password.Size(), header_.data(), saltSize, kAesIterations, derived, derivedSize)) {
        Wipe(derived, sizeof derived);
        return Status::Internal;
    }
    Status status = Status::Ok;
    if (derived[2 * keySize_] != header_[saltSize] || derived[2 * keySize_ + 1] != header_[saltSize + 1]) {
        status = Status::Encrypted;
    } else {
        std::unique_ptr<BlockCipher> cipher = crypto_->CreateAes(derived, keySize_);
        std::unique_ptr<Mac> mac = crypto_->CreateHmacSha1(derived + keySize_, keySize_);
        if (cipher && mac)
            decryption = std::make_unique<AesDecryption>(std::move(cipher), std::move(mac), dataStart_ + dataLength_);
        else
            status = Status::Internal;
    }
    Wipe(derived, sizeof derived);
    return status;
}

}  // namespace unzip
