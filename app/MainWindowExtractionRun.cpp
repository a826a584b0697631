// The main window's side of an extraction run: every queued archive (or the selected ones) handed
// to a run, then a summary. The window stays responsive during the run and Execute can stop it;
// every message box is shown by the window's thread, owned by the window, one at a time.
#include "app/MainWindow.h"

#include "app/FolderPicker.h"
#include "app/PasswordDialog.h"
#include "app/ProcessObjects.h"
#include "app/RecycleBin.h"
#include "app/RowBatch.h"
#include "engine/PasswordSession.h"
#include "framework/MessageBox.h"
#include "resources/kestrova/resource.h"
#include "resources/kestrova/texts.h"

#include <set>

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
        run_->Stop();
}

void MainWindow::RunExtraction(bool allRows)
{
    if (run_ != nullptr || picker_ != nullptr)
        return;  // one run at a time; Execute stops the one that goes on
    ExtractionOptions options = ExtractionOptions::FromSettings(Settings());
    ExtractionSummary summary;
    for (const std::string& path : notQueued_)
        summary.AddNotQueued(path);
    notQueued_.clear();
    std::string chosen;
    if (options.askForFolder) {
        // The browser is modal to this window; a close meanwhile ends it and then the window.
        FolderPicker picker;
        picker.title = texts::kPickerTitle;
        picker.owner = hwnd_;
        picker_ = &picker;
        chosen = picker.Browse();
        picker_ = nullptr;
        if (closeAfterPicker_) {
            closeAfterPicker_ = false;
            Post(WM_CLOSE);
            return;
        }
        // Cancelling the picker means "not now": extracting to an empty or root-relative
        // destination instead would scatter files where the user never asked for them.
        if (chosen.empty()) {
            summary.MarkStopped();
            lastSummary_ = summary;
            return;
        }
    }
    // The queue cannot change during the run: its rows are read once.
    std::vector<std::string> paths;
    for (int row = 0; row < ExtractionList.GetItemCount(); ++row) {
        if (allRows || (ExtractionList.GetItemState(row, LVIS_SELECTED) & LVIS_SELECTED) != 0)
            paths.push_back(ExtractionList.GetItemText(row, 1) + ExtractionList.GetItemText(row, 0));
    }
    // Each row handled is kProgressPerRow steps, moved through as its archive is written.
    progressBar.SetRange(0, static_cast<int>(paths.size()) * kProgressPerRow);
    progressBar.SetPosition(0);

    const bool showSummary = options.showSummary && !unattended_;
    const bool recycle = options.recycleArchives;
    ExtractionRun::Owner& owner = *this;
    auto run = std::make_unique<ExtractionRun>(
        owner, hwnd_, std::move(options), std::move(chosen), std::move(paths), std::move(summary), unattended_);
    runCaption_ = GetText();
    closeAfterRun_ = closedDuringPrompt_ = false;
    if (!run->Start()) {
        fw::ShowMessage(hwnd_, texts::kRunNotStarted, MB_OK | MB_ICONERROR);
        return;
    }
    run_ = std::move(run);
    EnableQueueControls(false);
    WPARAM quitCode = 0;
    const bool quit = run_->PumpUntilEnded(quitCode);

    lastSummary_ = run_->TakeSummary();
    run_.reset();
    progressBar.SetPosition(0);
    SetText(runCaption_);
    EnableQueueControls(true);
    // A stop ends the run, not what it finished: the archives extracted before it are cleared away too.
    if (recycle)
        RecycleExtracted();
    if (quit) {
        ::PostQuitMessage(static_cast<int>(quitCode));
    } else if (closeAfterRun_) {
        Post(WM_CLOSE);
    } else if (showSummary) {
        fw::ShowMessage(hwnd_, lastSummary_.Text(), MB_OK);
    }
}

// Every archive the run extracted with result 0 goes to the Recycle Bin with all its volumes, in one
// shell operation; the rows of those that went leave the list. Archives that failed, were skipped
// in part, stopped or not reached were never in the summary's extracted list.
void MainWindow::RecycleExtracted()
{
    std::vector<std::string> archives;
    std::set<std::string> seen;
    for (const std::string& path : lastSummary_.Extracted()) {
        if (seen.insert(path).second)
            archives.push_back(path);
    }
    if (archives.empty())
        return;
    std::vector<std::vector<std::string>> files;
    for (const std::string& archive : archives)
        files.push_back(ArchiveVolumes(archive));
    const std::vector<bool> moved = RecycleArchives(hwnd_, files);
    std::set<std::string> gone;
    for (size_t i = 0; i < archives.size(); ++i) {
        if (moved[i])
            gone.insert(archives[i]);
    }
    if (!gone.empty()) {
        RowBatch batch(ExtractionList);
        for (int row = ExtractionList.GetItemCount() - 1; row >= 0; --row) {
            if (gone.count(ExtractionList.GetItemText(row, 1) + ExtractionList.GetItemText(row, 0)) != 0)
                ExtractionList.DeleteItem(row);
        }
    }
    lastSummary_.SetRecycled(static_cast<int>(gone.size()), static_cast<int>(archives.size() - gone.size()));
}

void MainWindow::ShowRunProgress(int archive, int count, int permille)
{
    progressBar.SetPosition(archive * kProgressPerRow + permille * kProgressPerRow / 1000);
    const std::string caption = runCaption_ + texts::kRunCaptionBefore + std::to_string(archive + 1) +
        texts::kRunCaptionOf + std::to_string(count);
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

void MainWindow::ShowRunFailure(const std::string& text)
{
    fw::ShowMessage(hwnd_, text, MB_OK);
}

bool MainWindow::AskRunPassword(
    const std::string& member, const std::string& archive, bool again, std::string& password)
{
    for (;;) {
        const bool answered = AskPassword(member, archive, again, password);
        if (!closedDuringPrompt_)
            return answered;
        // The window was closed while the prompt was up: the prompt has ended, and the question
        // asked at every close during a run follows. No asks for the password again.
        closedDuringPrompt_ = false;
        engine::WipeText(password);
        if (AskToStopAndClose())
            return false;
    }
}

// Closing during a run asks first; on yes the run stops and the window closes when it has. A
// password prompt that is up ends first (AskRunPassword asks then). Closing while the run's folder
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
        closedDuringPrompt_ = true;
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
    if (!closeAfterRun_ &&
        (unattended_ || fw::ShowMessage(hwnd_, texts::kStopQuestion, MB_YESNO | MB_ICONQUESTION) == IDYES) &&
        run_ != nullptr) {
        closeAfterRun_ = true;
        run_->Stop();
    }
    return run_ == nullptr || closeAfterRun_;
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
