#pragma once
#include "unzip32/core/Decoder.h"
#include "unzip32/core/Xxh64Stream.h"

#include <7zTypes.h>
#include <ZstdDec.h>

#include <memory>

namespace unzip {

// Methods 93 and 20 through 7-Zip's own Zstandard decoder, which is how 7-Zip decodes them (a
// third faster than libzstd in the 32-bit build; slower in the 64-bit one, which takes libzstd's).
// Frame after frame; the output is handed out where it lies in the decoder's window. The first
// frame's window is held to the memory limit before anything is decoded, as ZstdDecoder does; the
// windows of later frames are held to it where they are allocated. The frames' checksums are
// computed here on the output as it is handed out (Xxh64Stream, faster than the decoder's own in
// the 32-bit build), and a frame whose checksum does not match fails once its output is handed out.
class SevenZipZstdDecoder : public Decoder {
public:
    explicit SevenZipZstdDecoder(MemberInput& input);
    ~SevenZipZstdDecoder() override;
    Status Start() override;
    Status Decode(uint8_t* buffer, size_t capacity, const uint8_t*& data, size_t& size, bool& finished) override;

    struct WindowAllocator;  // the window's allocator, with its limit

private:
    Status Failed(SRes result);
    void NoteFrameEnd();

    MemberInput& input_;
    std::unique_ptr<WindowAllocator> windows_;
    CZstdDecHandle decoder_ = nullptr;
    CZstdDecState state_ {};
    uint8_t header_[18];  // the first frame's header, read to check its window, decoded first
    size_t headerSize_ = 0;
    size_t headerUsed_ = 0;
    int idle_ = 0;  // calls in a row that took nothing and gave nothing
    // The checksum of the data frame under way, hashed unless its header says it has none (read
    // where the header lies whole in the input at the frame's start); its end, checked once its
    // output is all handed out; data frames ended so far.
    Xxh64Stream hash_;
    bool hashing_ = true;
    bool peekNext_ = true;
    bool frameEndPending_ = false;
    bool frameChecked_ = false;
    uint32_t frameChecksum_ = 0;
    uint64_t framesEnded_ = 0;
    bool ended_ = false;
};

}  // namespace unzip
