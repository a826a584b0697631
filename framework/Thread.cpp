#include "framework/Thread.h"

namespace fw {

Thread* Thread::Begin(ThreadProc proc, void* parameter, int priority, unsigned stackSize, bool suspended)
{
    Thread* thread = new Thread(proc, parameter);
    // Always created suspended: the object must hold its handle before the procedure can run
    // (and, with automatic deletion, delete the object).
    thread->handle_ = ::CreateThread(nullptr, stackSize, &Thread::Start, thread, CREATE_SUSPENDED, &thread->id_);
    if (thread->handle_ == nullptr) {
        delete thread;
        return nullptr;
    }
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
    if (thread->autoDelete_)
        delete thread;
    return result;
}

}  // namespace fw
