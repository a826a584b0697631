#pragma once
#include "unzip32/core/Decoder.h"

#include <bzlib.h>

namespace unzip {

// Method 12: libbz2. Streams that follow each other in one member (as parallel bzip2 writers
// make them) are decoded one after the other.
class Bzip2Decoder : public Decoder {
public:
    explicit Bzip2Decoder(MemberInput& input);
    ~Bzip2Decoder() override;
    Status Start() override;
    Status Decode(uint8_t* buffer, size_t capacity, const uint8_t*& data, size_t& size, bool& finished) override;

private:
    bool AnotherStreamFollows();

    MemberInput& input_;
    bz_stream stream_ {};
    bool started_ = false;
    // The signature of the next stream, taken out of the input (it may span pieces): decoded
    // before the rest of the input.
    char carried_[3] = {};
    unsigned carriedCount_ = 0;
};

}  // namespace unzip
