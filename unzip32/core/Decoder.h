#pragma once
#include "unzip32/core/Directory.h"
#include "unzip32/core/MemberInput.h"
#include "unzip32/core/Status.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace unzip {

// What one member's decoder may hold for its dictionary, window or model as a rule; with it the
// library as a whole stays below 64 MiB.
const uint64_t kDecoderMemoryLimit = 40u << 20;
// What the decoders that run at the same time (the workers and the calling thread) may hold
// together. Each gets an equal share; a member that needs more than its share is decoded alone.
const uint64_t kSharedDecoderMemory = 48u << 20;
// The most that a member decoded alone may take: what it needs, up to this bound (7-Zip's "Ultra"
// settings need 64 to 77 MiB, PPMd's largest model is 256 MiB). A 32-bit process keeps most of its
// 2 GiB of address space free beside it. A member that needs more is refused (as an unsupported
// member, "needs N MiB of memory"), never started.
const uint64_t kLargestDecoderMemory = sizeof(void*) < 8 ? uint64_t(256) << 20 : uint64_t(1) << 30;

// Turns one member's compressed data (one compression method) into its content, a piece per call.
class Decoder {
public:
    virtual ~Decoder() = default;

    // Reads what the method keeps in front of its data (properties, dictionary size) and checks
    // that the member can be decoded within the memory limit.
    virtual Status Start() { return Status::Ok; }

    // Decodes up to `capacity` bytes: into `buffer`, or into memory of the decoder's own, which
    // `data` then points at until the next call; `size` says how many. Every call produces at
    // least one byte, or sets `finished` once the data's own end has been reached, or fails:
    // DataError for damaged data or data that ends too early, Truncated when the archive cannot
    // be read, OutOfMemory, UnsupportedMethod for parameters this library does not decode.
    virtual Status Decode(uint8_t* buffer, size_t capacity, const uint8_t*& data, size_t& size, bool& finished) = 0;

    // What a refusal (UnsupportedMethod) or a failure was about, when there is more to say.
    const std::string& Detail() const { return detail_; }

    // Once finished: where the compressed stream ended, in bytes from the start of the data (where
    // more of its format follows it, as a gzip member's trailer does), or kUnknownEnd where the
    // decoder does not tell.
    static constexpr uint64_t kUnknownEnd = UINT64_MAX;
    virtual uint64_t StreamEnd() const { return kUnknownEnd; }

    // The memory the decoder may take for its dictionary, window or model (set before Start).
    void SetMemoryLimit(uint64_t limit) { memoryLimit_ = limit; }

protected:
    // Refuses a member that needs `bytes`, more than the limit.
    Status Refuse(uint64_t bytes);

    std::string detail_;
    uint64_t memoryLimit_ = kDecoderMemoryLimit;
};

class WorkerThreads;

// Threads that a decoder may start beside its own to decode one member on several cores.
struct DecoderHelpers {
    WorkerThreads* threads = nullptr;
    unsigned count = 0;
};

// Whether the library decodes the method (the one that compresses the data, Entry::actualMethod).
bool IsSupportedMethod(uint16_t method);

// The decoder for the member's method, reading from `input`, started with `memoryLimit` for its
// dictionary, window or model: UnsupportedMethod (with `detail`) for a method or parameters that
// are not decoded here, or an error from Start (and its detail). A large bzip2 member is decoded
// with `helpers` where they fit the memory limit.
Status CreateDecoder(const Entry& entry, MemberInput& input, uint64_t memoryLimit, std::unique_ptr<Decoder>& decoder,
    std::string& detail, const DecoderHelpers& helpers = DecoderHelpers());

// What the member's decoder will take for its dictionary, window or model, from the headers at
// the start of its data (0 where that is small and fixed, or the headers cannot be read). An
// encrypted member's headers are read through a restarted copy of its `decryption`.
uint64_t DecoderMemory(
    Source& source, const Entry& entry, uint64_t dataStart, uint64_t length, const Decryption* decryption = nullptr);

// "N MiB" (rounded up) for messages about memory.
std::string MebibyteText(uint64_t bytes);

// A one-stream decoder run again from the member's start, with the output that a faster decoder
// handed out already skipped. The faster decoders (on several cores, or the block decoder in one
// stream) go on with it where they meet data they do not take as valid, so that their outcome is
// always exactly the one-stream decoder's.
class DecoderRedo {
public:
    bool Active() const { return decoder_ != nullptr; }
    // A reader of `input`'s data from its start, for the decoder that Start takes (a member
    // without decryption: its data is read again).
    MemberInput& Restart(const MemberInput& input);
    // Starts `decoder` (which reads from what Restart gave), to skip its first `skip` bytes.
    Status Start(Decoder* decoder, uint64_t skip);
    // As Decoder::Decode; `detail` gets the decoder's detail of a failure.
    Status Decode(uint8_t* buffer, size_t capacity, const uint8_t*& data, size_t& size, bool& finished,
        std::string& detail);
    uint64_t StreamEnd() const { return decoder_ != nullptr ? decoder_->StreamEnd() : Decoder::kUnknownEnd; }

private:
    std::vector<uint8_t> buffer_;
    std::unique_ptr<MemberInput> input_;
    std::unique_ptr<Decoder> decoder_;
    uint64_t skip_ = 0;
};

}  // namespace unzip
