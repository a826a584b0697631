#pragma once
#include <string>

namespace app {

// The shell's folder browser: shows the tree below `root` (the whole namespace when empty) with
// `title` above it ("Open" when empty) and hands back the chosen folder's file-system path.
class FolderPicker {
public:
    FolderPicker() = default;
    virtual ~FolderPicker() = default;

    // Runs the browser; the chosen path (also left in `result`), or empty text when the user
    // cancelled or the choice has no file-system path.
    std::string Browse();

    std::string root;
    std::string title;
    std::string result;
};

}  // namespace app
