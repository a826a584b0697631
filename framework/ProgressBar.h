#pragma once
#include "framework/Control.h"

namespace fw {

// Progress bar; positions are within the range set last.
class ProgressBar : public Control {
public:
    bool SetRange(int low, int high) const
    {
        Send(PBM_SETRANGE32, static_cast<WPARAM>(low), static_cast<LPARAM>(high));
        return true;
    }
    // Returns the previous position.
    int SetPosition(int position) const { return static_cast<int>(Send(PBM_SETPOS, static_cast<WPARAM>(position))); }
    int GetPosition() const { return static_cast<int>(Send(PBM_GETPOS)); }
    int SetStep(int step) const { return static_cast<int>(Send(PBM_SETSTEP, static_cast<WPARAM>(step))); }
    // Advances by the step; returns the previous position.
    int StepIt() const { return static_cast<int>(Send(PBM_STEPIT)); }
};

}  // namespace fw
