#pragma once
#include "unzip32/core/Source.h"
#include "unzip32/core/Status.h"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace unzip {

// Decrypts one encrypted member's data as it streams from the archive to the member's decoder,
// a piece at a time and in order.
class Decryption {
public:
    virtual ~Decryption() = default;
    // Decrypts the next `size` bytes of the member's data in place; false when the cryptography fails.
    virtual bool Decrypt(uint8_t* data, size_t size) = 0;
    // Once every byte of the data has gone through Decrypt: checks what the encryption stores after
    // it (the authentication code of WinZip AES). Ok, BadAuthentication, or Truncated.
    virtual Status Finish(Source& source) = 0;
    // A decryption of the same data from its start that checks nothing, to look at the decoder's
    // headers before the member is decoded.
    virtual std::unique_ptr<Decryption> Restart() const = 0;
};

}  // namespace unzip
