#pragma once
#include <windows.h>

#include <atomic>

namespace fw {

// A worker thread object. The thread runs `ThreadProc(parameter)`; with automatic deletion on
// (the default) the object deletes itself when the procedure returns, otherwise its owner deletes
// it after the thread has ended. The object owns the thread handle and closes it when deleted.
class Thread {
public:
    using ThreadProc = DWORD (*)(void* parameter);

    // Creates a thread; priority as for SetThreadPriority, a stack size of 0 takes the default.
    // Returns null when no thread could be made. With `suspended` the thread waits for Resume, so
    // that the owner can still turn automatic deletion off.
    static Thread* Begin(ThreadProc proc, void* parameter, int priority = THREAD_PRIORITY_NORMAL,
        unsigned stackSize = 0, bool suspended = false);

    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;
    ~Thread();

    void SetAutoDelete(bool autoDelete) { autoDelete_ = autoDelete; }
    bool AutoDelete() const { return autoDelete_; }
    // Lets a suspended thread run; false when it was not suspended.
    bool Resume() const { return ::ResumeThread(handle_) != static_cast<DWORD>(-1); }
    // Waits for the thread to end; true when it did within `timeoutMs`.
    bool Wait(DWORD timeoutMs = INFINITE) const { return ::WaitForSingleObject(handle_, timeoutMs) == WAIT_OBJECT_0; }

    HANDLE Handle() const { return handle_; }
    DWORD Id() const { return id_; }

private:
    Thread(ThreadProc proc, void* parameter) : proc_(proc), parameter_(parameter) { }
    static DWORD WINAPI Start(void* self);

    ThreadProc proc_;
    void* parameter_;
    HANDLE handle_ = nullptr;
    DWORD id_ = 0;
    std::atomic<bool> autoDelete_ {true};
};

}  // namespace fw
