#include "unzip32/core/MemberLocation.h"

#include "unzip32/core/ByteReader.h"

namespace unzip {

namespace {

// A local record with flag bit 3 leaves its CRC and sizes to a data descriptor after the data:
// with or without its signature, with 32- or 64-bit sizes. For a stored member nothing but the
// sizes tells where its data ends, so the descriptor must stand right behind the data the
// directory describes, before the next record, and agree with the directory; otherwise the two
// disagree about what the member holds. (A deflate stream ends by itself and the CRC settles it.)
bool DescriptorAgrees(Source& source, const Entry& entry, uint64_t at, uint64_t limit)
{
    uint8_t bytes[24] = {};
    const size_t available = at < limit ? static_cast<size_t>(std::min<uint64_t>(sizeof bytes, limit - at)) : 0;
    if (available < 12 || !source.Read(at, bytes, available))
        return false;
    auto agrees = [&](size_t pos, bool wide) {
        if (pos + (wide ? 20u : 12u) > available)
            return false;
        ByteReader r(bytes + pos, available - pos);
        if (r.U32() != entry.crc)
            return false;
        const uint64_t compressed = wide ? r.U64() : r.U32();
        const uint64_t size = wide ? r.U64() : r.U32();
        return compressed == entry.compressedSize && size == entry.size;
    };
    const bool signature = ByteReader(bytes, available).U32() == kDescriptorSignature;
    return (signature && (agrees(4, false) || agrees(4, true))) || agrees(0, false) || agrees(0, true);
}

}  // namespace

DataSpan LocateData(Source& source, const Entry& entry, const RecordLimits& limits)
{
    DataSpan span;
    uint8_t header[kLocalSize];
    if (entry.shortZip64) {
        // Its real sizes or offset are unknown: reading it would use the wrong ones.
        span.status = Status::Inconsistent;
        return span;
    }
    if (entry.localOffset >= limits.NextAfter(entry.localOffset)) {
        // A record at or past the directory.
        span.status = Status::Inconsistent;
        return span;
    }
    if (!source.Read(entry.localOffset, header, kLocalSize)) {
        span.status = Status::Truncated;
        return span;
    }
    uint64_t recordOffset = entry.localOffset;
    if (ByteReader(header, kLocalSize).U32() != kLocalSignature) {
        uint64_t unshifted = 0;
        if (!limits.UnshiftedOffset(entry.localOffset, unshifted) || !source.Read(unshifted, header, kLocalSize) ||
            ByteReader(header, kLocalSize).U32() != kLocalSignature) {
            span.status = Status::Inconsistent;
            return span;
        }
        recordOffset = unshifted;
    }
    ByteReader r(header, kLocalSize);
    r.Skip(6);
    const uint16_t localFlags = r.U16();
    r.Skip(18);
    uint16_t nameLength = r.U16();
    uint16_t extraLength = r.U16();
    span.start = recordOffset + kLocalSize + nameLength + extraLength;
    if (limits.IsShared(entry.localOffset)) {
        span.status = Status::Overlapping;
        return span;
    }
    span.length = entry.compressedSize;
    const uint64_t limit = limits.NextAfter(entry.localOffset);
    if (span.start > limit || span.length > limit - span.start) {
        const bool pastEnd = span.length > source.Size() || span.start > source.Size() - span.length;
        span.status = pastEnd ? Status::Truncated : Status::Overlapping;
        return span;
    }
    if ((localFlags & 0x0008) != 0 && entry.actualMethod == 0 &&
        !DescriptorAgrees(source, entry, span.start + span.length, limit))
        span.status = Status::Inconsistent;
    return span;
}

}  // namespace unzip
