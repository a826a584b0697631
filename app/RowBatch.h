#pragma once
#include "framework/FileIconCache.h"

#include <map>
#include <string>

namespace app {

class DragListView;

// One bulk change of a list: the rows a search or a drop adds, or those a removal takes away. The
// list is not painted until the batch ends, rows added to it go in together at the end
// (DragListView::BeginBatch), and paths of one kind (archives by extension, folders) ask the shell
// for their icon only once. Under Wine every row inserted into a painted list scrolled and
// repainted it, and every icon query costs milliseconds: thousands of rows took minutes.
class RowBatch {
public:
    explicit RowBatch(DragListView& list, fw::FileIconCache* icons = nullptr);
    RowBatch(const RowBatch&) = delete;
    RowBatch& operator=(const RowBatch&) = delete;
    // The held rows go in, painting resumes, and the list is painted once.
    ~RowBatch();

    // The icon index the batch's cache reports for the path, asked once per kind of path.
    int IconOf(const std::string& path);

private:
    DragListView& list_;
    fw::FileIconCache* icons_;
    std::map<std::string, int> iconOfKind_;
};

}  // namespace app
