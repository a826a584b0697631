#pragma once
// Helpers of the update downloader's tests: the loopback test server's folders, updates signed with
// the tests' key, the update dialog run on a user-interface thread of its own, and a message box
// recorder that also notes what the dialog showed while each box was up.
#include "tests/support/ProcessWindows.h"

#include <windows.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace updatertest {

// The dialog's tests poll every 20 ms: a stop must land between two of a download's progress reports.
const DWORD kPollMs = 20;

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
    // "newversion.txt" holding `version`, the program file holding `program`, and its signature file holding
    // their signature by the tests' key.
    void PutSignedProgram(const std::string& version, const std::string& program) const;
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

// The signature by the tests' key of the program `bytes` published with the version file `version`
// (only its version text, the first six bytes up to a zero byte, is signed), as "update.sig" holds
// it (r and s, 64 bytes).
std::string TestSignature(const std::string& version, const std::string& bytes);

// The folder of the tests' key, with a trailing backslash: a kvupdate.exe built to trust that key,
// and kvupdate.sig, that program's signature for the version file newversion.txt beside it, made by
// scripts/sign-update.sh.
std::string TestKeyFolder();

// The update dialog, run modally on a thread of its own as the program runs it.
class DialogThread {
public:
    // `updater`: the program the dialog would start elevated (default: this test program).
    explicit DialogThread(const std::string& updater = std::string());
    DialogThread(const DialogThread&) = delete;
    DialogThread& operator=(const DialogThread&) = delete;
    // Closes the dialog if it is still open (stopping a download first) and joins the thread.
    ~DialogThread();

    HWND Handle() const { return hwnd_; }
    HWND Item(int id) const { return ::GetDlgItem(hwnd_, id); }
    std::string ItemText(int id) const { return testsupport::WindowText(Item(id), 2000); }
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
    std::atomic<HWND> hwnd_ {nullptr};
    std::atomic<bool> done_ {false};
    INT_PTR result_ = 0;
};

// Presses OK in each message box of this process; each box's note is the dialog's status log
// (edit 1001) as it stood while the box was up.
class BoxRecorder : public testsupport::MessageBoxWatcher {
public:
    explicit BoxRecorder(const DialogThread& dialog);
    // The texts of all boxes, one a line, for failure messages.
    std::string Summary() const;
};

}  // namespace updatertest
