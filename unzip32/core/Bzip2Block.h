#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>

namespace unzip {

// A faster decoder for one bzip2 block, for the blocks the parallel decoder cuts out: the Huffman
// codes through lookup tables, the block sorted back and expanded in one pass over arrays of its
// own. It takes a stream of one block (header, block, end signature and combined CRC) and gives
// its output only when all of it came out as libbz2 would give it and the CRC matched; anything
// else (a damaged or randomised block, output beyond the room given, anything unusual) is left to
// libbz2, so what libbz2 says about such a block stays what the caller sees.
class Bzip2Block {
public:
    Bzip2Block();
    ~Bzip2Block();
    Bzip2Block(const Bzip2Block&) = delete;
    Bzip2Block& operator=(const Bzip2Block&) = delete;

    // The memory one decoder takes (its arrays, for the largest block).
    static const size_t kMemory;

    // Decodes the stream `data` (`size` bytes) into `out` (`capacity` bytes). True with `produced`
    // set when the stream holds one block that decoded cleanly, fitted, matched its CRC and ends
    // where the stream does; false when libbz2 has to decide.
    bool Decode(const uint8_t* data, size_t size, uint8_t* out, size_t capacity, size_t& produced);

private:
    // A stretch of the walk, from a start position to the start of the stretch that follows, its
    // bytes in a list of chunks.
    struct Segment {
        uint32_t start;
        uint32_t end;
        uint32_t firstChunk;
        uint32_t lastChunk;
        uint32_t length;
    };
    static const uint32_t kChunk = 4096;
    static const uint32_t kMaxSegments = 64;
    static const uint32_t kChunks;

    bool Walk(uint32_t first, uint32_t count);

    struct Tables;
    std::unique_ptr<Tables> tables_;
    std::unique_ptr<uint32_t[]> tt_;
    std::unique_ptr<uint8_t[]> raw_;
    std::unique_ptr<uint32_t[]> nextChunk_;
    Segment segment_[kMaxSegments];
    uint32_t order_[kMaxSegments];  // the segment after each, kMaxSegments after the last
    uint32_t segments_ = 0;
};

}  // namespace unzip
