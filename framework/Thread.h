#pragma once
#include <windows.h>

#include <memory>

namespace fw {

// A worker thread object. The thread runs `ThreadProc(parameter)`; its owner deletes the object
// after the thread has ended. The object owns the thread handle and closes it when deleted.
class Thread {
public:
    using ThreadProc = DWORD (*)(void* parameter);

    // Creates a thread; priority as for SetThreadPriority, a stack size of 0 takes the default.
    // Returns null when no thread could be made. With `suspended` the thread waits for Resume, so
    // that the owner can finish what the procedure uses first (and knows the thread's id).
    static std::unique_ptr<Thread> Begin(ThreadProc proc, void* parameter, int priority = THREAD_PRIORITY_NORMAL,
        unsigned stackSize = 0, bool suspended = false);

    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;
    ~Thread();

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
};

}  // namespace fw
