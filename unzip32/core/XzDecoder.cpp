#include "unzip32/core/XzDecoder.h"

#include <algorithm>

namespace unzip {

namespace {

// Runs the decoder over the member's input until it produces output or ends. `detail` names a
// refusal.
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

}  // namespace

XzDecoder::~XzDecoder()
{
    FreeFilters();
    lzma_index_hash_end(index_, nullptr);
    lzma_end(&stream_);
}

void XzDecoder::FreeFilters()
{
    if (haveFilters_)
        lzma_filters_free(filters_, nullptr);
    haveFilters_ = false;
}

Status XzDecoder::Short() const
{
    return input_.Failed() ? Status::Truncated : Status::DataError;
}

Status XzDecoder::Start()
{
    uint8_t header[LZMA_STREAM_HEADER_SIZE];
    if (!input_.Take(header, sizeof header))
        return Short();
    const lzma_ret code = lzma_stream_header_decode(&flags_, header);
    if (code == LZMA_OPTIONS_ERROR) {
        detail_ = "XZ stream options this library does not decode";
        return Status::UnsupportedMethod;
    }
    if (code != LZMA_OK)
        return Status::DataError;
    index_ = lzma_index_hash_init(nullptr, nullptr);
    return index_ != nullptr ? Status::Ok : Status::OutOfMemory;
}

namespace {

// Reads the rest of a block header (its first byte is `first`) into `block` and `filters`, and
// cuts the LZMA2 dictionary to the member's size; `dictionary` is what the block then needs.
// On success the filters' options must be freed with lzma_filters_free.
Status ReadBlockHeader(const Entry& entry, MemberInput& input, uint8_t first, const lzma_stream_flags& flags,
    lzma_block& block, lzma_filter* filters, uint64_t& dictionary, std::string& detail)
{
    uint8_t header[1024];
    header[0] = first;
    const uint32_t headerSize = lzma_block_header_size_decode(first);
    if (!input.Take(header + 1, headerSize - 1))
        return input.Failed() ? Status::Truncated : Status::DataError;
    block = lzma_block();
    block.version = 1;
    block.check = flags.check;
    block.header_size = headerSize;
    block.filters = filters;
    const lzma_ret decoded = lzma_block_header_decode(&block, nullptr, header);
    if (decoded == LZMA_OPTIONS_ERROR) {
        detail = "XZ filters this library does not decode";
        return Status::UnsupportedMethod;
    }
    if (decoded != LZMA_OK)
        return decoded == LZMA_MEM_ERROR ? Status::OutOfMemory : Status::DataError;
    dictionary = 0;
    for (size_t i = 0; filters[i].id != LZMA_VLI_UNKNOWN; ++i) {
        if (filters[i].id != LZMA_FILTER_LZMA2 || filters[i].options == nullptr)
            continue;
        // No match reaches back further than the member is long.
        lzma_options_lzma& options = *static_cast<lzma_options_lzma*>(filters[i].options);
        options.dict_size = static_cast<uint32_t>(
            std::max<uint64_t>(std::min<uint64_t>(options.dict_size, entry.size), LZMA_DICT_SIZE_MIN));
        dictionary = options.dict_size;
    }
    return Status::Ok;
}

}  // namespace

uint64_t XzDecoder::Memory(const Entry& entry, MemberInput& input)
{
    uint8_t header[LZMA_STREAM_HEADER_SIZE];
    lzma_stream_flags flags {};
    uint8_t first = 0;
    if (!input.Take(header, sizeof header) || lzma_stream_header_decode(&flags, header) != LZMA_OK ||
        !input.Take(&first, 1) || first == 0x00)
        return 0;
    lzma_block block {};
    lzma_filter filters[LZMA_FILTERS_MAX + 1] = {};
    uint64_t dictionary = 0;
    std::string detail;
    if (ReadBlockHeader(entry, input, first, flags, block, filters, dictionary, detail) != Status::Ok)
        return 0;
    lzma_filters_free(filters, nullptr);
    return dictionary;
}

// Reads a block header (or notices the index that follows the last block) and starts the block
// decoder.
Status XzDecoder::StartBlock()
{
    uint8_t first = 0;
    if (!input_.Take(&first, 1))
        return Short();
    if (first == 0x00) {
        // The index indicator: the index starts here, with this byte.
        size_t used = 0;
        if (lzma_index_hash_decode(index_, &first, &used, 1) != LZMA_OK)
            return Status::DataError;
        stage_ = Stage::Index;
        return Status::Ok;
    }
    uint64_t dictionary = 0;
    const Status read = ReadBlockHeader(entry_, input_, first, flags_, block_, filters_, dictionary, detail_);
    if (read != Status::Ok)
        return read;
    haveFilters_ = true;
    if (dictionary > memoryLimit_)
        return Refuse(dictionary);
    const lzma_ret started = lzma_block_decoder(&stream_, &block_);
    if (started == LZMA_MEM_ERROR)
        return Status::OutOfMemory;
    if (started == LZMA_OPTIONS_ERROR) {
        detail_ = "XZ filters this library does not decode";
        return Status::UnsupportedMethod;
    }
    if (started != LZMA_OK)
        return Status::DataError;
    stage_ = Stage::Block;
    return Status::Ok;
}

// The index must list exactly the blocks decoded, with their sizes.
Status XzDecoder::ReadIndex()
{
    for (;;) {
        if (input_.available == 0 && !input_.Fill())
            return Short();
        size_t used = 0;
        const lzma_ret code = lzma_index_hash_decode(index_, input_.next, &used, input_.available);
        input_.next += used;
        input_.available -= used;
        if (code == LZMA_STREAM_END) {
            stage_ = Stage::Footer;
            return Status::Ok;
        }
        if (code != LZMA_OK)
            return Status::DataError;
    }
}

Status XzDecoder::ReadFooter()
{
    uint8_t footer[LZMA_STREAM_HEADER_SIZE];
    if (!input_.Take(footer, sizeof footer))
        return Short();
    lzma_stream_flags flags {};
    if (lzma_stream_footer_decode(&flags, footer) != LZMA_OK || lzma_stream_flags_compare(&flags_, &flags) != LZMA_OK ||
        flags.backward_size != lzma_index_hash_size(index_))
        return Status::DataError;
    return NextStream();
}

// Stream padding (zeros, four at a time) and further streams may follow a stream, as in
// concatenated .xz files. Anything else is not read: the sizes and the CRC of the member settle
// whether all of it was there.
Status XzDecoder::NextStream()
{
    static const uint8_t kMagic[] = {0xFD, '7', 'z', 'X', 'Z', 0x00};
    uint8_t header[LZMA_STREAM_HEADER_SIZE];
    do {
        if (!input_.Take(header, 4)) {
            stage_ = Stage::Done;
            return Status::Ok;
        }
    } while (header[0] == 0 && header[1] == 0 && header[2] == 0 && header[3] == 0);
    if (!std::equal(header, header + 4, kMagic) || !input_.Take(header + 4, sizeof header - 4) ||
        !std::equal(kMagic, kMagic + sizeof kMagic, header)) {
        stage_ = Stage::Done;
        return Status::Ok;
    }
    if (lzma_stream_header_decode(&flags_, header) != LZMA_OK)
        return Status::DataError;
    lzma_index_hash_end(index_, nullptr);
    index_ = lzma_index_hash_init(nullptr, nullptr);
    if (index_ == nullptr)
        return Status::OutOfMemory;
    stage_ = Stage::BlockHeader;
    return Status::Ok;
}

Status XzDecoder::Decode(uint8_t* buffer, size_t capacity, const uint8_t*& data, size_t& size, bool& finished)
{
    data = buffer;
    size = 0;
    while (size == 0) {
        Status status = Status::Ok;
        switch (stage_) {
        case Stage::BlockHeader: status = StartBlock(); break;
        case Stage::Block: {
            bool ended = false;
            status = RunLzma(stream_, input_, buffer, capacity, size, ended, detail_);
            if (status == Status::Ok && ended) {
                if (lzma_index_hash_append(index_, lzma_block_unpadded_size(&block_), block_.uncompressed_size) !=
                    LZMA_OK)
                    return Status::DataError;
                FreeFilters();
                stage_ = Stage::BlockHeader;
            }
            break;
        }
        case Stage::Index: status = ReadIndex(); break;
        case Stage::Footer: status = ReadFooter(); break;
        case Stage::Done: finished = true; return Status::Ok;
        }
        if (status != Status::Ok)
            return status;
    }
    return Status::Ok;
}

}  // namespace unzip
