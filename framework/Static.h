#pragma once
#include "framework/Control.h"

namespace fw {

// Static text or picture; text through Window::SetText/GetText.
class Static : public Control {
public:
    HBITMAP SetBitmap(HBITMAP bitmap) const
    {
        return reinterpret_cast<HBITMAP>(Send(STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(bitmap)));
    }
};

}  // namespace fw
