#pragma once
#include "framework/Button.h"
#include "framework/Dialog.h"
#include "framework/Edit.h"
#include "framework/Owned.h"
#include "framework/ProgressBar.h"
#include "framework/ScaledPictures.h"
#include "framework/Thread.h"
#include "framework/Static.h"
#include "updater/BindingSlot.h"
#include "updater/DownloadRequest.h"
#include "updater/ElevatedReplacement.h"

#include <memory>
#include <string>

namespace updater {

// The update downloader's one window: shows the installed and the latest version, downloads the
// version file on "Update" and, when the version differs, the new program and its signature; a
// program signed with the trusted key then replaces the installed one. Downloads run on one worker
// thread at a time; "Stop" ends the running one.
class UpdateDialog : public fw::ModalDialog {
public:
    // `updater` is the kvupdate program that is started elevated when the installed program lies
    // in a folder the user may not write (ElevatedReplacement); normally this program itself.
    explicit UpdateDialog(const std::string& updater = ElevatedReplacement::UpdaterPath());
    ~UpdateDialog() override;

    // True while a download worker exists (Cancel is ignored then).
    bool IsBusy() const { return worker_ != nullptr; }

    // Members bound to their controls at initialisation, in template order.
    fw::Edit statusLog;           // 1001, hidden log of the download's status lines
    fw::Static latestLabel;       // 1003
    fw::Static installedLabel;    // 1004
    fw::ProgressBar progressBar;  // 1005
    fw::Static percentLabel;      // 1006, hidden; always "0%"
    fw::Button actionButton;      // 1, "Update" or "Stop"

protected:
    bool OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
    bool OnInit() override;
    bool OnCommand(int id, int code, HWND control) override;
    bool OnCancel() override;
    bool OnPaint() override;
    bool OnTimer(UINT_PTR id) override;
    void OnDestroy() override;
    void OnDpiChanged(UINT dpi) override;

private:
    // Called when the action button (the OK command) is pressed.
    void OnActionButton();
    // Starts a download of `url` on a new worker; with a worker already running it stops that one.
    void StartDownload(const std::string& url);
    // Called for every progress report of the worker; appends a line to the status log.
    LRESULT OnDownloadProgress(LPARAM lParam);
    // Called when the worker has finished: goes on with the version check, the signature's
    // download or the installation.
    void OnDownloadFinished();
    // Puts the downloaded program in place of the installed one when `signature` (the downloaded
    // signature file; empty when there was none) holds for it and the latest version, through an
    // elevated copy of the updater when the installed program's folder needs that; says how that
    // went and deletes both.
    void InstallProgram(const std::string& downloaded, const std::string& signature);
    // Caption "Update", Close enabled and the log emptied; or caption "Stop" and Close greyed.
    void SetIdle(bool idle);
    // Signals the stop event and shows the idle look with an empty progress bar.
    void ReturnToIdle();
    void AppendLog(const std::string& line);
    std::string LoadText(UINT id) const;

    std::unique_ptr<fw::Thread> worker_;
    DownloadRequest downloadRequest_;
    fw::OwnedHandle stopEvent_;
    // The window's icons, drawn for its DPI: the window keeps only the handles.
    fw::WindowIcons icons_;
    void LoadIcons(UINT dpi);
    BindingSlot binding_;
    std::string versionUrl_;
    std::string programUrl_;
    std::string signatureUrl_;
    std::string updater_;
    // The version text of the last version file downloaded: the version the program is signed for.
    std::string latestVersion_;
    // The downloaded program while its signature is being downloaded.
    std::string downloadedProgram_;
    // Set when "Stop" ends the running download: whatever the worker then hands over is not used.
    bool stopRequested_ = false;
};

}  // namespace updater
