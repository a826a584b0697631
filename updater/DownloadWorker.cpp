#include "updater/DownloadWorker.h"

#include "updater/BindingSlot.h"
#include "updater/DownloadRequest.h"
#include "updater/DownloadStatusCallback.h"
#include "updater/ProgressRecord.h"

#include <urlmon.h>

namespace updater {

bool IsWholeDownload(const std::string& path, ULONG announcedSize)
{
    WIN32_FILE_ATTRIBUTE_DATA data {};
    if (!::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return false;
    // Only a shorter file is cut: a body sent compressed is announced at its compressed size and
    // saved decoded, which is larger.
    return data.nFileSizeHigh != 0 || data.nFileSizeLow >= announcedSize;
}

DWORD DownloadThreadProc(void* parameter)
{
    DownloadRequest& request = *static_cast<DownloadRequest*>(parameter);
    // On the heap: the service may release it after the call has returned (see the class).
    DownloadStatusCallback& callback = *new DownloadStatusCallback(request.window, request.stopEvent, request.binding);

    // The fourth argument is the size of the name buffer the service writes the cache file's name
    // into; anything shorter than a full path makes every download fail (E_OUTOFMEMORY). Asking
    // for the newest copy rather than a cached one is done in the callback's GetBindInfo.
    char fileName[sizeof request.fileName] = {};
    HRESULT result = ::URLDownloadToCacheFileA(nullptr, request.url.c_str(), fileName, sizeof fileName, 0, &callback);
    if (request.binding != nullptr)
        request.binding->Clear();

    // An error page is not the file asked for, and a stopped download is not wanted even when the
    // service ignored the request to end it. A connection that drops in the middle of the body
    // also ends in success, with the part that arrived as the file: installing that would leave a
    // broken program, so its size is held against the announced one.
    bool downloaded = SUCCEEDED(result) && !callback.HttpFailed() && !callback.StopSeen() && fileName[0] != '\0' &&
        IsWholeDownload(fileName, callback.AnnouncedSize());
    callback.Release();
    if (downloaded)
        ::lstrcpynA(request.fileName, fileName, sizeof request.fileName);
    else
        request.fileName[0] = '\0';

    ::PostMessageA(request.window, UM_DOWNLOAD_FINISHED, 0, 0);
    return 0;
}

}  // namespace updater
