// The POSIX thread functions that the statically linked C++ runtime calls, made here so that the
// library links no POSIX thread layer at all. libgcc's unwinder and its emulated thread-local
// storage, and libstdc++'s exception support, ask for plain mutexes, once-only initialisation and
// keys with destructors. The layer that would otherwise answer (winpthreads) takes a thread-local-
// storage slot, an event and a thread handle for the first thread that touches it and never gives
// them back; on 32-bit Windows the unwinder touches it at every load. A program that loads and
// frees the library for every archive thus ran out of slots after about a thousand archives and
// was aborted. Everything made here is given back when the library is unloaded.
//
// Only what the runtime asks for exists. When anything needs the POSIX layer's threads or keys
// (std::thread, say), the link fails, as that layer's own definitions of these functions come in
// beside them; tests/unzip32/DllUnloadTest.cpp catches what a link cannot. What this asks of the
// library's own code is written in README.md beside this file, and checked after every link.
#include <windows.h>

#include <pthread.h>

#include <cerrno>

namespace __gnu_cxx {
void __freeres();  // libstdc++: frees its emergency exception memory
}

namespace {

// The runtime asks for one key (its emulated thread-local storage); POSIX allows four rounds of
// destructors that set values again.
const unsigned kKeys = 8;
const int kDestructorRounds = 4;

void Pause(unsigned& spins)
{
    if (++spins < 64)
        YieldProcessor();
    else if (spins < 128)
        ::SwitchToThread();
    else
        ::Sleep(1);
}

// A mutex is one word: 1 while held, anything else (0, or the static initialiser) when free. The
// runtime holds its mutexes only for a few instructions, and nothing of them has to be freed.
void Acquire(pthread_mutex_t* word)
{
    auto* cell = reinterpret_cast<void* volatile*>(word);
    for (unsigned spins = 0;
         ::InterlockedExchangePointer(cell, reinterpret_cast<void*>(1)) == reinterpret_cast<void*>(1);)
        Pause(spins);
}

void Release(pthread_mutex_t* word)
{
    ::InterlockedExchangePointer(reinterpret_cast<void* volatile*>(word), nullptr);
}

struct Key {
    bool used;
    void (*destructor)(void*);
};

// The values one thread has set; every thread's record is linked in, so that unloading can destroy
// the values of threads that are still running.
struct ThreadValues {
    void* values[kKeys];
    ThreadValues* next;
    ThreadValues* previous;
};

pthread_mutex_t keysLock = 0;
Key keys[kKeys];
DWORD valuesSlot = TLS_OUT_OF_INDEXES;
ThreadValues* threadValues = nullptr;

ThreadValues* OwnValues()
{
    if (valuesSlot == TLS_OUT_OF_INDEXES)
        return nullptr;
    const DWORD error = ::GetLastError();
    auto* values = static_cast<ThreadValues*>(::TlsGetValue(valuesSlot));
    ::SetLastError(error);
    return values;
}

void Unlink(ThreadValues* values)
{
    if (values->previous != nullptr)
        values->previous->next = values->next;
    else
        threadValues = values->next;
    if (values->next != nullptr)
        values->next->previous = values->previous;
}

void DestroyValues(ThreadValues* values)
{
    for (int round = 0; round < kDestructorRounds; ++round) {
        bool called = false;
        for (unsigned key = 0; key < kKeys; ++key) {
            void* value = values->values[key];
            if (value == nullptr)
                continue;
            values->values[key] = nullptr;
            if (keys[key].used && keys[key].destructor != nullptr) {
                keys[key].destructor(value);
                called = true;
            }
        }
        if (!called)
            break;
    }
    ::HeapFree(::GetProcessHeap(), 0, values);
}

// A thread ends: its values go with it.
void ThreadEnds()
{
    ThreadValues* values = OwnValues();
    if (values == nullptr)
        return;
    ::TlsSetValue(valuesSlot, nullptr);
    Acquire(&keysLock);
    Unlink(values);
    Release(&keysLock);
    DestroyValues(values);
}

// The library is unloaded: every thread's values, the slot and the runtime's spare memory go.
void LibraryEnds()
{
    Acquire(&keysLock);
    ThreadValues* values = threadValues;
    threadValues = nullptr;
    Release(&keysLock);
    while (values != nullptr) {
        ThreadValues* next = values->next;
        DestroyValues(values);
        values = next;
    }
    if (valuesSlot != TLS_OUT_OF_INDEXES)
        ::TlsFree(valuesSlot);
    valuesSlot = TLS_OUT_OF_INDEXES;
    for (Key& key : keys)
        key = Key {false, nullptr};
    __gnu_cxx::__freeres();
}

}  // namespace

extern "C" {

int pthread_mutex_init(pthread_mutex_t* mutex, const pthread_mutexattr_t*)
{
    *mutex = 0;
    return 0;
}

int pthread_mutex_destroy(pthread_mutex_t*)
{
    return 0;
}

int pthread_mutex_lock(pthread_mutex_t* mutex)
{
    Acquire(mutex);
    return 0;
}

int pthread_mutex_unlock(pthread_mutex_t* mutex)
{
    Release(mutex);
    return 0;
}

// 0: not run yet; 2: running on some thread; 1: done.
int pthread_once(pthread_once_t* once, void (*function)(void))
{
    auto* state = reinterpret_cast<volatile LONG*>(once);
    if (*state == 1)
        return 0;
    if (::InterlockedCompareExchange(state, 2, 0) == 0) {
        function();
        ::InterlockedExchange(state, 1);
        return 0;
    }
    for (unsigned spins = 0; *state != 1;)
        Pause(spins);
    return 0;
}

int pthread_key_create(pthread_key_t* key, void (*destructor)(void*))
{
    int result = EAGAIN;
    Acquire(&keysLock);
    if (valuesSlot == TLS_OUT_OF_INDEXES)
        valuesSlot = ::TlsAlloc();
    for (unsigned i = 0; i < kKeys && valuesSlot != TLS_OUT_OF_INDEXES; ++i) {
        if (!keys[i].used) {
            keys[i] = Key {true, destructor};
            *key = i;
            result = 0;
            break;
        }
    }
    Release(&keysLock);
    return result;
}

void* pthread_getspecific(pthread_key_t key)
{
    ThreadValues* values = OwnValues();
    return values != nullptr && key < kKeys ? values->values[key] : nullptr;
}

int pthread_setspecific(pthread_key_t key, const void* value)
{
    if (key >= kKeys || !keys[key].used || valuesSlot == TLS_OUT_OF_INDEXES)
        return EINVAL;
    ThreadValues* values = OwnValues();
    if (values == nullptr) {
        if (value == nullptr)
            return 0;
        const DWORD error = ::GetLastError();
        values = static_cast<ThreadValues*>(::HeapAlloc(::GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(ThreadValues)));
        if (values == nullptr)
            return ENOMEM;
        Acquire(&keysLock);
        values->next = threadValues;
        if (threadValues != nullptr)
            threadValues->previous = values;
        threadValues = values;
        Release(&keysLock);
        ::TlsSetValue(valuesSlot, values);
        ::SetLastError(error);
    }
    values->values[key] = const_cast<void*>(value);
    return 0;
}

// Thread ends arrive here (the library asks for them by not turning them off). At process exit
// (reserved not null) nothing is freed: the other threads are gone and the process goes with them.
BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved)
{
    if (reason == DLL_THREAD_DETACH)
        ThreadEnds();
    else if (reason == DLL_PROCESS_DETACH && reserved == nullptr)
        LibraryEnds();
    return TRUE;
}

}  // extern "C"
