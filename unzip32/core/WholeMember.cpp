#include "unzip32/core/WholeMember.h"

#include <libdeflate.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace unzip {

namespace {

const uint16_t kDeflated = 8;
// Content is written (and progress told) in pieces of this size.
const size_t kWritePiece = 8u << 20;

struct FreeDecompressor {
    void operator()(libdeflate_decompressor* decompressor) const { libdeflate_free_decompressor(decompressor); }
};

// Writes `size` bytes to `out` (none: only tells progress) in pieces, telling progress after each.
Status WriteInPieces(OutputFile* out, const uint8_t* data, uint64_t size, uint64_t before, const Progress& progress)
{
    uint64_t done = 0;
    while (done < size) {
        const size_t piece = static_cast<size_t>(std::min<uint64_t>(kWritePiece, size - done));
        if (out != nullptr) {
            const Status written = out->Write(data + done, piece);
            if (written != Status::Ok)
                return written;
        }
        done += piece;
        if (!progress(before + done))
            return Status::Stopped;
    }
    return Status::Ok;
}

}  // namespace

uint32_t Crc32(uint32_t crc, const uint8_t* data, size_t count)
{
    return libdeflate_crc32(crc, data, count);
}

Status DecodeWholeDeflated(Source& source, const Entry& entry, uint64_t dataStart, uint64_t length,
    uint64_t memoryLimit, OutputFile* out, std::vector<uint8_t>& input, std::vector<uint8_t>& output,
    const Progress& progress, bool& taken)
{
    taken = false;
    if (entry.actualMethod != kDeflated || entry.IsEncrypted() || entry.size == 0 || length == 0)
        return Status::Ok;
    if (length > memoryLimit || entry.size > memoryLimit - length)
        return Status::Ok;
    const size_t size = static_cast<size_t>(entry.size);
    const size_t packed = static_cast<size_t>(length);
    taken = true;
    if (input.size() < packed)
        input.resize(packed);
    if (!source.Read(dataStart, input.data(), packed))
        return Status::Truncated;
    const uint8_t* in = input.data();
    if (output.size() < size)
        output.resize(size);
    uint8_t* target = output.data();

    std::unique_ptr<libdeflate_decompressor, FreeDecompressor> decompressor(libdeflate_alloc_decompressor());
    if (decompressor == nullptr)
        return Status::OutOfMemory;
    // Room for exactly the declared size: a stream that would produce more fails for want of space.
    size_t produced = 0;
    const libdeflate_result result =
        libdeflate_deflate_decompress(decompressor.get(), in, packed, target, size, &produced);
    if (result == LIBDEFLATE_INSUFFICIENT_SPACE)
        return Status::SizeMismatch;
    if (result != LIBDEFLATE_SUCCESS)
        return Status::DataError;
    if (produced != size)
        return Status::SizeMismatch;
    if (Crc32(0, target, size) != entry.crc)
        return Status::CrcMismatch;
    return WriteInPieces(out, target, entry.size, 0, progress);
}

}  // namespace unzip
