// Extracts (or lists) one archive through UNZIP32.DLL exactly as the program does, via
// engine::UnzipEngine, and prints the wall time and the process's peak memory.
// Usage: unzip_bench <archive> <target folder> [list]
#include "engine/UnzipEngine.h"

#include <windows.h>

#include <psapi.h>

#include <cstdio>
#include <cstring>

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
    engine::UnzipEngine engine;
    const int ok = engine.Unzip(argv[1], list ? nullptr : argv[2], nullptr, 0, list);
    ::QueryPerformanceCounter(&stop);
    PROCESS_MEMORY_COUNTERS memory {};
    memory.cb = sizeof memory;
    ::GetProcessMemoryInfo(::GetCurrentProcess(), &memory, sizeof memory);
    std::fprintf(stderr, "unzip_bench: %s %.3f s, peak working set %.1f MiB, peak private %.1f MiB, members %d\n",
        ok ? "ok" : "FAILED",
        static_cast<double>(stop.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart),
        static_cast<double>(memory.PeakWorkingSetSize) / 1048576.0,
        static_cast<double>(memory.PeakPagefileUsage) / 1048576.0, engine.GetMemberCount());
    return ok ? 0 : 1;
}
