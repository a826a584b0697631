#pragma once
#include "unzip32/core/Decoder.h"

#include <zlib.h>

namespace unzip {

// Method 8: zlib's raw inflate.
class InflateDecoder : public Decoder {
public:
    explicit InflateDecoder(MemberInput& input) : input_(input) { }
    ~InflateDecoder() override;
    Status Start() override;
    Status Decode(uint8_t* buffer, size_t capacity, const uint8_t*& data, size_t& size, bool& finished) override;
    // zlib leaves the bytes after the last block's end untaken.
    uint64_t StreamEnd() const override { return input_.Taken(); }

private:
    MemberInput& input_;
    z_stream stream_ {};
    bool started_ = false;
};

}  // namespace unzip
