// UNZIP32.DLL loaded, called and freed again and again in one process, as the program does for every
// archive. Whatever a run takes (thread-local-storage slots, handles, memory) must be given back when
// the library is unloaded: the process has about 1,088 slots, and a long queue used to run it out
// of them and abort it.
#include "tests/support/TestSupport.h"
#include "tests/support/ZipBuilder.h"
#include "tests/unzip32/DllRunner.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace {

using dllrun::RunLibrary;
using testsupport::TestFolder;

struct ProcessFigures {
    DWORD freeTlsSlot;     // the slot the next TlsAlloc gets
    DWORD handleCount;     // GetProcessHandleCount (always 0 under Wine)
    uintptr_t nextHandle;  // the value the next handle gets: the lowest free one, under Wine
    SIZE_T privateBytes;   // committed private memory
};

ProcessFigures Measure()
{
    ProcessFigures figures {};
    figures.freeTlsSlot = ::TlsAlloc();
    ::TlsFree(figures.freeTlsSlot);
    ::GetProcessHandleCount(::GetCurrentProcess(), &figures.handleCount);
    HANDLE probe = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    figures.nextHandle = reinterpret_cast<uintptr_t>(probe);
    ::CloseHandle(probe);
    // Wine reports no private usage through GetProcessMemoryInfo: add up the regions instead.
    MEMORY_BASIC_INFORMATION region {};
    for (const char* at = nullptr; ::VirtualQuery(at, &region, sizeof region) == sizeof region;) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE)
            figures.privateBytes += region.RegionSize;
        const char* next = static_cast<const char*>(region.BaseAddress) + region.RegionSize;
        if (next <= at)
            break;
        at = next;
    }
    return figures;
}

}  // namespace

// Worker threads are asked for, so that every run starts one (the large member is worth one).
TEST(Unzip32Unload, FiveThousandRunsInOneProcessLeaveSlotsHandlesAndMemoryAsTheyWere)
{
    ::SetEnvironmentVariableA("KESTROVA_UNZIP_THREADS", "2");
    TestFolder folder;
    const std::string large = ziptest::Text(300 * 1024, 2);
    ziptest::Archive zip;
    zip.Add("large.txt", large).Add("small.txt", "a small member", false);
    zip.Add("docs/readme.txt", ziptest::Text(5000, 3));
    const std::string archive = folder.Child("run.zip");
    testsupport::WriteFileBytes(archive, zip.Build());
    const std::string target = folder.Child("out");

    const int kRuns = 5000;
    const int kSettled = 100;  // heaps and caches have grown to their working size by then
    ProcessFigures settled {};
    for (int run = 1; run <= kRuns; ++run) {
        ASSERT_EQ(0, RunLibrary(archive, target.c_str())) << "run " << run;
        if (run == kSettled)
            settled = Measure();
    }
    const ProcessFigures end = Measure();
    ::SetEnvironmentVariableA("KESTROVA_UNZIP_THREADS", nullptr);

    EXPECT_EQ(settled.freeTlsSlot, end.freeTlsSlot) << "thread-local-storage slots kept by the library";
    EXPECT_LE(end.handleCount, settled.handleCount + 16) << "handles kept by the library";
    EXPECT_LE(end.nextHandle, settled.nextHandle + 16 * 4) << "handles kept by the library";
    EXPECT_LE(end.privateBytes, settled.privateBytes + (4u << 20))
        << "memory kept by the library: " << (end.privateBytes - settled.privateBytes) / (kRuns - kSettled)
        << " bytes a run";
    std::string bytes;
    ASSERT_TRUE(dllrun::ReadWhole(dllrun::Wide(target + "\\large.txt"), bytes));
    EXPECT_EQ(large, bytes);
    EXPECT_EQ(3, dllrun::CountEntries(target));
    EXPECT_EQ(1, dllrun::CountEntries(target + "\\docs"));
}
