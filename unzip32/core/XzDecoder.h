#pragma once
#include "unzip32/core/Decoder.h"

#include <lzma.h>

namespace unzip {

// Method 95: an .xz stream (its own CRC-32, CRC-64 or SHA-256 checks included) through liblzma,
// with the decoder's memory capped: a stream whose dictionary would need more is refused.
class XzDecoder : public Decoder {
public:
    explicit XzDecoder(MemberInput& input) : input_(input) {}
    ~XzDecoder() override;
    Status Start() override;
    Status Decode(uint8_t* buffer, size_t capacity, const uint8_t*& data, size_t& size, bool& finished) override;

private:
    MemberInput& input_;
    lzma_stream stream_ = LZMA_STREAM_INIT;
};

}  // namespace unzip
