#include "unzip32/core/ZstdDecoder.h"

#include <zstd.h>
#include <zstd_errors.h>

namespace unzip {

namespace {

const int kWindowLogLimit = 24;  // 16 MiB
static_assert((uint64_t(1) << kWindowLogLimit) == kDecoderMemoryLimit, "the window limit is the decoder limit");

}  // namespace

ZstdDecoder::~ZstdDecoder()
{
    ZSTD_freeDCtx(context_);
}

Status ZstdDecoder::Start()
{
    context_ = ZSTD_createDCtx();
    if (context_ == nullptr)
        return Status::OutOfMemory;
    if (ZSTD_isError(ZSTD_DCtx_setParameter(context_, ZSTD_d_windowLogMax, kWindowLogLimit)))
        return Status::Internal;
    return Status::Ok;
}

Status ZstdDecoder::Decode(uint8_t* buffer, size_t capacity, const uint8_t*& data, size_t& size, bool& finished)
{
    data = buffer;
    size = 0;
    ZSTD_outBuffer out = {buffer, capacity, 0};
    while (out.pos == 0) {
        if (input_.available == 0 && !input_.Fill() && input_.Failed())
            return Status::Truncated;
        ZSTD_inBuffer in = {input_.next, input_.available, 0};
        const size_t hint = ZSTD_decompressStream(context_, &out, &in);
        input_.next += in.pos;
        input_.available -= in.pos;
        size = out.pos;
        if (ZSTD_isError(hint)) {
            switch (ZSTD_getErrorCode(hint)) {
            case ZSTD_error_memory_allocation: return Status::OutOfMemory;
            case ZSTD_error_frameParameter_windowTooLarge:
                detail_ = "Zstandard window larger than " + MebibyteText(kDecoderMemoryLimit);
                return Status::UnsupportedMethod;
            default: return Status::DataError;
            }
        }
        if (hint == 0) {
            // A frame has ended and all of it is out; another may follow.
            if (input_.available == 0 && !input_.Fill()) {
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
