#include "engine/UnzipEngine.h"

#include "engine/MemberListing.h"
#include "engine/PasswordSession.h"
#include "framework/MessageBox.h"
#include "unzip32/unzip32.h"
#include "resources/kestrova/texts.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <memory>
#include <new>

namespace engine {

namespace {

const char kLibraryName[] = "UNZIP32.DLL";
const char kEntryPointName[] = "Wiz_SingleEntryUnzip";
const char kNamesEntryPointName[] = "Wiz_SingleEntryUnzipNames";
const char kExEntryPointName[] = "Wiz_SingleEntryUnzipEx";

// The first line of the library call on this thread that tells of a member it skipped, wrote
// under a new name or could not mark (null: not kept); a failure's message names that member. A
// member skipped because the user chose to keep the file that was there is not such a line: it
// only sets t_keptExisting.
thread_local std::string* t_firstSkip = nullptr;
thread_local bool* t_keptExisting = nullptr;
const char kSkipLine[] = "skipping: ";
const char kRenameLine[] = "renamed: ";
const char kNotMarkedLine[] = "not marked: ";
const char kKeptReason[] = "(a file or folder of that name was there before: kept as it was)";

void KeepFirstSkip(const char* text)
{
    if (t_firstSkip == nullptr || !t_firstSkip->empty())
        return;
    for (const char* line = text; *line != '\0';) {
        const char* end = std::strchr(line, '\n');
        const size_t length = end != nullptr ? static_cast<size_t>(end - line) : std::strlen(line);
        const bool kept = length >= sizeof kKeptReason - 1 &&
            std::strncmp(line + length - (sizeof kKeptReason - 1), kKeptReason, sizeof kKeptReason - 1) == 0;
        if (kept && std::strncmp(line, kSkipLine, sizeof kSkipLine - 1) == 0) {
            if (t_keptExisting != nullptr)
                *t_keptExisting = true;
        } else if (std::strncmp(line, kSkipLine, sizeof kSkipLine - 1) == 0 ||
            std::strncmp(line, kRenameLine, sizeof kRenameLine - 1) == 0 ||
            std::strncmp(line, kNotMarkedLine, sizeof kNotMarkedLine - 1) == 0) {
            try {
                t_firstSkip->assign(line, length);
            } catch (const std::bad_alloc&) {
                // The message goes without the member: nothing may throw into the library.
            }
            return;
        }
        line += length + (end != nullptr ? 1 : 0);
    }
}

// The library's last line for a damaged archive it recovered members of, and the count in it, on
// this thread (null: not kept; -1: no such line).
thread_local int* t_recovered = nullptr;
const char kDamagedLine[] = "The archive is damaged: ";

void KeepRecovered(const char* text)
{
    if (t_recovered == nullptr)
        return;
    for (const char* line = std::strstr(text, kDamagedLine); line != nullptr;
         line = std::strstr(line + 1, kDamagedLine)) {
        if (line != text && line[-1] != '\n')
            continue;
        const char* count = line + sizeof kDamagedLine - 1;
        if (*count >= '0' && *count <= '9')
            *t_recovered = static_cast<int>(std::min(std::strtol(count, nullptr, 10), 0x7FFFFFFFl));
    }
}

// Standard output of a program without a console is unbuffered: every character would be a call
// of its own (under Wine a round trip to its server each, more than extracting a small file). The
// run's lines are buffered and flushed when the library returns.
int UZ_API PrintCallback(const char* text, unsigned long length)
{
    static const bool buffered = std::setvbuf(stdout, nullptr, _IOFBF, 1 << 14) == 0;
    (void)buffered;
    if (text != nullptr) {
        KeepFirstSkip(text);
        KeepRecovered(text);
    }
    std::printf("%s", text != nullptr ? text : "");
    return static_cast<int>(length);
}

int UZ_API ReplaceCallback(const char*)
{
    return 1;
}

// The password session of the library call running on this thread (null: none, encrypted members
// are skipped). The callback has no context argument, and the library calls it on the calling thread.
thread_local PasswordSession* t_passwords = nullptr;

// Sets the thread's session for one library call and restores the one before it afterwards.
class PasswordScope {
public:
    explicit PasswordScope(PasswordSession* session) : previous_(t_passwords) { t_passwords = session; }
    PasswordScope(const PasswordScope&) = delete;
    PasswordScope& operator=(const PasswordScope&) = delete;
    ~PasswordScope() { t_passwords = previous_; }

private:
    PasswordSession* previous_;
};

// `prompt` is the member's name. No exception may cross the library's frames: a failure answers
// "none", which skips the member.
int UZ_API PasswordCallback(char* buffer, int size, const char* prompt, const char* archive)
{
    if (t_passwords == nullptr)
        return 1;
    try {
        return t_passwords->Answer(buffer, size, prompt, archive);
    } catch (...) {
        return 1;
    }
}

// The failure of a callback on this thread during the current library call (0: none), given as
// the result the call ends with: the callbacks cannot throw through the library's frames.
thread_local int t_callbackFailure = 0;

void NoteCallbackFailure()
{
    try {
        throw;
    } catch (const std::bad_alloc&) {
        t_callbackFailure = UZ_MEMORY_DISK;
    } catch (...) {
        t_callbackFailure = UZ_INTERNAL;
    }
}

void UZ_API MemberCallback(unsigned long size, unsigned long packedSize, unsigned factor, unsigned, unsigned, unsigned,
    unsigned, unsigned, char, const char* name, const char*, unsigned long, char)
{
    try {
        MemberListing::Instance().Add(name != nullptr ? name : "", size, packedSize, factor);
    } catch (...) {
        NoteCallbackFailure();
    }
}

// The listener of the run in progress: the library's service callback carries no context, and
// runs never overlap (they share the member listing).
thread_local RunListener* currentListener = nullptr;

// A listener that fails stops the run; the call then ends with the failure's result.
int UZ_API ServiceCallback(const char* name, unsigned long size)
{
    if (t_callbackFailure != 0)
        return 1;
    try {
        return currentListener != nullptr && currentListener->AtMember(name != nullptr ? name : "", size) ? 1 : 0;
    } catch (...) {
        NoteCallbackFailure();
        return 1;
    }
}

std::string Entry(const std::vector<std::string>& table, int i)
{
    if (i < 0 || static_cast<size_t>(i) >= table.size())
        return std::string();
    return table[static_cast<size_t>(i)];
}

// The library's full path along the program's search order; empty when it is nowhere. The answer
// may be longer than MAX_PATH: the call reports the size it needs.
std::string FindLibrary()
{
    std::string found(MAX_PATH, '\0');
    for (int attempt = 0; attempt < 2; ++attempt) {
        char* namePart = nullptr;
        DWORD length =
            ::SearchPathA(nullptr, kLibraryName, nullptr, static_cast<DWORD>(found.size()), &found[0], &namePart);
        if (length == 0)
            return std::string();
        if (length < found.size()) {
            found.resize(length);
            return found;
        }
        found.assign(length, '\0');
    }
    return std::string();
}

}  // namespace

UnzipEngine::UnzipEngine()
{
    MemberListing::Instance().Restart();
}

std::string UnzipEngine::ResultText(int result)
{
    switch (result) {
    case 1: return texts::kResultSkipped;
    case 2: return texts::kResultGenericError;
    case 3: return texts::kResultSevereError;
    case 4: return texts::kResultNoMemoryAtStart;
    case 5: return texts::kResultNoPassword;
    case 6: return texts::kResultNoMemoryToDisk;
    case 7: return texts::kResultNoMemoryInMemory;
    case UZ_NOT_FOUND: return texts::kResultNotFound;
    case UZ_BAD_ARGUMENT: return texts::kResultBadOptions;
    case UZ_NO_MATCH: return texts::kResultNoMatch;
    case UZ_DISK_FULL: return texts::kResultCannotWrite;
    case UZ_INTERNAL: return texts::kResultInternal;
    default: return texts::kResultUnexpectedBefore + std::to_string(result) + texts::kResultUnexpectedAfter;
    }
}

namespace {

std::string DamagedText(int recovered)
{
    return texts::kResultDamagedBefore + std::to_string(recovered) + texts::kResultDamagedAfter;
}

// A message's wording as part of a sentence: no capital, no full stop, no aside.
std::string AsReason(std::string reason)
{
    if (!reason.empty() && reason.back() == '.')
        reason.pop_back();
    if (!reason.empty() && reason.back() == ')') {
        const size_t open = reason.rfind(" (");
        if (open != std::string::npos)
            reason.erase(open);
    }
    if (!reason.empty() && reason[0] >= 'A' && reason[0] <= 'Z')
        reason[0] = static_cast<char>(reason[0] - 'A' + 'a');
    return reason;
}

}  // namespace

std::string UnzipEngine::ResultReason(int result)
{
    if (result == kNotCalled)
        return texts::kReasonNotCalled;
    return AsReason(ResultText(result));
}

std::string UnzipEngine::Reason() const
{
    return result_ == UZ_SEVERE_ERROR && recovered_ >= 0 ? AsReason(DamagedText(recovered_)) : ResultReason(result_);
}

int UnzipEngine::Unzip(
    const std::string& archive, const char* target, char** excludeNames, int excludeCount, bool listMode)
{
    MemberListing& listing = MemberListing::Instance();
    listing.Restart();
    memberCount_ = 0;
    result_ = kNotCalled;
    recovered_ = -1;
    passwordSkipped_ = false;

    auto options = std::make_unique<UnzipOptions>();
    auto callbacks = std::make_unique<UnzipCallbacks>();
    std::memset(options.get(), 0, sizeof(UnzipOptions));
    std::memset(callbacks.get(), 0, sizeof(UnzipCallbacks));
    callbacks->print = &PrintCallback;
    callbacks->replace = &ReplaceCallback;
    callbacks->password = &PasswordCallback;
    callbacks->member = &MemberCallback;
    if (listener_ != nullptr)
        callbacks->service = &ServiceCallback;

    std::string found = FindLibrary();
    if (found.empty()) {
        char message[512];
        std::snprintf(message, sizeof message, texts::kLibraryMissing, kLibraryName);
        Report(message);
        return 0;
    }

    options->quietLevel = 0;
    options->toStandardOutput = 0;
    options->testArchive = 0;
    options->listMembers = listMode ? 1 : 0;
    options->updateOnly = 0;
    options->showComment = 0;
    options->keepFolders = 1;
    // The library's switch: 1 overwrite, 0 keep the existing file, 2 keep both.
    options->overwriteAll = existingFiles_ == 1 ? 0 : existingFiles_ == 2 ? 2 : 1;
    options->translateLineEnds = 0;
    options->archive = archive.c_str();
    options->target = target;

    // A library that is found but cannot be loaded, or lacks the entry point, is not ours to call.
    library_.Reset(::LoadLibraryA(kLibraryName));
    if (!library_) {
        Report(std::string(texts::kLibraryNotLoaded) + kLibraryName + " (" + found + ").");
        return 0;
    }
    entryPoint_ = ::GetProcAddress(library_, kEntryPointName);
    if (entryPoint_ == nullptr) {
        library_.Reset();
        Report(std::string(found) + texts::kLibraryNoEntryPoint + kEntryPointName + ".");
        return 0;
    }

    auto call = reinterpret_cast<WizSingleEntryUnzipFunction>(reinterpret_cast<void*>(entryPoint_));
    // Older libraries lack the call that takes the run options, or even the one that takes the
    // names' code page: those mark the files (or know no mark) whatever was set.
    auto callWithRun = reinterpret_cast<WizSingleEntryUnzipExFunction>(
        reinterpret_cast<void*>(::GetProcAddress(library_, kExEntryPointName)));
    auto callWithPage = reinterpret_cast<WizSingleEntryUnzipNamesFunction>(
        reinterpret_cast<void*>(::GetProcAddress(library_, kNamesEntryPointName)));
    UnzipRunOptions run {};
    run.size = sizeof run;
    run.namePage = namePage_;
    run.markOfTheWeb = markOfTheWeb_ ? 1 : 0;
    int result = 0;
    std::string firstSkip;
    bool keptExisting = false;
    {
        PasswordScope scope(passwords_);
        std::string* const outerSkip = t_firstSkip;
        t_firstSkip = &firstSkip;
        bool* const outerKept = t_keptExisting;
        t_keptExisting = &keptExisting;
        int* const outerRecovered = t_recovered;
        t_recovered = &recovered_;
        RunListener* const outer = currentListener;
        currentListener = listener_;
        t_callbackFailure = 0;
        if (callWithRun != nullptr)
            result = callWithRun(0, nullptr, excludeCount, excludeNames, options.get(), callbacks.get(), &run);
        else if (callWithPage != nullptr)
            result = callWithPage(0, nullptr, excludeCount, excludeNames, options.get(), callbacks.get(), namePage_);
        else
            result = call(0, nullptr, excludeCount, excludeNames, options.get(), callbacks.get());
        currentListener = outer;
        if (t_callbackFailure != 0)
            result = t_callbackFailure;
        t_firstSkip = outerSkip;
        t_keptExisting = outerKept;
        t_recovered = outerRecovered;
    }
    if (result != UZ_SEVERE_ERROR)
        recovered_ = -1;
    passwordSkipped_ = passwords_ != nullptr && passwords_->ArchiveEnded(result) && result == UZ_PASSWORD;
    std::fflush(stdout);
    result_ = result;

    library_.Reset();
    entryPoint_ = nullptr;
    // Files kept because the user chose to skip members whose names were taken: the summary counts
    // them as skipped, but with no other problem there is nothing to tell at once.
    const bool onlyKept = result == UZ_WARNING && keptExisting && firstSkip.empty();
    if (result == UZ_STOPPED || passwordSkipped_ || onlyKept)
        return 0;  // asked for, or the user's own choice: nothing to tell
    if (listMode && recovered_ >= 0) {
        // What can be recovered is listed; the extraction tells that the archive is damaged.
        memberCount_ = listing.Counter();
        listing.SetCounter(0);
        return 1;
    }
    if (result != 0) {
        // The first member skipped, destination and archive on lines of their own: run together
        // they read as one path.
        std::string text = (recovered_ >= 0 ? DamagedText(recovered_) : ResultText(result)) + "\n";
        if (!firstSkip.empty())
            text += firstSkip + "\n";
        if (target != nullptr && *target != '\0')
            text += std::string(target) + "\n";
        text += archive;
        Report(text);
        return 0;
    }
    memberCount_ = listing.Counter();
    listing.SetCounter(0);
    return 1;
}

void UnzipEngine::Report(const std::string& text) const
{
    if (listener_ != nullptr)
        listener_->ShowFailure(text);
    else
        fw::ShowMessage(nullptr, text, MB_OK);
}

std::string UnzipEngine::GetMemberName(int i) const
{
    return Entry(MemberListing::Instance().names, i);
}

std::string UnzipEngine::GetMemberSize(int i) const
{
    return Entry(MemberListing::Instance().sizes, i);
}

std::string UnzipEngine::GetMemberPackedSize(int i) const
{
    return Entry(MemberListing::Instance().packedSizes, i);
}

std::string UnzipEngine::GetMemberRatio(int i) const
{
    return Entry(MemberListing::Instance().ratios, i);
}

}  // namespace engine
