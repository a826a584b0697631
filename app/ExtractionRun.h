#pragma once
// One extraction run: every archive it is given extracted into its destination with the user's
// exclusion masks, on one worker thread, into a summary. The window that starts the run keeps its
// messages going meanwhile; the worker tells it how far it is and asks it its questions (a failure
// to be seen, a password) through messages, so any message loop of the window's thread serves
// them, a modal one included.
#include "app/ExtractionOptions.h"
#include "app/ExtractionSummary.h"
#include "engine/PasswordPrompt.h"
#include "engine/PasswordSession.h"
#include "engine/UnzipEngine.h"
#include "framework/Lock.h"
#include "framework/Thread.h"

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

namespace app {

// Which thread may call what: the window's thread makes the run, starts it, hands it its messages,
// stops it and takes the summary; the worker extracts; Stop and Stopping are for either. Checked
// in debug builds.
class ExtractionRun : private engine::RunListener, private engine::PasswordPrompt {
public:
    // What the run needs of the window that owns it. Every call comes on the window's thread, from
    // whatever message loop it is in, while the worker waits.
    class Owner {
    public:
        // How far the run is: archive `archive` (from 0) of `count`, `permille` of it written.
        virtual void ShowRunProgress(int archive, int count, int permille) = 0;
        // A failure the user is to see before the run goes on.
        virtual void ShowRunFailure(const std::string& text) = 0;
        // The password of an encrypted member; false for none (the member is skipped).
        virtual bool AskRunPassword(
            const std::string& member, const std::string& archive, bool again, std::string& password) = 0;

    protected:
        ~Owner() = default;
    };

    // `window` is `owner`'s window: its procedure hands the run's messages to OnMessage. `summary`
    // holds what was known before the run (paths that could not be queued). Unattended, no failure
    // is shown and encrypted members are skipped.
    ExtractionRun(Owner& owner, HWND window, ExtractionOptions options, std::string chosen,
        std::vector<std::string> paths, ExtractionSummary summary, bool unattended);
    ExtractionRun(const ExtractionRun&) = delete;
    ExtractionRun& operator=(const ExtractionRun&) = delete;
    ~ExtractionRun() override;

    // Starts the worker; false when no thread could be made.
    bool Start();
    // The window's thread's messages, handled as the program's loop handles them, until the worker
    // has ended. True when WM_QUIT came meanwhile (its code in `quitCode`): the run was stopped
    // then, and the program's loop must hear of the quit again.
    bool PumpUntilEnded(WPARAM& quitCode);
    // The worker's messages to the window; false for any other message.
    bool OnMessage(UINT msg, LPARAM lParam);
    // After the end: what the run did, marked stopped when a stop was asked for.
    ExtractionSummary TakeSummary();

    // A stop asked for takes effect within about a second.
    void Stop() { shared_.Stop(); }
    bool Stopping() const { return shared_.Stopping(); }

private:
    // What both threads touch, under one lock.
    class Shared {
    public:
        Shared() = default;
        Shared(const Shared&) = delete;
        Shared& operator=(const Shared&) = delete;

        void Stop();
        bool Stopping() const;
        // Worker: the archive it is at and how much of it is written. True when the window is to be
        // told: no notice of an earlier change is waiting for it.
        bool SetProgress(int archive, int permille);
        // Window: how far the worker is; the next change is news again.
        void TakeProgress(int& archive, int& permille);
        // Worker, as it ends: its summary. Window, after the end: that summary.
        void HandOver(ExtractionSummary summary);
        ExtractionSummary TakeSummary();

    private:
        mutable fw::Lock lock_;
        bool stop_ = false;
        int archive_ = 0;
        int permille_ = 0;
        bool progressPosted_ = false;
        ExtractionSummary summary_;
    };
    struct Question;

    bool OnWindowThread() const { return ::GetCurrentThreadId() == windowThread_; }
    bool OnWorker() const { return ::GetCurrentThreadId() == workerThread_; }
    void Answer(Question& question);

    // Worker.
    static DWORD Work(void* self);
    void ExtractAll();
    bool ListArchive(const std::string& path, std::vector<char*>& masks, std::string& top);
    void ShowFailure(const std::string& text) override;
    bool AskPassword(const std::string& member, const std::string& archive, bool again, std::string& password) override;
    bool AtMember(const char* name, unsigned long size) override;
    void PublishProgress(int permille);

    // Set before the worker starts, read-only afterwards.
    Owner& owner_;
    HWND window_;
    const ExtractionOptions options_;
    const std::string chosen_;
    const std::vector<std::string> paths_;  // the rows handled, in row order
    const bool unattended_;
    const DWORD windowThread_;
    DWORD workerThread_ = 0;

    Shared shared_;
    std::unique_ptr<fw::Thread> thread_;  // the window's thread's

    // The worker's.
    ExtractionSummary summary_;
    int archive_ = 0;
    // The archive being extracted: its listing's total and what has been reached.
    bool listing_ = false;
    unsigned long long total_ = 0;
    unsigned long long reached_ = 0;  // the members before the current one
    std::string memberName_;
    unsigned long memberSize_ = 0;
    unsigned long long memberSteps_ = 0;
    // One session for the whole run: archives that share a password ask for it once.
    engine::PasswordSession passwords_ {*this};
};

}  // namespace app
