#pragma once
#include "unzip32/core/Decoder.h"

#include <LzmaDec.h>

#include <memory>

namespace unzip {

// Method 14: raw LZMA (LZMA1) through 7-Zip's LZMA decoder, straight into its dictionary, whose
// pieces are handed out without a copy. The member's data starts with the ZIP format's LZMA
// header: the encoder's version (2 bytes), the size of the properties (2 bytes, 5) and the
// properties (lc/lp/pb and the dictionary size). Flag bit 1 says that an end-of-stream marker
// ends the data; with or without it the declared size bounds the output, and the stream must end
// there (with the marker, or cleanly without one).
class LzmaDecoder : public Decoder {
public:
    LzmaDecoder(const Entry& entry, MemberInput& input) : entry_(entry), input_(input) { LzmaDec_CONSTRUCT(&state_); }
    ~LzmaDecoder() override;
    Status Start() override;
    Status Decode(uint8_t* buffer, size_t capacity, const uint8_t*& data, size_t& size, bool& finished) override;
    // The dictionary and the probabilities the member needs (see DecoderMemory).
    static uint64_t Memory(const Entry& entry, MemberInput& input);

private:
    const Entry& entry_;
    MemberInput& input_;
    CLzmaDec state_;
    std::unique_ptr<uint8_t[]> dictionary_;
    uint64_t left_ = 0;  // of the declared size
};

}  // namespace unzip
