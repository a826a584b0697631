#include "unzip32/core/SevenZipZstdDecoder.h"

#include "unzip32/core/SevenZipAllocator.h"
#include "unzip32/core/ZstdDecoder.h"

#include <algorithm>
#include <cstdlib>

namespace unzip {

struct SevenZipZstdDecoder::WindowAllocator {
    // The decoder gets a pointer to this first member.
    ISzAlloc functions;
    uint64_t limit;
    bool refused = false;

    static void* Allocate(ISzAllocPtr self, size_t size)
    {
        WindowAllocator& allocator = *reinterpret_cast<WindowAllocator*>(const_cast<ISzAlloc*>(self));
        if (size > allocator.limit) {
            allocator.refused = true;
            return nullptr;
        }
        return std::malloc(size);
    }
};

namespace {

bool IsDataFrame(const uint8_t* bytes)
{
    return bytes[0] == 0x28 && bytes[1] == 0xB5 && bytes[2] == 0x2F && bytes[3] == 0xFD;
}

}  // namespace

SevenZipZstdDecoder::SevenZipZstdDecoder(MemberInput& input) : input_(input) { }

SevenZipZstdDecoder::~SevenZipZstdDecoder()
{
    if (decoder_ != nullptr)
        ZstdDec_Destroy(decoder_);
}

Status SevenZipZstdDecoder::Start()
{
    uint64_t memory = 0;
    uint64_t window = 0;
    headerSize_ = ZstdDecoder::ReadFrameHeader(input_, header_, memory, window);
    if (headerSize_ == 0 && input_.Failed())
        return Status::Truncated;
    if (memory > memoryLimit_)
        return Refuse(memory);
    // A window is a power of two and an eighth steps, or a frame's size; the decoder allocates it
    // with a block of 128 KiB over, and rounds a larger one for a later frame up to a power of two
    // with two blocks over. The first frame's window passes even where it is larger than its
    // content needs.
    const uint64_t allowed = std::max(memoryLimit_, window);
    windows_.reset(new WindowAllocator {{&WindowAllocator::Allocate, &SevenZipRelease}, 2 * allowed + (512u << 10)});
    decoder_ = ZstdDec_Create(&kSevenZipAllocator, &windows_->functions);
    if (decoder_ == nullptr)
        return Status::OutOfMemory;
    ZstdDec_Init(decoder_);
    ZstdDecState_Clear(&state_);
    state_.disableHash = 1;
    return Status::Ok;
}

// After a call that ended a frame: the next one's header is looked at before it is decoded, and a
// data frame's checksum (not a skippable frame's), if it has one, is checked once the frame's
// output is all handed out.
void SevenZipZstdDecoder::NoteFrameEnd()
{
    if (state_.status != ZSTD_STATUS_FINISHED_FRAME)
        return;
    peekNext_ = true;
    if (state_.info.num_DataFrames == framesEnded_)
        return;
    framesEnded_ = state_.info.num_DataFrames;
    frameEndPending_ = true;
    frameChecked_ = state_.info.checksum_Defined != 0;
    frameChecksum_ = state_.info.checksum;
}

Status SevenZipZstdDecoder::Failed(SRes result)
{
    if (result == SZ_ERROR_MEM && !windows_->refused)
        return Status::OutOfMemory;
    if (result == SZ_ERROR_MEM || (result == SZ_ERROR_UNSUPPORTED && state_.info.windowSize_MAX > memoryLimit_)) {
        detail_ = "Zstandard window larger than " + MebibyteText(memoryLimit_);
        return Status::UnsupportedMethod;
    }
    if (result == SZ_ERROR_UNSUPPORTED) {
        detail_ = "Zstandard frames with a dictionary are not decoded";
        return Status::UnsupportedMethod;
    }
    return Status::DataError;
}

Status SevenZipZstdDecoder::Decode(uint8_t*, size_t capacity, const uint8_t*& data, size_t& size, bool& finished)
{
    size = 0;
    for (;;) {
        // What the last call decoded, all of it handed out before the decoder goes on.
        const size_t ready = state_.winPos - state_.wrPos;
        if (ready > 0) {
            size = std::min(ready, capacity);
            data = state_.win + state_.wrPos;
            state_.wrPos += size;
            if (hashing_)
                hash_.Update(data, size);
            return Status::Ok;
        }
        if (frameEndPending_) {
            frameEndPending_ = false;
            // A frame with a checksum that was not hashed cannot pass (its header said it had none).
            if (frameChecked_ && (!hashing_ || static_cast<uint32_t>(hash_.Digest()) != frameChecksum_))
                return Status::DataError;
            hash_.Reset();
        }
        if (ended_) {
            finished = true;
            return Status::Ok;
        }
        // The first frame's header bytes, then the member's input.
        const bool fromHeader = headerUsed_ < headerSize_;
        if (!fromHeader && input_.available == 0 && !input_.Fill()) {
            if (input_.Failed())
                return Status::Truncated;
            // The data has ended: the member with it if it ended after a whole frame, with no bytes
            // after it that begin no frame.
            CZstdDecResInfo info;
            ZstdDec_GetResInfo(decoder_, &state_, SZ_OK, &info);
            if (info.decode_SRes != SZ_OK || info.is_NonFinishedFrame || info.extraSize != 0)
                return Status::DataError;
            ended_ = true;
            continue;
        }
        state_.inBuf = fromHeader ? header_ + headerUsed_ : input_.next;
        state_.inPos = 0;
        state_.inLim = fromHeader ? headerSize_ - headerUsed_ : input_.available;
        if (peekNext_) {
            // At a frame's start: a data frame whose header says it has no checksum is not hashed.
            peekNext_ = false;
            hashing_ = state_.inLim < 5 || !IsDataFrame(state_.inBuf) || (state_.inBuf[4] & 4) != 0;
        }
        const SRes result = ZstdDec_Decode(decoder_, &state_);
        if (fromHeader) {
            headerUsed_ += state_.inPos;
        } else {
            input_.next += state_.inPos;
            input_.available -= state_.inPos;
        }
        if (result != SZ_OK)
            return Failed(result);
        NoteFrameEnd();
        idle_ = state_.inPos == 0 && state_.winPos == state_.wrPos ? idle_ + 1 : 0;
        if (idle_ > 2)
            return Status::DataError;  // no progress
    }
}

}  // namespace unzip
