#pragma once
#include "framework/Control.h"

#include <string>

namespace fw {

// Extended combo box (text and image per entry). Indexes are entry numbers; CB_ERR (-1) is "none".
class ComboBoxEx : public Control {
public:
    // Inserts an entry (-1: at the end); returns its index or -1.
    int InsertItem(int index, const std::string& text, int image, int selectedImage) const;
    std::string GetItemText(int index) const;
    int GetCount() const { return static_cast<int>(Send(CB_GETCOUNT)); }
    // Selects the entry; -1 clears the selection. Returns false when the index does not exist.
    bool SetCurSel(int index) const { return Send(CB_SETCURSEL, static_cast<WPARAM>(index)) != CB_ERR || index == -1; }
    int GetCurSel() const { return static_cast<int>(Send(CB_GETCURSEL)); }
    // Gives the box an image list; the caller keeps ownership.
    HIMAGELIST SetImageList(HIMAGELIST list) const
    {
        return reinterpret_cast<HIMAGELIST>(Send(CBEM_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(list)));
    }
};

}  // namespace fw
