#pragma once
#include <windows.h>

namespace fw {

// A lock for data that a worker thread and the window's thread share. Held is its scoped guard:
//     fw::Lock::Held held(lock_);
// The lock is recursive (a critical section), which no caller relies on.
class Lock {
public:
    Lock() { ::InitializeCriticalSection(&section_); }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;
    ~Lock() { ::DeleteCriticalSection(&section_); }

    class Held {
    public:
        explicit Held(Lock& lock) : lock_(lock) { ::EnterCriticalSection(&lock_.section_); }
        Held(const Held&) = delete;
        Held& operator=(const Held&) = delete;
        ~Held() { ::LeaveCriticalSection(&lock_.section_); }

    private:
        Lock& lock_;
    };

private:
    CRITICAL_SECTION section_;
};

}  // namespace fw
