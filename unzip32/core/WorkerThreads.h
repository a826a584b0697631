#pragma once

namespace unzip {

// The threads that decode members beside the calling thread, with the one lock and the two waits
// they share. The extractor takes them from its caller: the library gives Win32 ones, so that
// nothing of a language runtime's thread support is left in the process once it is unloaded;
// tests and tools give the standard library's (StdWorkerThreads.h). One object serves one run.
class WorkerThreads {
public:
    // What a thread waits for: queued work (the workers), finished work or output to write (the
    // caller), written output (a worker whose output the caller writes), and for one member
    // decoded on several threads: queued pieces (its helper threads) and decoded pieces (the
    // thread that decodes the member). A raise for all wakes every thread that waits at that
    // moment, and none that starts to wait later, so threads that wait for different things may
    // share a signal; a raise for one wakes any one of them, for signals whose waiters all do the
    // same.
    enum Signal { WorkQueued = 0, WorkDone = 1, Written = 2, BlockQueued = 3, BlockDone = 4 };
    static const int kSignals = 5;

    virtual ~WorkerThreads() = default;
    // Starts run(context) on a new thread; false when no thread could be started.
    virtual bool Start(void (*run)(void*), void* context) = 0;
    // Waits until every thread started has ended.
    virtual void JoinAll() = 0;
    virtual void Lock() = 0;
    virtual void Unlock() = 0;
    // With the lock held: gives it up until the signal is raised, then takes it again. It may also
    // return unasked, so callers test their condition again.
    virtual void Wait(Signal signal) = 0;
    // With the lock held: wakes one of the threads waiting for the signal, or all of them.
    virtual void Raise(Signal signal, bool all) = 0;
};

}  // namespace unzip
