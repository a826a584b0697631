#include "unzip32/core/ZstdDecoder.h"

#define ZSTD_STATIC_LINKING_ONLY  // ZSTD_getFrameHeader
#include <zstd.h>
#include <zstd_errors.h>

#include <algorithm>

namespace unzip {

static_assert(ZSTD_FRAMEHEADERSIZE_MAX == 18, "ZstdDecoder keeps room for a frame header");

size_t ZstdDecoder::ReadFrameHeader(MemberInput& input, uint8_t* header, uint64_t& memory, uint64_t& window)
{
    const size_t size = static_cast<size_t>(std::min<uint64_t>(ZSTD_FRAMEHEADERSIZE_MAX, input.Length()));
    memory = 0;
    window = 0;
    if (!input.Take(header, size))
        return 0;
    ZSTD_frameHeader frame;
    if (ZSTD_getFrameHeader(&frame, header, size) == 0 && frame.frameType == ZSTD_frame) {
        memory = frame.windowSize;
        window = frame.windowSize;
        if (frame.frameContentSize != ZSTD_CONTENTSIZE_UNKNOWN)
            memory = std::min<uint64_t>(memory, frame.frameContentSize);
    }
    return size;
}

uint64_t ZstdDecoder::Memory(MemberInput& input)
{
    uint8_t header[ZSTD_FRAMEHEADERSIZE_MAX];
    uint64_t memory = 0;
    uint64_t window = 0;
    ReadFrameHeader(input, header, memory, window);
    return memory;
}

ZstdDecoder::~ZstdDecoder()
{
    ZSTD_freeDCtx(context_);
}

Status ZstdDecoder::Start()
{
    uint64_t memory = 0;
    uint64_t window = 0;
    headerSize_ = ReadFrameHeader(input_, header_, memory, window);
    if (headerSize_ == 0 && input_.Failed())
        return Status::Truncated;
    if (memory > memoryLimit_)
        return Refuse(memory);
    context_ = ZSTD_createDCtx();
    if (context_ == nullptr)
        return Status::OutOfMemory;
    // Later frames are held to the same limit (a window is a power of two, or the frame's size);
    // the first frame's window passes even where it is larger than its content needs.
    int windowLog = 10;
    while (windowLog < ZSTD_WINDOWLOG_MAX &&
        ((uint64_t(1) << (windowLog + 1)) <= memoryLimit_ || (uint64_t(1) << windowLog) < window))
        ++windowLog;
    if (ZSTD_isError(ZSTD_DCtx_setParameter(context_, ZSTD_d_windowLogMax, windowLog)))
        return Status::Internal;
    return Status::Ok;
}

Status ZstdDecoder::Decode(uint8_t* buffer, size_t capacity, const uint8_t*& data, size_t& size, bool& finished)
{
    data = buffer;
    size = 0;
    ZSTD_outBuffer out = {buffer, capacity, 0};
    while (out.pos == 0) {
        // The first frame's header bytes, then the member's input.
        const bool fromHeader = headerUsed_ < headerSize_;
        if (!fromHeader && input_.available == 0 && !input_.Fill() && input_.Failed())
            return Status::Truncated;
        ZSTD_inBuffer in = fromHeader ? ZSTD_inBuffer {header_ + headerUsed_, headerSize_ - headerUsed_, 0}
                                      : ZSTD_inBuffer {input_.next, input_.available, 0};
        const size_t hint = ZSTD_decompressStream(context_, &out, &in);
        if (fromHeader) {
            headerUsed_ += in.pos;
        } else {
            input_.next += in.pos;
            input_.available -= in.pos;
        }
        size = out.pos;
        if (ZSTD_isError(hint)) {
            switch (ZSTD_getErrorCode(hint)) {
            case ZSTD_error_memory_allocation: return Status::OutOfMemory;
            case ZSTD_error_frameParameter_windowTooLarge:
                detail_ = "Zstandard window larger than " + MebibyteText(memoryLimit_);
                return Status::UnsupportedMethod;
            case ZSTD_error_dictionary_wrong:
                detail_ = "Zstandard frames with a dictionary are not decoded";
                return Status::UnsupportedMethod;
            default: return Status::DataError;
            }
        }
        if (hint == 0) {
            // A frame has ended and all of it is out; another may follow.
            if (headerUsed_ == headerSize_ && input_.available == 0 && !input_.Fill()) {
                if (input_.Failed())
                    return Status::Truncated;
                finished = true;
                return Status::Ok;
            }
            continue;
        }
        if (out.pos == 0 && in.pos == 0)
            return Status::DataError;  // no progress: the data ends inside a frame
    }
    return Status::Ok;
}

}  // namespace unzip
