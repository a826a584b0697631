#pragma once
// Helpers of the update downloader's tests: the loopback test server's folders, updates signed with
// the tests' key, the update dialog run on a user-interface thread of its own, and a message box
// recorder that also notes what the dialog showed while each box was up.
#include <windows.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace updatertest {

// One folder of the test server (tests/updater/test_server.py), which CTest starts before the
// tests and stops afterwards; KESTROVA_TEST_SERVER names its working folder on the host.
class TestSite {
public:
    // A new, empty folder under the server's root.
    TestSite();
    bool Available() const { return port_ != 0; }
    // "http://127.0.0.1:<port>/<folder>/"
    std::string BaseUrl() const;
    void Put(const std::string& name, const std::string& bytes) const;
    // "update.exe" holding `program`, and "update.sig" holding its signature by the tests' key.
    void PutSignedProgram(const std::string& program) const;
    // Marker beside a file: "status" (content: the code), "trickle" or "stall".
    void Mark(const std::string& name, const std::string& marker, const std::string& content = "") const;

private:
    std::string folder_;  // Windows path of the folder
    std::string name_;
    int port_ = 0;
};

// A small file with a valid MZ and PE header followed by `size` bytes of pattern: enough to pass
// as a Windows program.
std::string FakeProgram(size_t size, char seed);

// The private half of the tests' key, made for this build (tests/updater/CMakeLists.txt); the
// test programs trust its public half (updater::kTrustedUpdateKey), the shipped kvupdate does not.
extern const unsigned char kTestPrivateKey[32];

// The signature of `bytes` by the tests' key, as "update.sig" holds it (r and s, 64 bytes).
std::string TestSignature(const std::string& bytes);

// The folder of the tests' key, with a trailing backslash: a kvupdate.exe built to trust that key,
// and kvupdate.sig, that program's signature made by scripts/sign-update.sh.
std::string TestKeyFolder();

// Polls `condition` every 20 ms until it holds or `timeoutMs` has passed.
bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs);

// Text of a window of another thread, read with a time limit.
std::string TextOf(HWND window);

// The update dialog, run modally on a thread of its own as the program runs it.
class DialogThread {
public:
    DialogThread();
    DialogThread(const DialogThread&) = delete;
    DialogThread& operator=(const DialogThread&) = delete;
    // Closes the dialog if it is still open (stopping a download first) and joins the thread.
    ~DialogThread();

    HWND Handle() const { return hwnd_; }
    HWND Item(int id) const { return ::GetDlgItem(hwnd_, id); }
    std::string ItemText(int id) const { return TextOf(Item(id)); }
    std::string Caption() const;  // the action button's caption
    // Clicks the action button as the mouse would (BM_CLICK); waits until the click is handled.
    void Click() const;
    // Escape in the dialog, and Close from the system menu; both posted.
    void PressEscape() const;
    void SystemClose() const;
    bool IsCloseGreyed() const;
    int ProgressPosition() const;
    bool IsOpen() const { return !done_; }
    bool WaitClosed(DWORD timeoutMs) const;
    INT_PTR Result() const { return result_; }

private:
    std::thread thread_;
    std::atomic<HWND> hwnd_{nullptr};
    std::atomic<bool> done_{false};
    INT_PTR result_ = 0;
};

// One message box, and what the dialog showed while it was up.
struct RecordedBox {
    std::string text;
    std::string caption;
    std::string log;         // the status log (edit 1001)
    std::string action;      // the action button's caption
};

// Watches for message boxes of this process, records each and presses OK.
class BoxRecorder {
public:
    explicit BoxRecorder(const DialogThread& dialog);
    BoxRecorder(const BoxRecorder&) = delete;
    BoxRecorder& operator=(const BoxRecorder&) = delete;
    ~BoxRecorder();

    std::vector<RecordedBox> Boxes() const;
    size_t Count() const;
    bool WaitFor(size_t count, DWORD timeoutMs) const;
    // The texts of all boxes, one a line, for failure messages.
    std::string Summary() const;

private:
    void Run();

    const DialogThread& dialog_;
    mutable std::mutex mutex_;
    std::vector<RecordedBox> boxes_;
    std::vector<HWND> answered_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace updatertest
