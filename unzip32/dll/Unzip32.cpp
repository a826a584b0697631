// The exported entry point: turns the caller's option and callback records into one run of the ZIP
// core, and the run's report into the library's result code.
#include "unzip32/core/Extractor.h"
#include "unzip32/dll/Win32Host.h"
#include "unzip32/dll/Win32Threads.h"
#include "unzip32/dll/Win32Volumes.h"
#include "unzip32/unzip32.h"

#include <algorithm>
#include <cstdlib>

namespace {

using unzip::ExtractReport;
using unzip::Status;

// The one place where the core's outcome becomes a result code: the gravest kind of problem wins.
// `unmarked`: files extracted that could not be given the archive's mark of the web.
int ResultCode(const ExtractReport& report, bool includeGiven, int unmarked)
{
    if (report.stopped)
        return UZ_STOPPED;  // asked for: the caller knows why, whatever else went wrong before
    switch (report.archiveStatus) {
    case Status::Ok: break;
    case Status::NotFound: return UZ_NOT_FOUND;
    case Status::OutOfMemory: return UZ_MEMORY_INIT;
    case Status::InvalidArgument: return UZ_BAD_ARGUMENT;
    case Status::Internal: return UZ_INTERNAL;
    case Status::ReadFailure: return UZ_FORMAT_ERROR;
    case Status::Encrypted: return UZ_PASSWORD;  // a 7z archive's names are encrypted, no password opened them
    default: return UZ_SEVERE_ERROR;  // not an archive, truncated, inconsistent, multi-disk
    }
    if (report.overlapping > 0)
        return UZ_SEVERE_ERROR;
    if (report.damaged > 0)
        return UZ_FORMAT_ERROR;
    if (report.diskFull > 0 || report.writeFailures > 0)
        return UZ_DISK_FULL;
    if (report.outOfMemory > 0)
        return UZ_MEMORY_DISK;
    if (report.skippedEncrypted > 0)
        return UZ_PASSWORD;
    if (report.skippedUnsafe > 0 || report.skippedUnsupported > 0 || report.skippedBlocked > 0 || report.renamed > 0 ||
        unmarked > 0 || report.skippedExisting > 0)
        return UZ_WARNING;
    if (includeGiven && report.matched == 0)
        return UZ_NO_MATCH;
    return UZ_OK;
}

std::vector<std::string> Names(int count, char** names)
{
    std::vector<std::string> list;
    if (names == nullptr || count <= 0)
        return list;
    for (int i = 0; i < count; ++i)
        if (names[i] != nullptr)
            list.emplace_back(names[i]);
    return list;
}

// "C:" is the drive's root, never its current folder; every target ends in a backslash.
std::wstring TargetFolder(const char* target)
{
    std::wstring wide = unzip::AnsiToWide(target);
    if (wide.empty())
        wide = L".";
    if (wide.size() == 2 && wide[1] == L':')
        wide += L'\\';
    wchar_t full[32768];
    DWORD length = ::GetFullPathNameW(wide.c_str(), 32768, full, nullptr);
    if (length > 0 && length < 32768)
        wide.assign(full, length);
    if (wide.back() != L'\\')
        wide += L'\\';
    return wide;
}

// Members are decoded on worker threads when there is more than one processor to run them.
// KESTROVA_UNZIP_THREADS overrides the count (0: decode on the calling thread), for measurements.
unsigned DecodeThreads()
{
    char forced[16] = {};
    DWORD length = ::GetEnvironmentVariableA("KESTROVA_UNZIP_THREADS", forced, sizeof forced);
    if (length > 0 && length < sizeof forced)
        return static_cast<unsigned>(std::min(std::strtoul(forced, nullptr, 10), 8ul));
    SYSTEM_INFO system {};
    ::GetSystemInfo(&system);
    const unsigned processors = system.dwNumberOfProcessors;
    return processors <= 1 ? 0u : std::min(processors, 4u);
}

// The full form of a path the caller gave (relative to the current folder, or with "." and "..").
std::wstring FullPath(const std::wstring& path)
{
    wchar_t full[32768];
    const DWORD length = ::GetFullPathNameW(path.c_str(), 32768, full, nullptr);
    return length > 0 && length < 32768 ? std::wstring(full, length) : path;
}

// UZ_NAMES_AUTOMATIC, UZ_NAMES_AS_WINDOWS, or a legacy code page that this system converts.
bool KnownNamePage(unsigned page)
{
    return page == UZ_NAMES_AUTOMATIC || page == UZ_NAMES_AS_WINDOWS || unzip::IsLegacyCodePage(page);
}

int Run(int includeCount, char** includeNames, int excludeCount, char** excludeNames, UnzipOptions* options,
    UnzipCallbacks* callbacks, unsigned namePage, bool markOfTheWeb)
{
    if (options == nullptr || callbacks == nullptr || options->archive == nullptr || !KnownNamePage(namePage))
        return UZ_BAD_ARGUMENT;
    unzip::ExtractOptions run;
    run.listOnly = options->listMembers != 0;
    run.testOnly = options->testArchive != 0;
    run.keepFolders = options->keepFolders != 0;
    run.ignoreCase = options->caseInsensitive != 0;
    // Names are shown, and masks given, in the caller's code page.
    run.utf8Names = ::GetACP() == CP_UTF8;
    run.showComment = options->showComment != 0;
    run.quiet = options->quietLevel;
    run.threads = DecodeThreads();
    run.namePage = namePage;
    // 0 keeps what is there, 2 keeps both; 1, and any other value as before, overwrites.
    run.existing = options->overwriteAll == 0 ? unzip::ExistingFiles::Skip
        : options->overwriteAll == 2           ? unzip::ExistingFiles::KeepBoth
                                               : unzip::ExistingFiles::Overwrite;
    run.include = Names(includeCount, includeNames);
    run.exclude = Names(excludeCount, excludeNames);

    unzip::Win32WorkerThreads workers;
    run.workers = &workers;
    // GetTickCount wraps after 49 days: one early Service call then.
    run.milliseconds = [] { return static_cast<uint64_t>(::GetTickCount()); };

    unzip::Win32Host host(
        TargetFolder(options->target), callbacks, run.existing == unzip::ExistingFiles::Overwrite, options->archive);
    unzip::Win32Source source;
    const std::wstring archive = unzip::AnsiToWide(options->archive);
    if (!source.Open(archive)) {
        if (run.quiet < 2)
            host.Print(std::string("cannot find or open ") + options->archive + "\n");
        return UZ_NOT_FOUND;
    }
    if (!run.listOnly && !run.testOnly && host.PrepareTarget() != Status::Ok) {
        if (run.quiet < 2)
            host.Print("cannot create the target folder\n");
        return UZ_DISK_FULL;
    }
    // An archive split into volumes is read with the files beside it that its name leads to.
    std::unique_ptr<unzip::Win32Volumes> volumes = unzip::Win32Volumes::ForArchive(archive);
    host.UseVolumes(volumes.get());
    // The files carry the archive's mark of the web; a split set's is that of its first volume,
    // else (a first volume without one) that of the file named.
    if (markOfTheWeb && !run.listOnly && !run.testOnly) {
        const std::wstring full = FullPath(archive);
        std::vector<std::wstring> marked;
        if (volumes != nullptr)
            marked.push_back(FullPath(volumes->Path(1)));
        marked.push_back(full);
        host.CarryMark(marked, full, run.quiet);
    }
    ExtractReport report = unzip::Extract(source, host, run);
    host.ReportUnmarked();
    callbacks->totalPacked = static_cast<unsigned long>(report.totalCompressed);
    callbacks->totalSize = static_cast<unsigned long>(report.totalSize);
    callbacks->totalFactor = static_cast<int>(unzip::CompressionFactor(report.totalSize, report.totalCompressed));
    callbacks->memberCount = report.matched;
    return ResultCode(report, !run.include.empty(), host.Unmarked());
}

}  // namespace

extern "C" int UZ_API Wiz_SingleEntryUnzip(int includeCount, char** includeNames, int excludeCount, char** excludeNames,
    UnzipOptions* options, UnzipCallbacks* callbacks)
{
    // Nothing may unwind into the caller.
    try {
        return Run(
            includeCount, includeNames, excludeCount, excludeNames, options, callbacks, UZ_NAMES_AS_WINDOWS, true);
    } catch (const std::bad_alloc&) {
        return UZ_MEMORY_INIT;
    } catch (...) {
        return UZ_INTERNAL;
    }
}

extern "C" int UZ_API Wiz_SingleEntryUnzipNames(int includeCount, char** includeNames, int excludeCount,
    char** excludeNames, UnzipOptions* options, UnzipCallbacks* callbacks, unsigned namePage)
{
    try {
        return Run(includeCount, includeNames, excludeCount, excludeNames, options, callbacks, namePage, true);
    } catch (const std::bad_alloc&) {
        return UZ_MEMORY_INIT;
    } catch (...) {
        return UZ_INTERNAL;
    }
}

// A record of another size is refused: a caller must never take an option it set as honoured.
extern "C" int UZ_API Wiz_SingleEntryUnzipEx(int includeCount, char** includeNames, int excludeCount,
    char** excludeNames, UnzipOptions* options, UnzipCallbacks* callbacks, const UnzipRunOptions* run)
{
    try {
        if (run == nullptr)
            return Run(
                includeCount, includeNames, excludeCount, excludeNames, options, callbacks, UZ_NAMES_AS_WINDOWS, true);
        if (run->size != sizeof(UnzipRunOptions))
            return UZ_BAD_ARGUMENT;
        return Run(includeCount, includeNames, excludeCount, excludeNames, options, callbacks, run->namePage,
            run->markOfTheWeb != 0);
    } catch (const std::bad_alloc&) {
        return UZ_MEMORY_INIT;
    } catch (...) {
        return UZ_INTERNAL;
    }
}
