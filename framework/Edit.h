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
};

}  // namespace fw
