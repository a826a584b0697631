#pragma once
#include "unzip32/core/Directory.h"
#include "unzip32/core/MemberInput.h"
#include "unzip32/core/Status.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace unzip {

// The most that one member's decoder may hold for its dictionary, window or model. Two workers
// and the calling thread may each decode a member at once, and the library as a whole stays
// below 64 MiB; a member that needs more is refused (as an unsupported member), never started.
const uint64_t kDecoderMemoryLimit = 16u << 20;

// Turns one member's compressed data (one compression method) into its content, a piece per call.
class Decoder {
public:
    virtual ~Decoder() = default;

    // Reads what the method keeps in front of its data (properties, dictionary size) and checks
    // that the member can be decoded within kDecoderMemoryLimit.
    virtual Status Start() { return Status::Ok; }

    // Decodes up to `capacity` bytes: into `buffer`, or into memory of the decoder's own, which
    // `data` then points at until the next call; `size` says how many. Every call produces at
    // least one byte, or sets `finished` once the data's own end has been reached, or fails:
    // DataError for damaged data or data that ends too early, Truncated when the archive cannot
    // be read, OutOfMemory, UnsupportedMethod for parameters this library does not decode.
    virtual Status Decode(uint8_t* buffer, size_t capacity, const uint8_t*& data, size_t& size,
                          bool& finished) = 0;

    // What a refusal (UnsupportedMethod) or a failure was about, when there is more to say.
    const std::string& Detail() const { return detail_; }

protected:
    std::string detail_;
};

// Whether the library decodes the method (the one that compresses the data, Entry::actualMethod).
bool IsSupportedMethod(uint16_t method);

// The decoder for the member's method, reading from `input`, started: UnsupportedMethod (with
// `detail`) for a method or parameters that are not decoded here, or an error from Start (and
// its detail).
Status CreateDecoder(const Entry& entry, MemberInput& input, std::unique_ptr<Decoder>& decoder, std::string& detail);

// "N MiB" (rounded up) for messages about memory.
std::string MebibyteText(uint64_t bytes);

}  // namespace unzip
