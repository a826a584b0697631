#pragma once
#include "unzip32/core/Decoder.h"
#include "unzip32/core/DeflateTables.h"

#include <memory>

namespace unzip {

// Method 9, Deflate64 (PKWARE's "enhanced deflate"): deflate with a 64 KiB window, length code
// 285 standing for 3 plus 16 extra bits (matches of up to 65538 bytes) and distance codes 30 and
// 31 (14 extra bits). Table-driven: one lookup of the next bits resolves a Huffman code, a second
// one the rare long codes. Output is decoded into a buffer that keeps the last 64 KiB in front of
// it as the window, and handed on from there (a small member gets a buffer of its own size).
class Deflate64Decoder : public Decoder {
public:
    Deflate64Decoder(const Entry& entry, MemberInput& input);
    Status Decode(uint8_t* buffer, size_t capacity, const uint8_t*& data, size_t& size, bool& finished) override;

    // One table entry: what the code stands for and how many bits it takes (see the .cpp).
    using Code = inflating::Code;

private:
    enum class Stage { Header, Stored, Codes, Done };

    Status ReadHeader();
    Status ReadDynamicTables();
    Status CopyStored(size_t limit);
    Status DecodeCodes(size_t limit);
    Status CopyPendingMatch(size_t limit);
    // At least `count` (<= 32) bits in the bit buffer; false when the data ends first.
    bool Need(int count);
    uint32_t Take(int count);
    // What ran out: the archive could not be read, or the member's data ended.
    Status Short() const;

    MemberInput& input_;
    size_t end_;                         // the end of the buffer's room (it has kSlack more)
    std::unique_ptr<uint8_t[]> window_;  // the last 64 KiB of output, then room for new output
    size_t pos_ = 0;                     // where the next byte goes
    uint64_t bits_ = 0;                  // bits not yet used, lowest first
    int count_ = 0;
    Stage stage_ = Stage::Header;
    bool last_ = false;  // the block under way is the last one
    uint32_t storedLeft_ = 0;
    uint32_t matchLeft_ = 0;  // a match that did not fit into the last call's output
    uint32_t matchDistance_ = 0;
    Code literals_[2560];  // literal/length code: 1024 root entries and sub-tables
    Code distances_[768];  // distance code: 256 root entries and sub-tables
};

}  // namespace unzip
