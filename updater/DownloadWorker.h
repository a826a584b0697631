#pragma once
#include <windows.h>

#include <string>

namespace updater {

// The download worker's procedure; `parameter` is the dialog's DownloadRequest. Downloads the
// request's URL into the platform's download cache, reporting progress to the request's window,
// sets the request's file name (empty after a failure, an HTTP error status, a body shorter than
// announced or a stop), posts UM_DOWNLOAD_FINISHED and returns 0.
DWORD DownloadThreadProc(void* parameter);

// True when the downloaded file exists and holds at least as many bytes as the server announced
// (any file counts as whole when no size was announced, 0).
bool IsWholeDownload(const std::string& path, ULONG announcedSize);

}  // namespace updater
