#pragma once
#include "unzip32/core/DeflateTables.h"

#include <cstddef>
#include <cstdint>

namespace unzip {

// Decodes deflate (or Deflate64) blocks from a bit position in a buffer of compressed data that
// may still grow, into a buffer of output items with the window in front of them: bytes, or
// 16/32-bit items where a value of 256 + i stands for byte i of a window not yet known (so a
// piece of the stream can be decoded before the output in front of it is). The decoding stops at
// the end of a block, where asked, and can go on later from where it stopped.
//
// Buffers of compressed data have kPadding readable bytes behind their `size` (zeros where the data
// ends). Output buffers have kSlack writable items behind `limit`: matches are copied in 8-byte
// pieces.
class BlockInflater {
public:
    static constexpr size_t kPadding = 32;
    static constexpr size_t kSlack = 32;
    // A block header (with its code lengths) takes at most this many bytes.
    static constexpr size_t kLargestHeader = 640;

    enum class Result {
        Boundary,  // at a block start at or past `stopBit`
        End,       // the last block has ended
        BlockEnd,  // a block has ended (when asked to pause there)
        Full,      // the output reached `limit`; goes on with more room
        Starved,   // needs data beyond `size` (only when more may come)
        Bad,       // not valid deflate data (or data that ends too early)
    };

    using Code = inflating::Code;

    explicit BlockInflater(bool deflate64) : deflate64_(deflate64) { }

    // Starts at `bit`, where a block header is expected.
    void Reset(uint64_t bit);
    // The compressed data's first `bytes` are dropped: the positions move down with it.
    void Rebase(size_t bytes) { bit_ -= uint64_t(bytes) * 8; }
    uint64_t Bit() const { return bit_; }
    bool AtBlockStart() const { return stage_ == Stage::Header; }

    // Decodes from `data` (`size` bytes, `ended` when no more will follow) into `out` from `pos`
    // up to `limit`. A match may reach back as far as `floor` in `out`; further is invalid.
    template <typename T>
    Result Run(const uint8_t* data, size_t size, bool ended, T* out, size_t& pos, size_t limit, size_t floor,
        uint64_t stopBit, bool pauseAtBlocks);

    // Whether a block that is not the last one (dynamic or stored) may start at `bit` of `data`
    // (padded): a quick test of its header before decoding is tried there.
    static bool MayStartBlock(const uint8_t* data, uint64_t bit, bool deflate64);
    // The first bit in [bit, end) where MayStartBlock holds, or `end`.
    static uint64_t NextBlockStart(const uint8_t* data, uint64_t bit, uint64_t end, bool deflate64);

private:
    enum class Stage { Header, Stored, Codes, Done };

    Result ReadHeader(const uint8_t* data, size_t size, bool ended);
    bool ReadDynamicTables(const uint8_t* data, size_t size);
    uint32_t Take(const uint8_t* data, size_t size, int count);
    template <typename T>
    Result CopyStored(const uint8_t* data, size_t size, bool ended, T* out, size_t& pos, size_t limit);
    template <typename T>
    Result DecodeCodes(
        const uint8_t* data, size_t size, bool ended, T* out, size_t& pos, size_t limit, size_t floor);

    bool deflate64_;
    Stage stage_ = Stage::Header;
    uint64_t bit_ = 0;
    bool last_ = false;
    bool blockEnded_ = false;
    bool overrun_ = false;  // a header read past the data
    uint32_t storedLeft_ = 0;
    uint32_t matchLeft_ = 0;
    uint32_t matchDistance_ = 0;
    Code literals_[2560];
    Code distances_[768];
};

}  // namespace unzip
