#pragma once
#include "engine/PasswordPrompt.h"

#include <string>

namespace engine {

// The passwords of one extraction run (one Execute over the queue). Answers the library's password
// questions: the last password that opened a member is tried first, without asking, for every later
// encrypted member of the run; the user is asked when there is none yet or the library asks again
// for the same member (the password given was wrong), and the prompt then says that the last one
// was wrong. After kMaxWrong wrong answers in one archive, or Skip, the archive's other members
// are skipped without asking. Nothing outlives the session: its texts are wiped when it ends.
class PasswordSession {
public:
    explicit PasswordSession(PasswordPrompt& prompt);
    PasswordSession(const PasswordSession&) = delete;
    PasswordSession& operator=(const PasswordSession&) = delete;
    ~PasswordSession();

    // The library asks this many times per member at most, then skips the member.
    static constexpr int kMaxAsks = 3;
    // Typed answers that did not open a member, per archive, after which its questions end.
    static constexpr int kMaxWrong = 3;

    // One question of the library: the password of `member` in `archive` into `buffer` (`size`
    // bytes). 0 with a NUL-terminated password in the buffer, 1 for none (the member is skipped).
    int Answer(char* buffer, int size, const char* member, const char* archive);

    // Called when the library's call on one archive has returned with `result`. True when the
    // user chose Skip in that archive.
    bool ArchiveEnded(int result);

private:
    // Where the password handed to the library last came from.
    enum class Source { Known, Typed, Candidate };
    int Hand(char* buffer, int size, const std::string& password, Source from);
    // The library has moved past the member last asked for; `opened` says the password given last
    // (if any) is known to have worked.
    void Settle(bool opened);
    void NoteWrong();

    PasswordPrompt& prompt_;
    std::string known_;  // the last password that opened a member
    bool hasKnown_ = false;
    std::string given_;  // the answer to the last question about the current member
    bool hasGiven_ = false;
    Source givenFrom_ = Source::Known;
    // The user's last answer in this archive when the library gave up on its member after it:
    // tried once on the next member, since it may have been right at the last question.
    std::string candidate_;
    bool hasCandidate_ = false;
    bool triedCandidate_ = false;
    int wrong_ = 0;           // typed answers in this archive that did not open their member
    bool lastWrong_ = false;  // the last of them was wrong: the prompt says so
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
