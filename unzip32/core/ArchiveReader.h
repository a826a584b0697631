#pragma once
#include "unzip32/core/Directory.h"
#include "unzip32/core/Source.h"
#include "unzip32/core/Status.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace unzip {

class Host;
struct ExtractOptions;

// The kinds of archive the library reads.
enum class ArchiveKind {
    Unknown,     // no signature known here (the libarchive reader still tries: old tar, .lzma, cpio)
    Zip,         // our own reader (Directory, Extractor)
    SevenZip,    // our own reader (SevenZipReader)
    Rar,         // RAR 4 and RAR 5, through libarchive
    Tar,         // ustar, pax, GNU, through libarchive
    Compressed,  // gzip, bzip2, xz, zstd: a tar inside or a single file, through libarchive
    Cab,         // through libarchive
    Iso,         // ISO 9660 with Joliet and Rock Ridge, through libarchive
};

// The archive's kind by its content, never by its name: the signatures at the start first (7z, RAR,
// gzip, bzip2, xz, zstd, CAB, ZIP's local header, tar's "ustar" at 257, ISO's "CD001" at 32769),
// then ZIP's end record (self-extractors, archives behind other data), else Unknown.
ArchiveKind DetectArchiveKind(Source& source);

// The kind's name for messages ("7z", "RAR", "tar", ...).
const char* ArchiveKindName(ArchiveKind kind);

// Reads an archive of a kind other than ZIP member by member, in stored order. Host calls
// (Password, Cryptography, Names, Volumes) are made on the calling thread only; Read may be called
// on another thread than Next, never at the same time.
class ArchiveReader {
public:
    virtual ~ArchiveReader() = default;

    // The next member's header: Ok with `entry` filled in (see Entry: name in UTF-8, a folder's
    // ending in '/', sizes, times, attributes, methodText, link), Ok with `end` set after the last
    // member, or the status that ends the archive early (Truncated, DataError, Encrypted,
    // UnsupportedMethod, OutOfMemory, ...) with Detail(). Whatever of the member before was not read
    // is skipped (decoded where the format is solid).
    virtual Status Next(Entry& entry, bool& end) = 0;

    // The current member's content, a piece per call, as Decoder::Decode gives it: into `buffer` or
    // memory of the reader's own (`data`), `size` bytes; `finished` once its end was reached and
    // checked against its CRC where the format keeps one (CrcMismatch otherwise). A declared size is
    // a bound: more data than declared is DataError. Failures as for Next, with Detail().
    virtual Status Read(uint8_t* buffer, size_t capacity, const uint8_t*& data, size_t& size, bool& finished) = 0;

    // The dictionary, window or model the reader holds (for the memory the run reports and bounds).
    virtual uint64_t MemoryInUse() const { return 0; }

    // The run is over: threads the reader started on the run's WorkerThreads (a decoder's helpers)
    // end now, before the run waits for all of its threads. Nothing is read after it.
    virtual void Close() { }

    // Asked now and then while data is decoded only to be passed over (the members before the one
    // wanted in a solid block, the rest of a member left unread in a compressed stream), with the
    // bytes gone through so far: true stops it, and the Next or Read that was decoding returns
    // Stopped. Asked only on the thread that calls Next; none by default.
    void SetWatch(const std::function<bool(uint64_t)>* watch) { watch_ = watch; }

    // Read's data handed on without a copy: where `size` bytes at `data` lie in memory the reader
    // lends, Keep returns a token for them (0 where they do not), and they stay as they are,
    // whatever is read after, until Give(token), which may come from any thread.
    virtual size_t Keep(const uint8_t* data, size_t size)
    {
        (void)data;
        (void)size;
        return 0;
    }
    virtual void Give(size_t token) { (void)token; }

    // What a failure or refusal was about ("RAR encryption is not supported", "the volume
    // photos.7z.004 is missing"); empty when the status's own text says it all.
    const std::string& Detail() const { return detail_; }

protected:
    // For each piece decoded or read only to be passed over: true when the caller stops.
    bool Watched(uint64_t bytes)
    {
        passed_ += bytes;
        return watch_ != nullptr && (*watch_)(passed_);
    }

    std::string detail_;

private:
    const std::function<bool(uint64_t)>* watch_ = nullptr;
    uint64_t passed_ = 0;
};

// Pieces of memory a reader decodes into in turn and lends out (ArchiveReader::Keep). Next takes
// the first piece nothing is kept in, so that while the caller keeps up the same few pieces go
// round, still in the cache; with `count` pieces kept it gives memory of its own, never lent.
class LentPieces {
public:
    LentPieces(size_t count, size_t size);
    LentPieces(const LentPieces&) = delete;
    LentPieces& operator=(const LentPieces&) = delete;

    size_t Size() const { return size_; }
    uint8_t* Next();
    // Lends data in the piece Next gave last.
    size_t Keep(const uint8_t* data, size_t size);
    void Give(size_t token);

private:
    struct Piece {
        std::unique_ptr<uint8_t[]> memory;  // taken when first needed
        std::atomic<unsigned> kept {0};
    };
    size_t count_;
    size_t size_;
    std::unique_ptr<Piece[]> pieces_;
    std::unique_ptr<uint8_t[]> own_;
    size_t current_;  // the piece Next gave last (count_: its own memory)
};

// Opens the reader for the kind (SevenZip, or any other than Zip through libarchive, Unknown
// included): null with `status` and `detail` when the archive cannot be read, NotAnArchive when it
// is no archive the library knows. `host` gives passwords (Host::Password, asked again after a
// wrong one, at most kPasswordAsks times), cryptography, name pages and the archive's volumes.
std::unique_ptr<ArchiveReader> OpenArchiveReader(
    ArchiveKind kind, Source& source, Host& host, const ExtractOptions& options, Status& status, std::string& detail);

// The two families of readers behind OpenArchiveReader.
std::unique_ptr<ArchiveReader> OpenSevenZipReader(
    Source& source, Host& host, const ExtractOptions& options, Status& status, std::string& detail);
std::unique_ptr<ArchiveReader> OpenLibarchiveReader(
    ArchiveKind kind, Source& source, Host& host, const ExtractOptions& options, Status& status, std::string& detail);

}  // namespace unzip
