#pragma once
#include "unzip32/core/Decoder.h"

struct ZSTD_DCtx_s;

namespace unzip {

// Methods 93 and 20: Zstandard through libzstd, frame after frame, with the window capped at
// kDecoderMemoryLimit (frames that need a larger one are refused).
class ZstdDecoder : public Decoder {
public:
    explicit ZstdDecoder(MemberInput& input) : input_(input) {}
    ~ZstdDecoder() override;
    Status Start() override;
    Status Decode(uint8_t* buffer, size_t capacity, const uint8_t*& data, size_t& size, bool& finished) override;

private:
    MemberInput& input_;
    ZSTD_DCtx_s* context_ = nullptr;
};

}  // namespace unzip
