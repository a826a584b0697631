#include "unzip32/dll/Win32Threads.h"

#include <process.h>

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

bool Win32WorkerThreads::Start(void (*run)(void*), void* context)
{
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

void Win32WorkerThreads::Raise(Signal signal, bool all)
{
    if (all)
        ::WakeAllConditionVariable(&signals_[signal]);
    else
        ::WakeConditionVariable(&signals_[signal]);
}

}  // namespace unzip
