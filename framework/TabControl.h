#pragma once
#include "framework/Control.h"

#include <string>

namespace fw {

// Tab control. Indexes are tab numbers; -1 is "none".
class TabControl : public Control {
public:
    // Inserts a text-only tab; returns its index or -1.
    int InsertItem(int index, const std::string& text) const
    {
        TCITEMA item {};
        item.mask = TCIF_TEXT;
        item.pszText = const_cast<char*>(text.c_str());
        return static_cast<int>(Send(TCM_INSERTITEMA, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item)));
    }
    int GetItemCount() const { return static_cast<int>(Send(TCM_GETITEMCOUNT)); }
    // The selected tab, or -1 when none is.
    int GetCurSel() const { return static_cast<int>(Send(TCM_GETCURSEL)); }
    // Selects a tab without notifying the parent; answers the previous selection or -1.
    int SetCurSel(int index) const { return static_cast<int>(Send(TCM_SETCURSEL, static_cast<WPARAM>(index))); }
};

}  // namespace fw
