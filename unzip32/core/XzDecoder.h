#pragma once
#include "unzip32/core/Decoder.h"

#include <lzma.h>

namespace unzip {

// Method 95: an .xz stream through liblzma, block by block. Each block's filters are read here so
// that, as for LZMA, its dictionary can be cut to the member's size (a 12-byte file made with a
// 64 MiB dictionary needs 4 KiB); a block that still needs more than the limit is refused. The
// blocks' own checks, the index and the footer are verified.
class XzDecoder : public Decoder {
public:
    XzDecoder(const Entry& entry, MemberInput& input) : entry_(entry), input_(input) { }
    ~XzDecoder() override;
    Status Start() override;
    Status Decode(uint8_t* buffer, size_t capacity, const uint8_t*& data, size_t& size, bool& finished) override;
    // The first block's dictionary, cut to the member's size (see DecoderMemory).
    static uint64_t Memory(const Entry& entry, MemberInput& input);

private:
    enum class Stage { BlockHeader, Block, Index, Footer, Done };

    Status StartBlock();
    Status ReadIndex();
    Status ReadFooter();
    Status NextStream();
    Status Short() const;
    void FreeFilters();

    const Entry& entry_;
    MemberInput& input_;
    Stage stage_ = Stage::BlockHeader;
    lzma_stream_flags flags_ {};
    lzma_block block_ {};
    lzma_filter filters_[LZMA_FILTERS_MAX + 1] = {};
    bool haveFilters_ = false;
    lzma_index_hash* index_ = nullptr;
    lzma_stream stream_ = LZMA_STREAM_INIT;
};

}  // namespace unzip
