#pragma once
#include "unzip32/core/Decoder.h"
#include "unzip32/core/Source.h"

#include <memory>
#include <vector>

namespace unzip {

// gzip (RFC 1952), the stream around a .tar.gz or a lone .gz file: members one after another, each
// a header, deflated data, and a trailer with the CRC-32 and length of its content. The deflated
// data goes through the decoders of deflated ZIP members, on several cores where a member is large
// and helpers are given. The output comes in pieces that fill the room given, and the piece with a
// member's end only once its trailer has been checked: a mismatch is CrcMismatch, a trailer or a
// header cut short Truncated, a header gzip does not write (or something after a member that
// starts like one and is not) DataError. What follows the last member and does not start another
// one (padding of zeros) is left alone, as gzip leaves it.
class GzipDecoder : public Decoder {
public:
    // Members of at least this much data (with all that follows them) are decoded on several cores.
    static constexpr uint64_t kParallelFrom = 16u << 20;

    // `chunk`, for tests: every member goes to the helpers in chunks of this many bytes.
    GzipDecoder(Source& source, const DecoderHelpers& helpers, size_t chunk = 0);
    Status Decode(uint8_t* buffer, size_t capacity, const uint8_t*& data, size_t& size, bool& finished) override;

    // The members decoded on several cores so far (for tests).
    unsigned ParallelMembers() const { return parallelMembers_; }

private:
    Status StartMember();
    Status EndMember();

    Source& source_;
    DecoderHelpers helpers_;
    size_t chunk_;
    uint64_t at_ = 0;  // the current member's header, then its deflated data
    Entry entry_;
    std::vector<uint8_t> buffer_;
    std::unique_ptr<MemberInput> input_;
    std::unique_ptr<Decoder> inflate_;
    bool ended_ = false;
    bool small_ = false;  // a member was small: those after it (bgzip's blocks) go on this thread alone
    uint32_t crc_ = 0;
    uint64_t length_ = 0;
    unsigned parallelMembers_ = 0;
};

}  // namespace unzip
