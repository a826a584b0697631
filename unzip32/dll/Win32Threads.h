#pragma once
// Threads and locks of the library itself, made of Win32 objects that it closes again. The C++
// runtime's own (std::thread, std::mutex) would go through its POSIX thread layer, which takes a
// thread-local-storage slot, events and heap blocks that it never gives back: loaded afresh for
// every archive, the library would run the process out of slots after about a thousand archives.
#include <windows.h>

#include "unzip32/core/WorkerThreads.h"

#include <vector>

namespace unzip {

class Win32Lock {
public:
    Win32Lock() { ::InitializeCriticalSection(&section_); }
    ~Win32Lock() { ::DeleteCriticalSection(&section_); }
    Win32Lock(const Win32Lock&) = delete;
    Win32Lock& operator=(const Win32Lock&) = delete;
    void Lock() { ::EnterCriticalSection(&section_); }
    void Unlock() { ::LeaveCriticalSection(&section_); }

private:
    CRITICAL_SECTION section_;
};

class Win32LockHeld {
public:
    explicit Win32LockHeld(Win32Lock& lock) : lock_(lock) { lock_.Lock(); }
    ~Win32LockHeld() { lock_.Unlock(); }
    Win32LockHeld(const Win32LockHeld&) = delete;
    Win32LockHeld& operator=(const Win32LockHeld&) = delete;

private:
    Win32Lock& lock_;
};

// One run's decoding threads: joined and closed, with their semaphores, when the run ends.
class Win32WorkerThreads : public WorkerThreads {
public:
    Win32WorkerThreads() = default;
    ~Win32WorkerThreads() override;
    Win32WorkerThreads(const Win32WorkerThreads&) = delete;
    Win32WorkerThreads& operator=(const Win32WorkerThreads&) = delete;

    bool Start(void (*run)(void*), void* context) override;
    void JoinAll() override;
    void Lock() override { lock_.Lock(); }
    void Unlock() override { lock_.Unlock(); }
    void Wait(Signal signal) override;
    void Raise(Signal signal, bool all) override;

private:
    // A signal is a semaphore with the count of its waiters, both guarded by the lock: raising
    // it releases as many waits as it wakes, so a wake that comes before the wait is not lost.
    struct Waiters {
        HANDLE semaphore = nullptr;
        LONG waiting = 0;
    };

    Win32Lock lock_;
    Waiters signals_[kSignals];
    std::vector<HANDLE> threads_;
};

}  // namespace unzip
