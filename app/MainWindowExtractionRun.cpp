// The extraction run of the main window: every queued archive (or the selected ones) extracted into
// its destination with the user's exclusion masks, then a summary. The archives are extracted on
// one worker thread while the window's thread keeps pumping its messages, so the window stays
// responsive and Execute can stop the run; every message box is still shown by the window's thread,
// owned by the window, one at a time. The worker's questions (a failure to be seen, a password) are
// sent to the window, so any message loop of its thread answers them, a modal one included.
#include "app/ExtractionRun.h"

#include "app/FolderPicker.h"
#include "app/PasswordDialog.h"
#include "app/ProcessObjects.h"
#include "engine/PasswordSession.h"
#include "framework/MessageBox.h"
#include "resources/kestrova/resource.h"
#include "resources/kestrova/texts.h"

namespace app {

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
