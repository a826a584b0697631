#pragma once
#include <windows.h>

namespace updater {

// The two messages between a download worker and the dialog.
// Sent for every progress report; lParam is a ProgressRecord, or 0 when a stop request was seen.
const UINT UM_DOWNLOAD_PROGRESS = WM_USER + 2;
// Posted once the download call has returned; wParam and lParam are 0.
const UINT UM_DOWNLOAD_FINISHED = WM_USER + 1;

// One progress report, built on the worker's stack: valid only while UM_DOWNLOAD_PROGRESS is
// being handled.
struct ProgressRecord {
    DWORD progress;             // bytes (or units) done so far, as the service reports them
    DWORD maximum;              // total expected, as the service reports it (0 when not known)
    DWORD statusCode;           // the service's status code 1 to 24; any other is stored as 25
    const wchar_t* statusText;  // the service's status text (the URL, the cache file name, ...)
};

}  // namespace updater
