#include "app/RowBatch.h"

#include "app/DragListView.h"
#include "framework/PathInfo.h"

namespace app {

RowBatch::RowBatch(DragListView& list, fw::FileIconCache* icons) : list_(list), icons_(icons)
{
    list_.BeginBatch();
}

RowBatch::~RowBatch()
{
    list_.EndBatch();
}

int RowBatch::IconOf(const std::string& path)
{
    if (icons_ == nullptr)
        return 0;
    fw::PathInfo info(path);
    // A folder whose name ends like an archive's still shows a folder's icon.
    const std::string kind = info.IsFolder() ? std::string("\\") : info.Extension();
    auto known = iconOfKind_.find(kind);
    if (known == iconOfKind_.end())
        known = iconOfKind_.emplace(kind, icons_->GetSystemIconIndex(path)).first;
    return known->second;
}

}  // namespace app
