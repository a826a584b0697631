#include "updater/UpdateDialog.h"

#include "framework/Application.h"
#include "framework/Dpi.h"
#include "framework/MessageBox.h"
#include "framework/ScaledPictures.h"
#include "framework/Text.h"
#include "framework/Thread.h"
#include "resources/kvupdate/resource.h"
#include "resources/kvupdate/texts.h"
#include "updater/DownloadWorker.h"
#include "updater/ProgramReplacer.h"
#include "updater/ProgressRecord.h"
#include "updater/ReadSetting.h"
#include "updater/UpdateLocation.h"
#include "updater/VersionFile.h"

#include <urlmon.h>

#include <cstdio>
#include <vector>

namespace updater {

namespace {

// After "Stop" the worker normally ends at its next progress report; a download that has gone
// silent for this long after the stop request is aborted through its binding.
const UINT_PTR kAbortTimer = 1;
const UINT kAbortDelayMs = 500;

// While the window goes away with a download still running, the binding is aborted again at
// this interval until the worker has ended.
const DWORD kShutdownAbortMs = 500;

const DWORD kProgressUnit = 1100;

// `format` with its %s markers replaced by `first` and `second` in turn.
std::string Formatted(const char* format, const std::string& first, const std::string& second = std::string())
{
    std::string text = format;
    size_t at = text.find("%s");
    if (at != std::string::npos) {
        text.replace(at, 2, first);
        at = text.find("%s", at + first.size());
        if (at != std::string::npos)
            text.replace(at, 2, second);
    }
    return text;
}

std::string FolderOf(const std::string& path)
{
    size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(0, slash + 1);
}

// What the user is told after a program was to replace the installed one at `target`.
std::string ReplacementMessage(
    ProgramReplacer::Result result, const std::string& target, const std::string& latest, const std::string& installed)
{
    switch (result) {
    case ProgramReplacer::Result::Replaced: return texts::kComplete;
    case ProgramReplacer::Result::NoTarget: return texts::kNoTarget;
    case ProgramReplacer::Result::NotSigned: return texts::kNotSigned;
    case ProgramReplacer::Result::NotAProgram: return texts::kNotAProgram;
    case ProgramReplacer::Result::OtherBuild: return texts::kOtherBuild;
    case ProgramReplacer::Result::OlderVersion: return Formatted(texts::kOlderVersion, latest, installed);
    case ProgramReplacer::Result::FolderNotWritable: return Formatted(texts::kFolderNotWritable, FolderOf(target));
    case ProgramReplacer::Result::NotReplaced: return texts::kNotReplaced;
    case ProgramReplacer::Result::RestoreFailed: return texts::kRestoreFailed + ProgramReplacer::BackupPath(target);
    case ProgramReplacer::Result::ElevationDeclined: return Formatted(texts::kElevationDeclined, FolderOf(target));
    case ProgramReplacer::Result::NotWritableElevated: return Formatted(texts::kNotWritableElevated, FolderOf(target));
    }
    return texts::kNotReplaced;
}

}  // namespace

UpdateDialog::UpdateDialog(const std::string& updater)
    : fw::ModalDialog(IDD_UPDATE), stopEvent_(::CreateEventA(nullptr, FALSE, FALSE, nullptr)), updater_(updater)
{
}

// Normally no worker is left here (Cancel is ignored while one runs); if the window went away
// otherwise, the worker still uses the request, the binding and the stop event of this object, so
// it must have ended before any of them goes.
UpdateDialog::~UpdateDialog()
{
    if (worker_ == nullptr)
        return;
    ::SetEvent(stopEvent_);
    do
        binding_.Abort();
    while (!worker_->Wait(kShutdownAbortMs));
    worker_.reset();
}

bool UpdateDialog::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result)
{
    switch (msg) {
    case UM_DOWNLOAD_PROGRESS: result = OnDownloadProgress(lParam); return true;
    case UM_DOWNLOAD_FINISHED:
        OnDownloadFinished();
        result = 0;
        return true;
    default: return fw::ModalDialog::OnMessage(msg, wParam, lParam, result);
    }
}

// The icons of the size Windows shows at `dpi`; the old ones are released once replaced.
void UpdateDialog::LoadIcons(UINT dpi)
{
    icons_.Set(hwnd_, fw::Application::Instance()->HInstance(), IDI_KVUPDATE, dpi);
}

void UpdateDialog::OnDpiChanged(UINT dpi)
{
    if (dpi != 0)
        LoadIcons(dpi);
}

bool UpdateDialog::OnInit()
{
    LoadIcons(fw::WindowDpi(hwnd_));

    Bind(IDC_UPDATE_LOG, statusLog);
    Bind(IDC_UPDATE_LATEST, latestLabel);
    Bind(IDC_UPDATE_INSTALLED, installedLabel);
    Bind(IDC_UPDATE_PROGRESS, progressBar);
    Bind(IDC_UPDATE_PERCENT, percentLabel);
    Bind(IDC_UPDATE_ACTION, actionButton);

    statusLog.Show(SW_HIDE);
    percentLabel.Show(SW_HIDE);
    // The edit control's default limit would silently drop the lines of a long download.
    statusLog.Send(EM_SETLIMITTEXT, 0);
    installedLabel.SetText(texts::kInstalledPrefix + ReadSetting("Version"));

    std::string location = UpdateLocation::Base();
    versionUrl_ = location + UpdateLocation::kVersionFileName;
    programUrl_ = location + UpdateLocation::kProgramFileName;
    signatureUrl_ = location + UpdateLocation::kSignatureFileName;

    SetIdle(true);
    return true;
}

bool UpdateDialog::OnCommand(int id, int code, HWND)
{
    if (code != BN_CLICKED)
        return false;
    switch (id) {
    case IDC_UPDATE_ACTION: OnActionButton(); return true;
    default: return false;
    }
}

// Escape and the system menu's Close: ignored while a download runs, so that the worker never
// outlives the request it writes into.
bool UpdateDialog::OnCancel()
{
    if (worker_ != nullptr)
        return true;
    End(IDCANCEL);
    return true;
}

// Minimised, only the icon's background is painted.
bool UpdateDialog::OnPaint()
{
    if (!::IsIconic(hwnd_))
        return false;
    PAINTSTRUCT paint;
    HDC dc = ::BeginPaint(hwnd_, &paint);
    Send(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc));
    ::EndPaint(hwnd_, &paint);
    return true;
}

// A stopped download that has sent no report since the stop request: aborted through its binding.
bool UpdateDialog::OnTimer(UINT_PTR id)
{
    if (id != kAbortTimer)
        return false;
    ::KillTimer(hwnd_, kAbortTimer);
    if (worker_ != nullptr)
        binding_.Abort();
    return true;
}

void UpdateDialog::OnDestroy()
{
    ::KillTimer(hwnd_, kAbortTimer);
}

void UpdateDialog::OnActionButton()
{
    if (actionButton.GetText() != texts::kStopCaption) {
        StartDownload(versionUrl_);
        return;
    }
    ReturnToIdle();
}

void UpdateDialog::StartDownload(const std::string& url)
{
    if (worker_ != nullptr) {
        ReturnToIdle();
        return;
    }

    std::wstring wideUrl = fw::Widen(url);
    if (::IsValidURL(nullptr, wideUrl.c_str(), 0) != S_OK || !UpdateLocation::IsWellFormedUrl(url)) {
        fw::ShowMessage(hwnd_, texts::kNoConnection, MB_OK | MB_ICONHAND);
        ReturnToIdle();
        return;
    }

    stopRequested_ = false;
    downloadRequest_.window = hwnd_;
    ::ResetEvent(stopEvent_);
    downloadRequest_.stopEvent = stopEvent_;
    downloadRequest_.url = url;
    downloadRequest_.fileName[0] = '\0';
    binding_.Clear();
    downloadRequest_.binding = &binding_;

    worker_ = fw::Thread::Begin(&DownloadThreadProc, &downloadRequest_, THREAD_PRIORITY_NORMAL, 0, true);
    if (worker_ == nullptr) {
        fw::ShowMessage(hwnd_, texts::kWorkerFailed, MB_OK | MB_ICONHAND);
        ReturnToIdle();
        return;
    }
    SetIdle(false);
    worker_->Resume();
}

LRESULT UpdateDialog::OnDownloadProgress(LPARAM lParam)
{
    std::string line;
    if (lParam != 0) {
        const ProgressRecord& record = *reinterpret_cast<const ProgressRecord*>(lParam);
        DWORD code = record.statusCode >= 1 && record.statusCode <= 25 ? record.statusCode : 25;
        line = LoadText(IDS_STATUS_BASE + code) + "  " + fw::Narrow(record.statusText);

        // The range's upper bound travels in 16 bits: very large downloads are cut.
        WORD upper = static_cast<WORD>(record.maximum / kProgressUnit);
        progressBar.Send(PBM_SETRANGE, 0, MAKELPARAM(0, upper));
        progressBar.Send(PBM_SETPOS, static_cast<WPARAM>(record.progress / kProgressUnit));

        char count[64] = {};
        std::snprintf(count, sizeof count, LoadText(IDS_PROGRESS_COUNT).c_str(),
            static_cast<unsigned long>(record.progress), static_cast<unsigned long>(record.maximum));
        line += count;
        line += "\r\n";
    } else {
        line = LoadText(IDS_CANCELED) + "\r\n";
    }
    AppendLog(line);
    return 0;
}

void UpdateDialog::OnDownloadFinished()
{
    if (worker_ == nullptr)
        return;
    ::KillTimer(hwnd_, kAbortTimer);
    // The worker posts its message just before it ends; it sends nothing more by then, so this
    // wait cannot block on the dialog.
    worker_->Wait(INFINITE);
    worker_.reset();

    // A download ended by "Stop" counts as failed even when the service finished it regardless.
    std::string downloaded = stopRequested_ ? std::string() : std::string(downloadRequest_.fileName);
    std::string program;
    program.swap(downloadedProgram_);
    if (downloadRequest_.url == signatureUrl_ && !stopRequested_) {
        // No signature to be had (none published: 404) leaves the program unsigned.
        InstallProgram(program, downloaded);
        return;
    }
    if (!program.empty())
        ::DeleteFileA(program.c_str());
    if (downloaded.empty()) {
        fw::ShowMessage(hwnd_, LoadText(IDS_DOWNLOAD_FAILED), MB_OK);
        ReturnToIdle();
        return;
    }

    if (downloadRequest_.url == programUrl_) {
        // Kept until its signature has come and been checked.
        downloadedProgram_ = downloaded;
        StartDownload(signatureUrl_);
        if (worker_ == nullptr) {
            ::DeleteFileA(downloadedProgram_.c_str());
            downloadedProgram_.clear();
        }
        return;
    }

    // The version file stays where the download put it.
    std::string latest = VersionFile::ReadVersionText(downloaded);
    latestVersion_ = latest;
    latestLabel.SetText(texts::kLatestPrefix + latest);
    std::string installed = ReadSetting("Version");
    installedLabel.SetText(texts::kInstalledPrefix + installed);
    // Any difference counts as a new version, an older or a differently written one too.
    if (latest != installed) {
        fw::ShowMessage(hwnd_, texts::kNewVersion, MB_OK);
        StartDownload(programUrl_);
    } else {
        fw::ShowMessage(hwnd_, texts::kLatestVersion, MB_OK | MB_ICONHAND);
        ReturnToIdle();
    }
}

void UpdateDialog::InstallProgram(const std::string& downloaded, const std::string& signature)
{
    // Only a program signed with the trusted key for the version just read, and not older than the
    // installed one, is ever installed, whoever served it (the real server, a hostile one, or one an
    // "Update Location" names). Each check reads the copy that then takes the program's place.
    SignedUpdate update {downloaded, signature, latestVersion_};
    std::string installed = ReadSetting("Version");
    std::string target = ReadSetting("FilePath");
    ProgramReplacer::Result result = ProgramReplacer::Replace(update, installed, target);
    // The installation in a folder of administrators: the elevated copy replaces only the program
    // beside it, so it is asked for only when that is the program Kestrova last ran as.
    if (result == ProgramReplacer::Result::FolderNotWritable &&
        ElevatedReplacement::SamePath(target, ElevatedReplacement::TargetOf(updater_)))
        result = ElevatedReplacement::Request(hwnd_, updater_, update, installed);
    std::string message = ReplacementMessage(result, target, latestVersion_, installed);
    ::DeleteFileA(downloaded.c_str());
    if (!signature.empty())
        ::DeleteFileA(signature.c_str());
    progressBar.SetPosition(0);
    percentLabel.SetText(texts::kNoPercent);
    fw::ShowMessage(hwnd_, message, MB_OK | MB_ICONHAND);
    SetIdle(true);
}

void UpdateDialog::SetIdle(bool idle)
{
    HMENU systemMenu = ::GetSystemMenu(hwnd_, FALSE);
    if (idle) {
        actionButton.SetText(texts::kUpdateCaption);
        ::EnableMenuItem(systemMenu, SC_CLOSE, MF_BYCOMMAND | MF_ENABLED);
        statusLog.SetText("");
    } else {
        actionButton.SetText(texts::kStopCaption);
        ::EnableMenuItem(systemMenu, SC_CLOSE, MF_BYCOMMAND | MF_GRAYED);
    }
}

void UpdateDialog::ReturnToIdle()
{
    // Pressed again while a stopped download winds down: the first request stands, and the log
    // keeps the "Canceled." line that the download may have added since.
    if (worker_ != nullptr && stopRequested_)
        return;
    ::SetEvent(stopEvent_);
    if (worker_ != nullptr) {
        stopRequested_ = true;
        ::SetTimer(hwnd_, kAbortTimer, kAbortDelayMs, nullptr);
    }
    SetIdle(true);
    progressBar.SetPosition(0);
    percentLabel.SetText(texts::kNoPercent);
}

void UpdateDialog::AppendLog(const std::string& line)
{
    int length = ::GetWindowTextLengthA(statusLog);
    statusLog.Send(EM_SETSEL, static_cast<WPARAM>(length), static_cast<LPARAM>(length));
    statusLog.Send(EM_SCROLLCARET);
    statusLog.Send(EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(line.c_str()));
}

std::string UpdateDialog::LoadText(UINT id) const
{
    char text[512] = {};
    int length = ::LoadStringA(fw::Application::Instance()->HInstance(), id, text, sizeof text);
    return std::string(text, length > 0 ? static_cast<size_t>(length) : 0);
}

}  // namespace updater
