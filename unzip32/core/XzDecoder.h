#pragma once
#include "unzip32/core/Decoder.h"

#include <Lzma2Dec.h>
#include <lzma.h>

#include <memory>

namespace unzip {

// Method 95: an .xz stream through liblzma, block by block. Each block's filters are read here so
// that, as for LZMA, its dictionary can be cut to the member's size (a 12-byte file made with a
// 64 MiB dictionary needs 4 KiB); a block that still needs more than the limit is refused. The
// blocks' own checks, the index and the footer are verified.
//
// A block of LZMA2 alone, checked by CRC-32, CRC-64 or nothing (what the xz tool and most others
// write), goes through 7-Zip's LZMA2 decoder, which is faster than liblzma's and is how 7-Zip
// itself decodes it; the block's sizes, padding and check are read here. Other blocks (branch
// filters, Delta, SHA-256) go through liblzma's block decoder. `lzma2Blocks` false sends every
// block through liblzma.
class XzDecoder : public Decoder {
public:
    XzDecoder(const Entry& entry, MemberInput& input, bool lzma2Blocks = true);
    ~XzDecoder() override;
    Status Start() override;
    Status Decode(uint8_t* buffer, size_t capacity, const uint8_t*& data, size_t& size, bool& finished) override;
    // The first block's dictionary, cut to the member's size (see DecoderMemory).
    static uint64_t Memory(const Entry& entry, MemberInput& input);

private:
    enum class Stage { BlockHeader, Block, Lzma2Block, Lzma2BlockEnd, Index, Footer, Done };

    Status StartBlock();
    Status StartLzma2Block(uint32_t declared, uint64_t dictionary);
    Status DecodeLzma2(size_t capacity, const uint8_t*& data, size_t& size);
    Status EndLzma2Block();
    Status EndBlock();
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

    // 7-Zip's LZMA2 decoder, decoding into a dictionary of our own; `cut_` when the dictionary is
    // smaller than the block declares (it must then never go round).
    const bool lzma2Blocks_;
    CLzma2Dec lzma2_;
    std::unique_ptr<uint8_t[]> dictionary_;
    size_t dictionarySize_ = 0;
    bool cut_ = false;
    uint64_t packed_ = 0;
    uint64_t unpacked_ = 0;
    uint32_t crc32_ = 0;
    uint64_t crc64_ = 0;
};

}  // namespace unzip
