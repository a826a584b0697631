#pragma once
#include <windows.h>

#include "unzip32/core/Extractor.h"
#include "unzip32/dll/BcryptCrypto.h"
#include "unzip32/dll/Win32NameCodec.h"
#include "unzip32/dll/Win32Threads.h"
#include "unzip32/dll/ZoneMark.h"
#include "unzip32/unzip32.h"

#include <map>
#include <set>
#include <string>

namespace unzip {

// UTF-8 <-> UTF-16 and the ANSI code page form the caller sees.
std::wstring Utf8ToWide(const std::string& text);
std::string WideToAnsi(const std::wstring& text);
std::wstring AnsiToWide(const char* text);
// A long path (allowing for a temporary name beside a file) in the \\?\ form, and a long
// \\server\share one in the \\?\UNC\ form; shorter ones as they are.
std::wstring LongForm(const std::wstring& path);

// The archive file, read with 64-bit positions; reads may come from several threads at once.
// It is never mapped: under Wine a view's page faults cost more than ReadFile's copy (a stored
// member came out at 2.5 times the time), and a view of a medium that is pulled faults in
// whatever code touches it instead of failing a call.
class Win32Source : public Source {
public:
    Win32Source() = default;
    Win32Source(const Win32Source&) = delete;
    Win32Source& operator=(const Win32Source&) = delete;
    ~Win32Source() override;
    bool Open(const std::wstring& path);
    uint64_t Size() const override { return size_; }
    bool Read(uint64_t offset, void* buffer, size_t count) override;

private:
    HANDLE file_ = INVALID_HANDLE_VALUE;
    Win32Lock readLock_;  // the file pointer's
    uint64_t size_ = 0;
};

// DOS times are local times; this turns them into file times (UTC) by the local zone's rules.
// Under Wine every conversion reads the zone's rules from the registry again (over a millisecond,
// more than writing a small file), yet the offset is the same all day but on the days the clocks
// change: so it is looked up once per day, and on those days for every time. Used from several
// threads at once.
class LocalTimes {
public:
    LocalTimes();
    bool ToFileTime(uint16_t dosDate, uint16_t dosTime, FILETIME& utc);

private:
    bool Convert(uint16_t dosDate, uint16_t dosTime, int64_t& utcTicks) const;

    TIME_ZONE_INFORMATION zone_ {};
    Win32Lock lock_;
    std::map<uint16_t, int64_t> dayOffsets_;  // DOS date -> UTC minus local, in 100 ns ticks
};

// Creates folders and files under the target folder through the wide-character file functions,
// so that names the code page cannot hold still get their true names. Never follows a link or
// reparse point: a folder or file that is one is refused.
class Win32Host : public Host {
public:
    // `archive` is the archive's path as the caller gave it (the password callback names it).
    // `overwrite`: a file under a member's name is replaced (else it stays, and the member's file
    // is refused with Exists, when it was created and when it is complete).
    Win32Host(const std::wstring& target, const UnzipCallbacks* callbacks, bool overwrite, const char* archive);
    Win32Host(const Win32Host&) = delete;
    Win32Host& operator=(const Win32Host&) = delete;
    std::string DisplayName(const Entry& entry) override;
    void Print(const std::string& line) override;
    void Member(const Entry& entry, const std::string& displayName, unsigned factor) override;
    Status CreateFolder(const std::vector<std::string>& parts) override;
    Status CreateOutput(
        const std::vector<std::string>& parts, const Entry& entry, std::unique_ptr<OutputFile>& file) override;
    std::string ArchiveFileName() override;
    Status CopyOutput(
        const std::vector<std::string>& from, const std::vector<std::string>& parts, const Entry& entry) override;
    bool Service(const std::string& displayName, uint64_t size) override;
    bool Password(const std::string& displayName, Secret& password) override;
    Crypto* Cryptography() override { return &crypto_; }
    const NameCodec* Names() override { return &names_; }
    VolumeSet* Volumes() override { return volumes_; }
    std::string NameKey(const std::string& part) override;
    bool Exists(const std::vector<std::string>& parts) override;
    // The volumes of a split archive, when the archive's name is one of a set's (the caller's, kept open).
    void UseVolumes(VolumeSet* volumes) { volumes_ = volumes; }

    // Creates the target folder and its parents.
    Status PrepareTarget();

    // Every file the run extracts carries the mark of the web of the first of `marked` (the
    // archive; a split set's first volume before it) that has one of a zone that is carried,
    // naming `referrer` (the archive's full path) as where it came from. A file that cannot be
    // marked stays, and a line "not marked: ..." tells of it before the next member (quiet below 2)
    // and at ReportUnmarked.
    void CarryMark(const std::vector<std::wstring>& marked, const std::wstring& referrer, int quiet);
    // Prints the lines of the files not marked since the last report.
    void ReportUnmarked();
    // The files of the run that could not be marked (once its workers are done).
    int Unmarked() const { return mark_.Failures(); }

private:
    std::wstring PathOf(const std::vector<std::string>& parts, size_t count) const;
    bool InFreshFolder(const std::vector<std::string>& parts, std::string& key);
    std::wstring ShownPath(const std::vector<std::string>& parts) const;

    std::wstring target_;  // ends in a backslash
    const UnzipCallbacks* callbacks_;
    bool overwrite_;
    std::string archive_;
    std::set<std::wstring> knownFolders_;  // made or checked in this run
    // Folders this run created, and the names it made in them (their PathKeys): a
    // name in such a folder that the run did not make is free without asking the file system,
    // which under Wine scans the whole folder for a name that is not there. Another program that
    // takes such a name meanwhile is caught where the file gets its name, which never replaces.
    std::set<std::string> freshFolders_;
    std::set<std::string> madeNames_;
    unsigned temporaryCounter_ = 0;
    LocalTimes localTimes_;
    BcryptCrypto crypto_;
    Win32NameCodec names_;  // the user's locale as it was when the run began
    VolumeSet* volumes_ = nullptr;
    ZoneMark mark_;  // carries nothing unless CarryMark found a mark
    int quiet_ = 0;
};

}  // namespace unzip
