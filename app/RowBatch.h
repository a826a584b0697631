#pragma once
#include "engine/FileIconCache.h"

#include <windows.h>

#include <map>
#include <string>

namespace app {

// One bulk change of a list view: the rows a search or a drop adds, or those a removal takes away.
// The list is not painted until the batch ends, and paths of one kind (archives by extension,
// folders) ask the shell for their icon only once. Under Wine every insertion into a painted list
// scrolls and repaints it, and every icon query costs milliseconds: thousands of rows took minutes.
class RowBatch {
public:
    explicit RowBatch(HWND list, engine::FileIconCache* icons = nullptr);
    RowBatch(const RowBatch&) = delete;
    RowBatch& operator=(const RowBatch&) = delete;
    // Painting resumes, and the list is painted once.
    ~RowBatch();

    // The icon index the batch's cache reports for the path, asked once per kind of path.
    int IconOf(const std::string& path);

private:
    HWND list;
    engine::FileIconCache* icons;
    std::map<std::string, int> iconOfKind;
};

}  // namespace app
