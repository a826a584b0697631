#include "unzip32/core/XzDecoder.h"

#include "unzip32/core/LzmaDecoder.h"

namespace unzip {

XzDecoder::~XzDecoder()
{
    lzma_end(&stream_);
}

Status XzDecoder::Start()
{
    // The dictionary plus what the decoder keeps besides it (a few tens of kilobytes).
    const uint64_t memoryLimit = kDecoderMemoryLimit + (1u << 20);
    const lzma_ret code = lzma_stream_decoder(&stream_, memoryLimit, 0);
    if (code == LZMA_MEM_ERROR)
        return Status::OutOfMemory;
    return code == LZMA_OK ? Status::Ok : Status::Internal;
}

Status XzDecoder::Decode(uint8_t* buffer, size_t capacity, const uint8_t*& data, size_t& size, bool& finished)
{
    data = buffer;
    return RunLzma(stream_, input_, buffer, capacity, size, finished, detail_);
}

}  // namespace unzip
