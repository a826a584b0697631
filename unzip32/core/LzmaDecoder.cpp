#include "unzip32/core/LzmaDecoder.h"

#include <algorithm>

namespace unzip {

LzmaDecoder::~LzmaDecoder()
{
    lzma_end(&stream_);
}

namespace {

// Reads the ZIP LZMA header into `options` (lc, lp, pb, the dictionary cut to the member's size).
Status ReadHeader(const Entry& entry, MemberInput& input, lzma_options_lzma& options, std::string& detail)
{
    uint8_t header[9];
    if (!input.Take(header, sizeof header))
        return input.Failed() ? Status::Truncated : Status::DataError;
    const unsigned propertiesSize = header[2] | (static_cast<unsigned>(header[3]) << 8);
    unsigned properties = header[4];
    const uint32_t dictionary = static_cast<uint32_t>(header[5]) | (static_cast<uint32_t>(header[6]) << 8) |
        (static_cast<uint32_t>(header[7]) << 16) | (static_cast<uint32_t>(header[8]) << 24);
    if (propertiesSize != 5 || properties >= 9 * 5 * 5)
        return Status::DataError;
    options = lzma_options_lzma();
    options.lc = properties % 9;
    properties /= 9;
    options.lp = properties % 5;
    options.pb = properties / 5;
    if (options.lc + options.lp > LZMA_LCLP_MAX) {
        detail = "LZMA with lc + lp above 4 is not decoded";
        return Status::UnsupportedMethod;
    }
    // No match reaches back further than the member is long: a dictionary larger than that is
    // never filled, so it is cut to the member's size.
    options.dict_size =
        static_cast<uint32_t>(std::max<uint64_t>(std::min<uint64_t>(dictionary, entry.size), LZMA_DICT_SIZE_MIN));
    return Status::Ok;
}

}  // namespace

uint64_t LzmaDecoder::Memory(const Entry& entry, MemberInput& input)
{
    lzma_options_lzma options;
    std::string detail;
    return ReadHeader(entry, input, options, detail) == Status::Ok ? options.dict_size : 0;
}

Status LzmaDecoder::Start()
{
    lzma_options_lzma options;
    const Status read = ReadHeader(entry_, input_, options, detail_);
    if (read != Status::Ok)
        return read;
    if (options.dict_size > memoryLimit_)
        return Refuse(options.dict_size);
    // The extended LZMA1 filter knows the size, so the data may end without a marker.
    options.ext_flags = (entry_.flags & 0x0002) != 0 ? LZMA_LZMA1EXT_ALLOW_EOPM : 0;
    lzma_set_ext_size(options, entry_.size);
    lzma_filter filters[2] = {{LZMA_FILTER_LZMA1EXT, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
    const lzma_ret code = lzma_raw_decoder(&stream_, filters);
    if (code == LZMA_MEM_ERROR)
        return Status::OutOfMemory;
    if (code != LZMA_OK) {
        detail_ = "LZMA properties this library does not decode";
        return Status::UnsupportedMethod;
    }
    return Status::Ok;
}

Status LzmaDecoder::Decode(uint8_t* buffer, size_t capacity, const uint8_t*& data, size_t& size, bool& finished)
{
    data = buffer;
    return RunLzma(stream_, input_, buffer, capacity, size, finished, detail_);
}

Status RunLzma(lzma_stream& stream, MemberInput& input, uint8_t* buffer, size_t capacity, size_t& size, bool& finished,
    std::string& detail)
{
    size = 0;
    stream.next_out = buffer;
    stream.avail_out = capacity;
    while (size == 0) {
        if (input.available == 0 && !input.Fill() && input.Failed())
            return Status::Truncated;
        stream.next_in = input.next;
        stream.avail_in = input.available;
        const lzma_ret code = lzma_code(&stream, input.AtEnd() ? LZMA_FINISH : LZMA_RUN);
        const size_t taken = input.available - stream.avail_in;
        input.next += taken;
        input.available -= taken;
        size = static_cast<size_t>(stream.next_out - buffer);
        switch (code) {
        case LZMA_OK: break;
        case LZMA_STREAM_END: finished = true; return Status::Ok;
        case LZMA_MEM_ERROR: return Status::OutOfMemory;
        case LZMA_OPTIONS_ERROR: detail = "LZMA options this library does not decode"; return Status::UnsupportedMethod;
        default: return Status::DataError;
        }
        if (size == 0 && taken == 0)
            return Status::DataError;  // no progress: the data ends before its stream does
    }
    return Status::Ok;
}

}  // namespace unzip
