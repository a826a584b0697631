#include "unzip32/core/ArchiveReader.h"

#include <cstring>

namespace unzip {

namespace {

bool Has(Source& source, uint64_t offset, const char* mark, size_t size)
{
    uint8_t bytes[8];
    return size <= sizeof(bytes) && source.Read(offset, bytes, size) && std::memcmp(bytes, mark, size) == 0;
}

}  // namespace

ArchiveKind DetectArchiveKind(Source& source)
{
    if (Has(source, 0, "PK\x03\x04", 4) || Has(source, 0, "PK\x05\x06", 4) || Has(source, 0, "PK\x07\x08", 4))
        return ArchiveKind::Zip;
    if (Has(source, 0, "7z\xBC\xAF\x27\x1C", 6))
        return ArchiveKind::SevenZip;
    if (Has(source, 0, "Rar!\x1A\x07", 6))
        return ArchiveKind::Rar;
    if (Has(source, 0, "\x1F\x8B", 2) || Has(source, 0, "\xFD" "7zXZ\x00", 6) || Has(source, 0, "\x28\xB5\x2F\xFD", 4))
        return ArchiveKind::Compressed;
    uint8_t bzip[4];
    if (source.Read(0, bzip, sizeof(bzip)) && std::memcmp(bzip, "BZh", 3) == 0 && bzip[3] >= '1' && bzip[3] <= '9')
        return ArchiveKind::Compressed;
    if (Has(source, 0, "MSCF\0\0\0\0", 8))
        return ArchiveKind::Cab;
    if (Has(source, 257, "ustar", 5))
        return ArchiveKind::Tar;
    if (Has(source, 32769, "CD001", 5))
        return ArchiveKind::Iso;
    return ArchiveKind::Unknown;
}

const char* ArchiveKindName(ArchiveKind kind)
{
    switch (kind) {
    case ArchiveKind::Zip: return "ZIP";
    case ArchiveKind::SevenZip: return "7z";
    case ArchiveKind::Rar: return "RAR";
    case ArchiveKind::Tar: return "tar";
    case ArchiveKind::Compressed: return "compressed file";
    case ArchiveKind::Cab: return "CAB";
    case ArchiveKind::Iso: return "ISO";
    case ArchiveKind::Unknown: break;
    }
    return "unknown";
}

std::unique_ptr<ArchiveReader> OpenArchiveReader(ArchiveKind kind, Source& source, Host& host,
    const ExtractOptions& options, Status& status, std::string& detail)
{
    if (kind == ArchiveKind::SevenZip)
        return OpenSevenZipReader(source, host, options, status, detail);
    return OpenLibarchiveReader(kind, source, host, options, status, detail);
}

LentPieces::LentPieces(size_t count, size_t size)
    : count_(count), size_(size), pieces_(new Piece[count]), current_(count)
{
}

uint8_t* LentPieces::Next()
{
    for (current_ = 0; current_ < count_; ++current_) {
        Piece& piece = pieces_[current_];
        if (piece.kept.load() != 0)
            continue;
        if (!piece.memory)
            piece.memory.reset(new uint8_t[size_]);
        return piece.memory.get();
    }
    if (!own_)
        own_.reset(new uint8_t[size_]);
    return own_.get();
}

size_t LentPieces::Keep(const uint8_t* data, size_t size)
{
    if (current_ == count_)
        return 0;
    const uint8_t* const memory = pieces_[current_].memory.get();
    if (data < memory || data >= memory + size_ || size > static_cast<size_t>(memory + size_ - data))
        return 0;
    pieces_[current_].kept.fetch_add(1);
    return current_ + 1;
}

void LentPieces::Give(size_t token)
{
    if (token > 0 && token <= count_)
        pieces_[token - 1].kept.fetch_sub(1);
}

}  // namespace unzip
