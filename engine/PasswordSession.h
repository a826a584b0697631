#pragma once
#include "engine/PasswordPrompt.h"

#include <string>

namespace engine {

// The passwords of one extraction run (one Execute over the queue). Answers the library's password
// questions: the last password that opened a member is tried first, without asking, for every later
// encrypted member of the run; the user is asked when there is none yet or the library asks again
// for the same member (the password given was wrong). After Skip the archive's other members are
// skipped without asking. Nothing outlives the session: its texts are
// wiped when it ends.
class PasswordSession {
public:
    explicit PasswordSession(PasswordPrompt& prompt);
    PasswordSession(const PasswordSession&) = delete;
    PasswordSession& operator=(const PasswordSession&) = delete;
    ~PasswordSession();

    // The library asks this many times per member at most, then skips the member.
    static constexpr int kMaxAsks = 3;

    // One question of the library: the password of `member` in `archive` into `buffer` (`size`
    // bytes). 0 with a NUL-terminated password in the buffer, 1 for none (the member is skipped).
    int Answer(char* buffer, int size, const char* member, const char* archive);

    // Called when the library's call on one archive has returned with `result`.
    void ArchiveEnded(int result);

private:
    // The library has moved past the member last asked for; `opened` says the password given last
    // (if any) is known to have worked.
    void Settle(bool opened);

    PasswordPrompt& prompt_;
    std::string known_;  // the last password that opened a member
    bool hasKnown_ = false;
    std::string given_;  // the answer to the last question about the current member
    bool hasGiven_ = false;
    std::string member_;
    std::string archive_;
    bool asking_ = false;  // a member is being asked for
    int asks_ = 0;         // questions about the current member so far
    bool triedKnown_ = false;
    bool skippedArchive_ = false;  // the user chose Skip in the current archive
};

// Overwrites the whole of the string's storage before emptying it, so that no copy of a password
// stays behind in freed memory.
void WipeText(std::string& text);

}  // namespace engine
