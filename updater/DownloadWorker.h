#pragma once
#include <windows.h>

namespace updater {

// The download worker's procedure; `parameter` is the dialog's DownloadRequest. Downloads the
// request's URL into the platform's download cache, reporting progress to the request's window,
// sets the request's file name (empty after a failure, an HTTP error status or a stop), posts
// UM_DOWNLOAD_FINISHED and returns 0.
DWORD DownloadThreadProc(void* parameter);

}  // namespace updater
