#include "unzip32/core/LzmaDecoder.h"

#include "unzip32/core/SevenZipAllocator.h"

#include <algorithm>
#include <new>

namespace unzip {

namespace {

// The ZIP LZMA header in front of the data: the version, the properties' size and the properties.
const size_t kHeaderSize = 9;

// Reads the header; `properties` then holds lc/lp/pb and the dictionary size (at least 4 KiB).
Status ReadHeader(MemberInput& input, uint8_t (&header)[kHeaderSize], CLzmaProps& properties)
{
    if (!input.Take(header, sizeof header))
        return input.Failed() ? Status::Truncated : Status::DataError;
    const unsigned propertiesSize = header[2] | (static_cast<unsigned>(header[3]) << 8);
    if (propertiesSize != LZMA_PROPS_SIZE || LzmaProps_Decode(&properties, header + 4, LZMA_PROPS_SIZE) != SZ_OK)
        return Status::DataError;
    return Status::Ok;
}

// No match reaches back further than the member is long: a dictionary larger than that is never
// filled, so it is cut to the member's size.
size_t DictionaryFor(const Entry& entry, const CLzmaProps& properties)
{
    return static_cast<size_t>(std::max<uint64_t>(std::min<uint64_t>(properties.dicSize, entry.size), 1));
}

// The dictionary and the probabilities (the literal coder's grow with lc + lp).
uint64_t MemoryFor(const Entry& entry, const CLzmaProps& properties)
{
    const uint64_t probabilities = (uint64_t(0x300) << (properties.lc + properties.lp)) + 2048;
    return DictionaryFor(entry, properties) + probabilities * sizeof(CLzmaProb);
}

}  // namespace

LzmaDecoder::~LzmaDecoder()
{
    LzmaDec_FreeProbs(&state_, &kSevenZipAllocator);
}

uint64_t LzmaDecoder::Memory(const Entry& entry, MemberInput& input)
{
    uint8_t header[kHeaderSize];
    CLzmaProps properties;
    return ReadHeader(input, header, properties) == Status::Ok ? MemoryFor(entry, properties) : 0;
}

Status LzmaDecoder::Start()
{
    uint8_t header[kHeaderSize];
    CLzmaProps properties;
    const Status read = ReadHeader(input_, header, properties);
    if (read != Status::Ok)
        return read;
    const uint64_t memory = MemoryFor(entry_, properties);
    if (memory > memoryLimit_)
        return Refuse(memory);
    const size_t dictionary = DictionaryFor(entry_, properties);
    dictionary_.reset(new (std::nothrow) uint8_t[dictionary]);
    if (dictionary_ == nullptr ||
        LzmaDec_AllocateProbs(&state_, header + 4, LZMA_PROPS_SIZE, &kSevenZipAllocator) != SZ_OK)
        return Status::OutOfMemory;
    state_.dic = dictionary_.get();
    state_.dicBufSize = dictionary;
    LzmaDec_Init(&state_);
    left_ = entry_.size;
    return Status::Ok;
}

Status LzmaDecoder::Decode(uint8_t*, size_t capacity, const uint8_t*& data, size_t& size, bool& finished)
{
    size = 0;
    for (;;) {
        if (state_.dicPos == state_.dicBufSize)
            state_.dicPos = 0;  // the dictionary goes round
        const size_t start = state_.dicPos;
        size_t room = std::min(state_.dicBufSize - start, capacity);
        // The piece that reaches the declared size must end the stream there.
        const bool last = room >= left_;
        if (last)
            room = static_cast<size_t>(left_);
        if (input_.available == 0 && !input_.Fill() && input_.Failed())
            return Status::Truncated;
        SizeT taken = input_.available;
        ELzmaStatus status = LZMA_STATUS_NOT_SPECIFIED;
        const SRes result = LzmaDec_DecodeToDic(
            &state_, start + room, input_.next, &taken, last ? LZMA_FINISH_END : LZMA_FINISH_ANY, &status);
        input_.next += taken;
        input_.available -= taken;
        size = state_.dicPos - start;
        left_ -= size;
        data = state_.dic + start;
        if (result != SZ_OK)
            return Status::DataError;
        finished = status == LZMA_STATUS_FINISHED_WITH_MARK ||
            (left_ == 0 && status == LZMA_STATUS_MAYBE_FINISHED_WITHOUT_MARK);
        if (size > 0 || finished)
            return Status::Ok;
        if (input_.available == 0 && input_.AtEnd())
            return Status::DataError;  // the data ends before its stream does
        if (taken == 0)
            return Status::DataError;  // no progress
    }
}

}  // namespace unzip
