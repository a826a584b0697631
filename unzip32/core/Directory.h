#pragma once
#include "unzip32/core/NameCodec.h"
#include "unzip32/core/Source.h"
#include "unzip32/core/Status.h"

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace unzip {

// The local record before each member's data (30 bytes and its name and extra field), and the data
// descriptor that may follow the data (its signature is optional).
constexpr uint32_t kLocalSignature = 0x04034b50;
constexpr size_t kLocalSize = 30;
constexpr uint32_t kDescriptorSignature = 0x08074b50;

// A member that stands for another file: never created as a link, never followed.
enum class LinkKind : uint8_t {
    None,
    Symbolic,  // skipped and counted
    Hard,      // written as a copy of the member extracted before under the target's name
};

// One member as the central directory describes it, with offsets already corrected for data in
// front of the archive (self-extractors).
struct Entry {
    std::string rawName;      // the stored name bytes
    std::string name;         // the name as UTF-8 (from the flag, the 0x7075 extra, or a code page)
    bool nameIsUtf8 = false;  // stored as UTF-8 (flag, valid UTF-8 from a UTF-8 host, or the 0x7075 extra)
    uint16_t versionMadeBy = 0;
    uint16_t flags = 0;
    uint16_t method = 0;
    uint16_t dosTime = 0;
    uint16_t dosDate = 0;
    uint32_t crc = 0;
    uint64_t compressedSize = 0;
    uint64_t size = 0;
    uint64_t localOffset = 0;
    uint32_t diskStart = 0;
    uint32_t externalAttributes = 0;
    bool hasNtfsTime = false;
    uint64_t ntfsModified = 0;  // 100 ns since 1601
    bool hasUnixTime = false;
    int64_t unixModified = 0;  // seconds since 1970
    bool aes = false;          // WinZip AES (extra 0x9901)
    uint16_t aesVersion = 0;   // 1 (AE-1: the CRC is kept) or 2 (AE-2: no CRC, the code alone checks)
    uint8_t aesStrength = 0;   // 1, 2, 3: AES-128, -192, -256
    bool shortZip64 = false;   // the ZIP64 extra lacks a field whose 32-bit slot says it is there

    bool IsDirectory() const;
    bool IsEncrypted() const { return (flags & 0x0001) != 0 || (flags & 0x0040) != 0 || method == 99; }
    // PKWARE's strong encryption (bit 6) or a masked local record under an encrypted directory (bit 13).
    bool IsStronglyEncrypted() const { return (flags & 0x0040) != 0 || (flags & 0x2000) != 0; }
    bool IsReadOnly() const;
    // The method that actually compresses the data (the AES extra names it for method 99).
    uint16_t actualMethod = 0;

    // Members of archives of other kinds (7z, RAR, tar...) use the fields above as ZIP would: name
    // (a folder's ends in '/'), sizes, crc, times (hasNtfsTime), attributes (DOS in the low byte with
    // versionMadeBy 0, or a Unix mode in the high word with versionMadeBy 3 << 8); flags bit 0 marks
    // an encrypted one. The method as that format names it ("LZMA2", "PPMd", "RAR5"), shown in
    // listings in place of the ZIP method's name:
    std::string methodText;
    LinkKind link = LinkKind::None;
    std::string linkTarget;  // a link's target as stored, UTF-8
};

// The archive's directory: every member, the comment and where the directory lies.
struct Directory {
    std::deque<Entry> entries;  // a deque: growing it never copies the whole table
    std::string comment;
    uint64_t directoryStart = 0;  // where the central directory really starts
    uint64_t prefix = 0;          // bytes in front of the archive (offsets were shifted by this)
};

// Finds the end record (after comments, false signatures, trailing bytes), reads the ZIP64 record
// where present and parses every central-directory entry. Allocations are bounded by the archive's
// real size, never by declared counts. Legacy names (no UTF-8 flag, no valid Unicode path extra)
// are read, once all are known, in one code page for the whole archive: `namePage` through
// `codec`, or CP437 without one.
//
// `diskStarts` reads a spanned set (.z01, .z02, ..., .zip) joined into one source: where each
// disk starts in it. Disk numbers and offsets on them are then made offsets in the whole (the
// record must be the last disk's); without it any other disk than the first is MultiDisk.
Status ReadDirectory(Source& source, Directory& directory, const NameCodec* codec = nullptr,
    unsigned namePage = kNamePageAsWindows, const std::vector<uint64_t>& diskStarts = {});

// Reads the extra fields of a central or local record into `entry` (whose name is read already):
// ZIP64 sizes and offset (only those whose 32-bit slot is full, as `need...` say), times, the
// Unicode path, WinZip AES.
void ReadExtras(
    const uint8_t* data, size_t size, Entry& entry, bool needSize, bool needCompressed, bool needOffset, bool needDisk);

// The name of a compression method ("Deflate", "BZip2", ...), for messages and listings.
const char* MethodName(uint16_t method);

}  // namespace unzip
