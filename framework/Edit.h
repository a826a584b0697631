#pragma once
#include "framework/Control.h"

namespace fw {

// Single-line edit field; text through Window::SetText/GetText.
class Edit : public Control {
public:
    bool SetLimit(int characters) const
    {
        Send(EM_LIMITTEXT, static_cast<WPARAM>(characters));
        return true;
    }
    bool SetSel(int start, int end) const
    {
        Send(EM_SETSEL, static_cast<WPARAM>(start), static_cast<LPARAM>(end));
        return true;
    }
};

}  // namespace fw
