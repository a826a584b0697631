#pragma once
// Worker threads from the standard library, for the builds that never unload the core.
#include "unzip32/core/WorkerThreads.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace unzip {

class StdWorkerThreads : public WorkerThreads {
public:
    ~StdWorkerThreads() override { JoinAll(); }

    bool Start(void (*run)(void*), void* context) override
    {
        try {
            threads_.emplace_back(run, context);
            return true;
        } catch (...) {  // no thread, or no room to keep one
            return false;
        }
    }
    void JoinAll() override
    {
        for (std::thread& thread : threads_)
            thread.join();
        threads_.clear();
    }
    void Lock() override { mutex_.lock(); }
    void Unlock() override { mutex_.unlock(); }
    void Wait(Signal signal) override
    {
        std::unique_lock<std::mutex> lock(mutex_, std::adopt_lock);
        signals_[signal].wait(lock);
        lock.release();
    }
    void Raise(Signal signal, bool all) override
    {
        if (all)
            signals_[signal].notify_all();
        else
            signals_[signal].notify_one();
    }

private:
    std::vector<std::thread> threads_;
    std::mutex mutex_;
    std::condition_variable signals_[kSignals];
};

// A steady clock from the standard library, for ExtractOptions::milliseconds.
inline uint64_t SteadyMilliseconds()
{
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count());
}

}  // namespace unzip
