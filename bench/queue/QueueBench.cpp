// Times the extraction list with thousands of rows on a real, visible main window: queueing a
// folder of archives by Search, Remove All, and a drag of many archives from the explorer pane.
// Each figure includes the painting that follows (the window's messages are run until none are
// left). Prints the medians against their targets.
#include "app/MainWindow.h"
#include "app/SearchStatusWindow.h"
#include "bench/BenchSupport.h"
#include "resources/kestrova/resource.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

using bench::EnvNumber;
using bench::Median;
using bench::Seconds;

// Runs the thread's messages (painting included) until none are waiting.
void Settle()
{
    MSG msg;
    while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&msg);
        ::DispatchMessageA(&msg);
    }
}

// Wall time of `run` and of the painting after it.
double Timed(const std::function<void()>& run)
{
    Settle();
    double start = Seconds();
    run();
    Settle();
    return Seconds() - start;
}

void MakeArchives(const std::string& folder, int count)
{
    ::CreateDirectoryA(folder.c_str(), nullptr);
    for (int i = 0; i < count; ++i)
        bench::MakeFile(folder + "\\archive" + std::to_string(i) + ".zip");
}

int RowOf(const fw::ListView& list, const std::string& name)
{
    for (int row = 0; row < list.GetItemCount(); ++row)
        if (list.GetItemText(row, 0) == name)
            return row;
    return -1;
}

void SelectOnly(const fw::ListView& list, int row)
{
    list.SetItemState(-1, 0, LVIS_SELECTED);
    list.SetItemState(row, LVIS_SELECTED, LVIS_SELECTED);
    list.Send(LVM_SETSELECTIONMARK, 0, row);
}

// A drag from the explorer row to the middle of the extraction list, as the mouse produces it:
// the list's begin-drag notification, a move over the target, and the release there.
void DragToQueue(app::MainWindow& window, int row)
{
    NMLISTVIEW begin {};
    begin.hdr.hwndFrom = window.ExplorerList;
    begin.hdr.idFrom = IDC_MAIN_EXPLORER;
    begin.hdr.code = LVN_BEGINDRAG;
    begin.iItem = row;
    window.Send(WM_NOTIFY, IDC_MAIN_EXPLORER, reinterpret_cast<LPARAM>(&begin));
    RECT client = window.ExtractionList.GetClientRect();
    POINT at {client.right / 2, client.bottom / 2};
    POINT screen = at;
    ::ClientToScreen(window.ExtractionList, &screen);
    ::SetCursorPos(screen.x, screen.y);
    window.ExtractionList.Send(WM_MOUSEMOVE, 0, MAKELPARAM(at.x, at.y));
    window.ExtractionList.Send(WM_LBUTTONUP, 0, MAKELPARAM(at.x, at.y));
}

void Report(const char* what, int rows, double seconds, double target)
{
    std::printf("%-28s %6d rows %8.3f s   (target <= %.1f s) %s\n", what, rows, seconds, target,
        seconds <= target ? "met" : "MISSED");
}

}  // namespace

int main()
{
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    const int rounds = EnvNumber("KV_BENCH_ROUNDS", 3);
    const int searched = EnvNumber("KV_BENCH_SEARCHED", 10000);
    const int dragged = EnvNumber("KV_BENCH_DRAGGED", 1000);

    char temp[MAX_PATH] = {};
    ::GetTempPathA(MAX_PATH, temp);
    const std::string root = std::string(temp) + "kvqueue" + std::to_string(::GetCurrentProcessId());
    ::CreateDirectoryA(root.c_str(), nullptr);
    MakeArchives(root + "\\many", searched);
    MakeArchives(root + "\\some", dragged);

    auto window = std::make_unique<app::MainWindow>();
    if (!window->Create(nullptr)) {
        std::printf("the main window could not be created\n");
        return 1;
    }
    window->Show(SW_SHOW);
    window->NavigateTo(root);
    Settle();
    const int manyRow = RowOf(window->ExplorerList, "many");
    if (manyRow < 0) {
        std::printf("the bench folder is not listed\n");
        return 1;
    }

    std::vector<double> walk, search, removeAll, drag;
    int queued = 0, left = -1, dropped = 0;
    for (int round = 0; round < rounds; ++round) {
        // The search alone, for comparison: the part of queueing that adds no rows.
        app::SearchStatusWindow popup;
        walk.push_back(Timed([&] {
            popup.Create(*window);
            popup.Search(root + "\\many");
            popup.Destroy();
        }));
        window->NavigateTo(root);
        SelectOnly(window->ExplorerList, RowOf(window->ExplorerList, "many"));
        search.push_back(Timed([&] { window->searchButton.Click(); }));
        queued = window->ExtractionList.GetItemCount();
        removeAll.push_back(Timed([&] { window->Send(WM_COMMAND, IDM_REMOVE_ALL, 0); }));
        left = window->ExtractionList.GetItemCount();

        window->NavigateTo(root + "\\some");
        Settle();
        window->ExplorerList.SetItemState(-1, LVIS_SELECTED, LVIS_SELECTED);
        drag.push_back(Timed([&] { DragToQueue(*window, 0); }));
        dropped = window->ExtractionList.GetItemCount();
        window->RemoveAll();
    }
    std::printf("%d rounds; queued %d, left after Remove All %d, dropped %d\n", rounds, queued, left, dropped);
    std::printf("%-28s %6d found %7.3f s\n", "the search alone", searched, Median(walk));
    Report("queue by Search", queued, Median(search), 3.0);
    Report("Remove All", queued, Median(removeAll), 0.5);
    Report("drag from the explorer pane", dropped, Median(drag), 1.0);

    window->Destroy();
    window.reset();
    bench::RemoveTree(root);
    return queued == searched && left == 0 && dropped == dragged ? 0 : 1;
}
