#include "app/ExtractionRun.h"

#include "app/ProcessObjects.h"
#include "framework/Dialog.h"
#include "framework/FileSystem.h"
#include "framework/Owned.h"
#include "framework/PathInfo.h"
#include "unzip32/unzip32.h"

#include <algorithm>
#include <cassert>
#include <cstdlib>
#include <utility>

namespace app {

using fw::PathInfo;

namespace {

// Posted by the worker when the progress it keeps has changed (at most one such message waits).
const UINT kRunProgressMessage = WM_APP + 16;
// Sent by the worker with a Question: it waits until the window's thread has answered.
const UINT kRunQuestionMessage = WM_APP + 17;

std::vector<char*> MaskPointers(const std::vector<std::string>& masks)
{
    std::vector<char*> pointers;
    pointers.reserve(masks.size());
    for (const std::string& mask : masks)
        pointers.push_back(const_cast<char*>(mask.c_str()));
    return pointers;
}

}  // namespace

// A question of the worker to the user: a failure to show (`failure` set), or a password to ask for.
struct ExtractionRun::Question {
    const std::string* failure = nullptr;
    const std::string* member = nullptr;
    const std::string* archive = nullptr;
    bool again = false;
    std::string* password = nullptr;
    bool answered = false;
};

void ExtractionRun::Shared::Stop()
{
    fw::Lock::Held held(lock_);
    stop_ = true;
}

bool ExtractionRun::Shared::Stopping() const
{
    fw::Lock::Held held(lock_);
    return stop_;
}

bool ExtractionRun::Shared::SetProgress(int archive, int permille)
{
    fw::Lock::Held held(lock_);
    archive_ = archive;
    permille_ = permille;
    return !std::exchange(progressPosted_, true);
}

void ExtractionRun::Shared::TakeProgress(int& archive, int& permille)
{
    fw::Lock::Held held(lock_);
    progressPosted_ = false;
    archive = archive_;
    permille = permille_;
}

void ExtractionRun::Shared::HandOver(ExtractionSummary summary)
{
    fw::Lock::Held held(lock_);
    summary_ = std::move(summary);
}

ExtractionSummary ExtractionRun::Shared::TakeSummary()
{
    fw::Lock::Held held(lock_);
    if (stop_)
        summary_.MarkStopped();
    return std::move(summary_);
}

ExtractionRun::ExtractionRun(Owner& owner, HWND window, ExtractionOptions options, std::string chosen,
    std::vector<std::string> paths, ExtractionSummary summary, bool unattended)
    : owner_(owner),
      window_(window),
      options_(std::move(options)),
      chosen_(std::move(chosen)),
      paths_(std::move(paths)),
      unattended_(unattended),
      windowThread_(::GetCurrentThreadId()),
      summary_(std::move(summary))
{
}

// The worker has ended by now: PumpUntilEnded returns only then.
ExtractionRun::~ExtractionRun()
{
    assert(thread_ == nullptr || thread_->Wait(0));
}

bool ExtractionRun::Start()
{
    assert(OnWindowThread() && thread_ == nullptr);
    thread_ = fw::Thread::Begin(&ExtractionRun::Work, this, THREAD_PRIORITY_NORMAL, 0, true);
    if (thread_ == nullptr)
        return false;
    workerThread_ = thread_->Id();
    thread_->Resume();
    return true;
}

bool ExtractionRun::PumpUntilEnded(WPARAM& quitCode)
{
    assert(OnWindowThread() && thread_ != nullptr);
    bool quit = false;
    HANDLE worker = thread_->Handle();
    for (;;) {
        MSG msg;
        while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                // The program is ending: the run stops first, then the loop hears of it again.
                quit = true;
                quitCode = msg.wParam;
                Stop();
                continue;
            }
            // The window stays usable from the keyboard as from the program's own loop.
            if (fw::Dialog::TranslateDialogKey(msg))
                continue;
            ::TranslateMessage(&msg);
            ::DispatchMessageA(&msg);
        }
        const DWORD woken = ::MsgWaitForMultipleObjectsEx(1, &worker, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        if (woken == WAIT_OBJECT_0)
            return quit;
        if (woken == WAIT_FAILED) {
            thread_->Wait();
            return quit;
        }
    }
}

bool ExtractionRun::OnMessage(UINT msg, LPARAM lParam)
{
    if (msg != kRunProgressMessage && msg != kRunQuestionMessage)
        return false;
    assert(OnWindowThread());
    if (msg == kRunQuestionMessage) {
        Answer(*reinterpret_cast<Question*>(lParam));
        return true;
    }
    int archive = 0;
    int permille = 0;
    shared_.TakeProgress(archive, permille);
    owner_.ShowRunProgress(archive, static_cast<int>(paths_.size()), permille);
    return true;
}

// On the window's thread, in whatever message loop it is in, while the worker waits.
void ExtractionRun::Answer(Question& question)
{
    if (Stopping())
        return;  // the run is ending: the answer is "none"
    if (question.failure != nullptr)
        owner_.ShowRunFailure(*question.failure);
    else
        question.answered =
            owner_.AskRunPassword(*question.member, *question.archive, question.again, *question.password);
}

ExtractionSummary ExtractionRun::TakeSummary()
{
    assert(OnWindowThread());
    return shared_.TakeSummary();
}

DWORD ExtractionRun::Work(void* self)
{
    auto* run = static_cast<ExtractionRun*>(self);
    DWORD result = 0;
    // What was extracted before a failure of the run itself still reaches the summary.
    try {
        run->ExtractAll();
    } catch (...) {
        result = static_cast<DWORD>(-1);
    }
    run->shared_.HandOver(std::move(run->summary_));
    return result;
}

// Once a stop is asked for, nothing more is shown: the user has turned away from the run.
void ExtractionRun::ShowFailure(const std::string& text)
{
    assert(OnWorker());
    if (listing_ || Stopping() || unattended_)
        return;  // the extraction that follows reports the same problem; unattended: the summary
    Question question;
    question.failure = &text;
    ::SendMessageA(window_, kRunQuestionMessage, 0, reinterpret_cast<LPARAM>(&question));
}

bool ExtractionRun::AskPassword(
    const std::string& member, const std::string& archive, bool again, std::string& password)
{
    assert(OnWorker());
    if (Stopping())
        return false;
    Question question;
    question.member = &member;
    question.archive = &archive;
    question.again = again;
    question.password = &password;
    ::SendMessageA(window_, kRunQuestionMessage, 0, reinterpret_cast<LPARAM>(&question));
    return question.answered;
}

bool ExtractionRun::AtMember(const char* name, unsigned long size)
{
    assert(OnWorker());
    if (!listing_) {
        if (memberSize_ == size && memberName_ == name) {
            ++memberSteps_;
        } else {
            reached_ += memberSize_;
            memberName_ = name;
            memberSize_ = size;
            memberSteps_ = 0;
        }
        if (total_ > 0) {
            const unsigned long long inMember = std::min<unsigned long long>(memberSteps_ * UZ_SERVICE_STEP, size);
            PublishProgress(
                static_cast<int>(std::min<unsigned long long>((reached_ + inMember) * 1000 / total_, 1000)));
        }
    }
    return Stopping();
}

void ExtractionRun::PublishProgress(int permille)
{
    if (shared_.SetProgress(archive_, permille))
        ::PostMessageA(window_, kRunProgressMessage, 0, 0);
}

bool ExtractionRun::ListArchive(const std::string& path, std::vector<char*>& masks, std::string& top)
{
    engine::UnzipEngine engine;
    engine.SetListener(this);
    engine.SetNamePage(options_.namePage);
    listing_ = true;
    const bool listed =
        engine.Unzip(path, nullptr, masks.empty() ? nullptr : masks.data(), static_cast<int>(masks.size()), true) == 1;
    listing_ = false;
    if (!listed)
        return false;
    std::vector<std::string> names;
    for (int i = 0; i < engine.GetMemberCount(); ++i) {
        names.push_back(engine.GetMemberName(i));
        total_ += std::strtoull(engine.GetMemberSize(i).c_str(), nullptr, 10);
    }
    return OneTopLevelEntry(names, &top);
}

void ExtractionRun::ExtractAll()
{
    assert(OnWorker());
    // Each engine still loads and unloads the library by name; held for the run, it stays mapped
    // in between, instead of being mapped and set up twice for every archive.
    fw::OwnedModule held(::LoadLibraryA("UNZIP32.DLL"));
    std::vector<char*> masks = MaskPointers(options_.excludeMasks);
    for (size_t i = 0; i < paths_.size() && !Stopping(); ++i) {
        archive_ = static_cast<int>(i);
        total_ = reached_ = memberSteps_ = 0;
        memberName_.clear();
        memberSize_ = 0;
        PublishProgress(0);
        const std::string& path = paths_[i];
        PathInfo archive(path);
        if (!archive.IsArchive())
            continue;
        std::string top;
        bool single = ListArchive(path, masks, top);
        if (Stopping()) {
            summary_.Add(path, UZ_STOPPED);
            break;
        }
        // Without its own folder the archive's one entry would merge into, or replace, what the
        // user already has of that name: then it goes into the title folder as usual.
        if (single &&
            fw::FileAttributes(ExtractionDestination(archive, options_, chosen_, true) + "\\" + top) !=
                INVALID_FILE_ATTRIBUTES)
            single = false;
        std::string destination = ExtractionDestination(archive, options_, chosen_, single);
        const bool created = fw::CreateFolder(destination);
        engine::UnzipEngine engine;
        engine.SetListener(this);
        engine.SetNamePage(options_.namePage);
        engine.SetMarkOfTheWeb(options_.markOfTheWeb);
        engine.SetExistingFiles(options_.existingFiles);
        if (!unattended_)
            engine.SetPasswords(&passwords_);
        engine.Unzip(
            path, destination.c_str(), masks.empty() ? nullptr : masks.data(), static_cast<int>(masks.size()), false);
        summary_.Add(path, engine.GetResult(), engine.PasswordSkipped(), engine.Reason());
        // A folder made for this archive that nothing came into is not left behind (only an empty
        // folder can be removed).
        if (created)
            ::RemoveDirectoryW(fw::WidePath(destination).c_str());
    }
}

}  // namespace app
