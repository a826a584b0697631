#pragma once
#include <windows.h>

#include <string>

namespace app {

// The shell's folder browser: shows the tree below `root` (the whole namespace when empty) with
// `title` above it ("Open" when empty), modal to `owner` when one is given, and hands back the
// chosen folder's file-system path.
class FolderPicker {
public:
    FolderPicker() = default;
    virtual ~FolderPicker() = default;

    // Runs the browser; the chosen path (also left in `result`), or empty text when the user
    // cancelled or the choice has no file-system path.
    std::string Browse();
    // Ends the browser that is up (or about to come up) as its Cancel button does.
    void Cancel();

    HWND owner = nullptr;
    std::string root;
    std::string title;
    std::string result;

private:
    static int CALLBACK OnBrowserEvent(HWND browser, UINT event, LPARAM, LPARAM self);

    HWND browser_ = nullptr;
    bool cancelled_ = false;
};

}  // namespace app
