// The extraction run of the main window: every queued archive (or the selected ones) extracted into
// its destination with the user's exclusion masks, then a summary. The archives are extracted on
// one worker thread while the window's thread keeps pumping its messages, so the window stays
// responsive and Execute can stop the run; every message box is still shown by the window's thread,
// owned by the window, one at a time. The worker's questions (a failure to be seen, a password) are
// sent to the window, so any message loop of its thread answers them, a modal one included.
#include "app/MainWindow.h"

#include "app/ExtractionOptions.h"
#include "app/ExtractionSummary.h"
#include "app/FolderPicker.h"
#include "app/PasswordDialog.h"
#include "app/ProcessObjects.h"
#include "engine/PasswordSession.h"
#include "engine/PathInfo.h"
#include "engine/UnzipEngine.h"
#include "framework/FileSystem.h"
#include "framework/MessageBox.h"
#include "framework/Owned.h"
#include "framework/Thread.h"
#include "resources/kestrova/resource.h"
#include "resources/kestrova/texts.h"
#include "unzip32/unzip32.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <vector>

namespace app {

using engine::PathInfo;

namespace {

// Posted by the worker when the progress it keeps has changed (at most one such message waits).
const UINT kRunProgressMessage = WM_APP + 16;
// Sent by the worker with a RunQuestion: it waits until the window's thread has answered.
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
struct MainWindow::RunQuestion {
    const std::string* failure = nullptr;
    const std::string* member = nullptr;
    const std::string* archive = nullptr;
    bool again = false;
    std::string* password = nullptr;
    bool answered = false;
};

// One run: what it handles, and what its worker and the window's thread share.
struct MainWindow::Run : engine::RunListener, engine::PasswordPrompt {
    explicit Run(MainWindow& owner) : window(owner) { }
    Run(const Run&) = delete;
    Run& operator=(const Run&) = delete;

    static DWORD Work(void* self)
    {
        static_cast<Run*>(self)->ExtractAll();
        return 0;
    }
    void ExtractAll();
    // The title option's sub-folder is left out when the archive's listing holds one top-level
    // folder or one single file; the listing also gives the bytes the archive will produce.
    // `top` is given that entry's name.
    bool ListArchive(const std::string& path, std::vector<char*>& masks, std::string& top);

    // Worker side of the listener: the window's thread shows the text; the worker waits for it.
    // Once a stop is asked for, nothing more is shown: the user has turned away from the run.
    void ShowFailure(const std::string& text) override
    {
        if (listing || stop.load() || window.unattended_)
            return;  // the extraction that follows reports the same problem; unattended: the summary
        RunQuestion question;
        question.failure = &text;
        window.Send(kRunQuestionMessage, 0, reinterpret_cast<LPARAM>(&question));
    }
    // Worker side of the password prompt: the window's thread asks the user, the worker waits.
    bool AskPassword(const std::string& member, const std::string& archive, bool again, std::string& password) override
    {
        if (stop.load())
            return false;
        RunQuestion question;
        question.member = &member;
        question.archive = &archive;
        question.again = again;
        question.password = &password;
        window.Send(kRunQuestionMessage, 0, reinterpret_cast<LPARAM>(&question));
        return question.answered;
    }
    bool AtMember(const char* name, unsigned long size) override;
    void PublishProgress(int permille);

    MainWindow& window;
    ExtractionOptions options;
    std::string chosen;
    std::vector<std::string> paths;  // the rows handled, in row order
    ExtractionSummary summary;       // the worker's until it has ended
    std::unique_ptr<fw::Thread> thread;
    std::atomic<bool> stop {false};
    bool closeAfter = false;          // the window's thread only
    bool closedDuringPrompt = false;  // the window's thread only: the prompt was ended by a close
    std::string caption;              // the window's caption before the run

    // Progress, written by the worker and read by the window's thread.
    std::atomic<int> archiveIndex {0};
    std::atomic<int> archivePermille {0};
    std::atomic<bool> progressPosted {false};

    // The archive being extracted (worker only): its listing's total and what has been reached.
    bool listing = false;
    unsigned long long total = 0;
    unsigned long long reached = 0;  // the members before the current one
    std::string memberName;
    unsigned long memberSize = 0;
    unsigned long long memberSteps = 0;

    // One session for the whole run: archives that share a password ask for it once.
    engine::PasswordSession passwords {*this};
};

bool MainWindow::Run::AtMember(const char* name, unsigned long size)
{
    if (!listing) {
        if (memberSize == size && memberName == name) {
            ++memberSteps;
        } else {
            reached += memberSize;
            memberName = name;
            memberSize = size;
            memberSteps = 0;
        }
        if (total > 0) {
            const unsigned long long inMember = std::min<unsigned long long>(memberSteps * UZ_SERVICE_STEP, size);
            PublishProgress(static_cast<int>(std::min<unsigned long long>((reached + inMember) * 1000 / total, 1000)));
        }
    }
    return stop.load();
}

void MainWindow::Run::PublishProgress(int permille)
{
    archivePermille = permille;
    if (!progressPosted.exchange(true))
        window.Post(kRunProgressMessage);
}

bool MainWindow::Run::ListArchive(const std::string& path, std::vector<char*>& masks, std::string& top)
{
    engine::UnzipEngine engine;
    engine.SetListener(this);
    listing = true;
    const bool listed =
        engine.Unzip(path, nullptr, masks.empty() ? nullptr : masks.data(), static_cast<int>(masks.size()), true) == 1;
    listing = false;
    if (!listed)
        return false;
    std::vector<std::string> names;
    for (int i = 0; i < engine.GetMemberCount(); ++i) {
        names.push_back(engine.GetMemberName(i));
        total += std::strtoull(engine.GetMemberSize(i).c_str(), nullptr, 10);
    }
    return OneTopLevelEntry(names, &top);
}

void MainWindow::Run::ExtractAll()
{
    // Each engine still loads and unloads the library by name; held for the run, it stays mapped
    // in between, instead of being mapped and set up twice for every archive.
    fw::OwnedModule held(::LoadLibraryA("UNZIP32.DLL"));
    std::vector<char*> masks = MaskPointers(options.excludeMasks);
    for (size_t i = 0; i < paths.size() && !stop.load(); ++i) {
        archiveIndex = static_cast<int>(i);
        total = reached = memberSteps = 0;
        memberName.clear();
        memberSize = 0;
        PublishProgress(0);
        const std::string& path = paths[i];
        PathInfo archive(path);
        if (!archive.IsZipArchive())
            continue;
        std::string top;
        bool single = ListArchive(path, masks, top);
        if (stop.load()) {
            summary.Add(path, UZ_STOPPED);
            break;
        }
        // Without its own folder the archive's one entry would merge into, or replace, what the
        // user already has of that name: then it goes into the title folder as usual.
        if (single &&
            fw::FileAttributes(ExtractionDestination(archive, options, chosen, true) + "\\" + top) !=
                INVALID_FILE_ATTRIBUTES)
            single = false;
        std::string destination = ExtractionDestination(archive, options, chosen, single);
        const bool created = fw::CreateFolder(destination);
        engine::UnzipEngine engine;
        engine.SetListener(this);
        if (!window.unattended_)
            engine.SetPasswords(&passwords);
        engine.Unzip(
            path, destination.c_str(), masks.empty() ? nullptr : masks.data(), static_cast<int>(masks.size()), false);
        summary.Add(path, engine.GetResult(), engine.PasswordSkipped());
        // A folder made for this archive that nothing came into is not left behind (only an empty
        // folder can be removed).
        if (created)
            ::RemoveDirectoryW(fw::WidePath(destination).c_str());
    }
}

// Defined where the run is complete.
MainWindow::MainWindow() : fw::ModelessDialog(IDD_MAIN) { }
MainWindow::~MainWindow() = default;

bool MainWindow::IsRunning() const
{
    return run_ != nullptr;
}

void MainWindow::StopExtraction()
{
    if (run_ != nullptr)
        run_->stop = true;
}

void MainWindow::RunExtraction(bool allRows)
{
    if (run_ != nullptr || picker_ != nullptr)
        return;  // one run at a time; Execute stops the one that goes on
    auto run = std::make_unique<Run>(*this);
    run->options = ExtractionOptions::FromSettings(Settings());
    for (const std::string& path : notQueued_)
        run->summary.AddNotQueued(path);
    notQueued_.clear();
    if (run->options.askForFolder) {
        // The browser is modal to this window; a close meanwhile ends it and then the window.
        FolderPicker picker;
        picker.title = texts::kPickerTitle;
        picker.owner = hwnd_;
        picker_ = &picker;
        run->chosen = picker.Browse();
        picker_ = nullptr;
        if (closeAfterPicker_) {
            closeAfterPicker_ = false;
            Post(WM_CLOSE);
            return;
        }
        // Cancelling the picker means "not now": extracting to an empty or root-relative
        // destination instead would scatter files where the user never asked for them.
        if (run->chosen.empty()) {
            run->summary.MarkStopped();
            lastSummary_ = run->summary;
            return;
        }
    }
    // The queue cannot change during the run: its rows are read once.
    for (int row = 0; row < ExtractionList.GetItemCount(); ++row) {
        if (allRows || (ExtractionList.GetItemState(row, LVIS_SELECTED) & LVIS_SELECTED) != 0)
            run->paths.push_back(ExtractionList.GetItemText(row, 1) + ExtractionList.GetItemText(row, 0));
    }
    // Each row handled is kProgressPerRow steps, moved through as its archive is written.
    progressBar.SetRange(0, static_cast<int>(run->paths.size()) * kProgressPerRow);
    progressBar.SetPosition(0);

    run->thread = fw::Thread::Begin(&Run::Work, run.get(), THREAD_PRIORITY_NORMAL, 0, true);
    if (run->thread == nullptr) {
        fw::ShowMessage(hwnd_, texts::kRunNotStarted, MB_OK | MB_ICONERROR);
        return;
    }
    run_ = std::move(run);
    run_->caption = GetText();
    EnableQueueControls(false);
    run_->thread->Resume();
    bool quit = false;
    WPARAM quitCode = 0;
    PumpUntilRunEnds(quit, quitCode);

    std::unique_ptr<Run> ended = std::move(run_);
    if (ended->stop.load())
        ended->summary.MarkStopped();
    lastSummary_ = ended->summary;
    progressBar.SetPosition(0);
    SetText(ended->caption);
    EnableQueueControls(true);
    if (quit) {
        ::PostQuitMessage(static_cast<int>(quitCode));
    } else if (ended->closeAfter) {
        Post(WM_CLOSE);
    } else if (ended->options.showSummary && !unattended_) {
        fw::ShowMessage(hwnd_, ended->summary.Text(), MB_OK);
    }
}

// The window's own loop while the worker extracts: messages as the program's loop handles them
// (the worker's questions among them) until the worker has ended.
void MainWindow::PumpUntilRunEnds(bool& quit, WPARAM& quitCode)
{
    HANDLE worker = run_->thread->Handle();
    for (;;) {
        MSG msg;
        while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                // The program is ending: the run stops first, then the loop hears of it again.
                quit = true;
                quitCode = msg.wParam;
                run_->stop = true;
                continue;
            }
            ::TranslateMessage(&msg);
            ::DispatchMessageA(&msg);
        }
        const DWORD woken = ::MsgWaitForMultipleObjectsEx(1, &worker, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        if (woken == WAIT_OBJECT_0)
            return;
        if (woken == WAIT_FAILED) {
            run_->thread->Wait();
            return;
        }
    }
}

void MainWindow::ShowRunProgress()
{
    if (run_ == nullptr)
        return;
    run_->progressPosted = false;
    const int index = run_->archiveIndex.load();
    progressBar.SetPosition(index * kProgressPerRow + run_->archivePermille.load() * kProgressPerRow / 1000);
    const std::string caption = run_->caption + texts::kRunCaptionBefore + std::to_string(index + 1) +
        texts::kRunCaptionOf + std::to_string(run_->paths.size());
    if (GetText() != caption)
        SetText(caption);
}

// What would change the queue or start another run waits for the run's end; Execute stays, to stop it.
void MainWindow::EnableQueueControls(bool enable)
{
    for (const fw::Window* control : {&deleteButton, &searchButton, &viewButton, &optionsButton})
        control->Enable(enable);
    ExtractionList.acceptsDrops = enable;
}

bool MainWindow::OnRunMessage(UINT msg, LPARAM lParam)
{
    if (msg == kRunProgressMessage) {
        ShowRunProgress();
        return true;
    }
    if (msg == kRunQuestionMessage) {
        AnswerQuestion(*reinterpret_cast<RunQuestion*>(lParam));
        return true;
    }
    return false;
}

// On the window's thread, in whatever message loop it is in, while the worker waits.
void MainWindow::AnswerQuestion(RunQuestion& question)
{
    if (run_ == nullptr || run_->stop.load())
        return;  // the run is ending: the answer is "none"
    if (question.failure != nullptr) {
        fw::ShowMessage(hwnd_, *question.failure, MB_OK);
        return;
    }
    for (;;) {
        question.answered = AskPassword(*question.member, *question.archive, question.again, *question.password);
        if (run_ == nullptr || !run_->closedDuringPrompt)
            return;
        // The window was closed while the prompt was up: the prompt has ended, and the question
        // asked at every close during a run follows. No asks for the password again.
        run_->closedDuringPrompt = false;
        question.answered = false;
        engine::WipeText(*question.password);
        if (AskToStopAndClose())
            return;
    }
}

// Closing during a run asks first; on yes the run stops and the window closes when it has. A
// password prompt that is up ends first (AnswerQuestion asks then). Closing while the run's folder
// browser is up ends the browser, and RunExtraction then closes the window.
bool MainWindow::CloseDuringRun()
{
    if (picker_ != nullptr) {
        closeAfterPicker_ = true;
        picker_->Cancel();
        return true;
    }
    if (run_ == nullptr)
        return false;
    if (prompt_ != nullptr) {
        run_->closedDuringPrompt = true;
        prompt_->Send(WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        return true;
    }
    AskToStopAndClose();
    return true;
}

// True when the user chose to stop and close.
bool MainWindow::AskToStopAndClose()
{
    if (run_ == nullptr)
        return false;
    if (!run_->closeAfter &&
        (unattended_ || fw::ShowMessage(hwnd_, texts::kStopQuestion, MB_YESNO | MB_ICONQUESTION) == IDYES) &&
        run_ != nullptr) {
        run_->closeAfter = true;
        run_->stop = true;
    }
    return run_ == nullptr || run_->closeAfter;
}

bool MainWindow::AskPassword(const std::string& member, const std::string& archive, bool again, std::string& password)
{
    PasswordDialog dialog(member, archive, again);
    prompt_ = &dialog;
    const bool answered = dialog.Ask(hwnd_, password);
    prompt_ = nullptr;
    return answered;
}

}  // namespace app
