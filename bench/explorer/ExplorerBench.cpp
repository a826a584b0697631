// Times the explorer pane's listing (NavigateTo on a real main window) against a bare
// FindFirstFile / FindNextFile pass over the same folder, and the archive search against a bare
// recursive enumeration of the same tree, in one run. Prints the medians and their ratios.
#include "app/MainWindow.h"
#include "bench/BenchSupport.h"
#include "framework/PathInfo.h"
#include "app/ProcessObjects.h"
#include "framework/FileIconCache.h"
#include "app/SearchStatusWindow.h"

#include <windows.h>

#include <shlwapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

using bench::MakeFile;
using bench::RemoveTree;
using bench::Seconds;

// Rounds per figure (after one warm-up round); KV_BENCH_ROUNDS overrides, 1 skips the warm-up.
int Rounds()
{
    char text[16] = {};
    int rounds = ::GetEnvironmentVariableA("KV_BENCH_ROUNDS", text, sizeof text) > 0 ? std::atoi(text) : 5;
    return rounds > 0 ? rounds : 5;
}

// Median wall time of the rounds, after one warm-up run.
double Median(const std::function<void()>& run)
{
    static const int rounds = Rounds();
    if (rounds > 1)
        run();
    std::vector<double> times;
    for (int i = 0; i < rounds; ++i) {
        double start = Seconds();
        run();
        times.push_back(Seconds() - start);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

// The bare pass: every match of folder\*.*, its name looked at and nothing else asked.
int BarePass(const std::string& folder)
{
    int count = 0;
    WIN32_FIND_DATAA match;
    HANDLE find = ::FindFirstFileA((folder + "*.*").c_str(), &match);
    if (find == INVALID_HANDLE_VALUE)
        return 0;
    do {
        if (match.cFileName[0] != '.')
            ++count;
    } while (::FindNextFileA(find, &match));
    ::FindClose(find);
    return count;
}

// The bare recursive enumeration: every entry visited, every sub-folder entered.
int BareWalk(const std::string& folder)
{
    int count = 0;
    WIN32_FIND_DATAA match;
    HANDLE find = ::FindFirstFileA((folder + "\\*.*").c_str(), &match);
    if (find == INVALID_HANDLE_VALUE)
        return 0;
    do {
        std::string name = match.cFileName;
        if (name == "." || name == "..")
            continue;
        ++count;
        if (match.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            count += BareWalk(folder + "\\" + name);
    } while (::FindNextFileA(find, &match));
    ::FindClose(find);
    return count;
}

void Report(const char* what, double program, double bare, double target)
{
    double ratio = bare > 0 ? program / bare : 0;
    std::printf("%-8s program %8.3f s   bare %8.3f s   ratio %5.2f (target <= %.1f) %s\n", what, program, bare, ratio,
        target, ratio <= target ? "met" : "MISSED");
}

}  // namespace

int main()
{
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    char temp[MAX_PATH] = {};
    ::GetTempPathA(MAX_PATH, temp);
    const std::string root = std::string(temp) + "kvbench" + std::to_string(::GetCurrentProcessId());
    ::CreateDirectoryA(root.c_str(), nullptr);

    // A folder of 5,000 archives and 1,000 sub-folders.
    const std::string listing = root + "\\listing\\";
    ::CreateDirectoryA(listing.c_str(), nullptr);
    for (int i = 0; i < 5000; ++i)
        MakeFile(listing + "archive" + std::to_string(i) + ".zip");
    for (int i = 0; i < 1000; ++i)
        ::CreateDirectoryA((listing + "folder" + std::to_string(i)).c_str(), nullptr);

    // A tree of 50,000 files in 5,000 folders (50 folders of 100 folders of 10 files, 4 archives each).
    const std::string tree = root + "\\tree";
    ::CreateDirectoryA(tree.c_str(), nullptr);
    for (int top = 0; top < 50; ++top) {
        std::string upper = tree + "\\t" + std::to_string(top);
        ::CreateDirectoryA(upper.c_str(), nullptr);
        for (int sub = 0; sub < 100; ++sub) {
            std::string leaf = upper + "\\s" + std::to_string(sub);
            ::CreateDirectoryA(leaf.c_str(), nullptr);
            for (int f = 0; f < 10; ++f)
                MakeFile(leaf + "\\f" + std::to_string(f) + (f < 4 ? ".zip" : ".txt"));
        }
    }

    auto window = std::make_unique<app::MainWindow>();
    if (!window->Create(nullptr)) {
        std::printf("the main window could not be created\n");
        return 1;
    }

    int listed = 0;
    double program = Median([&] {
        window->NavigateTo(listing);
        listed = window->ExplorerList.GetItemCount();
    });
    // Where a listing's time goes: the per-entry questions, each over all entries once.
    std::vector<std::string> names;
    {
        WIN32_FIND_DATAA match;
        HANDLE find = ::FindFirstFileA((listing + "*.*").c_str(), &match);
        if (find != INVALID_HANDLE_VALUE) {
            do {
                if (match.cFileName[0] != '.')
                    names.push_back(listing + match.cFileName);
            } while (::FindNextFileA(find, &match));
            ::FindClose(find);
        }
    }
    double start = Seconds();
    for (const std::string& name : names)
        app::IconCache().GetSystemIconIndex(name);
    double icons = Seconds() - start;
    start = Seconds();
    for (const std::string& name : names) {
        fw::PathInfo info(name);
        info.SizeText();
        info.DateText(0, nullptr);
    }
    double texts = Seconds() - start;
    std::printf("per entry, all entries once: icon query %.3f s, size and date by name %.3f s\n", icons, texts);

    int bareCount = 0;
    double bare = Median([&] { bareCount = BarePass(listing); });
    std::printf("listing: %d entries listed, %d entries enumerated\n", listed, bareCount);
    Report("listing", program, bare, 3.0);

    app::SearchStatusWindow popup;
    int found = 0;
    double search = Median([&] {
        popup.Create(*window);
        popup.Search(tree);
        found = popup.ResultCount();
        popup.Destroy();
    });
    int walked = 0;
    double walk = Median([&] { walked = BareWalk(tree); });
    std::printf("search: %d archives found, %d entries walked\n", found, walked);
    Report("search", search, walk, 1.5);

    window->Destroy();
    window.reset();
    RemoveTree(root);
    return 0;
}
