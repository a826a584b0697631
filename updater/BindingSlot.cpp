#include "updater/BindingSlot.h"

namespace updater {

BindingSlot::~BindingSlot()
{
    Clear();
}

void BindingSlot::Set(IBinding* binding)
{
    if (binding != nullptr)
        binding->AddRef();
    IBinding* old;
    {
        fw::Lock::Held held(lock_);
        old = binding_;
        binding_ = binding;
    }
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
    IBinding* binding;
    {
        fw::Lock::Held held(lock_);
        binding = binding_;
        if (binding != nullptr)
            binding->AddRef();
    }
    if (binding == nullptr)
        return false;
    binding->Abort();
    binding->Release();
    return true;
}

bool BindingSlot::IsSet()
{
    fw::Lock::Held held(lock_);
    return binding_ != nullptr;
}

}  // namespace updater
