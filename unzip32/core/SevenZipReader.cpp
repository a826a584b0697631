#include "unzip32/core/ArchiveReader.h"

#include "unzip32/core/Decoder.h"
#include "unzip32/core/NameCodec.h"
#include "unzip32/core/Secret.h"
#include "unzip32/core/SequenceExtractor.h"
#include "unzip32/core/SevenZipFolder.h"
#include "unzip32/core/SevenZipHeaders.h"

#include <algorithm>
#include <limits>

namespace unzip {

namespace {

using namespace sevenzip;

const size_t kNone = std::numeric_limits<size_t>::max();

// The most a decoded header may take (its declared size is no bound: it is compressed): what a
// header compresses by at most, up to a bound for archives of millions of files.
const uint64_t kHeaderExpansion = 64;
const uint64_t kSmallestHeaderBound = 1u << 20;
const uint64_t kLargestHeader = 256u << 20;

// The first member of an encrypted folder is decoded whole to check the password before any of it
// is handed out; up to this much of it is kept, so that it is not decoded twice.
const size_t kHeldMember = 4u << 20;

// Headers within headers that are followed, at most.
const int kMaxHeaderLevels = 4;

// The forms a typed password is tried in, as the ZIP reader does: as typed (UTF-8), then, for
// one with bytes above 127, read in the caller's ANSI and OEM pages.
std::vector<std::string> PasswordForms(const Secret& password, const NameCodec* codec)
{
    std::vector<std::string> forms(1, std::string(reinterpret_cast<const char*>(password.Data()), password.Size()));
    const std::string& typed = forms[0];
    if (codec == nullptr || std::none_of(typed.begin(), typed.end(), [](char c) { return (c & 0x80) != 0; }))
        return forms;
    for (unsigned page : {codec->AnsiPage(), codec->OemPage()}) {
        std::string utf8;
        if (codec->ToUtf8(page, typed, utf8) && std::find(forms.begin(), forms.end(), utf8) == forms.end())
            forms.push_back(utf8);
    }
    return forms;
}

void WipeAll(std::vector<std::string>& forms)
{
    for (std::string& form : forms)
        if (!form.empty())
            Wipe(&form[0], form.size());
}

// Wrong passwords show as damaged data or a wrong CRC.
bool LooksLikeWrongPassword(Status status)
{
    return status == Status::DataError || status == Status::CrcMismatch;
}

class SevenZipReader : public ArchiveReader {
public:
    SevenZipReader(Source& source, Host& host, const ExtractOptions& options)
        : source_(source), host_(host), options_(options)
    {
        context_.source = &source;
        context_.crypto = host.Cryptography();
        context_.keys = &keys_;
        context_.memoryLimit = kLargestDecoderMemory;
    }

    Status Open();
    Status Next(Entry& entry, bool& end) override;
    Status Read(uint8_t* buffer, size_t capacity, const uint8_t*& data, size_t& size, bool& finished) override;
    uint64_t MemoryInUse() const override
    {
        return openFolder_ == kNone ? 0 : FolderMemory(archive_.streams.folders[openFolder_]);
    }

private:
    Status ReadHeaderBytes(std::vector<uint8_t>& header);
    Status DecodeWhole(const StreamsInfo& info, std::vector<uint8_t>& out);
    Status DecodeEncodedHeader(std::vector<uint8_t>& header);
    bool MapStreams();
    void CloseFolder();
    // Brings the folder's decoder to the start of substream `sub` (global index) of `folder`.
    Status Position(size_t folder, size_t sub);
    // Decodes what is left of the current substream, checking its CRC where all of it was decoded.
    Status SkipSubstream(std::vector<uint8_t>* keep);
    Status CheckPassword(size_t file, const std::string& shown);
    Status Fail(Status status, const std::string& detail)
    {
        detail_ = detail.empty() ? std::string() : detail;
        return status;
    }

    Source& source_;
    Host& host_;
    const ExtractOptions& options_;
    Archive archive_;
    KeyCache keys_;
    FolderContext context_;
    bool passwordKnown_ = false;  // the password decoded something whole and right

    std::vector<size_t> fileSub_;         // each file's global substream index (kNone without data)
    std::vector<size_t> subFolder_;       // each substream's folder
    std::vector<size_t> folderFirstSub_;  // each folder's first substream

    size_t nextFile_ = 0;
    size_t current_ = kNone;

    size_t openFolder_ = kNone;
    std::unique_ptr<Stream> folderStream_;
    size_t folderSub_ = 0;  // the substream the decoder is in
    uint64_t subLeft_ = 0;  // bytes of it not decoded yet
    uint32_t subCrc_ = 0;   // of what was decoded of it
    Status folderFailure_ = Status::Ok;
    std::string folderDetail_;

    // The current member's state.
    bool positioned_ = false;
    Status pending_ = Status::Ok;
    std::string pendingDetail_;
    std::vector<uint8_t> held_;  // the member, decoded whole while its password was checked
    size_t heldAt_ = 0;
    bool useHeld_ = false;
};

Status SevenZipReader::ReadHeaderBytes(std::vector<uint8_t>& header)
{
    uint8_t signature[kSignatureHeaderSize];
    if (source_.Size() < kSignatureHeaderSize || !source_.Read(0, signature, sizeof signature))
        return Fail(Status::Truncated, "7z archive shorter than its signature header");
    uint64_t offset = 0;
    uint64_t size = 0;
    uint32_t crc = 0;
    const Status read = ReadSignatureHeader(signature, source_.Size(), offset, size, crc);
    if (read == Status::NotAnArchive)
        return Fail(read, "");
    if (read == Status::UnsupportedMethod)
        return Fail(read, "7z format version " + std::to_string(signature[6]) + " is not supported");
    if (read == Status::DataError)
        return Fail(read, "7z signature header damaged (CRC mismatch)");
    if (read != Status::Ok)
        return Fail(read, "7z archive truncated: its header lies beyond its end");
    header.resize(static_cast<size_t>(size));
    if (size > 0 && !source_.Read(kSignatureHeaderSize + offset, header.data(), header.size()))
        return Fail(Status::Truncated, "7z header cannot be read");
    if (Crc32(0, header.data(), header.size()) != crc)
        return Fail(Status::DataError, "7z header damaged (CRC mismatch)");
    return Status::Ok;
}

Status SevenZipReader::DecodeWhole(const StreamsInfo& info, std::vector<uint8_t>& out)
{
    out.clear();
    const Folder& folder = info.folders[0];
    const uint64_t bound = std::min(kLargestHeader, std::max(kSmallestHeaderBound, source_.Size() * kHeaderExpansion));
    if (folder.UnpackSize() > bound)
        return Fail(Status::DataError, "damaged 7z header: larger than " + MebibyteText(bound));
    context_.detail.clear();
    std::unique_ptr<Stream> stream;
    Status status = OpenFolder(info, 0, context_, stream);
    if (status != Status::Ok)
        return Fail(status, context_.detail);
    std::vector<uint8_t> piece(64u << 10);
    uint32_t crc = 0;
    for (;;) {
        size_t got = 0;
        status = stream->Read(piece.data(), piece.size(), got);
        if (status != Status::Ok)
            return Fail(status, context_.detail);
        if (got == 0)
            break;
        out.insert(out.end(), piece.begin(), piece.begin() + static_cast<std::ptrdiff_t>(got));
        crc = Crc32(crc, piece.data(), got);
    }
    if (folder.hasCrc && crc != folder.crc)
        return Fail(Status::CrcMismatch, "");
    return Status::Ok;
}

Status SevenZipReader::DecodeEncodedHeader(std::vector<uint8_t>& header)
{
    std::vector<uint8_t> decoded;
    const StreamsInfo info = archive_.streams;
    if (!FolderIsEncrypted(info.folders[0]) || passwordKnown_) {
        const Status status = DecodeWhole(info, decoded);
        if (status != Status::Ok)
            return Fail(status, detail_.empty() ? "7z header damaged" : detail_);
        header.swap(decoded);
        return Status::Ok;
    }
    // Names and all are encrypted: the password comes before any member.
    std::string shown = host_.ArchiveFileName();
    if (shown.empty())
        shown = "7z archive";
    for (int ask = 0; ask < kPasswordAsks; ++ask) {
        Secret password;
        if (!host_.Password(shown, password))
            return Fail(Status::Encrypted, "encrypted 7z header, no password");
        std::vector<std::string> forms = PasswordForms(password, host_.Names());
        Status status = Status::Ok;
        for (const std::string& form : forms) {
            keys_.SetPassword(form);
            status = DecodeWhole(info, decoded);
            if (status == Status::Ok || !LooksLikeWrongPassword(status))
                break;
        }
        WipeAll(forms);
        if (status == Status::Ok) {
            passwordKnown_ = true;
            header.swap(decoded);
            return Status::Ok;
        }
        keys_.Clear();
        if (!LooksLikeWrongPassword(status))
            return status;
    }
    return Fail(Status::Encrypted, "encrypted 7z header, wrong password (or damaged data)");
}

bool SevenZipReader::MapStreams()
{
    const StreamsInfo& streams = archive_.streams;
    size_t sub = 0;
    for (size_t f = 0; f < streams.folders.size(); ++f) {
        folderFirstSub_.push_back(sub);
        for (size_t i = 0; i < streams.folders[f].substreams; ++i)
            subFolder_.push_back(f);
        sub += streams.folders[f].substreams;
    }
    if (sub != streams.substreams.size())
        return false;
    size_t next = 0;
    for (const File& file : archive_.files)
        fileSub_.push_back(file.hasStream ? next++ : kNone);
    return next == sub;
}

Status SevenZipReader::Open()
{
    std::vector<uint8_t> header;
    Status status = ReadHeaderBytes(header);
    if (status != Status::Ok)
        return status;
    if (header.empty())
        return Status::Ok;  // an empty archive
    for (int level = 0;; ++level) {
        bool encoded = false;
        std::string detail;
        status = ParseHeader(header.data(), header.size(), source_.Size(), archive_, encoded, detail);
        if (status != Status::Ok)
            return Fail(status, detail);
        if (!encoded)
            break;
        if (level == kMaxHeaderLevels)
            return Fail(Status::DataError, "damaged 7z header: encoded too many times");
        status = DecodeEncodedHeader(header);
        if (status != Status::Ok)
            return status;
    }
    if (!MapStreams())
        return Fail(Status::DataError, "damaged 7z header: the files do not match the streams");
    return Status::Ok;
}

void SevenZipReader::CloseFolder()
{
    folderStream_.reset();
    openFolder_ = kNone;
    folderFailure_ = Status::Ok;
    folderDetail_.clear();
}

Status SevenZipReader::SkipSubstream(std::vector<uint8_t>* keep)
{
    const Substream& sub = archive_.streams.substreams[folderSub_];
    const bool whole = subLeft_ == sub.size;
    std::vector<uint8_t> piece(static_cast<size_t>(std::min<uint64_t>(subLeft_, 256u << 10)));
    while (subLeft_ > 0) {
        size_t got = 0;
        const Status status =
            folderStream_->Read(piece.data(), static_cast<size_t>(std::min<uint64_t>(piece.size(), subLeft_)), got);
        if (status != Status::Ok) {
            folderFailure_ = status;
            folderDetail_ = context_.detail;
            return status;
        }
        subCrc_ = Crc32(subCrc_, piece.data(), got);
        if (Watched(got)) {
            // The folder is part way through a member: it starts over if it is read again.
            CloseFolder();
            return Status::Stopped;
        }
        if (keep != nullptr && keep->size() + got <= kHeldMember)
            keep->insert(keep->end(), piece.begin(), piece.begin() + static_cast<std::ptrdiff_t>(got));
        else if (keep != nullptr)
            keep->clear(), keep = nullptr;
        subLeft_ -= got;
    }
    Status result = Status::Ok;
    if (whole && sub.hasCrc && subCrc_ != sub.crc)
        result = Status::CrcMismatch;
    ++folderSub_;
    subCrc_ = 0;
    subLeft_ = folderSub_ < archive_.streams.substreams.size() ? archive_.streams.substreams[folderSub_].size : 0;
    return result;
}

Status SevenZipReader::Position(size_t folder, size_t sub)
{
    if (openFolder_ == folder && folderFailure_ != Status::Ok) {
        detail_ = folderDetail_;
        return folderFailure_;
    }
    // A substream partly read before cannot be read again from its start without starting over.
    const bool reopen = openFolder_ != folder || folderSub_ > sub ||
        (folderSub_ == sub && subLeft_ != archive_.streams.substreams[sub].size);
    if (reopen) {
        CloseFolder();
        context_.detail.clear();
        const Status opened = OpenFolder(archive_.streams, folder, context_, folderStream_);
        openFolder_ = folder;
        if (opened != Status::Ok) {
            folderStream_.reset();
            folderFailure_ = opened;
            folderDetail_ = context_.detail;
            detail_ = folderDetail_;
            return opened;
        }
        folderSub_ = folderFirstSub_[folder];
        subLeft_ = archive_.streams.substreams[folderSub_].size;
        subCrc_ = 0;
    }
    while (folderSub_ < sub) {
        const Status skipped = SkipSubstream(nullptr);
        if (skipped != Status::Ok && skipped != Status::CrcMismatch) {
            detail_ = folderDetail_;
            return skipped;
        }
    }
    return Status::Ok;
}

Status SevenZipReader::CheckPassword(size_t file, const std::string& shown)
{
    const size_t sub = fileSub_[file];
    const size_t folder = subFolder_[sub];
    for (int ask = 0; ask < kPasswordAsks; ++ask) {
        Secret password;
        if (!host_.Password(shown, password)) {
            pendingDetail_ = ErrorString(Status::Encrypted);
            return Status::Encrypted;
        }
        std::vector<std::string> forms = PasswordForms(password, host_.Names());
        Status status = Status::Ok;
        std::vector<uint8_t> kept;
        for (const std::string& form : forms) {
            keys_.SetPassword(form);
            CloseFolder();
            // The members before it in the folder are decoded on the way and checked as well.
            kept.clear();
            status = Position(folder, sub);
            if (status == Status::Ok)
                status = SkipSubstream(&kept);
            if (status == Status::Ok || !LooksLikeWrongPassword(status))
                break;
        }
        WipeAll(forms);
        if (status == Status::Ok) {
            passwordKnown_ = true;
            if (kept.size() == archive_.streams.substreams[sub].size) {
                held_.swap(kept);
                heldAt_ = 0;
                useHeld_ = true;
            } else {
                CloseFolder();
            }
            return Status::Ok;
        }
        CloseFolder();
        keys_.Clear();
        if (!LooksLikeWrongPassword(status)) {
            pendingDetail_ = detail_;
            return status;
        }
    }
    pendingDetail_ = "encrypted member, wrong password (or damaged data)";
    return Status::Encrypted;
}

Status SevenZipReader::Next(Entry& entry, bool& end)
{
    detail_.clear();
    for (;;) {
        end = false;
        if (nextFile_ >= archive_.files.size()) {
            end = true;
            current_ = kNone;
            return Status::Ok;
        }
        const size_t index = nextFile_++;
        const File& file = archive_.files[index];
        if (file.isAnti)
            continue;
        current_ = index;
        positioned_ = false;
        pending_ = Status::Ok;
        pendingDetail_.clear();
        held_.clear();
        useHeld_ = false;

        entry = Entry();
        entry.name = file.name;
        const bool folder = !file.hasStream && (file.isDirectory || (file.attributes & 0x10) != 0);
        if (folder && (entry.name.empty() || (entry.name.back() != '/' && entry.name.back() != '\\')))
            entry.name += '/';
        entry.rawName = entry.name;
        entry.nameIsUtf8 = true;
        entry.hasNtfsTime = file.hasTime;
        entry.ntfsModified = file.modified;
        if (file.hasAttributes) {
            entry.externalAttributes = file.attributes;
            if ((file.attributes & 0x8000) != 0) {
                entry.versionMadeBy = 3 << 8;
                if (((file.attributes >> 16) & 0xF000) == 0xA000)
                    entry.link = LinkKind::Symbolic;
            } else {
                entry.externalAttributes &= 0xFFFF;
            }
        }
        const size_t sub = fileSub_[index];
        if (sub == kNone) {
            entry.methodText = folder ? "" : "Copy";
            return Status::Ok;
        }
        const Substream& stream = archive_.streams.substreams[sub];
        const size_t folderIndex = subFolder_[sub];
        const Folder& f = archive_.streams.folders[folderIndex];
        entry.size = stream.size;
        entry.crc = stream.crc;
        entry.compressedSize = sub == folderFirstSub_[folderIndex] ? f.PackSize(archive_.streams.packSizes) : 0;
        entry.methodText = FolderMethodText(f);
        if (FolderIsEncrypted(f))
            entry.flags |= 0x0001;

        // The password is asked for here, on the calling thread, for a member that will be
        // decoded: not for listings or members the masks leave out.
        if (FolderIsEncrypted(f) && !passwordKnown_ && !options_.listOnly && entry.link == LinkKind::None) {
            const std::string shown = host_.DisplayName(entry);
            const bool wanted = (options_.include.empty() ||
                                    Matches(options_.include, shown, options_.ignoreCase, options_.utf8Names)) &&
                !Matches(options_.exclude, shown, options_.ignoreCase, options_.utf8Names);
            if (wanted)
                pending_ = CheckPassword(index, shown);
        }
        return Status::Ok;
    }
}

Status SevenZipReader::Read(uint8_t* buffer, size_t capacity, const uint8_t*& data, size_t& size, bool& finished)
{
    data = nullptr;
    size = 0;
    finished = false;
    detail_.clear();
    if (current_ == kNone || fileSub_[current_] == kNone) {
        finished = true;
        return Status::Ok;
    }
    if (pending_ != Status::Ok)
        return Fail(pending_, pendingDetail_);
    if (useHeld_) {
        size = std::min(capacity, held_.size() - heldAt_);
        data = held_.data() + heldAt_;
        heldAt_ += size;
        finished = heldAt_ == held_.size();
        return Status::Ok;
    }
    const size_t sub = fileSub_[current_];
    if (!positioned_) {
        const Status status = Position(subFolder_[sub], sub);
        if (status != Status::Ok) {
            if (status == Status::Encrypted)
                return Fail(status, "");
            return status;
        }
        positioned_ = true;
    }
    if (folderFailure_ != Status::Ok)
        return Fail(folderFailure_, folderDetail_);
    if (folderSub_ != sub) {
        finished = true;  // read to its end before
        return Status::Ok;
    }
    if (subLeft_ > 0) {
        size_t got = 0;
        const Status status =
            folderStream_->Read(buffer, static_cast<size_t>(std::min<uint64_t>(capacity, subLeft_)), got);
        if (status != Status::Ok) {
            folderFailure_ = status;
            folderDetail_ = context_.detail;
            return Fail(status, folderDetail_);
        }
        subCrc_ = Crc32(subCrc_, buffer, got);
        subLeft_ -= got;
        size = got;
    }
    if (subLeft_ == 0) {
        const Substream& stream = archive_.streams.substreams[sub];
        const bool crcOk = !stream.hasCrc || subCrc_ == stream.crc;
        ++folderSub_;
        subCrc_ = 0;
        subLeft_ = folderSub_ < archive_.streams.substreams.size() ? archive_.streams.substreams[folderSub_].size : 0;
        if (!crcOk)
            return Fail(Status::CrcMismatch, "");
        finished = true;
    }
    return Status::Ok;
}

}  // namespace

std::unique_ptr<ArchiveReader> OpenSevenZipReader(
    Source& source, Host& host, const ExtractOptions& options, Status& status, std::string& detail)
{
    try {
        auto reader = std::make_unique<SevenZipReader>(source, host, options);
        status = reader->Open();
        if (status != Status::Ok) {
            detail = reader->Detail();
            return nullptr;
        }
        return reader;
    } catch (const std::bad_alloc&) {
        status = Status::OutOfMemory;
        detail.clear();
        return nullptr;
    }
}

}  // namespace unzip
