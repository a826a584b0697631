#pragma once
#include "framework/Lock.h"

#include <windows.h>

#include <urlmon.h>

namespace updater {

// Holds the binding of the running download for the user-interface thread. A server that accepts
// the connection and then sends nothing produces no progress reports, so the stop event is never
// looked at; aborting the binding ends such a download at once.
class BindingSlot {
public:
    BindingSlot() = default;
    BindingSlot(const BindingSlot&) = delete;
    BindingSlot& operator=(const BindingSlot&) = delete;
    ~BindingSlot();

    // Keeps a reference to `binding` (replacing any earlier one).
    void Set(IBinding* binding);
    // Drops the reference; called when the binding ends.
    void Clear();
    // Aborts the binding held; false when there is none.
    bool Abort();
    bool IsSet();

private:
    fw::Lock lock_;
    IBinding* binding_ = nullptr;
};

}  // namespace updater
