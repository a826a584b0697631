#include "unzip32/core/XzDecoder.h"

#include "unzip32/core/SevenZipAllocator.h"

#include <algorithm>
#include <new>

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

XzDecoder::XzDecoder(const Entry& entry, MemberInput& input, bool lzma2Blocks)
    : entry_(entry), input_(input), lzma2Blocks_(lzma2Blocks)
{
    Lzma2Dec_CONSTRUCT(&lzma2_);
}

XzDecoder::~XzDecoder()
{
    Lzma2Dec_FreeProbs(&lzma2_, &kSevenZipAllocator);
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
// cuts the LZMA2 dictionary to the member's size; `dictionary` is what the block then needs,
// `declared` what its header says. On success the filters' options must be freed with
// lzma_filters_free.
Status ReadBlockHeader(const Entry& entry, MemberInput& input, uint8_t first, const lzma_stream_flags& flags,
    lzma_block& block, lzma_filter* filters, uint64_t& dictionary, uint32_t& declared, std::string& detail)
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
    declared = 0;
    for (size_t i = 0; filters[i].id != LZMA_VLI_UNKNOWN; ++i) {
        if (filters[i].id != LZMA_FILTER_LZMA2 || filters[i].options == nullptr)
            continue;
        // No match reaches back further than the member is long.
        lzma_options_lzma& options = *static_cast<lzma_options_lzma*>(filters[i].options);
        declared = options.dict_size;
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
    uint32_t declared = 0;
    std::string detail;
    if (ReadBlockHeader(entry, input, first, flags, block, filters, dictionary, declared, detail) != Status::Ok)
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
    uint32_t declared = 0;
    const Status read = ReadBlockHeader(entry_, input_, first, flags_, block_, filters_, dictionary, declared, detail_);
    if (read != Status::Ok)
        return read;
    haveFilters_ = true;
    if (dictionary > memoryLimit_)
        return Refuse(dictionary);
    const lzma_check check = flags_.check;
    if (lzma2Blocks_ && filters_[0].id == LZMA_FILTER_LZMA2 && filters_[1].id == LZMA_VLI_UNKNOWN &&
        (check == LZMA_CHECK_NONE || check == LZMA_CHECK_CRC32 || check == LZMA_CHECK_CRC64))
        return StartLzma2Block(declared, dictionary);
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

namespace {

// The LZMA2 dictionary property that stands for `size`: 2 or 3 times a power of two from 4 KiB,
// or 40 for 4 GiB - 1.
Byte Lzma2Property(uint32_t size)
{
    for (unsigned property = 0; property < 40; ++property) {
        if ((uint64_t(2 | (property & 1)) << (property / 2 + 11)) >= size)
            return static_cast<Byte>(property);
    }
    return 40;
}

}  // namespace

Status XzDecoder::StartLzma2Block(uint32_t declared, uint64_t dictionary)
{
    const size_t size = static_cast<size_t>(dictionary);
    if (size > dictionarySize_) {
        dictionary_.reset();
        dictionarySize_ = 0;
        dictionary_.reset(new (std::nothrow) uint8_t[size]);
        if (dictionary_ == nullptr)
            return Status::OutOfMemory;
        dictionarySize_ = size;
    }
    if (Lzma2Dec_AllocateProbs(&lzma2_, Lzma2Property(declared), &kSevenZipAllocator) != SZ_OK)
        return Status::OutOfMemory;
    lzma2_.decoder.dic = dictionary_.get();
    lzma2_.decoder.dicBufSize = size;
    Lzma2Dec_Init(&lzma2_);
    cut_ = size < declared;
    packed_ = 0;
    unpacked_ = 0;
    crc32_ = 0;
    crc64_ = 0;
    stage_ = Stage::Lzma2Block;
    return Status::Ok;
}

// Decodes into the dictionary up to `capacity` bytes; `data` points at them there.
Status XzDecoder::DecodeLzma2(size_t capacity, const uint8_t*& data, size_t& size)
{
    CLzmaDec& state = lzma2_.decoder;
    for (;;) {
        // A dictionary cut to the member's size is full only at the block's end: it goes round
        // only for data longer than the member.
        const bool full = cut_ && state.dicPos == state.dicBufSize;
        if (state.dicPos == state.dicBufSize && !cut_)
            state.dicPos = 0;
        const size_t start = state.dicPos;
        const size_t limit = full ? start : start + std::min(state.dicBufSize - start, capacity);
        if (input_.available == 0 && !input_.Fill() && input_.Failed())
            return Status::Truncated;
        SizeT taken = input_.available;
        ELzmaStatus status = LZMA_STATUS_NOT_SPECIFIED;
        const SRes result = Lzma2Dec_DecodeToDic(
            &lzma2_, limit, input_.next, &taken, full ? LZMA_FINISH_END : LZMA_FINISH_ANY, &status);
        input_.next += taken;
        input_.available -= taken;
        packed_ += taken;
        size = state.dicPos - start;
        data = state.dic + start;
        unpacked_ += size;
        if (flags_.check == LZMA_CHECK_CRC32)
            crc32_ = lzma_crc32(data, size, crc32_);
        else if (flags_.check == LZMA_CHECK_CRC64)
            crc64_ = lzma_crc64(data, size, crc64_);
        if (result != SZ_OK)
            return Status::DataError;
        if ((block_.compressed_size != LZMA_VLI_UNKNOWN && packed_ > block_.compressed_size) ||
            (block_.uncompressed_size != LZMA_VLI_UNKNOWN && unpacked_ > block_.uncompressed_size))
            return Status::DataError;
        if (status == LZMA_STATUS_FINISHED_WITH_MARK) {
            stage_ = Stage::Lzma2BlockEnd;
            return Status::Ok;
        }
        if (full && status != LZMA_STATUS_NEEDS_MORE_INPUT)
            return Status::DataError;
        if (size > 0)
            return Status::Ok;
        if (input_.available == 0 && input_.AtEnd())
            return Short();  // the data ends before its block does
        if (taken == 0)
            return Status::DataError;  // no progress
    }
}

// After the LZMA2 data: the sizes the header declared, the padding to four bytes and the check.
Status XzDecoder::EndLzma2Block()
{
    if ((block_.compressed_size != LZMA_VLI_UNKNOWN && packed_ != block_.compressed_size) ||
        (block_.uncompressed_size != LZMA_VLI_UNKNOWN && unpacked_ != block_.uncompressed_size))
        return Status::DataError;
    uint8_t tail[3 + 8];
    const size_t padding = static_cast<size_t>((4 - packed_ % 4) % 4);
    const size_t checkSize = lzma_check_size(flags_.check);
    if (!input_.Take(tail, padding + checkSize))
        return Short();
    if (std::any_of(tail, tail + padding, [](uint8_t b) { return b != 0; }))
        return Status::DataError;
    uint64_t stored = 0;
    for (size_t i = checkSize; i-- > 0;)
        stored = (stored << 8) | tail[padding + i];
    if ((flags_.check == LZMA_CHECK_CRC32 && stored != crc32_) ||
        (flags_.check == LZMA_CHECK_CRC64 && stored != crc64_))
        return Status::DataError;
    block_.compressed_size = packed_;
    block_.uncompressed_size = unpacked_;
    return EndBlock();
}

// A block has ended: the index is to list it.
Status XzDecoder::EndBlock()
{
    const lzma_vli unpadded = lzma_block_unpadded_size(&block_);
    if (unpadded == 0 || lzma_index_hash_append(index_, unpadded, block_.uncompressed_size) != LZMA_OK)
        return Status::DataError;
    FreeFilters();
    stage_ = Stage::BlockHeader;
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
            data = buffer;
            status = RunLzma(stream_, input_, buffer, capacity, size, ended, detail_);
            if (status == Status::Ok && ended)
                status = EndBlock();
            break;
        }
        case Stage::Lzma2Block: status = DecodeLzma2(capacity, data, size); break;
        case Stage::Lzma2BlockEnd: status = EndLzma2Block(); break;
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
