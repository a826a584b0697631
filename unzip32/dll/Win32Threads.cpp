#include "unzip32/dll/Win32Threads.h"

#include <process.h>

#include <climits>
#include <new>

namespace unzip {

namespace {

struct ThreadStart {
    void (*run)(void*);
    void* context;
};

unsigned __stdcall RunThread(void* start)
{
    const ThreadStart job = *static_cast<ThreadStart*>(start);
    delete static_cast<ThreadStart*>(start);
    job.run(job.context);
    return 0;
}

}  // namespace

Win32WorkerThreads::~Win32WorkerThreads()
{
    JoinAll();
    for (Waiters& signal : signals_)
        if (signal.semaphore != nullptr)
            ::CloseHandle(signal.semaphore);
}

bool Win32WorkerThreads::Start(void (*run)(void*), void* context)
{
    // The semaphores come with the first thread: most runs never start one.
    for (Waiters& signal : signals_) {
        if (signal.semaphore == nullptr)
            signal.semaphore = ::CreateSemaphoreA(nullptr, 0, LONG_MAX, nullptr);
        if (signal.semaphore == nullptr)
            return false;
    }
    try {
        threads_.reserve(threads_.size() + 1);
    } catch (const std::bad_alloc&) {
        return false;
    }
    auto* start = new (std::nothrow) ThreadStart {run, context};
    if (start == nullptr)
        return false;
    const uintptr_t thread = ::_beginthreadex(nullptr, 0, &RunThread, start, 0, nullptr);
    if (thread == 0) {
        delete start;
        return false;
    }
    threads_.push_back(reinterpret_cast<HANDLE>(thread));
    return true;
}

void Win32WorkerThreads::JoinAll()
{
    for (HANDLE thread : threads_) {
        ::WaitForSingleObject(thread, INFINITE);
        ::CloseHandle(thread);
    }
    threads_.clear();
}

void Win32WorkerThreads::Wait(Signal signal)
{
    Waiters& waiters = signals_[signal];
    ++waiters.waiting;
    lock_.Unlock();
    ::WaitForSingleObject(waiters.semaphore, INFINITE);
    lock_.Lock();
}

void Win32WorkerThreads::Raise(Signal signal, bool all)
{
    Waiters& waiters = signals_[signal];
    const LONG woken = all ? waiters.waiting : (waiters.waiting > 0 ? 1 : 0);
    if (woken > 0) {
        waiters.waiting -= woken;
        ::ReleaseSemaphore(waiters.semaphore, woken, nullptr);
    }
}

}  // namespace unzip
