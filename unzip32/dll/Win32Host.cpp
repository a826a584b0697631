#include "unzip32/dll/Win32Host.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace unzip {

namespace {

// Seconds between 1601-01-01 and 1970-01-01, the two epochs of FILETIME and Unix time.
const uint64_t kUnixEpochIn100ns = 116444736000000000ull;

bool IsDiskFull(DWORD error)
{
    return error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL;
}

// Attributes that make CreateFileW(CREATE_ALWAYS) or MoveFileExW refuse to replace a file.
const DWORD kBlockingAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
const size_t kWritePiece = 256u << 10;

// One output file, written under a temporary name beside its real one and given the real name
// only when the member checked out: a crash, a pulled medium or a killed process never leaves a
// partial file that looks like the real one, and damaged data never costs an existing file.
class Win32OutputFile : public OutputFile {
public:
    // `replacing`: the real name was taken when the file was created (and may be replaced).
    Win32OutputFile(
        HANDLE file, std::wstring path, std::wstring temporary, bool replacing, bool overwrite, LocalTimes* localTimes)
        : file_(file),
          path_(std::move(path)),
          temporary_(std::move(temporary)),
          replacing_(replacing),
          overwrite_(overwrite),
          localTimes_(localTimes)
    {
    }
    Win32OutputFile(const Win32OutputFile&) = delete;
    Win32OutputFile& operator=(const Win32OutputFile&) = delete;
    ~Win32OutputFile() override { Abandon(); }

    // The file gets `mark` when it is done; `shown` names it where that fails.
    void MarkWith(ZoneMark* mark, std::wstring shown)
    {
        mark_ = mark;
        shown_ = std::move(shown);
    }

    // In pieces of 256 KiB at most. Under Wine, while the system holds much data not yet on the
    // disk, each larger write waited for it: 200 MB in 1 MiB writes took 0.37 s, in 256 KiB ones
    // 0.07 s (64 KiB ones 0.08 s), and no slower when nothing waits.
    Status Write(const uint8_t* data, size_t count) override
    {
        while (count > 0) {
            DWORD piece = static_cast<DWORD>(count > kWritePiece ? kWritePiece : count);
            DWORD written = 0;
            if (!::WriteFile(file_, data, piece, &written, nullptr) || written != piece)
                return IsDiskFull(::GetLastError()) ? Status::DiskFull : Status::WriteFailure;
            data += piece;
            count -= piece;
        }
        return Status::Ok;
    }

    // Times come from the NTFS extra, else the extended timestamp, else the DOS local time.
    Status Commit(const Entry& entry) override
    {
        FILETIME modified {};
        bool haveTime = false;
        if (entry.hasNtfsTime) {
            modified.dwLowDateTime = static_cast<DWORD>(entry.ntfsModified);
            modified.dwHighDateTime = static_cast<DWORD>(entry.ntfsModified >> 32);
            haveTime = true;
        } else if (entry.hasUnixTime) {
            const int64_t ticks = entry.unixModified * 10000000ll + static_cast<int64_t>(kUnixEpochIn100ns);
            if (ticks > 0) {
                modified.dwLowDateTime = static_cast<DWORD>(static_cast<uint64_t>(ticks));
                modified.dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(ticks) >> 32);
                haveTime = true;
            }
        } else {
            haveTime = localTimes_->ToFileTime(entry.dosDate, entry.dosTime, modified);
        }
        if (haveTime)
            ::SetFileTime(file_, nullptr, nullptr, &modified);
        // A new file is renamed through its open handle: under Wine that spares opening it again.
        const bool renamed = !replacing_ && RenameOpenFile();
        // The mark of the web goes on the file under its real name (under Wine a stream is a file
        // beside the named one, which a rename would leave behind), before the file is reported
        // done. Writing a stream counts as writing the file on NTFS: its time is set again after.
        if (renamed && PutMark() && haveTime)
            ::SetFileTime(file_, nullptr, nullptr, &modified);
        const BOOL closed = ::CloseHandle(file_);
        file_ = INVALID_HANDLE_VALUE;
        const std::wstring written = renamed ? path_ : temporary_;
        temporary_.clear();
        if (!closed) {
            ::DeleteFileW(written.c_str());
            return Status::WriteFailure;
        }
        const Status placed = renamed ? Status::Ok : MoveIntoPlace(written);
        if (placed != Status::Ok) {
            ::DeleteFileW(written.c_str());
            return placed;
        }
        if (!renamed && PutMark() && haveTime)
            SetModifiedTime(modified);
        if (entry.IsReadOnly())
            ::SetFileAttributesW(path_.c_str(), FILE_ATTRIBUTE_READONLY);
        return Status::Ok;
    }

    // Only the temporary file goes: the real name is never touched.
    void Abandon() override
    {
        if (file_ != INVALID_HANDLE_VALUE) {
            ::CloseHandle(file_);
            file_ = INVALID_HANDLE_VALUE;
        }
        if (!temporary_.empty()) {
            ::DeleteFileW(temporary_.c_str());
            temporary_.clear();
        }
    }

private:
    // Marks the file under its real name when there is a mark to carry; false when there is none.
    // A mark that cannot be written is reported by the mark, and the file stays.
    bool PutMark()
    {
        if (mark_ == nullptr || !mark_->Carried())
            return false;
        mark_->Put(path_, shown_);
        return true;
    }

    void SetModifiedTime(const FILETIME& modified)
    {
        HANDLE file = ::CreateFileW(path_.c_str(), FILE_WRITE_ATTRIBUTES,
            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return;
        ::SetFileTime(file, nullptr, nullptr, &modified);
        ::CloseHandle(file);
    }

    // Gives the open file its real name, unless that name is taken.
    bool RenameOpenFile()
    {
        const size_t nameBytes = path_.size() * sizeof(wchar_t);
        std::vector<uint8_t> buffer(sizeof(FILE_RENAME_INFO) + nameBytes);
        auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
        rename->ReplaceIfExists = FALSE;
        rename->RootDirectory = nullptr;
        rename->FileNameLength = static_cast<DWORD>(nameBytes);
        std::memcpy(rename->FileName, path_.c_str(), nameBytes);
        return ::SetFileInformationByHandle(file_, FileRenameInfo, rename, static_cast<DWORD>(buffer.size())) != 0;
    }

    // Moves the closed temporary file to the real name. A name that was free when the file was
    // created and is taken now (another program made it meanwhile) is treated as one that was
    // there before: replaced when overwriting, else left as it is (Exists).
    Status MoveIntoPlace(const std::wstring& temporary)
    {
        if (!replacing_) {
            if (::MoveFileExW(temporary.c_str(), path_.c_str(), 0))
                return Status::Ok;
            const DWORD error = ::GetLastError();
            if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS)
                return Status::WriteFailure;
        }
        if (!overwrite_)
            return Status::Exists;
        const DWORD attributes = ::GetFileAttributesW(path_.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES &&
            (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)))
            return Status::WriteFailure;
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & kBlockingAttributes))
            ::SetFileAttributesW(path_.c_str(), attributes & ~kBlockingAttributes);
        return ::MoveFileExW(temporary.c_str(), path_.c_str(), MOVEFILE_REPLACE_EXISTING) != 0 ? Status::Ok
                                                                                              : Status::WriteFailure;
    }

    HANDLE file_;
    std::wstring path_;
    std::wstring temporary_;  // empty once it is renamed or gone
    bool replacing_;
    bool overwrite_;
    LocalTimes* localTimes_;
    ZoneMark* mark_ = nullptr;  // none: the file is not marked
    std::wstring shown_;
};

bool UtcToLocal(uint64_t ticks, SYSTEMTIME& local)
{
    FILETIME utc {};
    SYSTEMTIME universal {};
    utc.dwLowDateTime = static_cast<DWORD>(ticks);
    utc.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return ::FileTimeToSystemTime(&utc, &universal) && ::SystemTimeToTzSpecificLocalTime(nullptr, &universal, &local);
}

}  // namespace

LocalTimes::LocalTimes()
{
    ::GetTimeZoneInformation(&zone_);
}

bool LocalTimes::Convert(uint16_t dosDate, uint16_t dosTime, int64_t& utcTicks) const
{
    FILETIME local {}, utc {};
    SYSTEMTIME localTime {}, utcTime {};
    if (!::DosDateTimeToFileTime(dosDate, dosTime, &local) || !::FileTimeToSystemTime(&local, &localTime) ||
        !::TzSpecificLocalTimeToSystemTime(&zone_, &localTime, &utcTime) || !::SystemTimeToFileTime(&utcTime, &utc))
        return false;
    utcTicks = static_cast<int64_t>((static_cast<uint64_t>(utc.dwHighDateTime) << 32) | utc.dwLowDateTime);
    return true;
}

bool LocalTimes::ToFileTime(uint16_t dosDate, uint16_t dosTime, FILETIME& utc)
{
    FILETIME local {};
    if (!::DosDateTimeToFileTime(dosDate, dosTime, &local))
        return false;
    const int64_t localTicks =
        static_cast<int64_t>((static_cast<uint64_t>(local.dwHighDateTime) << 32) | local.dwLowDateTime);
    int64_t offset = 0;
    bool known = false;
    {
        Win32LockHeld held(lock_);
        auto day = dayOffsets_.find(dosDate);
        if (day != dayOffsets_.end()) {
            offset = day->second;
            known = true;
        }
    }
    if (!known) {
        // The day's first and last DOS times (two-second steps) have the same offset exactly when
        // the clocks do not change that day.
        int64_t morning = 0, evening = 0;
        const int64_t morningLocal = localTicks - static_cast<int64_t>(dosTime >> 11) * 36000000000ll -
            static_cast<int64_t>((dosTime >> 5) & 0x3F) * 600000000ll -
            static_cast<int64_t>(dosTime & 0x1F) * 20000000ll;
        const int64_t eveningLocal = morningLocal + (24ll * 3600 - 2) * 10000000ll;
        if (Convert(dosDate, 0, morning) && Convert(dosDate, (23u << 11) | (59u << 5) | 29u, evening) &&
            morning - morningLocal == evening - eveningLocal) {
            offset = morning - morningLocal;
            Win32LockHeld held(lock_);
            dayOffsets_.emplace(dosDate, offset);
        } else {
            int64_t exact = 0;
            if (!Convert(dosDate, dosTime, exact))
                return false;
            offset = exact - localTicks;
        }
    }
    const uint64_t ticks = static_cast<uint64_t>(localTicks + offset);
    utc.dwLowDateTime = static_cast<DWORD>(ticks);
    utc.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return true;
}

std::wstring Utf8ToWide(const std::string& text)
{
    if (text.empty())
        return std::wstring();
    int length = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(length > 0 ? length : 0), L'\0');
    if (length > 0)
        ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0], length);
    return wide;
}

namespace {

std::string FromWide(UINT page, const std::wstring& text)
{
    if (text.empty())
        return std::string();
    int length =
        ::WideCharToMultiByte(page, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string converted(static_cast<size_t>(length > 0 ? length : 0), '\0');
    if (length > 0)
        ::WideCharToMultiByte(
            page, 0, text.data(), static_cast<int>(text.size()), &converted[0], length, nullptr, nullptr);
    return converted;
}

}  // namespace

std::string WideToAnsi(const std::wstring& text)
{
    return FromWide(CP_ACP, text);
}

std::wstring AnsiToWide(const char* text)
{
    if (text == nullptr || *text == '\0')
        return std::wstring();
    int length = ::MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    std::wstring wide(static_cast<size_t>(length > 0 ? length : 1), L'\0');
    if (length > 0)
        ::MultiByteToWideChar(CP_ACP, 0, text, -1, &wide[0], length);
    wide.resize(wcslen(wide.c_str()));
    return wide;
}

Win32Source::~Win32Source()
{
    if (file_ != INVALID_HANDLE_VALUE)
        ::CloseHandle(file_);
}

bool Win32Source::Open(const std::wstring& path)
{
    file_ = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file_ == INVALID_HANDLE_VALUE)
        return false;
    LARGE_INTEGER size {};
    if (!::GetFileSizeEx(file_, &size) || size.QuadPart < 0)
        return false;
    size_ = static_cast<uint64_t>(size.QuadPart);
    return true;
}

// The file pointer is set, then read from, under a lock: threads read the archive in turn. A
// positional read (an OVERLAPPED offset) would spare the lock but costs a wineserver round trip
// for its completion on every read, twice per member.
bool Win32Source::Read(uint64_t offset, void* buffer, size_t count)
{
    if (offset > size_ || count > size_ - offset)
        return false;
    auto* bytes = static_cast<uint8_t*>(buffer);
    size_t left = count;
    Win32LockHeld held(readLock_);
    LARGE_INTEGER at {};
    at.QuadPart = static_cast<LONGLONG>(offset);
    if (!::SetFilePointerEx(file_, at, nullptr, FILE_BEGIN))
        return false;
    while (left > 0) {
        DWORD piece = static_cast<DWORD>(left > (1u << 30) ? (1u << 30) : left);
        DWORD got = 0;
        if (!::ReadFile(file_, bytes, piece, &got, nullptr) || got == 0)
            return false;
        bytes += got;
        left -= got;
    }
    return true;
}

Win32Host::Win32Host(const std::wstring& target, const UnzipCallbacks* callbacks, bool overwrite, const char* archive)
    : target_(target), callbacks_(callbacks), overwrite_(overwrite), archive_(archive != nullptr ? archive : "")
{
}

std::string Win32Host::DisplayName(const Entry& entry)
{
    return WideToAnsi(Utf8ToWide(entry.name));
}

void Win32Host::Print(const std::string& line)
{
    if (callbacks_ != nullptr && callbacks_->print != nullptr)
        callbacks_->print(line.c_str(), static_cast<unsigned long>(line.size()));
}

void Win32Host::Member(const Entry& entry, const std::string& displayName, unsigned factor)
{
    if (callbacks_ == nullptr || callbacks_->member == nullptr)
        return;
    unsigned year = ((entry.dosDate >> 9) & 0x7F) + 1980u;
    unsigned month = (entry.dosDate >> 5) & 0x0F;
    unsigned day = entry.dosDate & 0x1F;
    unsigned hour = (entry.dosTime >> 11) & 0x1F;
    unsigned minute = (entry.dosTime >> 5) & 0x3F;
    // Other kinds of archive keep universal times only: listed in local time, as Explorer shows them.
    SYSTEMTIME local {};
    if (entry.dosDate == 0 && entry.hasNtfsTime && UtcToLocal(entry.ntfsModified, local)) {
        year = local.wYear;
        month = local.wMonth;
        day = local.wDay;
        hour = local.wHour;
        minute = local.wMinute;
    }
    callbacks_->member(static_cast<unsigned long>(entry.size), static_cast<unsigned long>(entry.compressedSize), factor,
        month, day, year, hour, minute, entry.IsDirectory() ? 'd' : ' ', displayName.c_str(),
        entry.methodText.empty() ? MethodName(entry.actualMethod) : entry.methodText.c_str(),
        static_cast<unsigned long>(entry.crc), entry.IsEncrypted() ? 'E' : ' ');
}

// The files of the run so far that could not be marked are reported before the next member.
bool Win32Host::Service(const std::string& displayName, uint64_t size)
{
    ReportUnmarked();
    if (callbacks_ == nullptr || callbacks_->service == nullptr)
        return false;
    return callbacks_->service(displayName.c_str(), static_cast<unsigned long>(size)) != 0;
}

// The caller's password callback gets a buffer of kPasswordBuffer bytes, and one more that stays
// 0, so that a password that fills the buffer still ends. Answer 0 means a password was given;
// anything else (and a missing callback) means none. The buffer is wiped either way.
bool Win32Host::Password(const std::string& displayName, Secret& password)
{
    const int kPasswordBuffer = 256;
    if (callbacks_ == nullptr || callbacks_->password == nullptr)
        return false;
    char buffer[kPasswordBuffer + 1] = {};
    const int answer = callbacks_->password(buffer, kPasswordBuffer, displayName.c_str(), archive_.c_str());
    buffer[kPasswordBuffer] = '\0';
    if (answer == 0)
        password.Assign(buffer, std::strlen(buffer));
    Wipe(buffer, sizeof buffer);
    return answer == 0;
}

void Win32Host::CarryMark(const std::vector<std::wstring>& marked, const std::wstring& referrer, int quiet)
{
    for (const std::wstring& file : marked) {
        mark_.Read(file, referrer);
        if (mark_.Carried())
            break;
    }
    quiet_ = quiet;
}

void Win32Host::ReportUnmarked()
{
    for (const std::string& line : mark_.TakeFailures())
        if (quiet_ < 2)
            Print(line);
}

// A file's path under the target as messages name it.
std::wstring Win32Host::ShownPath(const std::vector<std::string>& parts) const
{
    std::wstring shown;
    for (const std::string& part : parts)
        shown += (shown.empty() ? L"" : L"\\") + Utf8ToWide(part);
    return shown;
}

// The parts are already free of anything that the \\?\ form would not normalise.
std::wstring Win32Host::PathOf(const std::vector<std::string>& parts, size_t count) const
{
    std::wstring path = target_;
    for (size_t i = 0; i < count; ++i) {
        if (i > 0)
            path += L'\\';
        path += Utf8ToWide(parts[i]);
    }
    return LongForm(path);
}

std::wstring LongForm(const std::wstring& path)
{
    if (path.size() < MAX_PATH - 40)
        return path;
    if (path.size() > 2 && path[1] == L':')
        return L"\\\\?\\" + path;
    if (path.compare(0, 2, L"\\\\") == 0 && path.compare(0, 4, L"\\\\?\\") != 0 && path.compare(0, 4, L"\\\\.\\") != 0)
        return L"\\\\?\\UNC\\" + path.substr(2);
    return path;
}

Status Win32Host::PrepareTarget()
{
    // Create every missing folder along the target, from the root down.
    for (size_t i = 0; i < target_.size(); ++i) {
        if (target_[i] != L'\\' || i == 0)
            continue;
        const std::wstring prefix = target_.substr(0, i);
        if (prefix.size() == 2 && prefix[1] == L':')
            continue;
        if (prefix.size() >= 2 && prefix[0] == L'\\' && prefix[1] == L'\\' &&
            std::count(prefix.begin(), prefix.end(), L'\\') < 4)
            continue;  // \\server\share itself cannot be created
        const std::wstring folder = LongForm(prefix);
        DWORD attributes = ::GetFileAttributesW(folder.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            if (::CreateDirectoryW(folder.c_str(), nullptr)) {
                if (i + 1 == target_.size())
                    freshFolders_.insert(std::string());
            } else if (::GetLastError() != ERROR_ALREADY_EXISTS) {
                return Status::WriteFailure;
            }
        } else if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            return Status::WriteFailure;
        }
    }
    return Status::Ok;
}

// Folders already made or checked in this run are remembered: under Wine every look-up is costly.
Status Win32Host::CreateFolder(const std::vector<std::string>& parts)
{
    for (size_t count = 1; count <= parts.size(); ++count) {
        std::wstring path = PathOf(parts, count);
        if (knownFolders_.count(path) != 0)
            continue;
        DWORD attributes = ::GetFileAttributesW(path.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            if (::CreateDirectoryW(path.c_str(), nullptr)) {
                const std::string key = PathKey(parts, count);
                freshFolders_.insert(key);
                madeNames_.insert(key);
            } else {
                DWORD error = ::GetLastError();
                if (error != ERROR_ALREADY_EXISTS)
                    return IsDiskFull(error) ? Status::DiskFull : Status::WriteFailure;
                attributes = ::GetFileAttributesW(path.c_str());
                if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
                    return Status::WriteFailure;
                if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
                    return Status::PathBlocked;
            }
        } else if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
            return Status::UnsafeName;  // never extract through a link
        } else if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            return Status::PathBlocked;  // a file stands where the folder should be
        }
        knownFolders_.insert(path);
    }
    return Status::Ok;
}

// Whatever stands under the real name is checked before anything is written (in a folder this run
// created, only a name the run made there can be taken); the file itself is written under a
// temporary name (see Win32OutputFile). The temporary name is short and in the same folder: a
// suffix to the member's name could push a long name past what the file system allows, and a
// rename within the folder never copies. Full paths are cheaper under Wine 8 than names relative
// to an open handle of the folder (NtCreateFile and the rename with a root directory): it resolves
// those by changing the process's current folder and back, and still searches the folder for
// another spelling of the name. 2,000 small files took 1.1-1.2 s that way instead of 0.67 s.
Status Win32Host::CreateOutput(const std::vector<std::string>& parts, const Entry&, std::unique_ptr<OutputFile>& file)
{
    std::wstring path = PathOf(parts, parts.size());
    std::string key;
    const bool fresh = InFreshFolder(parts, key);
    const bool knownFree = fresh && madeNames_.count(key) == 0;
    if (fresh)
        madeNames_.insert(key);
    const DWORD attributes = knownFree ? INVALID_FILE_ATTRIBUTES : ::GetFileAttributesW(path.c_str());
    const bool existing = attributes != INVALID_FILE_ATTRIBUTES;
    if (existing && (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return Status::UnsafeName;
    if (existing && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return Status::PathBlocked;
    if (existing && !overwrite_)
        return Status::Exists;  // the core looked before; something came meanwhile
    const DWORD flags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN;
    const DWORD access = GENERIC_WRITE | DELETE;  // DELETE: renamed through the handle
    const std::wstring folder = path.substr(0, path.rfind(L'\\') + 1);
    const std::wstring process = std::to_wstring(::GetCurrentProcessId());
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        std::wstring temporary = folder + L"~kv" + process + L"_" + std::to_wstring(++temporaryCounter_) + L".tmp";
        HANDLE handle = ::CreateFileW(temporary.c_str(), access, 0, nullptr, CREATE_NEW, flags, nullptr);
        if (handle != INVALID_HANDLE_VALUE) {
            auto output = std::make_unique<Win32OutputFile>(handle, path, temporary, existing, overwrite_, &localTimes_);
            if (mark_.Carried())
                output->MarkWith(&mark_, ShownPath(parts));
            file = std::move(output);
            return Status::Ok;
        }
        const DWORD error = ::GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS)
            return IsDiskFull(error) ? Status::DiskFull : Status::WriteFailure;
    }
    return Status::WriteFailure;
}

std::string Win32Host::ArchiveFileName()
{
    const std::wstring path = AnsiToWide(archive_.c_str());
    return FromWide(CP_UTF8, path.substr(path.find_last_of(L"\\/:") + 1));  // npos + 1 is 0
}

// Every character in the system's upper case, the form in which the file system compares names
// ("Äpfel" and "äpfel" are one file).
std::string Win32Host::NameKey(const std::string& part)
{
    const std::wstring wide = Utf8ToWide(part);
    const int size = static_cast<int>(wide.size());
    const int length =
        ::LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, wide.data(), size, nullptr, 0, nullptr, nullptr, 0);
    std::wstring upper(static_cast<size_t>(length > 0 ? length : 0), L'\0');
    if (length <= 0 ||
        ::LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, wide.data(), size, &upper[0], length, nullptr, nullptr,
            0) != length)
        return Host::NameKey(part);
    return FromWide(CP_UTF8, upper);
}

// Whether the file or folder `parts` is in a folder this run created; then with its key.
bool Win32Host::InFreshFolder(const std::vector<std::string>& parts, std::string& key)
{
    if (parts.empty() || freshFolders_.empty())
        return false;
    key = PathKey(parts, parts.size() - 1);
    if (freshFolders_.count(key) == 0)
        return false;
    if (!key.empty())
        key += '/';
    key += NameKey(parts.back());
    return true;
}

bool Win32Host::Exists(const std::vector<std::string>& parts)
{
    std::string key;
    if (InFreshFolder(parts, key) && madeNames_.count(key) == 0)
        return false;
    return ::GetFileAttributesW(PathOf(parts, parts.size()).c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The copy goes through CreateOutput, so it is refused, replaced and finished as any member's file.
Status Win32Host::CopyOutput(
    const std::vector<std::string>& from, const std::vector<std::string>& parts, const Entry& entry)
{
    const std::wstring source = PathOf(from, from.size());
    HANDLE in = ::CreateFileW(source.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (in == INVALID_HANDLE_VALUE)
        return Status::WriteFailure;
    std::unique_ptr<OutputFile> file;
    Status status = CreateOutput(parts, entry, file);
    std::vector<uint8_t> buffer(status == Status::Ok ? 1u << 20 : 0);
    // A copy of a large file takes as long as a member's data: the caller may stop it alike.
    uint64_t copied = 0;
    uint64_t step = 0;
    ULONGLONG told = ::GetTickCount64();
    while (status == Status::Ok) {
        DWORD read = 0;
        if (!::ReadFile(in, buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr)) {
            status = Status::WriteFailure;
            break;
        }
        if (read == 0)
            break;
        status = file->Write(buffer.data(), read);
        copied += read;
        const ULONGLONG now = ::GetTickCount64();
        if (status == Status::Ok && (copied - step >= kServiceStep || now - told >= kServiceInterval)) {
            step = copied - copied % kServiceStep;
            told = now;
            if (Service(DisplayName(entry), entry.size))
                status = Status::Stopped;
        }
    }
    ::CloseHandle(in);
    if (file == nullptr)
        return status;
    if (status != Status::Ok) {
        file->Abandon();
        return status;
    }
    return file->Commit(entry);
}

}  // namespace unzip
