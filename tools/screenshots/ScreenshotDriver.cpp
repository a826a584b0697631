// Takes the README pictures from the real program: starts kestrova.exe, queues archives through its
// own Search, opens the Settings dialog on each tab and the archive viewer, extracts the queue
// (pictured while the run goes on: the queue holds one big archive for that), and has the host's
// ImageMagick `import` save each window, cropped to its frame.
//
//   screenshot_driver.exe KESTROVA_EXE OUTPUT_DIR QUEUE_NAME... -- VIEW_NAME
//
// OUTPUT_DIR is a host path (import runs on the host). QUEUE_NAME are entries of the folder the
// program opens in (archives or folders) that are selected and searched; VIEW_NAME is the queued
// archive shown in the viewer. Started by scripts/screenshots.sh, which prepares the prefix.
#include "tests/support/HostInput.h"
#include "tests/support/ProcessWindows.h"
#include "tests/support/ProgramProcess.h"
#include "tests/support/RemoteListView.h"

#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

using testsupport::RemoteListView;
using testsupport::WaitUntil;

// Main window (dialog 102), Settings (139) and Archive Viewer (172) controls.
const int kExplorerList = 1000;
const int kExtractionList = 1006;
const int kViewButton = 1009;
const int kSearchButton = 1011;
const int kExecuteButton = 1013;
const int kOptionsButton = 1021;
const int kSettingsTabs = 1055;
const int kViewerList = 1000;

int Fail(const std::string& what)
{
    std::fprintf(stderr, "screenshot_driver: %s\n", what.c_str());
    return 1;
}

void Click(HWND window, int controlId)
{
    ::PostMessageA(window, WM_COMMAND, MAKEWPARAM(controlId, BN_CLICKED),
        reinterpret_cast<LPARAM>(::GetDlgItem(window, controlId)));
}

// Saves the window's screen rectangle once it has been painted (a window is fully drawn well within
// a second after it appears).
bool Shoot(HWND window, const std::string& folder, const std::string& name)
{
    ::RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    ::Sleep(1200);
    RECT rect {};
    ::GetWindowRect(window, &rect);
    std::string crop = std::to_string(rect.right - rect.left) + "x" + std::to_string(rect.bottom - rect.top) + "+" +
        std::to_string(rect.left) + "+" + std::to_string(rect.top);
    std::string path = folder + "/" + name;
    if (!testsupport::RunHost("/usr/bin/import -window root -crop " + crop + " +repage " + path, 30000, 0))
        return false;
    std::printf("%s\n", path.c_str());
    return true;
}

// Queues the chosen entries and takes the pictures; the program stays open.
int TakePictures(HWND window, DWORD processId, const std::string& folder, const std::vector<std::string>& queue,
    const std::string& viewName)
{
    RemoteListView explorer(::GetDlgItem(window, kExplorerList), processId);
    RemoteListView extraction(::GetDlgItem(window, kExtractionList), processId);
    if (!explorer.Usable())
        return Fail("cannot open the program's process");
    if (!WaitUntil([&] { return explorer.Find(queue.front()) >= 0; }, 10000))
        return Fail("the explorer does not list " + queue.front());

    // Queue the chosen entries with the program's own Search, as a user selecting them would.
    explorer.Select(-1, false);
    for (const std::string& name : queue)
        explorer.Select(explorer.Find(name), true, name == queue.back());
    Click(window, kSearchButton);
    WaitUntil([&] { return extraction.Count() >= static_cast<int>(queue.size()); }, 15000);
    ::Sleep(300);
    extraction.Select(-1, false);
    int viewRow = extraction.Find(viewName);
    if (viewRow >= 0)
        extraction.Select(viewRow, true, true);
    ::SetForegroundWindow(window);
    bool ok = Shoot(window, folder, "main-window.png");

    Click(window, kOptionsButton);
    HWND settings = testsupport::WaitForProcessWindow(processId, "Settings", 10000);
    if (settings != nullptr) {
        HWND tabs = ::GetDlgItem(settings, kSettingsTabs);
        const char* const pictures[] = {"settings-general.png", "settings-file-masking.png", "settings-about.png"};
        for (int tab = 0; tab < 3; ++tab) {
            // Moving the tab control's focus sends TCN_SELCHANGE, as a click on the tab does.
            ::SendMessageA(tabs, TCM_SETCURFOCUS, static_cast<WPARAM>(tab), 0);
            ok = Shoot(settings, folder, pictures[tab]) && ok;
        }
        ::SendMessageA(tabs, TCM_SETCURFOCUS, 0, 0);
        ::PostMessageA(settings, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        WaitUntil([&] { return !::IsWindowVisible(settings); }, 5000);
    } else {
        ok = false;
        Fail("the Settings dialog did not appear");
    }

    if (viewRow >= 0) {
        Click(window, kViewButton);
        HWND viewer = testsupport::WaitForProcessWindow(processId, "Archive Viewer", 10000);
        RemoteListView members(viewer == nullptr ? nullptr : ::GetDlgItem(viewer, kViewerList), processId);
        if (viewer != nullptr && WaitUntil([&] { return members.Count() > 0; }, 10000)) {
            ok = Shoot(viewer, folder, "archive-viewer.png") && ok;
            ::PostMessageA(viewer, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        } else {
            ok = false;
            Fail("the archive viewer did not show " + viewName);
        }
    } else {
        ok = false;
        Fail(viewName + " was not queued");
    }

    // Execute over the whole queue: pictured while the caption counts the archives, then the
    // summary is answered.
    extraction.Select(-1, false);
    Click(window, kExecuteButton);
    if (WaitUntil([&] { return testsupport::WindowText(window).find(" of ") != std::string::npos; }, 20000, 20)) {
        ok = Shoot(window, folder, "extraction-run.png") && ok;
    } else {
        ok = false;
        Fail("the run's caption never counted the archives");
    }
    if (!testsupport::AnswerProcessMessageBox(processId, 120000).closed) {
        ok = false;
        Fail("the run's summary did not come");
    }
    return ok ? 0 : 1;
}

int Run(const std::string& program, const std::string& folder, const std::vector<std::string>& queue,
    const std::string& viewName)
{
    testsupport::ChildProcess process;
    if (!process.Start(program, program.substr(0, program.find_last_of('\\'))))
        return Fail("cannot start " + program);
    HWND window = testsupport::WaitForMainWindow(process.Id(), 20000);
    if (window == nullptr)
        return Fail("the main window did not appear");
    int status = TakePictures(window, process.Id(), folder, queue, viewName);
    // A program that has not ended 10 s after WM_CLOSE is ended when `process` goes.
    ::PostMessageA(window, WM_CLOSE, 0, 0);
    DWORD exitCode = 0;
    process.WaitForExit(10000, exitCode);
    return status;
}

}  // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> queue;
    std::string viewName;
    int i = 3;
    for (; i < argc && std::string(argv[i]) != "--"; ++i)
        queue.push_back(argv[i]);
    if (argc < 4 || queue.empty() || i + 2 != argc)
        return Fail("usage: screenshot_driver KESTROVA_EXE OUTPUT_DIR QUEUE_NAME... -- VIEW_NAME");
    viewName = argv[i + 1];
    return Run(argv[1], argv[2], queue, viewName);
}
