// Archives of other kinds than ZIP and 7z (RAR 4 and 5, tar and its compressed forms, single
// compressed files, cpio, CAB, ISO 9660) read through libarchive, member by member.
#include "unzip32/core/ArchiveReader.h"

#include "unzip32/core/Decoder.h"
#include "unzip32/core/Extractor.h"
#include "unzip32/core/GzipDecoder.h"
#include "unzip32/core/NameDecoder.h"
#include "unzip32/core/NameDetection.h"
#include "unzip32/core/Volumes.h"

#include <archive.h>
#include <archive_entry.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#ifndef _WIN32
#include <locale.h>
#endif

// The forms of an entry's names as libarchive read them (LibarchiveNameForms.c): 0 its path, 1 a
// hard link's target, 2 a symbolic link's.
extern "C" int kv_archive_entry_name_forms(struct archive_entry* entry, int which);

namespace unzip {

namespace {

const int kFormBytes = 1;  // the bytes as stored
const int kFormUtf8 = 2;
const int kFormWide = 4;

const size_t kReadPiece = 64u << 10;

// Seconds from 1601 (Windows' epoch) to 1970.
const uint64_t kEpochDifference = 11644473600ull;

std::string WideToUtf8(const wchar_t* text)
{
    std::string utf8;
    for (const wchar_t* p = text; *p != 0; ++p) {
        uint32_t c = static_cast<uint32_t>(*p);
        if (sizeof(wchar_t) == 2 && c >= 0xD800 && c < 0xDC00 && p[1] >= 0xDC00 && p[1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<uint32_t>(p[1]) - 0xDC00);
            ++p;
        }
        if ((c >= 0xD800 && c < 0xE000) || c > 0x10FFFF)
            c = 0xFFFD;
        AppendUtf8(utf8, c);
    }
    return utf8;
}

// A plain file name: no folder, no drive, nothing but a name.
bool IsPlainFileName(const std::string& name)
{
    return !name.empty() && name != "." && name != ".." && name.find_first_of("/\\:") == std::string::npos;
}

#ifndef _WIN32
// libarchive converts the names it decodes into the C library's locale; natively (tests, fuzzer)
// that is made UTF-8 on the calling thread while libarchive works, as on Windows its wide form is.
class Utf8Locale {
public:
    explicit Utf8Locale(locale_t locale) : previous_(locale != nullptr ? uselocale(locale) : nullptr) { }
    ~Utf8Locale()
    {
        if (previous_ != nullptr)
            uselocale(previous_);
    }
    Utf8Locale(const Utf8Locale&) = delete;
    Utf8Locale& operator=(const Utf8Locale&) = delete;

private:
    locale_t previous_;
};
#endif

// libarchive's calls are made inside this guard.
#ifndef _WIN32
#define LOCALE_GUARD() Utf8Locale utf8Locale(locale_)
#else
#define LOCALE_GUARD()                                                                                                 \
    do {                                                                                                               \
    } while (false)
#endif

class LibarchiveReader : public ArchiveReader {
public:
    LibarchiveReader(ArchiveKind kind, Source& source, Host& host, const ExtractOptions& options)
        : kind_(kind), host_(host), options_(options)
    {
#ifndef _WIN32
        locale_ = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
#endif
        parts_.push_back(Part {this, &source, 0, 1});
    }

    ~LibarchiveReader() override
    {
        if (archive_ != nullptr) {
            LOCALE_GUARD();
            archive_read_free(archive_);
        }
#ifndef _WIN32
        if (locale_ != nullptr)
            freelocale(locale_);
#endif
    }

    Status Open(std::string& detail);
    Status Next(Entry& entry, bool& end) override;
    Status Read(uint8_t* buffer, size_t capacity, const uint8_t*& data, size_t& size, bool& finished) override;
    size_t Keep(const uint8_t* data, size_t size) override;
    void Give(size_t token) override;
    void Close() override;

private:
    // One file of the archive (several for RAR volumes), as libarchive's client data.
    struct Part {
        LibarchiveReader* reader;
        Source* source;
        uint64_t position;
        unsigned number;
    };

    static la_ssize_t ReadCallback(struct archive* archive, void* data, const void** buffer);
    static la_int64_t SkipCallback(struct archive* archive, void* data, la_int64_t request);
    static la_int64_t SeekCallback(struct archive* archive, void* data, la_int64_t offset, int whence);
    static int SwitchCallback(struct archive* archive, void* from, void* to);

    Status Failure(int result);
    std::string Name(struct archive_entry* entry, int which);
    std::string LegacyName(const std::string& bytes);
    unsigned AutomaticPage(const std::string& bytes, const NameCodec& codec);
    std::string SingleFileName();
    std::string MethodText();
    bool ReachedLastPart() const;
    bool NameMissingVolume();
    struct Unpack;
    static Unpack* StartUnpack(Source& source);
    Status Unpacked(const uint8_t*& data, size_t& size);
    Status UnpackToEnd();
    bool PassedOver(size_t bytes)
    {
        if (!reading_ && !stopped_ && Watched(bytes))
            stopped_ = true;
        return stopped_;
    }

    ArchiveKind kind_;
    Host& host_;
    const ExtractOptions& options_;
    struct archive* archive_ = nullptr;
    std::vector<Part> parts_;
    std::vector<uint8_t> piece_;
    unsigned current_ = 0;  // the part being read
    VolumeSet* volumes_ = nullptr;
    bool raw_ = false;                // a single compressed file
    std::unique_ptr<Unpack> unpack_;  // a compressed stream decoded by the read callback
    // Inside Read the data goes to the member; anywhere else libarchive reads only to pass it
    // over, and a stop asked for on the way ends the call (stopped_).
    bool reading_ = false;
    bool stopped_ = false;
    // The legacy names met so far, while the automatic page is still chosen over them.
    std::vector<std::string> legacyNames_;
    size_t legacyBytes_ = 0;
    unsigned legacyPage_ = 0;
    bool legacySettled_ = false;

    // The current member.
    bool inMember_ = false;
    bool sizeKnown_ = false;
    bool sparse_ = false;
    bool encrypted_ = false;
    uint64_t declared_ = 0;
    uint64_t produced_ = 0;
    const uint8_t* block_ = nullptr;  // a block libarchive gave and not all delivered yet
    size_t blockSize_ = 0;
    uint64_t blockOffset_ = 0;
    bool atEnd_ = false;
#ifndef _WIN32
    locale_t locale_ = nullptr;
#endif
};

// The compressed stream around a tar or cpio (or a single compressed file), decoded by the read
// callback rather than by libarchive's filters, through the decoders of ZIP members (gzip's
// deflated data too, on several cores where it is large). Each checks what its format keeps
// (gzip's CRC-32 and length, xz's block checks and index, bzip2's CRCs, zstd's content checksums)
// as the data goes by, and the stream is decoded to its very end before the archive's clean end is
// reported (UnpackToEnd): libarchive's filters stop wherever the tar inside ends, leaving the last
// checks unread.
struct LibarchiveReader::Unpack {
    Unpack();
    const char* name = "";
    // The decoded stream, a piece at a time for libarchive, lent on with the members' data in it.
    LentPieces out;
    bool ended = false;
    Status failure = Status::Ok;  // once failed, every later call fails alike
    std::string detail;
    Source* source = nullptr;
    bool gzip = false;
    Entry entry;
    std::vector<uint8_t> input;
    std::unique_ptr<MemberInput> member;
    std::unique_ptr<Decoder> decoder;
    bool decoded = false;  // the decoder has reached the stream's end
};

// How much of the decoded stream is handed to libarchive at a time, and how many such pieces the
// writer may be writing from (beyond them the data is copied for it).
const size_t kUnpackPiece = 256u << 10;
const size_t kUnpackPieces = 64;

LibarchiveReader::Unpack::Unpack() : out(kUnpackPieces, kUnpackPiece) { }

LibarchiveReader::Unpack* LibarchiveReader::StartUnpack(Source& source)
{
    uint8_t magic[6] = {};
    if (!source.Read(0, magic, static_cast<size_t>(std::min<uint64_t>(sizeof(magic), source.Size()))))
        return nullptr;
    std::unique_ptr<Unpack> unpack(new Unpack);
    unpack->source = &source;
    if (magic[0] == 0x1F && magic[1] == 0x8B) {
        unpack->name = "gzip";
        unpack->gzip = true;
        return unpack.release();
    }
    // The ZIP method numbers of the same streams.
    if (magic[0] == 'B' && magic[1] == 'Z' && magic[2] == 'h') {
        unpack->name = "bzip2";
        unpack->entry.actualMethod = 12;
    } else if (magic[0] == 0xFD && std::memcmp(magic + 1, "7zXZ", 5) == 0) {
        unpack->name = "xz";
        unpack->entry.actualMethod = 95;
    } else if (magic[0] == 0x28 && magic[1] == 0xB5 && magic[2] == 0x2F && magic[3] == 0xFD) {
        unpack->name = "zstd";
        unpack->entry.actualMethod = 93;
    } else {
        return nullptr;
    }
    // Nothing bounds the decoded size: the dictionary is what the stream asks for, up to the bound
    // of a member decoded alone.
    unpack->entry.size = ~uint64_t(0);
    unpack->input.resize(kReadPiece);
    unpack->member.reset(new MemberInput(source, 0, source.Size(), unpack->input));
    return unpack.release();
}

la_ssize_t LibarchiveReader::ReadCallback(struct archive* archive, void* data, const void** buffer)
{
    Part& part = *static_cast<Part*>(data);
    LibarchiveReader& reader = *part.reader;
    if (reader.unpack_ != nullptr) {
        const uint8_t* data = nullptr;
        size_t size = 0;
        if (reader.Unpacked(data, size) != Status::Ok) {
            archive_set_error(archive, EINVAL, "%s", reader.unpack_->detail.c_str());
            return -1;
        }
        if (reader.PassedOver(size)) {
            archive_set_error(archive, EINTR, "stopped");
            return -1;
        }
        *buffer = data;
        return static_cast<la_ssize_t>(size);
    }
    reader.current_ = part.number - 1;
    const uint64_t size = part.source->Size();
    if (part.position >= size)
        return 0;
    const size_t count = static_cast<size_t>(std::min<uint64_t>(kReadPiece, size - part.position));
    if (reader.piece_.size() < kReadPiece)
        reader.piece_.resize(kReadPiece);
    if (!part.source->Read(part.position, reader.piece_.data(), count)) {
        archive_set_error(archive, EIO, "the archive cannot be read");
        return -1;
    }
    part.position += count;
    if (reader.PassedOver(count)) {
        archive_set_error(archive, EINTR, "stopped");
        return -1;
    }
    *buffer = reader.piece_.data();
    return static_cast<la_ssize_t>(count);
}

la_int64_t LibarchiveReader::SkipCallback(struct archive*, void* data, la_int64_t request)
{
    Part& part = *static_cast<Part*>(data);
    const uint64_t size = part.source->Size();
    if (request <= 0 || part.position >= size)
        return 0;
    const uint64_t skipped = std::min<uint64_t>(static_cast<uint64_t>(request), size - part.position);
    part.position += skipped;
    return static_cast<la_int64_t>(skipped);
}

la_int64_t LibarchiveReader::SeekCallback(struct archive* archive, void* data, la_int64_t offset, int whence)
{
    Part& part = *static_cast<Part*>(data);
    part.reader->current_ = part.number - 1;
    const int64_t size = static_cast<int64_t>(part.source->Size());
    int64_t base = 0;
    if (whence == SEEK_CUR)
        base = static_cast<int64_t>(part.position);
    else if (whence == SEEK_END)
        base = size;
    if ((offset < 0 && base + offset < 0) || (offset > 0 && offset > size - base)) {
        archive_set_error(archive, EINVAL, "seek outside the archive");
        return ARCHIVE_FATAL;
    }
    part.position = static_cast<uint64_t>(base + offset);
    return static_cast<la_int64_t>(part.position);
}

int LibarchiveReader::SwitchCallback(struct archive*, void*, void* to)
{
    if (to != nullptr) {
        Part& part = *static_cast<Part*>(to);
        part.position = 0;
        part.reader->current_ = part.number - 1;
    }
    return ARCHIVE_OK;
}

bool LibarchiveReader::ReachedLastPart() const
{
    const Part& last = parts_.back();
    return current_ + 1 == parts_.size() && last.position >= last.source->Size();
}

// Where the data ran out at the end of the last volume there is and the next one is missing, the
// detail names it.
bool LibarchiveReader::NameMissingVolume()
{
    const unsigned next = static_cast<unsigned>(parts_.size()) + 1;
    if (volumes_ == nullptr || !ReachedLastPart() || volumes_->Volume(next) != nullptr)
        return false;
    detail_ = "the volume " + volumes_->VolumeName(next) + " is missing";
    return true;
}

// libarchive's failure as a status, its message as the detail.
Status LibarchiveReader::Failure(int result)
{
    const char* text = archive_error_string(archive_);
    detail_ = text != nullptr ? text : "";
    const int code = archive_errno(archive_);
    const std::string lower = [&] {
        std::string l = detail_;
        for (char& c : l)
            c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
        return l;
    }();
    auto has = [&](const char* word) { return lower.find(word) != std::string::npos; };
    (void)result;
    if (detail_ == "Unrecognized archive format" && kind_ == ArchiveKind::Unknown) {
        detail_.clear();
        return Status::NotAnArchive;
    }
    if (unpack_ != nullptr && unpack_->failure != Status::Ok) {
        detail_ = unpack_->detail;
        return unpack_->failure;
    }
    if (code == ENOMEM || has("memory"))
        return Status::OutOfMemory;
    if (code == EIO && detail_ == "the archive cannot be read")
        return Status::ReadFailure;
    if (has("encrypt") || has("password")) {
        if (kind_ == ArchiveKind::Rar)
            detail_ = "RAR encryption is not supported";
        return Status::Encrypted;
    }
    if ((has("truncated") || has("premature") || has("unexpected end") || has("eof") || has("volume") ||
            has("header")) &&
        NameMissingVolume())
        return Status::Truncated;
    if (has("truncated") || has("premature") || has("unexpected end") || has("eof"))
        return Status::Truncated;
    if (has("crc") || has("checksum"))
        return Status::CrcMismatch;
    if (has("unsupported") || has("not supported") || has("unknown compression") || has("can't handle"))
        return Status::UnsupportedMethod;
    return Status::DataError;
}

std::string LibarchiveReader::LegacyName(const std::string& bytes)
{
    if (IsValidUtf8(bytes))
        return bytes;
    const NameCodec* codec = host_.Names();
    if (codec == nullptr)
        return Cp437ToUtf8(bytes);
    unsigned page = options_.namePage;
    if (page == kNamePageAsWindows)
        page = codec->OemPage();
    else if (page == kNamePageAutomatic)
        page = AutomaticPage(bytes, *codec);
    std::string utf8;
    if (codec->ToUtf8(page, bytes, utf8))
        return utf8;
    return Cp437ToUtf8(bytes);
}

// The page for one more legacy name when the page is the library's choice. The names come one by
// one as the archive is read, so the choice is made again over all legacy names met so far: a short
// name that alone reads as well in another page ("Я.txt") is read in the page the names before it
// made plain. After the first kSettledNames names (or kSettledBytes of them) the choice stands.
unsigned LibarchiveReader::AutomaticPage(const std::string& bytes, const NameCodec& codec)
{
    const size_t kSettledNames = 64;
    const size_t kSettledBytes = 16 * 1024;
    if (legacySettled_)
        return legacyPage_;
    if (legacyNames_.empty() || legacyNames_.back() != bytes) {  // a hard link repeats its target's name
        legacyNames_.push_back(bytes);
        legacyBytes_ += bytes.size();
    }
    legacyPage_ = DetectNamePage(legacyNames_, codec, codec.OemPage());
    if (legacyNames_.size() >= kSettledNames || legacyBytes_ >= kSettledBytes) {
        legacySettled_ = true;
        std::vector<std::string>().swap(legacyNames_);
    }
    return legacyPage_;
}

// Whether `bytes` widened byte by byte gives `wide`: libarchive's own conversion between the two
// forms in the C locale, so either may have been made from the other.
bool Widened(const wchar_t* wide, const char* bytes)
{
    for (; *wide != 0 && *bytes != 0; ++wide, ++bytes)
        if (static_cast<uint32_t>(*wide) != static_cast<uint8_t>(*bytes))
            return false;
    return *wide == 0 && *bytes == 0;
}

// The name as UTF-8: the text libarchive decoded where the format says what the bytes are, else
// the stored bytes read as a legacy name. libarchive itself asks for names in the other form (on
// Windows, for instance, the wide form of every tar name), so both forms may be there; where one
// is the other widened byte by byte, the bytes are the name unless the format stores Unicode.
std::string LibarchiveReader::Name(struct archive_entry* entry, int which)
{
    const int forms = kv_archive_entry_name_forms(entry, which);
    if ((forms & kFormUtf8) != 0) {
        const char* text = which == 0 ? archive_entry_pathname_utf8(entry)
            : which == 1              ? archive_entry_hardlink_utf8(entry)
                                      : archive_entry_symlink_utf8(entry);
        if (text != nullptr)
            return text;
    }
    const wchar_t* wide = nullptr;
    if ((forms & kFormWide) != 0)
        wide = which == 0 ? archive_entry_pathname_w(entry)
            : which == 1  ? archive_entry_hardlink_w(entry)
                          : archive_entry_symlink_w(entry);
    const char* bytes = nullptr;
    if ((forms & kFormBytes) != 0)
        bytes = which == 0 ? archive_entry_pathname(entry)
            : which == 1   ? archive_entry_hardlink(entry)
                           : archive_entry_symlink(entry);
    if (wide != nullptr && bytes != nullptr && Widened(wide, bytes)) {
        const int format = archive_format(archive_);
        const bool unicode = (format & ARCHIVE_FORMAT_BASE_MASK) == ARCHIVE_FORMAT_RAR ||
            (format & ARCHIVE_FORMAT_BASE_MASK) == ARCHIVE_FORMAT_RAR_V5 ||
            (format & ARCHIVE_FORMAT_BASE_MASK) == ARCHIVE_FORMAT_CAB || format == ARCHIVE_FORMAT_TAR_PAX_INTERCHANGE ||
            format == ARCHIVE_FORMAT_TAR_PAX_RESTRICTED || format == ARCHIVE_FORMAT_ISO9660;
        if (!unicode || IsValidUtf8(bytes))
            return LegacyName(bytes);
        return WideToUtf8(wide);
    }
    if (wide != nullptr)
        return WideToUtf8(wide);
    return bytes != nullptr ? LegacyName(bytes) : std::string();
}

// The name a single compressed file is extracted to: the name gzip stored when it is a plain file
// name, else the archive's file name without its last suffix, else "data".
std::string LibarchiveReader::SingleFileName()
{
    Source& source = *parts_.front().source;
    uint8_t header[10];
    if (source.Read(0, header, sizeof(header)) && header[0] == 0x1F && header[1] == 0x8B && (header[3] & 0x08) != 0) {
        uint64_t at = sizeof(header);
        if ((header[3] & 0x04) != 0) {
            uint8_t extra[2];
            if (source.Read(at, extra, 2))
                at += 2 + static_cast<uint64_t>(extra[0] | (extra[1] << 8));
        }
        std::string stored;
        char c = 0;
        while (stored.size() < 1024 && source.Read(at++, &c, 1) && c != 0)
            stored += c;
        if (c == 0) {
            const std::string name = LegacyName(stored);
            if (IsPlainFileName(name))
                return name;
        }
    }
    const std::string file = host_.ArchiveFileName();
    const size_t dot = file.rfind('.');
    if (dot != std::string::npos && dot > 0 && IsPlainFileName(file.substr(0, dot)))
        return file.substr(0, dot);
    return "data";
}

std::string LibarchiveReader::MethodText()
{
    const int format = archive_format(archive_) & ARCHIVE_FORMAT_BASE_MASK;
    if (format == ARCHIVE_FORMAT_RAR_V5)
        return "RAR5";
    if (format == ARCHIVE_FORMAT_RAR)
        return "RAR4";
    if (format == ARCHIVE_FORMAT_TAR || format == ARCHIVE_FORMAT_CPIO || format == ARCHIVE_FORMAT_RAW) {
        if (unpack_ != nullptr)
            return unpack_->name;
        switch (archive_filter_code(archive_, 0)) {
        case ARCHIVE_FILTER_NONE: return "Stored";
        case ARCHIVE_FILTER_GZIP: return "gzip";
        case ARCHIVE_FILTER_BZIP2: return "bzip2";
        case ARCHIVE_FILTER_XZ: return "xz";
        case ARCHIVE_FILTER_LZMA: return "lzma";
        case ARCHIVE_FILTER_ZSTD: return "zstd";
        default: break;
        }
        const char* name = archive_filter_name(archive_, 0);
        return name != nullptr ? name : "";
    }
    const char* name = archive_format_name(archive_);
    return name != nullptr ? name : "";
}

Status LibarchiveReader::Open(std::string& detail)
{
    LOCALE_GUARD();
    archive_ = archive_read_new();
    if (archive_ == nullptr)
        return Status::OutOfMemory;
    // Formats and filters one by one, only those of the kind found: those that would start another
    // program are never registered, and a filter that could only work through one (ARCHIVE_WARN) is
    // refused. Bidders of other formats would read ahead across RAR volumes, and could take damaged
    // data for something else.
    std::vector<int (*)(struct archive*)> registrations;
    switch (kind_) {
    case ArchiveKind::Rar: registrations = {archive_read_support_format_rar, archive_read_support_format_rar5}; break;
    case ArchiveKind::Tar: registrations = {archive_read_support_format_tar}; break;
    case ArchiveKind::Cab: registrations = {archive_read_support_format_cab}; break;
    case ArchiveKind::Iso: registrations = {archive_read_support_format_iso9660}; break;
    default:
        // Compressed data (a tar or cpio inside, or a single file), or no signature at all (old tar,
        // cpio, .lzma). gzip, bzip2, xz and zstd are decoded by the read callback (Unpack); only
        // .lzma, which has no signature, goes through libarchive's filter.
        registrations = {archive_read_support_format_tar, archive_read_support_format_cpio,
            archive_read_support_format_raw, archive_read_support_filter_lzma};
        if (kind_ == ArchiveKind::Compressed)
            unpack_.reset(StartUnpack(*parts_.front().source));
        if (unpack_ != nullptr)
            break;
        registrations.insert(registrations.end(),
            {archive_read_support_filter_bzip2, archive_read_support_filter_xz, archive_read_support_filter_zstd});
        break;
    }
    for (auto registration : registrations) {
        if (registration(archive_) != ARCHIVE_OK) {
            detail = "libarchive was built without a decoder it needs";
            return Status::Internal;
        }
    }

    VolumeSet* volumes = host_.Volumes();
    if (kind_ == ArchiveKind::Rar && volumes != nullptr &&
        (volumes->Naming() == VolumeNaming::RarParts || volumes->Naming() == VolumeNaming::RarOld)) {
        volumes_ = volumes;
        for (unsigned number = 2;; ++number) {
            Source* volume = volumes->Volume(number);
            if (volume == nullptr)
                break;
            parts_.push_back(Part {this, volume, 0, number});
        }
    }
    archive_read_set_read_callback(archive_, ReadCallback);
    // Decoded data cannot be skipped or sought in the compressed source: libarchive reads on.
    if (unpack_ == nullptr) {
        archive_read_set_skip_callback(archive_, SkipCallback);
        archive_read_set_seek_callback(archive_, SeekCallback);
    }
    archive_read_set_switch_callback(archive_, SwitchCallback);
    for (size_t i = 0; i < parts_.size(); ++i) {
        const int added = i == 0 ? archive_read_set_callback_data(archive_, &parts_[i])
                                 : archive_read_append_callback_data(archive_, &parts_[i]);
        if (added != ARCHIVE_OK) {
            detail = "libarchive cannot take the archive's volumes";
            return Status::Internal;
        }
    }
    if (archive_read_open1(archive_) != ARCHIVE_OK) {
        const Status status = Failure(ARCHIVE_FATAL);
        detail = detail_;
        return status;
    }
    return Status::Ok;
}

size_t LibarchiveReader::Keep(const uint8_t* data, size_t size)
{
    return unpack_ != nullptr ? unpack_->out.Keep(data, size) : 0;
}

void LibarchiveReader::Give(size_t token)
{
    unpack_->out.Give(token);
}

// The stream's decoder goes (ending its helper threads, whose data may be left unread); a read
// after it fails.
void LibarchiveReader::Close()
{
    if (unpack_ == nullptr || unpack_->decoder == nullptr)
        return;
    unpack_->decoder.reset();
    if (unpack_->failure == Status::Ok && !unpack_->ended) {
        unpack_->failure = Status::Stopped;
        unpack_->detail = ErrorString(Status::Stopped);
    }
}

// The next piece of the decoded stream; none (size 0) at its end. A failure stays: libarchive may
// ask again.
Status LibarchiveReader::Unpacked(const uint8_t*& data, size_t& size)
{
    Unpack& unpack = *unpack_;
    data = nullptr;
    size = 0;
    if (unpack.failure != Status::Ok)
        return unpack.failure;
    if (unpack.ended)
        return Status::Ok;
    Status status = Status::Ok;
    try {
        if (unpack.decoder == nullptr) {
            // gzip's large members are inflated and bzip2 decoded block by block on the run's
            // threads, as a ZIP member decoded alone.
            DecoderHelpers helpers;
            helpers.threads = options_.workers;
            helpers.count = options_.workers != nullptr && options_.threads > 1 ? options_.threads - 1 : 0;
            if (unpack.gzip) {
                unpack.decoder.reset(new GzipDecoder(*unpack.source, helpers));
                unpack.decoder->SetMemoryLimit(kLargestDecoderMemory);
            } else {
                status = CreateDecoder(
                    unpack.entry, *unpack.member, kLargestDecoderMemory, unpack.decoder, unpack.detail, helpers);
            }
        }
        bool finished = unpack.decoded;
        while (status == Status::Ok && size == 0 && !finished)
            status = unpack.decoder->Decode(unpack.out.Next(), unpack.out.Size(), data, size, finished);
        // The decoder's last piece may come with its end: the end is told on the next call.
        unpack.decoded = finished;
        if (status == Status::Ok && finished && size == 0)
            unpack.ended = true;
        if (status != Status::Ok && unpack.detail.empty())
            unpack.detail = unpack.decoder != nullptr ? unpack.decoder->Detail() : std::string();
    } catch (const std::bad_alloc&) {
        status = Status::OutOfMemory;
    }
    if (status != Status::Ok) {
        unpack.failure = status;
        if (unpack.detail.empty()) {
            const std::string kind = unpack.name;
            unpack.detail = status == Status::Truncated ? "the " + kind + " data is truncated"
                : status == Status::OutOfMemory         ? ErrorString(status)
                : status == Status::CrcMismatch         ? "the " + kind + " data's check failed: it is damaged"
                                                        : "the " + kind + " data is damaged or incomplete";
        }
        data = nullptr;
        size = 0;
    }
    return status;
}

// Decodes what is left of the compressed stream once the archive inside has ended, so that its last
// checks are read: an archive is at its clean end only when they passed.
Status LibarchiveReader::UnpackToEnd()
{
    if (unpack_ == nullptr)
        return Status::Ok;
    const uint8_t* data = nullptr;
    size_t size = 0;
    Status status = Status::Ok;
    do {
        status = Unpacked(data, size);
        if (status == Status::Ok && PassedOver(size))
            return Status::Stopped;
    } while (status == Status::Ok && size > 0);
    if (status != Status::Ok)
        detail_ = unpack_->detail;
    return status;
}

Status LibarchiveReader::Next(Entry& entry, bool& end)
{
    LOCALE_GUARD();
    end = false;
    detail_.clear();
    inMember_ = false;
    struct archive_entry* header = nullptr;
    int result = archive_read_next_header(archive_, &header);
    if (result == ARCHIVE_EOF) {
        const Status unpacked = UnpackToEnd();
        end = unpacked == Status::Ok;
        return unpacked;
    }
    if (result < ARCHIVE_WARN)
        return stopped_ ? Status::Stopped : Failure(result);

    const int format = archive_format(archive_) & ARCHIVE_FORMAT_BASE_MASK;
    if (format == ARCHIVE_FORMAT_RAW) {
        // The raw format takes anything; only a compressed stream makes it a single compressed file.
        if (kind_ != ArchiveKind::Compressed && kind_ != ArchiveKind::Unknown) {
            detail_ = std::string("the ") + ArchiveKindName(kind_) + " archive's headers cannot be read";
            return Status::DataError;
        }
        if (archive_filter_code(archive_, 0) == ARCHIVE_FILTER_NONE && unpack_ == nullptr)
            return Status::NotAnArchive;
        raw_ = true;
    }

    const bool folder = archive_entry_filetype(header) == AE_IFDIR;
    entry = Entry();
    entry.name = raw_ ? SingleFileName() : Name(header, 0);
    // The folder the archive was made from ("./", as tar -C folder . writes it) is the target itself.
    if (folder && (entry.name == "." || entry.name == "./"))
        return Next(entry, end);
    const uint32_t mode = static_cast<uint32_t>(archive_entry_mode(header));
    entry.nameIsUtf8 = true;
    if (folder && (entry.name.empty() || entry.name.back() != '/'))
        entry.name += '/';
    entry.rawName = entry.name;
    if (archive_entry_hardlink(header) != nullptr) {
        entry.link = LinkKind::Hard;
        entry.linkTarget = Name(header, 1);
    } else if (archive_entry_filetype(header) == AE_IFLNK || archive_entry_symlink(header) != nullptr) {
        entry.link = LinkKind::Symbolic;
        entry.linkTarget = Name(header, 2);
    }
    sizeKnown_ = archive_entry_size_is_set(header) != 0 && archive_entry_size(header) >= 0;
    declared_ = sizeKnown_ && !folder ? static_cast<uint64_t>(archive_entry_size(header)) : 0;
    entry.size = declared_;
    entry.compressedSize = declared_;
    sparse_ = archive_entry_sparse_count(header) > 0;
    encrypted_ = archive_entry_is_data_encrypted(header) != 0;
    if (encrypted_)
        entry.flags |= 1;
    if (archive_entry_mtime_is_set(header)) {
        const int64_t seconds = archive_entry_mtime(header);
        entry.hasUnixTime = true;
        entry.unixModified = seconds;
        if (seconds >= -static_cast<int64_t>(kEpochDifference)) {
            entry.hasNtfsTime = true;
            entry.ntfsModified = (static_cast<uint64_t>(seconds + static_cast<int64_t>(kEpochDifference))) * 10000000u +
                static_cast<uint64_t>(archive_entry_mtime_nsec(header)) / 100u;
        }
    }
    entry.versionMadeBy = 3 << 8;
    entry.externalAttributes = (mode & 0xFFFFu) << 16;
    if (folder)
        entry.externalAttributes |= 0x10;
    if ((mode & 0200) == 0)
        entry.externalAttributes |= 0x01;
    entry.methodText = MethodText();

    inMember_ = true;
    produced_ = 0;
    block_ = nullptr;
    blockSize_ = 0;
    atEnd_ = false;
    return Status::Ok;
}

Status LibarchiveReader::Read(uint8_t* buffer, size_t capacity, const uint8_t*& data, size_t& size, bool& finished)
{
    LOCALE_GUARD();
    data = nullptr;
    size = 0;
    finished = false;
    if (!inMember_) {
        finished = true;
        return Status::Ok;
    }
    if (encrypted_) {
        detail_ = kind_ == ArchiveKind::Rar ? "RAR encryption is not supported" : "";
        return Status::Encrypted;
    }
    reading_ = true;
    struct Reading {
        bool& flag;
        ~Reading() { flag = false; }
    } reading {reading_};
    while (block_ == nullptr && !atEnd_) {
        const void* block = nullptr;
        size_t length = 0;
        la_int64_t offset = 0;
        const int result = archive_read_data_block(archive_, &block, &length, &offset);
        if (result == ARCHIVE_EOF) {
            atEnd_ = true;
            break;
        }
        if (result < ARCHIVE_WARN)
            return Failure(result);
        if (offset < 0 || static_cast<uint64_t>(offset) < produced_) {
            detail_ = "the member's pieces overlap";
            return Status::DataError;
        }
        if (length == 0 && static_cast<uint64_t>(offset) == produced_)
            continue;
        block_ = static_cast<const uint8_t*>(block);
        blockSize_ = length;
        blockOffset_ = static_cast<uint64_t>(offset);
    }
    // Where the data stops before the next piece or the declared end (a sparse file's holes), zeros.
    const uint64_t until = block_ != nullptr ? blockOffset_ : (sparse_ && sizeKnown_ ? declared_ : produced_);
    if (sizeKnown_ && (until > declared_ || (block_ != nullptr && blockSize_ > declared_ - blockOffset_))) {
        detail_ = "more data than the header declares";
        return Status::DataError;
    }
    if (until > produced_) {
        size = static_cast<size_t>(std::min<uint64_t>(capacity, until - produced_));
        std::memset(buffer, 0, size);
        produced_ += size;
        return Status::Ok;
    }
    if (block_ != nullptr) {
        data = block_;
        size = blockSize_;
        produced_ += blockSize_;
        block_ = nullptr;
        return Status::Ok;
    }
    if (sizeKnown_ && produced_ != declared_ && !raw_) {
        if (!NameMissingVolume())
            detail_ = "the member is shorter than its header declares";
        return Status::Truncated;
    }
    finished = true;
    inMember_ = false;
    return Status::Ok;
}

}  // namespace

std::unique_ptr<ArchiveReader> OpenLibarchiveReader(
    ArchiveKind kind, Source& source, Host& host, const ExtractOptions& options, Status& status, std::string& detail)
{
    auto reader = std::make_unique<LibarchiveReader>(kind, source, host, options);
    status = reader->Open(detail);
    if (status != Status::Ok)
        return nullptr;
    return reader;
}

}  // namespace unzip
