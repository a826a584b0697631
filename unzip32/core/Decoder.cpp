#include "unzip32/core/Decoder.h"

#include "unzip32/core/Bzip2Decoder.h"
#include "unzip32/core/Deflate64Decoder.h"
#include "unzip32/core/InflateDecoder.h"
#include "unzip32/core/LzmaDecoder.h"
#include "unzip32/core/ParallelBzip2Decoder.h"
#include "unzip32/core/ParallelInflateDecoder.h"
#include "unzip32/core/PpmdDecoder.h"
#include "unzip32/core/SevenZipZstdDecoder.h"
#include "unzip32/core/StoredDecoder.h"
#include "unzip32/core/StreamInflateDecoder.h"
#include "unzip32/core/XzDecoder.h"
#include "unzip32/core/ZstdDecoder.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace unzip {

namespace {

enum Method : uint16_t {
    kStored = 0,
    kDeflate = 8,
    kDeflate64 = 9,
    kBzip2 = 12,
    kLzma = 14,
    kZstdOld = 20,  // the id Zstandard had before 93 was assigned; some writers still use it
    kZstd = 93,
    kXz = 95,
    kPpmd = 98,
};

// bzip2 data of at least this size (about four blocks) is decoded on several cores where it can.
const uint64_t kParallelBzip2From = 4u << 20;

bool WorthParallelBzip2(uint64_t length, bool encrypted)
{
    return length >= kParallelBzip2From && !encrypted;
}

// bzip2 data of at least this size goes through the block reader even with no helper threads of
// its own (a member decoded on the pool beside others): its block decoder takes about half of
// libbz2's time.
const uint64_t kBzip2BlocksFrom = 256u << 10;

// Zstandard goes through 7-Zip's decoder in the 32-bit build, where it takes two thirds of
// libzstd's time, and through libzstd's in the 64-bit build, where it takes nine tenths of
// 7-Zip's.
const bool kSevenZipZstd = sizeof(void*) < 8;

// Deflated data of at least this size may be decoded on several cores.
const uint64_t kParallelInflateFrom = 16u << 20;

// Whether a deflated (or Deflate64) member is decoded on several cores, and in chunks of what size
// (0: by the compression ratio). Deflated members from kParallelInflateFrom are, unless
// KESTROVA_PARALLEL_INFLATE says "off"; "on" takes Deflate64 members too (on two cores our
// one-stream Deflate64 decoder is faster than chunks), a chunk size in bytes every member of either
// that is streamed (for tests).
bool WorthParallelInflate(uint16_t method, uint64_t length, bool encrypted, size_t& chunk)
{
    chunk = 0;
    if ((method != kDeflate && method != kDeflate64) || encrypted)
        return false;
    const char* value = std::getenv("KESTROVA_PARALLEL_INFLATE");
    if (value == nullptr)
        return method == kDeflate && length >= kParallelInflateFrom;
    if (std::strcmp(value, "on") == 0)
        return length >= kParallelInflateFrom;
    if (std::strcmp(value, "off") == 0)
        return false;
    chunk = static_cast<size_t>(std::strtoul(value, nullptr, 10));
    return chunk > 0;
}

}  // namespace

bool IsSupportedMethod(uint16_t method)
{
    switch (method) {
    case kStored:
    case kDeflate:
    case kDeflate64:
    case kBzip2:
    case kLzma:
    case kZstdOld:
    case kZstd:
    case kXz:
    case kPpmd: return true;
    default: return false;
    }
}

Status CreateDecoder(const Entry& entry, MemberInput& input, uint64_t memoryLimit, std::unique_ptr<Decoder>& decoder,
    std::string& detail, const DecoderHelpers& helpers)
{
    const unsigned bzip2Helpers = helpers.threads != nullptr && WorthParallelBzip2(input.Length(), input.Decrypts())
        ? ParallelBzip2Decoder::HelpersWithin(memoryLimit, helpers.count)
        : 0;
    size_t inflateChunk = 0;
    const unsigned inflateHelpers = helpers.threads != nullptr &&
            WorthParallelInflate(entry.actualMethod, input.Length(), input.Decrypts(), inflateChunk)
        ? ParallelInflateDecoder::HelpersWithin(memoryLimit, helpers.count)
        : 0;
    switch (entry.actualMethod) {
    case kStored: decoder.reset(new StoredDecoder(entry, input)); break;
    case kDeflate:
    case kDeflate64:
        if (inflateHelpers > 0)
            decoder.reset(new ParallelInflateDecoder(
                entry, input, entry.actualMethod == kDeflate64, *helpers.threads, inflateHelpers, inflateChunk));
        else if (!input.Decrypts())
            decoder.reset(new StreamInflateDecoder(entry, input, entry.actualMethod == kDeflate64));
        else if (entry.actualMethod == kDeflate)
            decoder.reset(new InflateDecoder(input));
        else
            decoder.reset(new Deflate64Decoder(entry, input));
        break;
    case kBzip2:
        if (bzip2Helpers > 0 ||
            (helpers.threads != nullptr && !input.Decrypts() && input.Length() >= kBzip2BlocksFrom &&
                ParallelBzip2Decoder::Memory(0) <= memoryLimit))
            decoder.reset(new ParallelBzip2Decoder(input, *helpers.threads, bzip2Helpers));
        else
            decoder.reset(new Bzip2Decoder(input));
        break;
    case kLzma: decoder.reset(new LzmaDecoder(entry, input)); break;
    case kZstdOld:
    case kZstd:
        if (kSevenZipZstd)
            decoder.reset(new SevenZipZstdDecoder(input));
        else
            decoder.reset(new ZstdDecoder(input));
        break;
    case kXz: decoder.reset(new XzDecoder(entry, input)); break;
    case kPpmd: decoder.reset(new PpmdDecoder(entry, input)); break;
    default:
        detail = std::string("unsupported method ") + MethodName(entry.actualMethod);
        return Status::UnsupportedMethod;
    }
    decoder->SetMemoryLimit(memoryLimit);
    const Status started = decoder->Start();
    detail = decoder->Detail();
    return started;
}

uint64_t DecoderMemory(
    Source& source, const Entry& entry, uint64_t dataStart, uint64_t length, const Decryption* decryption)
{
    const uint16_t method = entry.actualMethod;
    // A large bzip2 member takes the memory of its blocks under way on the helper threads.
    if (method == kBzip2 && WorthParallelBzip2(length, decryption != nullptr))
        return ParallelBzip2Decoder::Memory(1);
    size_t inflateChunk = 0;
    if (WorthParallelInflate(method, length, decryption != nullptr, inflateChunk))
        return ParallelInflateDecoder::Memory(1);
    if (method != kLzma && method != kZstdOld && method != kZstd && method != kXz && method != kPpmd)
        return 0;
    std::vector<uint8_t> buffer(2048);  // the largest header looked at: an XZ block header
    MemberInput input(source, dataStart, length, buffer);
    std::unique_ptr<Decryption> restarted = decryption != nullptr ? decryption->Restart() : nullptr;
    input.SetDecryption(restarted.get());
    switch (method) {
    case kLzma: return LzmaDecoder::Memory(entry, input);
    case kZstdOld:
    case kZstd: return ZstdDecoder::Memory(input);
    case kXz: return XzDecoder::Memory(entry, input);
    case kPpmd: return PpmdDecoder::Memory(input);
    default: return 0;
    }
}

Status Decoder::Refuse(uint64_t bytes)
{
    detail_ = "needs " + MebibyteText(bytes) + " of memory";
    return Status::UnsupportedMethod;
}

std::string MebibyteText(uint64_t bytes)
{
    return std::to_string((bytes + (1u << 20) - 1) >> 20) + " MiB";
}

MemberInput& DecoderRedo::Restart(const MemberInput& input)
{
    buffer_.resize(1u << 20);
    input_.reset(new MemberInput(input.Restarted(buffer_)));
    return *input_;
}

Status DecoderRedo::Start(Decoder* decoder, uint64_t skip)
{
    decoder_.reset(decoder);
    skip_ = skip;
    return decoder_->Start();
}

Status DecoderRedo::Decode(
    uint8_t* buffer, size_t capacity, const uint8_t*& data, size_t& size, bool& finished, std::string& detail)
{
    for (;;) {
        const Status decoded = decoder_->Decode(buffer, capacity, data, size, finished);
        // Skipped in a failed piece too: zlib's inflate hands out the output before the damage.
        const size_t dropped = static_cast<size_t>(std::min<uint64_t>(skip_, size));
        data += dropped;
        size -= dropped;
        skip_ -= dropped;
        if (decoded != Status::Ok) {
            detail = decoder_->Detail();
            return decoded;
        }
        if (finished && skip_ > 0)
            return Status::DataError;  // shorter than what was handed out: cannot be, as that decoded alike
        if (size > 0 || finished)
            return Status::Ok;
    }
}

}  // namespace unzip
