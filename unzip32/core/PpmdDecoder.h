#pragma once
#include "unzip32/core/Decoder.h"

#include <memory>

namespace unzip {

// Method 98: PPMd variant I, revision 1 (7-Zip's public-domain Ppmd8 decoder). The data starts
// with two bytes: the model order - 1 (bits 0-3), the model's memory in MiB - 1 (bits 4-11) and
// the restoration method (bits 12-15: 0 restart, 1 cut off). The model's memory is allocated
// whole, so a member asking for more than the limit is refused.
class PpmdDecoder : public Decoder {
public:
    PpmdDecoder(const Entry& entry, MemberInput& input);
    ~PpmdDecoder() override;
    Status Start() override;
    Status Decode(uint8_t* buffer, size_t capacity, const uint8_t*& data, size_t& size, bool& finished) override;
    // The model's memory the member asks for (see DecoderMemory).
    static uint64_t Memory(MemberInput& input);

    struct Model;  // the Ppmd8 state and its byte reader

private:
    const Entry& entry_;
    MemberInput& input_;
    std::unique_ptr<Model> model_;
    uint64_t produced_ = 0;
};

}  // namespace unzip
