#include "tests/support/TestSupport.h"

#include <commctrl.h>

#include <algorithm>
#include <cstring>

namespace testsupport {

namespace {

const char kDialogClass[] = "#32770";
const char kMenuClass[] = "#32768";
const char kProgramKey[] = "Software\\Kestrova";
const int kMessageBoxTextId = 0xFFFF;
const DWORD kPollMs = 20;
// Reading another thread's window text sends it WM_GETTEXT; a thread that is blocked (for
// instance joining the watcher) must not hang the watcher in return.
const UINT kTextTimeoutMs = 200;

std::string ClassOf(HWND window)
{
    char name[64] = {};
    ::GetClassNameA(window, name, sizeof name);
    return name;
}

bool OfProcess(HWND window, DWORD processId)
{
    DWORD owner = 0;
    ::GetWindowThreadProcessId(window, &owner);
    return owner == processId;
}

BOOL CALLBACK CheckChildClass(HWND child, LPARAM param)
{
    std::string name = ClassOf(child);
    if (lstrcmpiA(name.c_str(), "Button") != 0 && lstrcmpiA(name.c_str(), "Static") != 0) {
        *reinterpret_cast<bool*>(param) = false;
        return FALSE;
    }
    return TRUE;
}

bool AllChildrenAreButtonsOrStatics(HWND window)
{
    bool onlyPlain = true;
    ::EnumChildWindows(window, CheckChildClass, reinterpret_cast<LPARAM>(&onlyPlain));
    return onlyPlain;
}

struct BoxSearch {
    DWORD processId;
    const std::string* caption;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectMessageBox(HWND window, LPARAM param)
{
    BoxSearch& search = *reinterpret_cast<BoxSearch*>(param);
    if (!OfProcess(window, search.processId) || !IsMessageBox(window))
        return TRUE;
    if (!search.caption->empty() && WindowText(window) != *search.caption)
        return TRUE;
    search.found.push_back(window);
    return TRUE;
}

std::vector<HWND> FindMessageBoxes(DWORD processId, const std::string& caption)
{
    BoxSearch search {processId, &caption, {}};
    ::EnumWindows(CollectMessageBox, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND FindVisibleMenu(DWORD processId)
{
    HWND window = nullptr;
    while ((window = ::FindWindowExA(nullptr, window, kMenuClass, nullptr)) != nullptr) {
        if (::IsWindowVisible(window) && OfProcess(window, processId))
            return window;
    }
    return nullptr;
}

// Waits in steps, pumping the caller's messages, until `done` holds or the time is up.
template <typename Done> bool PumpUntil(Done done, DWORD timeoutMs)
{
    DWORD start = ::GetTickCount();
    for (;;) {
        if (done())
            return true;
        if (::GetTickCount() - start >= timeoutMs)
            return done();
        PumpMessages(10);
    }
}

bool DeleteKeyTree(HKEY parent, const char* path)
{
    HKEY key = nullptr;
    LONG opened = ::RegOpenKeyExA(parent, path, 0, KEY_READ | KEY_WRITE, &key);
    if (opened == ERROR_FILE_NOT_FOUND)
        return true;
    if (opened != ERROR_SUCCESS)
        return false;
    // The A calls refuse to delete a key that still has sub-keys, so children go first; the
    // first child is taken again each round because the indexes shift as children go.
    char child[256];
    DWORD length = sizeof child;
    while (::RegEnumKeyExA(key, 0, child, &length, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS) {
        if (!DeleteKeyTree(key, child))
            break;
        length = sizeof child;
    }
    ::RegCloseKey(key);
    LONG deleted = ::RegDeleteKeyA(parent, path);
    return deleted == ERROR_SUCCESS || deleted == ERROR_FILE_NOT_FOUND;
}

// The hook sees a box while it is being activated, which may come before it is marked visible.
bool LooksLikeMessageBox(HWND window, bool mustBeVisible)
{
    if (ClassOf(window) != kDialogClass || !::IsWindowEnabled(window))
        return false;
    if (mustBeVisible && !::IsWindowVisible(window))
        return false;
    if ((::GetWindowLongPtrA(window, GWL_STYLE) & WS_CHILD) != 0)
        return false;
    return AllChildrenAreButtonsOrStatics(window);
}

}  // namespace

bool IsMessageBox(HWND window)
{
    return LooksLikeMessageBox(window, true);
}

std::string WindowText(HWND window, UINT timeoutMs)
{
    DWORD_PTR length = 0;
    if (!::SendMessageTimeoutA(window, WM_GETTEXTLENGTH, 0, 0, SMTO_BLOCK, timeoutMs, &length))
        return std::string();
    std::string text(length + 1, '\0');
    DWORD_PTR copied = 0;
    if (!::SendMessageTimeoutA(
            window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0]), SMTO_BLOCK, timeoutMs, &copied))
        return std::string();
    text.resize(std::strlen(text.c_str()));
    return text;
}

std::string MessageBoxText(HWND box)
{
    HWND label = ::GetDlgItem(box, kMessageBoxTextId);
    return label != nullptr ? WindowText(label) : std::string();
}

int PressMessageBoxButton(HWND box, int button)
{
    if (::GetDlgItem(box, button) == nullptr)
        button = ::GetDlgItem(box, IDOK) != nullptr ? IDOK : IDCANCEL;
    ::PostMessageA(
        box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), reinterpret_cast<LPARAM>(::GetDlgItem(box, button)));
    return button;
}

MessageBoxWatcher::MessageBoxWatcher(int button, const std::string& caption, DWORD processId)
    : MessageBoxWatcher(std::vector<int> {button}, caption, processId)
{
}

MessageBoxWatcher::MessageBoxWatcher(
    const std::vector<int>& buttons, const std::string& caption, DWORD processId, std::function<std::string()> noting)
    : buttons_(buttons.empty() ? std::vector<int> {IDOK} : buttons),
      caption_(caption),
      processId_(processId != 0 ? processId : ::GetCurrentProcessId()),
      noting_(std::move(noting))
{
    thread_ = std::thread([this] { Run(); });
}

MessageBoxWatcher::~MessageBoxWatcher()
{
    Stop();
}

void MessageBoxWatcher::Stop()
{
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
}

std::vector<SeenBox> MessageBoxWatcher::Seen() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return seen_;
}

size_t MessageBoxWatcher::Count() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return seen_.size();
}

bool MessageBoxWatcher::WaitFor(size_t count, DWORD timeoutMs) const
{
    return PumpUntil([&] { return Count() >= count; }, timeoutMs);
}

int MessageBoxWatcher::NextButton()
{
    int button = buttons_[nextButton_];
    if (nextButton_ + 1 < buttons_.size())
        ++nextButton_;
    return button;
}

void MessageBoxWatcher::Run()
{
    while (!stop_) {
        // A box stays on screen for a moment after its button was posted: answer it once only.
        for (auto it = answered_.begin(); it != answered_.end();)
            it = ::IsWindow(*it) ? std::next(it) : answered_.erase(it);
        for (HWND box : FindMessageBoxes(processId_, caption_)) {
            if (answered_.count(box) != 0)
                continue;
            SeenBox seen;
            seen.caption = WindowText(box);
            seen.text = MessageBoxText(box);
            if (noting_)
                seen.note = noting_();
            answered_.insert(box);
            // Recorded under the lock taken before the button is posted: the box's caller may return
            // and ask for Seen() at once, and must then find it.
            std::lock_guard<std::mutex> lock(mutex_);
            seen.button = PressMessageBoxButton(box, NextButton());
            seen_.push_back(seen);
        }
        ::Sleep(kPollMs);
    }
}

namespace {
thread_local MessageBoxHook* t_hook = nullptr;
}

MessageBoxHook::MessageBoxHook(int button, const std::string& caption) : button_(button), caption_(caption)
{
    t_hook = this;
    hook_ = ::SetWindowsHookExA(WH_CBT, HookProc, nullptr, ::GetCurrentThreadId());
}

MessageBoxHook::~MessageBoxHook()
{
    if (hook_ != nullptr)
        ::UnhookWindowsHookEx(hook_);
    if (t_hook == this)
        t_hook = nullptr;
}

LRESULT CALLBACK MessageBoxHook::HookProc(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_ACTIVATE && t_hook != nullptr)
        t_hook->OnActivate(reinterpret_cast<HWND>(wParam));
    return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

// At activation the box is already visible with its text set, and the posted command waits in
// the queue until the box's modal loop takes it.
void MessageBoxHook::OnActivate(HWND window)
{
    if (answered_.count(window) != 0 || !LooksLikeMessageBox(window, false))
        return;
    SeenBox seen;
    seen.caption = WindowText(window);
    if (!caption_.empty() && seen.caption != caption_)
        return;
    seen.text = MessageBoxText(window);
    seen.button = PressMessageBoxButton(window, button_);
    answered_.insert(window);
    seen_.push_back(seen);
}

PopupMenuPicker::PopupMenuPicker(UINT commandId, Cancel cancel) : commandId_(commandId), cancel_(cancel)
{
    thread_ = std::thread([this] { Run(); });
}

PopupMenuPicker::~PopupMenuPicker()
{
    Stop();
}

void PopupMenuPicker::Stop()
{
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
}

std::vector<SeenMenuItem> PopupMenuPicker::Items() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return items_;
}

size_t PopupMenuPicker::MenusSeen() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return menusSeen_;
}

bool PopupMenuPicker::WaitFor(size_t count, DWORD timeoutMs) const
{
    return PumpUntil([&] { return MenusSeen() >= count; }, timeoutMs);
}

void PopupMenuPicker::Run()
{
    const DWORD self = ::GetCurrentProcessId();
    while (!stop_) {
        HWND menu = FindVisibleMenu(self);
        if (answered_ != nullptr && (menu != answered_))
            answered_ = nullptr;  // the answered menu has closed
        if (menu != nullptr && menu != answered_) {
            Answer(menu);
            answered_ = menu;
        }
        ::Sleep(kPollMs);
    }
}

void PopupMenuPicker::Answer(HWND menuWindow)
{
    DWORD_PTR result = 0;
    ::SendMessageTimeoutA(menuWindow, MN_GETHMENU, 0, 0, SMTO_BLOCK, kTextTimeoutMs, &result);
    HMENU menu = reinterpret_cast<HMENU>(result);
    std::vector<SeenMenuItem> items;
    int highlighted = -1;
    int count = menu != nullptr ? ::GetMenuItemCount(menu) : 0;
    for (int i = 0; i < count; ++i) {
        char text[256] = {};
        MENUITEMINFOA info {};
        info.cbSize = sizeof info;
        info.fMask = MIIM_ID | MIIM_STATE | MIIM_FTYPE | MIIM_STRING | MIIM_SUBMENU;
        info.dwTypeData = text;
        info.cch = sizeof text - 1;
        if (!::GetMenuItemInfoA(menu, static_cast<UINT>(i), TRUE, &info))
            continue;
        SeenMenuItem item;
        item.separator = (info.fType & MFT_SEPARATOR) != 0;
        item.id = info.hSubMenu != nullptr ? static_cast<UINT>(-1) : (item.separator ? 0 : info.wID);
        item.text = text;
        item.state = info.fState;
        if (info.fState & MFS_HILITE)
            highlighted = static_cast<int>(items.size());
        items.push_back(item);
    }

    // Counted before the answer goes out: the menu may close, and its caller read the count, before
    // this thread runs again.
    {
        std::lock_guard<std::mutex> lock(mutex_);
        items_ = items;
        ++menusSeen_;
    }

    int target = -1;
    for (size_t i = 0; i < items.size() && commandId_ != 0; ++i) {
        if (!items[i].separator && items[i].id == commandId_) {
            target = static_cast<int>(i);
            break;
        }
    }
    if (target < 0) {
        if (cancel_ == Cancel::EndMenu)
            ::EndMenu();
        else
            ::PostMessageA(menuWindow, WM_KEYDOWN, VK_ESCAPE, 0);
    } else {
        // The menu moves its highlight over every item but separators; with nothing highlighted
        // the first VK_DOWN lands on the first such item.
        int steps = 0;
        UINT key = VK_DOWN;
        if (highlighted < 0) {
            steps = 1;
            for (int i = 0; i < target; ++i)
                steps += items[static_cast<size_t>(i)].separator ? 0 : 1;
        } else {
            int from = highlighted < target ? highlighted : target;
            int to = highlighted < target ? target : highlighted;
            for (int i = from + 1; i <= to; ++i)
                steps += items[static_cast<size_t>(i)].separator ? 0 : 1;
            if (highlighted > target)
                key = VK_UP;
        }
        for (int i = 0; i < steps; ++i)
            ::PostMessageA(menuWindow, WM_KEYDOWN, key, 0);
        ::PostMessageA(menuWindow, WM_KEYDOWN, VK_RETURN, 0);
    }
}

HWND FindOwnWindow(const char* className, const char* caption)
{
    HWND window = nullptr;
    while ((window = ::FindWindowExA(nullptr, window, className, caption)) != nullptr) {
        DWORD process = 0;
        ::GetWindowThreadProcessId(window, &process);
        if (process == ::GetCurrentProcessId() && ::IsWindowVisible(window))
            return window;
    }
    return nullptr;
}

HWND WaitForWindow(const char* className, const char* caption, DWORD timeoutMs)
{
    HWND found = nullptr;
    auto look = [&] {
        HWND window = nullptr;
        while ((window = ::FindWindowExA(nullptr, window, className, caption)) != nullptr) {
            if (::IsWindowVisible(window)) {
                found = window;
                return true;
            }
        }
        return false;
    };
    PumpUntil(look, timeoutMs);
    return found;
}

RECT RectInParent(HWND control)
{
    RECT rect {};
    ::GetWindowRect(control, &rect);
    ::MapWindowPoints(nullptr, ::GetParent(control), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

void NotifyListClick(HWND target, HWND list, UINT code)
{
    NMITEMACTIVATE notice {};
    notice.hdr.hwndFrom = list;
    notice.hdr.idFrom = static_cast<UINT_PTR>(::GetDlgCtrlID(list));
    notice.hdr.code = code;
    notice.iItem = -1;
    ::SendMessageA(target, WM_NOTIFY, notice.hdr.idFrom, reinterpret_cast<LPARAM>(&notice));
}

bool PumpMessages(DWORD ms)
{
    DWORD start = ::GetTickCount();
    for (;;) {
        MSG msg;
        while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT)
                return true;
            ::TranslateMessage(&msg);
            ::DispatchMessageA(&msg);
        }
        DWORD elapsed = ::GetTickCount() - start;
        if (elapsed >= ms)
            return false;
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, ms - elapsed, QS_ALLINPUT);
    }
}

bool DeleteProgramKey()
{
    DeleteKeyTree(HKEY_CURRENT_USER, kProgramKey);
    HKEY key = nullptr;
    if (::RegOpenKeyExA(HKEY_CURRENT_USER, kProgramKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return true;
    ::RegCloseKey(key);
    return false;
}

std::string ThisProgram()
{
    char path[MAX_PATH] = {};
    ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    return path;
}

bool WriteFileBytes(const std::string& path, const std::string& bytes)
{
    HANDLE file = ::CreateFileW(
        TestFolder::Wide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    BOOL ok = ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    ::CloseHandle(file);
    return ok && written == bytes.size();
}

bool ReadFileBytes(const std::string& path, std::string& bytes)
{
    bytes.clear();
    HANDLE file = ::CreateFileW(
        TestFolder::Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    char buffer[4096];
    DWORD got = 0;
    bool ok = true;
    for (;;) {
        if (!::ReadFile(file, buffer, sizeof buffer, &got, nullptr)) {
            ok = false;
            break;
        }
        if (got == 0)
            break;
        bytes.append(buffer, got);
    }
    ::CloseHandle(file);
    if (!ok)
        bytes.clear();
    return ok;
}

bool FileExists(const std::string& path)
{
    return TestFolder::Attributes(path) != INVALID_FILE_ATTRIBUTES;
}

bool FolderExists(const std::string& path)
{
    DWORD attributes = TestFolder::Attributes(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool IsSmallTestDrive(const std::string& root)
{
    ULARGE_INTEGER available {}, total {}, free {};
    return ::GetDiskFreeSpaceExA(root.c_str(), &available, &total, &free) && total.QuadPart > 0 &&
        total.QuadPart < (64ull << 20);
}

std::string FromHost(std::string path)
{
    if (!path.empty() && path[0] == '/')
        path = "Z:" + path;
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

}  // namespace testsupport
