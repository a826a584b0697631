#include "framework/Thread.h"

namespace fw {

std::unique_ptr<Thread> Thread::Begin(
    ThreadProc proc, void* parameter, int priority, unsigned stackSize, bool suspended)
{
    std::unique_ptr<Thread> thread(new Thread(proc, parameter));
    // Always created suspended: the object holds its handle and id before the procedure runs.
    thread->handle_ = ::CreateThread(nullptr, stackSize, &Thread::Start, thread.get(), CREATE_SUSPENDED, &thread->id_);
    if (thread->handle_ == nullptr)
        return nullptr;
    ::SetThreadPriority(thread->handle_, priority);
    if (!suspended)
        thread->Resume();
    return thread;
}

Thread::~Thread()
{
    if (handle_ != nullptr)
        ::CloseHandle(handle_);
}

DWORD WINAPI Thread::Start(void* self)
{
    Thread* thread = static_cast<Thread*>(self);
    DWORD result = 0;
    // No exception may leave a thread procedure: it would end the process.
    try {
        result = thread->proc_(thread->parameter_);
    } catch (...) {
        result = static_cast<DWORD>(-1);
    }
    return result;
}

}  // namespace fw
