#pragma once
// Threads, locks and signals of the library itself, of Win32 objects: threads that it joins and
// closes again, slim locks and condition variables that hold nothing to close. The C++
// runtime's own (std::thread, std::mutex) would go through its POSIX thread layer, which takes a
// thread-local-storage slot, events and heap blocks that it never gives back: loaded afresh for
// every archive, the library would run the process out of slots after about a thousand archives.
#include <windows.h>

#include "unzip32/core/WorkerThreads.h"

#include <vector>

namespace unzip {

// A slim reader/writer lock taken exclusively: nothing to make or close, and not recursive (a
// thread that holds it must not take it again).
class Win32Lock {
public:
    Win32Lock() = default;
    Win32Lock(const Win32Lock&) = delete;
    Win32Lock& operator=(const Win32Lock&) = delete;
    void Lock() { ::AcquireSRWLockExclusive(&lock_); }
    void Unlock() { ::ReleaseSRWLockExclusive(&lock_); }
    // With the lock held: gives it up until `signal` is woken (or unasked), then takes it again.
    void Wait(CONDITION_VARIABLE& signal) { ::SleepConditionVariableSRW(&signal, &lock_, INFINITE, 0); }

private:
    SRWLOCK lock_ = SRWLOCK_INIT;
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

// One run's decoding threads, joined and closed when the run ends. Its signals are condition
// variables: a raise wakes threads that wait at that moment only, so none that starts to wait
// later can take their wake.
class Win32WorkerThreads : public WorkerThreads {
public:
    Win32WorkerThreads() = default;
    ~Win32WorkerThreads() override { JoinAll(); }
    Win32WorkerThreads(const Win32WorkerThreads&) = delete;
    Win32WorkerThreads& operator=(const Win32WorkerThreads&) = delete;

    bool Start(void (*run)(void*), void* context) override;
    void JoinAll() override;
    void Lock() override { lock_.Lock(); }
    void Unlock() override { lock_.Unlock(); }
    void Wait(Signal signal) override { lock_.Wait(signals_[signal]); }
    void Raise(Signal signal, bool all) override;

private:
    Win32Lock lock_;
    CONDITION_VARIABLE signals_[kSignals] = {};
    std::vector<HANDLE> threads_;
};

}  // namespace unzip
