#pragma once
#include "unzip32/core/Decryption.h"
#include "unzip32/core/Source.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace unzip {

// The compressed bytes of one member, read from the archive in pieces as its decoder takes them.
// A decoder consumes from `next`/`available` and calls Fill when the piece is used up.
class MemberInput {
public:
    MemberInput(Source& source, uint64_t start, uint64_t length, std::vector<uint8_t>& buffer)
        : source_(source), start_(start), length_(length), buffer_(buffer)
    {
    }

    // Reads the next piece once the current one is used up. False when nothing is left of the
    // member's data, or when the archive cannot be read (then Failed says so).
    bool Fill();
    bool Failed() const { return failed_; }
    // Takes exactly `count` bytes (a header in front of the compressed data); false when the data
    // ends first or cannot be read.
    bool Take(uint8_t* to, size_t count);
    // True once every byte of the member's data has been handed out and taken.
    bool AtEnd() const { return available == 0 && consumed_ == length_; }
    uint64_t Length() const { return length_; }
    // The bytes of the data taken by the decoder so far.
    uint64_t Taken() const { return consumed_ - available; }
    // Decrypts every piece as it is read (for an encrypted member), before the decoder sees it.
    void SetDecryption(Decryption* decryption) { decryption_ = decryption; }
    bool Decrypts() const { return decryption_ != nullptr; }
    // A reader of the same data from its start, over `buffer` (for a member without decryption).
    MemberInput Restarted(std::vector<uint8_t>& buffer) const { return MemberInput(source_, start_, length_, buffer); }
    // Reads (and so decrypts) what the decoder left of the member's data, for the decryption's
    // check of all of it. False when the archive cannot be read.
    bool Drain();

    const uint8_t* next = nullptr;
    size_t available = 0;

private:
    Source& source_;
    uint64_t start_;
    uint64_t length_;
    uint64_t consumed_ = 0;  // bytes read from the archive so far
    std::vector<uint8_t>& buffer_;
    Decryption* decryption_ = nullptr;
    bool failed_ = false;
};

}  // namespace unzip
