#pragma once
#include "app/DragListView.h"
#include "app/ExtractionRun.h"
#include "app/ExtractionSummary.h"
#include "engine/PasswordPrompt.h"
#include "framework/Button.h"
#include "framework/ComboBoxEx.h"
#include "framework/Dialog.h"
#include "framework/Owned.h"
#include "framework/ProgressBar.h"
#include "framework/ScaledPictures.h"
#include "framework/Static.h"

#include <memory>
#include <string>
#include <vector>

namespace app {

class FolderPicker;
class PasswordDialog;
class RowBatch;

// The program's only top-level window: the explorer pane, the extraction list, the button column,
// drive box, progress bar and labels. It lays its controls out on every size change, keeps its
// placement and column widths in the registry, and ends the program when it is closed. It starts
// the extraction runs, shows how far they are and answers their questions.
class MainWindow : public fw::ModelessDialog, public engine::PasswordPrompt, private ExtractionRun::Owner {
public:
    MainWindow();
    ~MainWindow() override;

    // Every destruction goes through here, so that the settings are saved first.
    bool Destroy() override;

    // Moves and sizes the seventeen controls after the window's outer size.
    void LayoutControls();
    // Shows the pictures drawn for the scale nearest `dpi`: every picture button (Up as it stands),
    // the settings headings and the window's large and small icons.
    void LoadPictures(UINT dpi);

    // Explorer pane: shows `folder` (with or without a trailing backslash): archives, then folders.
    enum class ListKind { Archives, Folders };
    void NavigateTo(const std::string& folder);
    void ListFolderPass(
        const std::string& folder, ListKind kind, bool clear, const std::vector<WIN32_FIND_DATAA>* matches = nullptr);
    static void Enumerate(const std::string& folder, std::vector<WIN32_FIND_DATAA>& matches);

    // Extraction list.
    void AddToExtractionList(const std::string& path, const std::string& location, int icon);
    void RemoveSelected();
    void RemoveAll();
    // Queues the selected explorer entries (the Search button).
    void SearchSelected();
    void AddExplorerEntry(const std::string& path);
    // Queues archives and the archives in folders given from outside the program; one message
    // names the paths that are neither (and those in `skipped`).
    void QueuePaths(const std::vector<std::string>& paths, std::vector<std::string> skipped = {});
    // Extracts every queued archive, or only the selected rows, on a worker thread; returns when
    // the run has ended, the window's messages handled meanwhile.
    void RunExtraction(bool allRows);
    // The password prompt of a run, owned by this window.
    bool AskPassword(const std::string& member, const std::string& archive, bool again, std::string& password) override;
    // Unattended (kestrova.exe /x): no message box at all. Failures and paths that cannot be queued
    // go into the run's summary only, closing during a run stops it without asking, and encrypted
    // members are skipped rather than asked for.
    void SetUnattended(bool on) { unattended_ = on; }
    // The summary of the last run that ended.
    const ExtractionSummary& LastSummary() const { return lastSummary_; }
    // True while a run goes on; a stop asked for takes effect within about a second.
    bool IsRunning() const;
    void StopExtraction();
    // Progress bar steps per row handled: the bar moves inside each archive as it is written.
    static constexpr int kProgressPerRow = 100;

    // Members bound to their controls at initialisation, in this order.
    fw::Button desktopButton;
    fw::Button viewButton;
    fw::ComboBoxEx driveBox;
    fw::Static versionLabel;
    fw::ProgressBar progressBar;
    fw::Static pathLabel;
    DragListView ExplorerList;
    DragListView ExtractionList;
    fw::Button websiteButton;
    fw::Button emailButton;
    fw::Button searchButton;
    fw::Button optionsButton;
    fw::Button upButton;
    fw::Button executeButton;
    fw::Button deleteButton;
    fw::Static countLabel;
    fw::Button refreshButton;
    // The tooltip control that names each picture button (owned by the window, gone with it).
    HWND buttonTips = nullptr;

protected:
    bool OnInit() override;
    bool OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
    bool OnCommand(int id, int code, HWND control) override;
    bool OnNotify(int id, const NMHDR& header, LRESULT& result) override;
    bool OnSize(UINT type, int width, int height) override;
    bool OnPaint() override;
    bool OnClose() override;
    void OnDpiChanged(UINT dpi) override;

private:
    // The run's news and questions.
    void ShowRunProgress(int archive, int count, int permille) override;
    void ShowRunFailure(const std::string& text) override;
    bool AskRunPassword(
        const std::string& member, const std::string& archive, bool again, std::string& password) override;
    void EnableQueueControls(bool enable);
    void RecycleExtracted();
    bool CloseDuringRun();
    bool AskToStopAndClose();

    std::unique_ptr<ExtractionRun> run_;
    std::string runCaption_;            // the window's caption before the run
    bool closeAfterRun_ = false;        // the user chose to stop the run and close
    bool closedDuringPrompt_ = false;   // the run's password prompt was ended by a close
    PasswordDialog* prompt_ = nullptr;  // the password prompt while it is up
    FolderPicker* picker_ = nullptr;    // the run's folder browser while it is up
    bool closeAfterPicker_ = false;     // the window was closed while the browser was up
    bool unattended_ = false;
    std::vector<std::string> notQueued_;  // unattended: paths given that could not be queued
    ExtractionSummary lastSummary_;

    void BindControls();
    void RestorePlacement();
    static RECT FitPlacement(RECT rect, UINT dpi);
    void PlaceCountLabel(int w);
    void InsertColumns();
    void SavePlacementAndColumns();
    void PaintMinimised();
    void FillDriveBox();
    void SelectStartDrive(const std::string& startFolder);
    void OnUp();
    void OnRefresh();
    void OnDesktop();
    void OnExplorerDoubleClick();
    void OnDriveChanged();
    void OnExplorerKey(WORD key);
    void DeleteExplorerSelection();
    void OnExtractionKey(WORD key);
    void AddExplorerEntry(const std::string& path, RowBatch& batch);
    void QueueFolder(const std::string& path, RowBatch& batch);
    void OnDropFiles(HDROP drop);
    void ShowExtractionMenu();
    void AddButtonTips();
    void SetKeyboardOrder();
    void OnOptions();
    void OnShowFileContents();
    void OnWebsite();
    void OnEmail();

    // What the window and its buttons show. A button keeps only the handle, so these live as long
    // as the window object, which outlives the window. The two Up pictures are loaded once and
    // swapped, since not every platform shares bitmaps loaded again from the same resource.
    static constexpr int kButtonBitmaps = 9;
    fw::OwnedBitmap buttonBitmaps_[kButtonBitmaps];
    fw::OwnedBitmap upBitmap_;
    fw::OwnedBitmap rootUpBitmap_;
    fw::WindowIcons icons_;

    // The DPI the layout, the columns and the pictures are scaled to (the window's monitor's).
    UINT dpi_ = 96;
};

}  // namespace app
