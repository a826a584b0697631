// Times a queue of archives of 10 MB each (five deflated text members of 2 MB) extracted by the
// program's run on a real, visible main window (the worker thread, the pumping window, the listing
// that gives the progress) against the same archives extracted by the library back to back in one
// process, as the program calls it. Rounds alternate the two; each extracts into fresh folders,
// removed after timing. Prints the medians and their ratio (target: within 5 %).
#include "app/MainWindow.h"
#include "app/ProcessObjects.h"
#include "bench/BenchSupport.h"
#include "engine/UnzipEngine.h"
#include "settings/SettingsDialog.h"
#include "tests/support/ZipBuilder.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

using bench::EnvNumber;
using bench::Median;
using bench::RemoveTree;
using bench::Seconds;

// Text that deflates about as well as source code does.
std::string Text(size_t size, unsigned seed)
{
    static const char* const words[] = {"archive ", "member ", "extract ", "folder ", "window ", "queue\n", "progress ",
        "library ", "deflate ", "stream\n", "the ", "of "};
    std::string text;
    text.reserve(size + 16);
    unsigned state = seed * 2654435761u + 1;
    while (text.size() < size) {
        state = state * 1103515245u + 12345u;
        text += words[(state >> 16) % 12];
    }
    text.resize(size);
    return text;
}

}  // namespace

int main()
{
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    const int rounds = EnvNumber("KV_BENCH_ROUNDS", 5);
    const int count = EnvNumber("KV_BENCH_ARCHIVES", 20);
    char temp[MAX_PATH] = {};
    ::GetTempPathA(MAX_PATH, temp);
    const std::string root = std::string(temp) + "kvbatch" + std::to_string(::GetCurrentProcessId());
    ::CreateDirectoryA(root.c_str(), nullptr);

    ziptest::Archive zip;
    for (unsigned i = 0; i < 5; ++i)
        zip.Add("docs/part" + std::to_string(i) + ".txt", Text(2u << 20, i));
    const std::string bytes = zip.Build();
    std::vector<std::string> archives;
    for (int i = 0; i < count; ++i) {
        archives.push_back(root + "\\a" + std::to_string(100 + i) + ".zip");
        HANDLE file = ::CreateFileA(archives.back().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD written = 0;
        ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        ::CloseHandle(file);
    }

    auto window = std::make_unique<app::MainWindow>();
    if (!window->Create(nullptr)) {
        std::printf("the main window could not be created\n");
        return 1;
    }
    window->Show(SW_SHOW);
    app::Settings().titleExtract.SetCheck(true);  // each archive into a folder of its own
    app::Settings().messageBoxAlert.SetCheck(false);
    app::Settings().askForFolder.SetCheck(false);
    app::Settings().excludeMasks.clear();
    for (auto it = archives.rbegin(); it != archives.rend(); ++it)
        window->AddToExtractionList(*it, root + "\\", 0);

    auto removeOutput = [&] {
        for (const std::string& archive : archives)
            RemoveTree(archive.substr(0, archive.size() - 4));
    };
    std::vector<double> program, library;
    for (int round = 0; round <= rounds; ++round) {
        double start = Seconds();
        for (const std::string& archive : archives) {
            engine::UnzipEngine engine;
            const std::string destination = archive.substr(0, archive.size() - 4);
            ::CreateDirectoryA(destination.c_str(), nullptr);
            engine.Unzip(archive, destination.c_str(), nullptr, 0, false);
        }
        const double libraryTime = Seconds() - start;
        removeOutput();
        start = Seconds();
        window->RunExtraction(true);
        const double programTime = Seconds() - start;
        removeOutput();
        if (round == 0)
            continue;  // warm-up
        library.push_back(libraryTime);
        program.push_back(programTime);
    }
    window->Send(WM_CLOSE);
    RemoveTree(root);

    const double lib = Median(library);
    const double prog = Median(program);
    const double megabytes = static_cast<double>(count) * 10.0 * 1.048576;
    std::printf("%d archives of 10 MB, %d rounds after a warm-up, medians (output to a pipe):\n", count, rounds);
    std::printf("  library back to back  %7.3f s  (%6.1f MB/s)\n", lib, megabytes / lib);
    std::printf("  program's run         %7.3f s  (%6.1f MB/s)\n", prog, megabytes / prog);
    std::printf(
        "  program / library     %7.3f    (target <= 1.05) %s\n", prog / lib, prog / lib <= 1.05 ? "met" : "MISSED");
    return 0;
}
