#pragma once
#include <windows.h>

#include <string>

namespace updater {

class BindingSlot;

// Everything one download worker needs, handed to it by address. The dialog writes it only while
// no worker runs (or before the new one is resumed) and reads the file name only after the worker
// has finished.
struct DownloadRequest {
    HWND window = nullptr;       // the dialog, receiver of both messages
    HANDLE stopEvent = nullptr;  // copy of the dialog's auto-reset stop event
    std::string url;             // the address being downloaded; tells which download ended
    // The downloaded local file; empty after a failure or a stop. Room for a cache path under a
    // profile folder whose name takes several bytes a character.
    char fileName[4 * MAX_PATH] = {};
    // Where the worker keeps the running binding, so that a stop can also end a download that
    // has stopped reporting progress (may be null).
    BindingSlot* binding = nullptr;
};

}  // namespace updater
