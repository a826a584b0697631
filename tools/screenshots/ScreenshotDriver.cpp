// Takes the README pictures from the real program: starts kestrova.exe, queues archives through its
// own Search, opens the Settings dialog on each tab and the archive viewer, and has the host's
// ImageMagick `import` save each window, cropped to its frame.
//
//   screenshot_driver.exe KESTROVA_EXE OUTPUT_DIR QUEUE_NAME... -- VIEW_NAME
//
// OUTPUT_DIR is a host path (import runs on the host). QUEUE_NAME are entries of the folder the
// program opens in (archives or folders) that are selected and searched; VIEW_NAME is the queued
// archive shown in the viewer. Started by scripts/screenshots.sh, which prepares the prefix.
#include "tests/support/HostInput.h"
#include "tests/support/ProgramProcess.h"

#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

// Main window (dialog 102), Settings (139) and Archive Viewer (172) controls.
const int kExplorerList = 1000;
const int kExtractionList = 1006;
const int kViewButton = 1009;
const int kSearchButton = 1011;
const int kOptionsButton = 1021;
const int kSettingsTabs = 1055;
const int kViewerList = 1000;

int Fail(const std::string& what)
{
    std::fprintf(stderr, "screenshot_driver: %s\n", what.c_str());
    return 1;
}

// List-view calls into the program: their records must live in its address space.
class RemoteList {
public:
    RemoteList(HWND list, HANDLE process) : list_(list), process_(process)
    {
        memory_ = static_cast<char*>(::VirtualAllocEx(process_, nullptr, 4096, MEM_COMMIT, PAGE_READWRITE));
    }
    RemoteList(const RemoteList&) = delete;
    RemoteList& operator=(const RemoteList&) = delete;
    ~RemoteList()
    {
        if (memory_ != nullptr)
            ::VirtualFreeEx(process_, memory_, 0, MEM_RELEASE);
    }

    int Count() const { return static_cast<int>(::SendMessageA(list_, LVM_GETITEMCOUNT, 0, 0)); }

    std::string Text(int item) const
    {
        LVITEMA record{};
        record.pszText = memory_ + 1024;
        record.cchTextMax = 1024;
        Write(&record, sizeof record);
        ::SendMessageA(list_, LVM_GETITEMTEXTA, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(memory_));
        char text[1025] = {};
        SIZE_T moved = 0;
        ::ReadProcessMemory(process_, memory_ + 1024, text, 1024, &moved);
        return text;
    }

    int Find(const std::string& name) const
    {
        for (int item = 0; item < Count(); ++item)
            if (Text(item) == name)
                return item;
        return -1;
    }

    // Selects one row (item -1: changes every row); `focus` also makes it the focused row.
    void Select(int item, bool selected, bool focus = false) const
    {
        LVITEMA record{};
        record.stateMask = LVIS_SELECTED | (focus ? LVIS_FOCUSED : 0u);
        record.state = selected ? record.stateMask : 0;
        Write(&record, sizeof record);
        ::SendMessageA(list_, LVM_SETITEMSTATE, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(memory_));
        if (selected)
            ::SendMessageA(list_, LVM_SETSELECTIONMARK, 0, item);
    }

private:
    void Write(const void* data, size_t size) const
    {
        SIZE_T moved = 0;
        ::WriteProcessMemory(process_, memory_, data, size, &moved);
    }

    HWND list_;
    HANDLE process_;
    char* memory_ = nullptr;
};

template <typename Done>
bool WaitUntil(Done done, DWORD timeoutMs)
{
    for (DWORD start = ::GetTickCount(); ::GetTickCount() - start < timeoutMs; ::Sleep(50))
        if (done())
            return true;
    return done();
}

struct WindowSearch {
    DWORD processId;
    const char* caption;
    HWND found;
};

BOOL CALLBACK FindCaption(HWND window, LPARAM lParam)
{
    auto* search = reinterpret_cast<WindowSearch*>(lParam);
    DWORD pid = 0;
    ::GetWindowThreadProcessId(window, &pid);
    char caption[128] = {};
    ::SendMessageA(window, WM_GETTEXT, sizeof caption, reinterpret_cast<LPARAM>(caption));
    if (pid == search->processId && std::string(caption) == search->caption && ::IsWindowVisible(window)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

HWND WaitForVisible(DWORD processId, const char* caption, DWORD timeoutMs)
{
    WindowSearch search{processId, caption, nullptr};
    WaitUntil(
        [&] {
            ::EnumWindows(&FindCaption, reinterpret_cast<LPARAM>(&search));
            return search.found != nullptr;
        },
        timeoutMs);
    return search.found;
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
    RECT rect{};
    ::GetWindowRect(window, &rect);
    std::string crop = std::to_string(rect.right - rect.left) + "x" + std::to_string(rect.bottom - rect.top) + "+" +
                       std::to_string(rect.left) + "+" + std::to_string(rect.top);
    std::string path = folder + "/" + name;
    if (!testsupport::RunHost("/usr/bin/import -window root -crop " + crop + " +repage " + path, 30000, 0))
        return false;
    std::printf("%s\n", path.c_str());
    return true;
}

int Run(const std::string& program, const std::string& folder, const std::vector<std::string>& queue,
        const std::string& viewName)
{
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    std::string command = "\"" + program + "\"";
    std::string programFolder = program.substr(0, program.find_last_of('\\'));
    if (!::CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, programFolder.c_str(), &startup,
                          &process))
        return Fail("cannot start " + program);
    struct Closer {
        PROCESS_INFORMATION& process;
        ~Closer()
        {
            if (::WaitForSingleObject(process.hProcess, 10000) == WAIT_TIMEOUT)
                ::TerminateProcess(process.hProcess, 99);
            ::CloseHandle(process.hProcess);
            ::CloseHandle(process.hThread);
        }
    } closer{process};

    HWND window = testsupport::WaitForMainWindow(process.dwProcessId, 20000);
    if (window == nullptr)
        return Fail("the main window did not appear");
    HANDLE access = ::OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, process.dwProcessId);
    if (access == nullptr)
        return Fail("cannot open the program's process");
    int status = 1;
    {
        RemoteList explorer(::GetDlgItem(window, kExplorerList), access);
        RemoteList extraction(::GetDlgItem(window, kExtractionList), access);
        if (!WaitUntil([&] { return explorer.Find(queue.front()) >= 0; }, 10000)) {
            ::PostMessageA(window, WM_CLOSE, 0, 0);
            ::CloseHandle(access);
            return Fail("the explorer does not list " + queue.front());
        }

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
        HWND settings = WaitForVisible(process.dwProcessId, "Settings", 10000);
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
            HWND viewer = WaitForVisible(process.dwProcessId, "Archive Viewer", 10000);
            RemoteList members(viewer == nullptr ? nullptr : ::GetDlgItem(viewer, kViewerList), access);
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
        status = ok ? 0 : 1;
    }
    ::CloseHandle(access);
    ::PostMessageA(window, WM_CLOSE, 0, 0);
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
