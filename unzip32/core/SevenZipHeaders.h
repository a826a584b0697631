#pragma once
// The 7z container: the signature header, the (possibly encoded) header with its streams, folders,
// coders and files. Every count read from the archive is checked against the bytes that hold it
// (or the archive's real size) before anything is allocated for it.
#include "unzip32/core/Status.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace unzip {
namespace sevenzip {

// One coder of a folder: its method id (up to 8 bytes, big-endian as stored), streams and properties.
struct Coder {
    uint64_t id = 0;
    unsigned inStreams = 1;
    unsigned outStreams = 1;
    std::vector<uint8_t> properties;
};

// A folder: coders joined by bind pairs, read from packed streams, producing one unpacked stream
// that holds its files one after the other.
struct Folder {
    std::vector<Coder> coders;
    std::vector<std::pair<unsigned, unsigned>> bindPairs;  // (in stream, out stream), folder-wide indexes
    std::vector<unsigned> packedStreams;                   // folder-wide in-stream index of each packed stream
    std::vector<uint64_t> unpackSizes;                     // one per out stream
    bool hasCrc = false;
    uint32_t crc = 0;
    size_t firstPackStream = 0;  // index into StreamsInfo::packSizes
    uint64_t packOffset = 0;     // where its first packed stream starts, from the end of the signature header
    size_t substreams = 1;

    unsigned TotalIn() const;
    unsigned TotalOut() const;
    // The out stream no bind pair consumes: the folder's content (-1 when there is none).
    int MainOut() const;
    uint64_t UnpackSize() const;
    uint64_t PackSize(const std::vector<uint64_t>& packSizes) const;
};

// A stream of a folder's content: one file's data.
struct Substream {
    uint64_t size = 0;
    bool hasCrc = false;
    uint32_t crc = 0;
};

struct StreamsInfo {
    uint64_t packPos = 0;
    std::vector<uint64_t> packSizes;
    std::vector<Folder> folders;
    std::vector<Substream> substreams;  // in folder order
};

struct File {
    std::string name;  // UTF-8
    bool hasStream = true;
    bool isDirectory = false;
    bool isAnti = false;
    bool hasTime = false;
    uint64_t modified = 0;  // 100 ns since 1601
    bool hasAttributes = false;
    uint32_t attributes = 0;
};

struct Archive {
    StreamsInfo streams;
    std::vector<File> files;
};

// Method ids.
const uint64_t kCopy = 0x00;
const uint64_t kDelta = 0x03;
const uint64_t kArm64 = 0x0A;
const uint64_t kRiscv = 0x0B;
const uint64_t kLzma2 = 0x21;
const uint64_t kLzma = 0x030101;
const uint64_t kBcj = 0x03030103;
const uint64_t kBcj2 = 0x0303011B;
const uint64_t kPpc = 0x03030205;
const uint64_t kIa64 = 0x03030401;
const uint64_t kArm = 0x03030501;
const uint64_t kArmt = 0x03030701;
const uint64_t kSparc = 0x03030805;
const uint64_t kPpmd = 0x030401;
const uint64_t kDeflate = 0x040108;
const uint64_t kDeflate64 = 0x040109;
const uint64_t kBzip2 = 0x040202;
const uint64_t kAes = 0x06F10701;

const uint8_t kSignature[6] = {'7', 'z', 0xBC, 0xAF, 0x27, 0x1C};
const size_t kSignatureHeaderSize = 32;

// Where the header lies, from the signature header (checked by its CRC, and against `archiveSize`).
Status ReadSignatureHeader(
    const uint8_t header[kSignatureHeaderSize], uint64_t archiveSize, uint64_t& offset, uint64_t& size, uint32_t& crc);

// Parses a header. `encoded` is set when it is an encoded header: then `archive.streams` describes
// the folder that holds the real header. `archiveSize` bounds the packed streams.
Status ParseHeader(
    const uint8_t* data, size_t size, uint64_t archiveSize, Archive& archive, bool& encoded, std::string& detail);

uint32_t Crc32(uint32_t crc, const uint8_t* data, size_t size);

}  // namespace sevenzip
}  // namespace unzip
