#pragma once
#include "unzip32/core/Decoder.h"

struct ZSTD_DCtx_s;

namespace unzip {

// Methods 93 and 20: Zstandard through libzstd, frame after frame, with the window capped at the
// memory limit: a frame that needs a larger one is refused. The 64-bit build decodes members with
// it; the 32-bit build with SevenZipZstdDecoder (7-Zip's decoder, faster there), for which this one
// reads the first frame's header. It reads it for DecoderMemory too, and is the reference the tests
// and the fuzzer compare 7-Zip's decoder with.
class ZstdDecoder : public Decoder {
public:
    explicit ZstdDecoder(MemberInput& input) : input_(input) { }
    ~ZstdDecoder() override;
    Status Start() override;
    Status Decode(uint8_t* buffer, size_t capacity, const uint8_t*& data, size_t& size, bool& finished) override;
    // The first frame's window, or its size when that is smaller (see DecoderMemory).
    static uint64_t Memory(MemberInput& input);
    // Takes the first frame's header (as much of it as there is, up to 18 bytes) into `header`
    // and answers its size; `memory` is what the frame asks for, `window` its window (which may be
    // larger: no frame needs more than its content).
    static size_t ReadFrameHeader(MemberInput& input, uint8_t* header, uint64_t& memory, uint64_t& window);

private:
    MemberInput& input_;
    ZSTD_DCtx_s* context_ = nullptr;
    uint8_t header_[18];  // the first frame's header, read to check its window, decoded first
    size_t headerSize_ = 0;
    size_t headerUsed_ = 0;
};

}  // namespace unzip
