#pragma once
#include <windows.h>

#include <objbase.h>
#include <shlobj.h>

namespace fw {

// Owns one platform resource and gives it back when it goes out of scope, whatever the exit.
// Move-only. `Put` hands out the address for an API's out parameter, releasing what was held.
template <typename T, typename Closer> class Owned {
public:
    Owned() = default;
    explicit Owned(T value) : value_(value) { }
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
    Owned(Owned&& other) noexcept : value_(other.Detach()) { }
    Owned& operator=(Owned&& other) noexcept
    {
        if (this != &other)
            Reset(other.Detach());
        return *this;
    }
    ~Owned() { Reset(); }

    T Get() const { return value_; }
    operator T() const { return value_; }
    T operator->() const { return value_; }
    // False for null (and, for kernel handles, INVALID_HANDLE_VALUE).
    explicit operator bool() const { return Closer::IsSet(value_); }
    T* Put()
    {
        Reset();
        return &value_;
    }
    T Detach()
    {
        T value = value_;
        value_ = T();
        return value;
    }
    void Reset(T value = T())
    {
        if (Closer::IsSet(value_))
            Closer::Close(value_);
        value_ = value;
    }

private:
    T value_ = T();
};

struct HandleCloser {
    static bool IsSet(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void Close(HANDLE h) { ::CloseHandle(h); }
};
struct KeyCloser {
    static bool IsSet(HKEY key) { return key != nullptr; }
    static void Close(HKEY key) { ::RegCloseKey(key); }
};
struct ModuleCloser {
    static bool IsSet(HMODULE module) { return module != nullptr; }
    static void Close(HMODULE module) { ::FreeLibrary(module); }
};
// Item lists and other memory the shell hands out come from the task allocator.
struct TaskMemoryCloser {
    static bool IsSet(void* block) { return block != nullptr; }
    static void Close(void* block) { ::CoTaskMemFree(block); }
};
// Bitmaps and other GDI objects; a control that shows one (BM_SETIMAGE) does not own it, so the
// owner must outlive the control.
struct GdiObjectCloser {
    static bool IsSet(HGDIOBJ object) { return object != nullptr; }
    static void Close(HGDIOBJ object) { ::DeleteObject(object); }
};
// Icons loaded without LR_SHARED (shared ones belong to the system and are never destroyed).
struct IconCloser {
    static bool IsSet(HICON icon) { return icon != nullptr; }
    static void Close(HICON icon) { ::DestroyIcon(icon); }
};
template <typename I> struct ComCloser {
    static bool IsSet(I* object) { return object != nullptr; }
    static void Close(I* object) { object->Release(); }
};

using OwnedHandle = Owned<HANDLE, HandleCloser>;
using OwnedKey = Owned<HKEY, KeyCloser>;
using OwnedModule = Owned<HMODULE, ModuleCloser>;
using OwnedItemList = Owned<LPITEMIDLIST, TaskMemoryCloser>;
using OwnedBitmap = Owned<HBITMAP, GdiObjectCloser>;
using OwnedIcon = Owned<HICON, IconCloser>;
template <typename I> using ComPtr = Owned<I*, ComCloser<I>>;

}  // namespace fw
