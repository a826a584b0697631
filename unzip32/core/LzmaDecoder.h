#pragma once
#include "unzip32/core/Decoder.h"

#include <lzma.h>

namespace unzip {

// Method 14: raw LZMA (LZMA1) through liblzma. The member's data starts with the ZIP format's
// LZMA header: the encoder's version (2 bytes), the size of the properties (2 bytes, 5) and the
// properties (lc/lp/pb and the dictionary size). Flag bit 1 says that an end-of-stream marker
// ends the data; without it the declared size does.
class LzmaDecoder : public Decoder {
public:
    LzmaDecoder(const Entry& entry, MemberInput& input) : entry_(entry), input_(input) { }
    ~LzmaDecoder() override;
    Status Start() override;
    Status Decode(uint8_t* buffer, size_t capacity, const uint8_t*& data, size_t& size, bool& finished) override;
    // The dictionary the member needs (see DecoderMemory).
    static uint64_t Memory(const Entry& entry, MemberInput& input);

private:
    const Entry& entry_;
    MemberInput& input_;
    lzma_stream stream_ = LZMA_STREAM_INIT;
};

// Runs a liblzma decoder over the member's input until it produces output or ends; shared by the
// LZMA and XZ decoders. `detail` names a refusal.
Status RunLzma(lzma_stream& stream, MemberInput& input, uint8_t* buffer, size_t capacity, size_t& size, bool& finished,
    std::string& detail);

}  // namespace unzip
