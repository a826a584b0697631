#include "app/RowBatch.h"

#include "app/DragListView.h"
#include "engine/PathInfo.h"

namespace app {

RowBatch::RowBatch(DragListView& list, engine::FileIconCache* icons) : list(list), icons(icons)
{
    list.BeginBatch();
}

RowBatch::~RowBatch()
{
    list.EndBatch();
}

int RowBatch::IconOf(const std::string& path)
{
    if (icons == nullptr)
        return 0;
    engine::PathInfo info(path);
    // A folder whose name ends like an archive's still shows a folder's icon.
    const std::string kind = info.IsFolder() ? std::string("\\") : info.Extension();
    auto known = iconOfKind.find(kind);
    if (known == iconOfKind.end())
        known = iconOfKind.emplace(kind, icons->GetSystemIconIndex(path)).first;
    return known->second;
}

}  // namespace app
