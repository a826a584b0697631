#pragma once
#include "unzip32/core/Crypto.h"
#include "unzip32/core/Directory.h"
#include "unzip32/core/NameCodec.h"
#include "unzip32/core/Secret.h"
#include "unzip32/core/Source.h"
#include "unzip32/core/Status.h"
#include "unzip32/core/Volumes.h"
#include "unzip32/core/WorkerThreads.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace unzip {

// A file being written for one member. Commit finishes it (times, attributes); Abandon closes and
// removes it, so that no partial output stays behind.
class OutputFile {
public:
    virtual ~OutputFile() = default;
    virtual Status Write(const uint8_t* data, size_t count) = 0;
    // Memory (`capacity` bytes) that output may be decoded into before it is passed to Write,
    // which then takes it without a copy; null where the file has none.
    virtual uint8_t* Room(size_t& capacity)
    {
        capacity = 0;
        return nullptr;
    }
    // Whether the file sums the CRC-32 of what is written to it itself, off the decoding thread;
    // Crc then gives the sum of everything written, once it is through, or the first failure.
    virtual bool SumsCrc() const { return false; }
    virtual Status Crc(uint32_t& crc)
    {
        crc = 0;
        return Status::Internal;
    }
    virtual Status Commit(const Entry& entry) = 0;
    virtual void Abandon() = 0;
};

// What the extractor needs from its surroundings: the file system under the target folder, the
// caller's name form, and where reports go. The Win32 shell and the tests implement it.
class Host {
public:
    virtual ~Host() = default;
    // The member's name as the caller sees it (masks are matched against it, listings show it).
    virtual std::string DisplayName(const Entry& entry) = 0;
    virtual void Print(const std::string& line) = 0;
    // One listed member; factor is the share saved in whole percent.
    virtual void Member(const Entry& entry, const std::string& displayName, unsigned factor) = 0;
    // Creates the folder (and the folders above it) under the target; PathBlocked where a file
    // stands in the way.
    virtual Status CreateFolder(const std::vector<std::string>& parts) = 0;
    // Creates (or replaces) the file under the target; its folders already exist. PathBlocked
    // where a folder stands in its place.
    virtual Status CreateOutput(
        const std::vector<std::string>& parts, const Entry& entry, std::unique_ptr<OutputFile>& file) = 0;
    // Creates the file `parts` as a copy of `from`, a file written before in this run (a hard link
    // member of a tar, 7z or RAR archive); its folders already exist. As CreateOutput and Commit
    // together: the same refusals, times and attributes from `entry`. A long copy asks Service on
    // the way as a member's data does; Stopped when it said stop (nothing is left of the copy).
    virtual Status CopyOutput(
        const std::vector<std::string>& from, const std::vector<std::string>& parts, const Entry& entry)
    {
        (void)from;
        (void)parts;
        (void)entry;
        return Status::UnsupportedMethod;
    }
    // Asked before each member is handled, and again after each further kServiceStep bytes written
    // for it and after each kServiceInterval of decoding it (a slow decoder writes little; with
    // ExtractOptions::milliseconds), always
    // on the calling thread; true stops the run: the member being written is abandoned, the
    // members already done stay, no further member is started.
    virtual bool Service(const std::string& displayName, uint64_t size)
    {
        (void)displayName;
        (void)size;
        return false;
    }
    // The password for an encrypted member (its displayed name): true with it in `password`, false
    // when there is none. Asked again for the same member after a wrong one.
    virtual bool Password(const std::string& displayName, Secret& password)
    {
        (void)displayName;
        (void)password;
        return false;
    }
    // The cryptography for WinZip AES members; without it they are skipped as unsupported.
    virtual Crypto* Cryptography() { return nullptr; }
    // The code pages for legacy names; without it they are read as CP437.
    virtual const NameCodec* Names() { return nullptr; }
    // The archive's file name without its folder, UTF-8 ("photos.tar.gz"): a single compressed
    // file is extracted to it without its suffix. Empty when unknown.
    virtual std::string ArchiveFileName() { return std::string(); }
    // The other volumes of an archive split into several files; null when the archive is one file
    // (or the host cannot find files beside it).
    virtual VolumeSet* Volumes() { return nullptr; }
    // One part of a path (UTF-8) in the form the target's file system compares names in: two parts
    // with equal keys name the same file. Trailing dots and spaces are gone already. The default
    // folds ASCII letters; a host that knows the system's case rules folds the others too.
    virtual std::string NameKey(const std::string& part)
    {
        std::string key = part;
        for (char& c : key)
            if (c >= 'a' && c <= 'z')
                c = static_cast<char>(c - 'a' + 'A');
        return key;
    }
    // The key of the first `count` parts of a path: their NameKeys joined by '/', which no part
    // holds.
    std::string PathKey(const std::vector<std::string>& parts, size_t count)
    {
        std::string key;
        for (size_t i = 0; i < count && i < parts.size(); ++i) {
            if (i > 0)
                key += '/';
            key += NameKey(parts[i]);
        }
        return key;
    }
    // Whether a file or folder stands under the name in the target (a renamed file must find a
    // name nothing has). The default knows of nothing.
    virtual bool Exists(const std::vector<std::string>& parts)
    {
        (void)parts;
        return false;
    }
};

// How many bytes of one member are written between two Service calls for it, and how long it is
// decoded at most between two (checked after each piece of output, up to a MiB).
constexpr uint64_t kServiceStep = 8u << 20;
constexpr uint64_t kServiceInterval = 250;  // milliseconds

// What becomes of a file or folder that stood in the target under a member's file name before the
// run (names compared by the host's NameKey). A name that a file of this run took is numbered
// whatever this says (OutputNames), and a folder member merges with a folder that is there.
enum class ExistingFiles {
    Overwrite,  // the member's file replaces a file; a folder stays and the member is skipped as blocked
    Skip,       // the member is skipped (Status::Exists) and counted in skippedExisting
    KeepBoth,   // the member's file takes the first free numbered name ("a (2).txt"), counted in keptBoth
};

struct ExtractOptions {
    bool listOnly = false;    // report members, write nothing
    bool testOnly = false;    // decode and check every member, write nothing
    bool keepFolders = true;  // recreate the stored folders (else everything into the target)
    bool ignoreCase = false;  // masks match case-insensitively
    bool utf8Names = false;   // names and masks are UTF-8 text: '?' stands for a whole character
    bool showComment = false;
    int quiet = 0;                     // 0: a line per member and per problem; 1: problems only; 2: nothing
    unsigned threads = 0;              // worker threads that decode while the caller reports (0: decode inline)
    WorkerThreads* workers = nullptr;  // where those threads come from (none: decode inline)
    // A steady clock in milliseconds, for Service by time (none: by step only). The library gives
    // the system's own; the standard library's would bring a thread layer into it.
    uint64_t (*milliseconds)() = nullptr;
    unsigned namePage = kNamePageAsWindows;  // kNamePageAutomatic, kNamePageAsWindows or a code page
    ExistingFiles existing = ExistingFiles::Overwrite;
    std::vector<std::string> include;  // empty: every member
    std::vector<std::string> exclude;
};

// What happened in one run, by kind, for the entry point to turn into its result code.
struct ExtractReport {
    Status archiveStatus = Status::Ok;  // the archive as a whole could not be read
    std::string archiveDetail;          // what about it, where there is more to say than the status's text
    int members = 0;
    int extracted = 0;
    int excluded = 0;
    int skippedUnsafe = 0;
    int skippedUnsupported = 0;
    int skippedEncrypted = 0;
    int skippedBlocked = 0;  // a file stands where the member's folder should be (or a folder where its file should)
    int renamed = 0;         // written under a new name: a file of this run had the member's name already
    int skippedExisting = 0;  // not written: something was under its name before the run (ExistingFiles::Skip)
    int keptBoth = 0;         // written under a new name beside what was there before (ExistingFiles::KeepBoth)
    int damaged = 0;      // CRC, size or data errors, inconsistent local headers
    int overlapping = 0;  // refused as overlapping records
    int writeFailures = 0;
    int diskFull = 0;
    int outOfMemory = 0;
    int matched = 0;  // members that passed the include and exclude lists
    uint64_t totalSize = 0;
    uint64_t totalCompressed = 0;
    bool stopped = false;  // Service asked for a stop
    // The archive's directory could not be read (archiveStatus says why) and its members were
    // found by their local records instead: `recovered` files were extracted (tested, or could be
    // when listing), each proved whole.
    bool salvaged = false;
    int recovered = 0;
    // The files (not folders) listed.
    int listedFiles = 0;
};

// How often the password of one encrypted member is asked for before the member is skipped.
const int kPasswordAsks = 3;

// Lists, tests or extracts every member of the archive. A ZIP archive whose end record or directory
// is missing or unreadable has the members that its local records prove whole listed, tested or
// extracted (SalvageDirectory), and the line "The archive is damaged: N of its files were
// recovered." ends the run. Every member is handled on its own: a damaged or refused member is
// reported and the others still go. Host calls are all made on the calling thread; only
// OutputFile::Write, Commit and Abandon, and the cipher and MAC objects the host's Crypto made, may
// run on a worker thread, and Source::Read then runs on several threads at once. An encrypted member's password is asked for and checked against its encryption header
// on the calling thread, before anything is written for it.
ExtractReport Extract(Source& source, Host& host, const ExtractOptions& options);

// The share saved by compression, in whole percent (0 for stored, empty or grown members).
unsigned CompressionFactor(uint64_t size, uint64_t compressedSize);

}  // namespace unzip
