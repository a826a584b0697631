#pragma once
#include "framework/Control.h"

namespace fw {

// Push button, check box or radio button.
class Button : public Control {
public:
    // Shows a bitmap on a bitmap button; the caller keeps the bitmap.
    bool SetBitmap(HBITMAP bitmap) const
    {
        Send(BM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(bitmap));
        return true;
    }
    HBITMAP GetBitmap() const { return reinterpret_cast<HBITMAP>(Send(BM_GETIMAGE, IMAGE_BITMAP)); }
    bool IsChecked() const { return Send(BM_GETCHECK) == BST_CHECKED; }
    bool SetCheck(bool checked) const
    {
        Send(BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED);
        return true;
    }
    bool Click() const
    {
        Send(BM_CLICK);
        return true;
    }
};

}  // namespace fw
