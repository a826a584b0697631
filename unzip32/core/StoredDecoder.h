#pragma once
#include "unzip32/core/Decoder.h"

namespace unzip {

// Method 0: the data is the content; it is handed on straight from the input pieces.
class StoredDecoder : public Decoder {
public:
    StoredDecoder(const Entry& entry, MemberInput& input) : entry_(entry), input_(input) { }
    Status Start() override;
    Status Decode(uint8_t* buffer, size_t capacity, const uint8_t*& data, size_t& size, bool& finished) override;

private:
    const Entry& entry_;
    MemberInput& input_;
};

}  // namespace unzip
