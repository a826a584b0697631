// Extracts (or lists) one archive through UNZIP32.DLL with the options the program passes, as a
// console client that imports only kernel32 (as the peers are console programs: a client that
// imports user32 spends a quarter of a second more in Wine's start-up before its first line), and
// prints the wall time of loading the library and the call, and the process's peak memory.
// Usage: unzip_bench <archive> <target folder> [list]
#include <windows.h>

#include <psapi.h>

#include "unzip32/unzip32.h"

#include <cstdio>
#include <cstring>

namespace {

int g_members = 0;

int UZ_API Print(const char*, unsigned long length)
{
    return static_cast<int>(length);
}

int UZ_API Replace(const char*)
{
    return 1;
}

int UZ_API NoPassword(char*, int, const char*, const char*)
{
    return 1;
}

void UZ_API Member(unsigned long, unsigned long, unsigned, unsigned, unsigned, unsigned, unsigned, unsigned, char,
    const char*, const char*, unsigned long, char)
{
    ++g_members;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: unzip_bench <archive> <target> [list]\n");
        return 2;
    }
    const bool list = argc > 3 && std::strcmp(argv[3], "list") == 0;
    LARGE_INTEGER frequency, start, stop;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&start);
    int result = -1;
    if (HMODULE library = ::LoadLibraryA("UNZIP32.DLL")) {
        auto call = reinterpret_cast<WizSingleEntryUnzipExFunction>(
            reinterpret_cast<void*>(::GetProcAddress(library, "Wiz_SingleEntryUnzipEx")));
        if (call != nullptr) {
            UnzipOptions options;
            UnzipCallbacks callbacks;
            std::memset(&options, 0, sizeof options);
            std::memset(&callbacks, 0, sizeof callbacks);
            callbacks.print = &Print;
            callbacks.replace = &Replace;
            callbacks.password = &NoPassword;
            callbacks.member = &Member;
            options.listMembers = list ? 1 : 0;
            options.keepFolders = 1;
            options.overwriteAll = 1;
            options.archive = argv[1];
            options.target = list ? nullptr : argv[2];
            UnzipRunOptions run {};
            run.size = sizeof run;
            run.namePage = UZ_NAMES_AUTOMATIC;
            result = call(0, nullptr, 0, nullptr, &options, &callbacks, &run);
        }
        ::FreeLibrary(library);
    }
    ::QueryPerformanceCounter(&stop);
    const bool ok = result == UZ_OK;
    PROCESS_MEMORY_COUNTERS memory {};
    memory.cb = sizeof memory;
    ::GetProcessMemoryInfo(::GetCurrentProcess(), &memory, sizeof memory);
    std::fprintf(stderr, "unzip_bench: %s %.3f s, peak working set %.1f MiB, peak private %.1f MiB, members %d\n",
        ok ? "ok" : "FAILED",
        static_cast<double>(stop.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart),
        static_cast<double>(memory.PeakWorkingSetSize) / 1048576.0,
        static_cast<double>(memory.PeakPagefileUsage) / 1048576.0, g_members);
    return ok ? 0 : 1;
}
