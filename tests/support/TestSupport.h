#pragma once
// Helpers shared by the test programs: answering message boxes and popup menus that the code under
// test shows, waiting for windows, pumping the test thread's messages, keeping the program's
// registry key clean, where controls stand and what a click in a list tells its parent, and small
// file helpers. RegistryFixture (a gtest fixture with raw registry
// readers) and TestFolder (a temporary folder removed afterwards) come in through this header too.
#include "tests/support/RegistryFixture.h"
#include "tests/support/TestFolder.h"

#include <windows.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

// One message box as a watcher saw it, and the button it pressed.
struct SeenBox {
    std::string caption;
    std::string text;  // the static control 0xFFFF; empty when the box paints its text itself
    int button = 0;
    std::string note;  // what the watcher's `noting` answered while the box was up
};

// True for a visible, enabled top-level "#32770" window whose children are all buttons and static
// controls: a message box or a confirmation box of the shell. The program's own dialogs have list
// views, combo boxes or tab controls, and an owner is disabled while its box is up, so neither
// matches even when it bears the same caption.
bool IsMessageBox(HWND window);

// Caption and text of a window or box, read with a time limit (per message) so that a hung owner
// cannot block the reader; empty when the owner did not answer in time.
std::string WindowText(HWND window, UINT timeoutMs = 200);
std::string MessageBoxText(HWND box);

// Presses `button` in the box by posting WM_COMMAND; a box without that button gets IDOK, and one
// without OK gets IDCANCEL (Wine answers IDCANCEL for an OK-only box dismissed otherwise). Answers
// the id that was posted.
int PressMessageBoxButton(HWND box, int button);

// A watcher thread that looks every 20 ms for message boxes of one process (by default this one),
// optionally only those with a given caption, presses a button in each and records what it saw.
// It also answers boxes that code under test shows on the test's own thread: the box's modal loop
// runs while the watcher clicks. The buttons are used in order, the last one for every later box.
// `noting`, when given, is asked about each box before it is answered (what else showed meanwhile).
class MessageBoxWatcher {
public:
    explicit MessageBoxWatcher(int button = IDOK, const std::string& caption = std::string(), DWORD processId = 0);
    explicit MessageBoxWatcher(const std::vector<int>& buttons, const std::string& caption = std::string(),
        DWORD processId = 0, std::function<std::string()> noting = nullptr);
    MessageBoxWatcher(const MessageBoxWatcher&) = delete;
    MessageBoxWatcher& operator=(const MessageBoxWatcher&) = delete;
    ~MessageBoxWatcher();

    std::vector<SeenBox> Seen() const;
    size_t Count() const;
    // Pumps the calling thread's messages until `count` boxes were answered; false on timeout.
    bool WaitFor(size_t count, DWORD timeoutMs) const;
    // Ends the watcher thread; boxes that come up afterwards stay up.
    void Stop();

private:
    void Run();
    int NextButton();

    std::vector<int> buttons_;
    size_t nextButton_ = 0;
    std::string caption_;
    DWORD processId_;
    std::function<std::string()> noting_;
    mutable std::mutex mutex_;
    std::vector<SeenBox> seen_;
    std::set<HWND> answered_;
    std::atomic<bool> stop_ {false};
    std::thread thread_;
};

// The same answers from a WH_CBT hook on the creating thread: the box is seen at HCBT_ACTIVATE and
// the button is posted before its modal loop starts. Only boxes of the current thread are seen;
// one hook per thread at a time.
class MessageBoxHook {
public:
    explicit MessageBoxHook(int button = IDOK, const std::string& caption = std::string());
    MessageBoxHook(const MessageBoxHook&) = delete;
    MessageBoxHook& operator=(const MessageBoxHook&) = delete;
    ~MessageBoxHook();

    const std::vector<SeenBox>& Seen() const { return seen_; }

private:
    static LRESULT CALLBACK HookProc(int code, WPARAM wParam, LPARAM lParam);
    void OnActivate(HWND window);

    int button_;
    std::string caption_;
    HHOOK hook_ = nullptr;
    std::vector<SeenBox> seen_;
    std::set<HWND> answered_;
};

// One item of a popup menu as the picker read it through MN_GETHMENU.
struct SeenMenuItem {
    UINT id = 0;  // 0 for a separator; (UINT)-1 for a sub-menu
    std::string text;
    UINT state = 0;  // MFS_* flags (MFS_GRAYED, MFS_CHECKED, ...)
    bool separator = false;
};

// A watcher thread that finds the visible "#32768" popup menu of this process (TrackPopupMenu with
// TPM_RETURNCMD | TPM_NONOTIFY), records its items and picks the item with the command id: VK_DOWN
// as many times as needed (separators are skipped by the menu itself) and VK_RETURN. A command id
// of 0, or one the menu lacks, cancels the menu instead (VK_ESCAPE, or EndMenu). Every menu that
// comes up gets the same answer.
class PopupMenuPicker {
public:
    enum class Cancel { Escape, EndMenu };

    explicit PopupMenuPicker(UINT commandId, Cancel cancel = Cancel::Escape);
    PopupMenuPicker(const PopupMenuPicker&) = delete;
    PopupMenuPicker& operator=(const PopupMenuPicker&) = delete;
    ~PopupMenuPicker();

    // Items of the last menu seen, in menu order.
    std::vector<SeenMenuItem> Items() const;
    size_t MenusSeen() const;
    bool WaitFor(size_t count, DWORD timeoutMs) const;
    void Stop();

private:
    void Run();
    void Answer(HWND menuWindow);

    UINT commandId_;
    Cancel cancel_;
    mutable std::mutex mutex_;
    std::vector<SeenMenuItem> items_;
    size_t menusSeen_ = 0;
    HWND answered_ = nullptr;
    std::atomic<bool> stop_ {false};
    std::thread thread_;
};

// The first visible top-level window with the class (null: any) and caption (null: any), waiting
// up to `timeoutMs` while the calling thread's messages are pumped; null when none came.
HWND WaitForWindow(const char* className, const char* caption, DWORD timeoutMs);
// The visible top-level window of this process with the class and caption (null when there is
// none): the folder browsers of test programs running side by side must not answer each other's.
HWND FindOwnWindow(const char* className, const char* caption);

// A control's rectangle in its parent's client co-ordinates.
RECT RectInParent(HWND control);

// Sends `target` what a click with the left (NM_CLICK) or right (NM_RCLICK) button in `list`
// beside its items tells the list's parent.
void NotifyListClick(HWND target, HWND list, UINT code);

// Retrieves and dispatches the calling thread's messages for `ms` milliseconds (0: only those that
// are waiting). Answers true, at once, when WM_QUIT arrives.
bool PumpMessages(DWORD ms);

// Deletes HKCU\Software\Kestrova with everything under it, bottom-up with the raw registry calls.
// Answers true when the key is gone afterwards (also when it never existed).
bool DeleteProgramKey();

// Clears the program's registry key when made and again when it goes, for tests that are not
// RegistryFixture tests.
class RegistryKeyGuard {
public:
    RegistryKeyGuard() { DeleteProgramKey(); }
    RegistryKeyGuard(const RegistryKeyGuard&) = delete;
    RegistryKeyGuard& operator=(const RegistryKeyGuard&) = delete;
    ~RegistryKeyGuard() { DeleteProgramKey(); }
};

// Full path of the running test program.
std::string ThisProgram();

// Whole-file helpers on full paths. WriteFileBytes replaces the file; ReadFileBytes answers false
// (and leaves `bytes` empty) when the file cannot be read.
bool WriteFileBytes(const std::string& path, const std::string& bytes);
bool ReadFileBytes(const std::string& path, std::string& bytes);
bool FileExists(const std::string& path);
bool FolderExists(const std::string& path);

// True when `root` (such as T:\) is one of the small volumes that small-drives.sh maps for the
// tests of full and read-only destinations: present and under 64 MiB, so filling it fills no
// real disk.
bool IsSmallTestDrive(const std::string& root);

// A host path (from the environment) as the programs under Wine see it: Z: is the host's root.
std::string FromHost(std::string path);

}  // namespace testsupport
