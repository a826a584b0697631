#include "unzip32/core/WholeMember.h"

#include <libdeflate.h>

#include <algorithm>
#include <memory>
#include <new>
#include <vector>

namespace unzip {

namespace {

const uint16_t kStored = 0;
const uint16_t kDeflated = 8;
// Content is written (and progress told) in pieces of this size.
const size_t kWritePiece = 8u << 20;
// A stored member is seen through views of at most this size, one after the other.
const uint64_t kViewPiece = 16u << 20;

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
    std::unique_ptr<SourceView> view;
    if (length >= kWorthAView)
        view = source.View(dataStart, packed);
    const uint8_t* in = view != nullptr ? view->data : nullptr;
    if (in == nullptr) {
        if (input.size() < packed)
            input.resize(packed);
        if (!source.Read(dataStart, input.data(), packed))
            return Status::Truncated;
        in = input.data();
    }
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

Status CopyStoredInPlace(Source& source, const Entry& entry, uint64_t dataStart, uint64_t length, OutputFile* out,
    const Progress& progress, bool& taken)
{
    taken = false;
    if (entry.actualMethod != kStored || entry.IsEncrypted() || length != entry.size || length < kWorthAView)
        return Status::Ok;
    uint32_t crc = 0;
    uint64_t done = 0;
    std::vector<uint8_t> copy;
    while (done < length) {
        const size_t piece = static_cast<size_t>(std::min<uint64_t>(kViewPiece, length - done));
        std::unique_ptr<SourceView> view = source.View(dataStart + done, piece);
        if (view == nullptr && done == 0)
            return Status::Ok;
        taken = true;
        const uint8_t* data = view != nullptr ? view->data : nullptr;
        if (data == nullptr) {
            // A piece that runs from one volume of a split archive into the next (or that finds no
            // address space left for a view) is read instead.
            try {
                copy.resize(piece);
            } catch (const std::bad_alloc&) {
                return Status::OutOfMemory;
            }
            if (!source.Read(dataStart + done, copy.data(), piece))
                return Status::Truncated;
            data = copy.data();
        }
        crc = Crc32(crc, data, piece);
        const Status written = WriteInPieces(out, data, piece, done, progress);
        if (written != Status::Ok)
            return written;
        done += piece;
    }
    return crc == entry.crc ? Status::Ok : Status::CrcMismatch;
}

}  // namespace unzip
