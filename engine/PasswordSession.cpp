#include "engine/PasswordSession.h"

#include "unzip32/unzip32.h"

#include <windows.h>

#include <algorithm>
#include <cstring>

namespace engine {

namespace {

// The dialog's limit on a typed password; the library's buffer holds at least one more byte.
constexpr size_t kPasswordCapacity = 256;

// Copies `password` with its NUL into the library's buffer. A password that does not fit is not
// handed over cut short: that could only fail, so the member is skipped instead.
int Deliver(char* buffer, int size, const std::string& password)
{
    if (buffer == nullptr || size <= 0 || password.size() >= static_cast<size_t>(size))
        return 1;
    std::memcpy(buffer, password.c_str(), password.size() + 1);
    return 0;
}

}  // namespace

void WipeText(std::string& text)
{
    text.resize(text.capacity());
    if (!text.empty())
        ::SecureZeroMemory(&text[0], text.size());
    text.clear();
}

PasswordSession::PasswordSession(PasswordPrompt& prompt) : prompt_(prompt)
{
    // Room for the longest password up front: assigning never moves the text, so wiping the
    // strings reaches every byte a password was held in.
    known_.reserve(kPasswordCapacity);
    given_.reserve(kPasswordCapacity);
    candidate_.reserve(kPasswordCapacity);
}

PasswordSession::~PasswordSession()
{
    WipeText(known_);
    WipeText(given_);
    WipeText(candidate_);
}

int PasswordSession::Answer(char* buffer, int size, const char* member, const char* archive)
{
    const std::string memberName = member != nullptr ? member : "";
    const std::string archivePath = archive != nullptr ? archive : "";
    // A second question about the same member means the password given for it was wrong. A move
    // to another member before the last permitted question means it was right.
    if (!asking_ || memberName != member_ || archivePath != archive_) {
        Settle(asks_ < kMaxAsks);
        member_ = memberName;
        archive_ = archivePath;
        asking_ = true;
        asks_ = 0;
        triedKnown_ = false;
        triedCandidate_ = false;
    } else if (hasGiven_ && givenFrom_ != Source::Known) {
        NoteWrong();
    }
    ++asks_;
    // Skip answers for the rest of the archive: a user who skipped one member is not asked again
    // for each of its others.
    if (skippedArchive_)
        return 1;

    if (hasCandidate_ && !triedCandidate_) {
        triedCandidate_ = true;
        return Hand(buffer, size, candidate_, Source::Candidate);
    }
    if (hasKnown_ && !triedKnown_) {
        triedKnown_ = true;
        return Hand(buffer, size, known_, Source::Known);
    }
    // Enough wrong answers for one archive: the rest of it is not asked about.
    if (wrong_ >= kMaxWrong) {
        hasGiven_ = false;
        return 1;
    }

    std::string typed;
    typed.reserve(kPasswordCapacity);
    const bool answered = prompt_.AskPassword(memberName, archivePath, lastWrong_, typed);
    if (!answered) {
        WipeText(typed);
        hasGiven_ = false;
        skippedArchive_ = true;
        return 1;
    }
    const int handed = Hand(buffer, size, typed, Source::Typed);
    WipeText(typed);
    return handed;
}

int PasswordSession::Hand(char* buffer, int size, const std::string& password, Source from)
{
    given_.assign(password);
    hasGiven_ = true;
    givenFrom_ = from;
    return Deliver(buffer, size, given_);
}

// The typed answer handed last did not open its member.
void PasswordSession::NoteWrong()
{
    lastWrong_ = true;
    if (givenFrom_ == Source::Candidate)
        hasCandidate_ = false;  // counted when it became the candidate
    else
        ++wrong_;
}

bool PasswordSession::ArchiveEnded(int result)
{
    // After the last permitted question only a clean result tells that the answer was right.
    Settle(asks_ < kMaxAsks || result == UZ_OK);
    const bool skipped = skippedArchive_;
    asking_ = false;
    asks_ = 0;
    triedKnown_ = false;
    triedCandidate_ = false;
    skippedArchive_ = false;
    wrong_ = 0;
    lastWrong_ = false;
    hasCandidate_ = false;
    std::fill(candidate_.begin(), candidate_.end(), '\0');
    candidate_.clear();
    member_.clear();
    archive_.clear();
    return skipped;
}

void PasswordSession::Settle(bool opened)
{
    if (asking_ && hasGiven_) {
        if (opened) {
            known_.assign(given_);
            hasKnown_ = true;
            if (givenFrom_ == Source::Candidate) {
                --wrong_;  // counted as wrong when the library moved on after it, but it was right
                hasCandidate_ = false;
            }
            if (givenFrom_ != Source::Known)
                lastWrong_ = false;
        } else if (givenFrom_ == Source::Typed) {
            // The library gave up on the member after this answer: most likely wrong, but it may
            // have opened the member at the last question. It is tried once more, on the next
            // member, before anyone is asked.
            NoteWrong();
            candidate_.assign(given_);
            hasCandidate_ = true;
        }
    }
    hasGiven_ = false;
    givenFrom_ = Source::Known;
    std::fill(given_.begin(), given_.end(), '\0');
    given_.clear();
}

}  // namespace engine
