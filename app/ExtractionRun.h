#pragma once
// The extraction run's worker: what it handles, and what it and the window's thread share.
#include "app/ExtractionOptions.h"
#include "app/ExtractionSummary.h"
#include "app/MainWindow.h"
#include "engine/PasswordSession.h"
#include "engine/UnzipEngine.h"
#include "framework/Thread.h"

#include <atomic>
#include <memory>
#include <string>
#include <vector>

namespace app {

// Posted by the worker when the progress it keeps has changed (at most one such message waits).
const UINT kRunProgressMessage = WM_APP + 16;
// Sent by the worker with a RunQuestion: it waits until the window's thread has answered.
const UINT kRunQuestionMessage = WM_APP + 17;

// A question of the worker to the user: a failure to show (`failure` set), or a password to ask for.
struct MainWindow::RunQuestion {
    const std::string* failure = nullptr;
    const std::string* member = nullptr;
    const std::string* archive = nullptr;
    bool again = false;
    std::string* password = nullptr;
    bool answered = false;
};

// One run: what it handles, and what its worker and the window's thread share.
struct MainWindow::Run : engine::RunListener, engine::PasswordPrompt {
    explicit Run(MainWindow& owner) : window(owner) { }
    Run(const Run&) = delete;
    Run& operator=(const Run&) = delete;

    static DWORD Work(void* self)
    {
        static_cast<Run*>(self)->ExtractAll();
        return 0;
    }
    void ExtractAll();
    // The title option's sub-folder is left out when the archive's listing holds one top-level
    // folder or one single file; the listing also gives the bytes the archive will produce.
    // `top` is given that entry's name.
    bool ListArchive(const std::string& path, std::vector<char*>& masks, std::string& top);

    // Worker side of the listener: the window's thread shows the text; the worker waits for it.
    // Once a stop is asked for, nothing more is shown: the user has turned away from the run.
    void ShowFailure(const std::string& text) override
    {
        if (listing || stop.load() || window.unattended_)
            return;  // the extraction that follows reports the same problem; unattended: the summary
        RunQuestion question;
        question.failure = &text;
        window.Send(kRunQuestionMessage, 0, reinterpret_cast<LPARAM>(&question));
    }
    // Worker side of the password prompt: the window's thread asks the user, the worker waits.
    bool AskPassword(const std::string& member, const std::string& archive, bool again, std::string& password) override
    {
        if (stop.load())
            return false;
        RunQuestion question;
        question.member = &member;
        question.archive = &archive;
        question.again = again;
        question.password = &password;
        window.Send(kRunQuestionMessage, 0, reinterpret_cast<LPARAM>(&question));
        return question.answered;
    }
    bool AtMember(const char* name, unsigned long size) override;
    void PublishProgress(int permille);

    MainWindow& window;
    ExtractionOptions options;
    std::string chosen;
    std::vector<std::string> paths;  // the rows handled, in row order
    ExtractionSummary summary;       // the worker's until it has ended
    std::unique_ptr<fw::Thread> thread;
    std::atomic<bool> stop {false};
    bool closeAfter = false;          // the window's thread only
    bool closedDuringPrompt = false;  // the window's thread only: the prompt was ended by a close
    std::string caption;              // the window's caption before the run

    // Progress, written by the worker and read by the window's thread.
    std::atomic<int> archiveIndex {0};
    std::atomic<int> archivePermille {0};
    std::atomic<bool> progressPosted {false};

    // The archive being extracted (worker only): its listing's total and what has been reached.
    bool listing = false;
    unsigned long long total = 0;
    unsigned long long reached = 0;  // the members before the current one
    std::string memberName;
    unsigned long memberSize = 0;
    unsigned long long memberSteps = 0;

    // One session for the whole run: archives that share a password ask for it once.
    engine::PasswordSession passwords {*this};
};

}  // namespace app
