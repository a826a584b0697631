#include "updater/BindingSlot.h"

namespace updater {

BindingSlot::BindingSlot()
{
    ::InitializeCriticalSection(&lock_);
}

BindingSlot::~BindingSlot()
{
    Clear();
    ::DeleteCriticalSection(&lock_);
}

void BindingSlot::Set(IBinding* binding)
{
    if (binding != nullptr)
        binding->AddRef();
    ::EnterCriticalSection(&lock_);
    IBinding* old = binding_;
    binding_ = binding;
    ::LeaveCriticalSection(&lock_);
    if (old != nullptr)
        old->Release();
}

void BindingSlot::Clear()
{
    Set(nullptr);
}

// The call is made outside the lock: aborting may report the end of the binding, which clears
// this slot from inside Abort.
bool BindingSlot::Abort()
{
    ::EnterCriticalSection(&lock_);
    IBinding* binding = binding_;
    if (binding != nullptr)
        binding->AddRef();
    ::LeaveCriticalSection(&lock_);
    if (binding == nullptr)
        return false;
    binding->Abort();
    binding->Release();
    return true;
}

bool BindingSlot::IsSet()
{
    ::EnterCriticalSection(&lock_);
    bool set = binding_ != nullptr;
    ::LeaveCriticalSection(&lock_);
    return set;
}

}  // namespace updater
