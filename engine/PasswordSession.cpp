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
}

PasswordSession::~PasswordSession()
{
    WipeText(known_);
    WipeText(given_);
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
    }
    ++asks_;
    // Skip answers for the rest of the archive: a user who skipped one member is not asked again
    // for each of its others.
    if (skippedArchive_)
        return 1;

    if (hasKnown_ && !triedKnown_) {
        triedKnown_ = true;
        given_.assign(known_);
        hasGiven_ = true;
        return Deliver(buffer, size, given_);
    }

    std::string typed;
    typed.reserve(kPasswordCapacity);
    const bool answered = prompt_.AskPassword(memberName, archivePath, typed);
    given_.assign(typed);
    hasGiven_ = answered;
    WipeText(typed);
    if (!answered) {
        skippedArchive_ = true;
        return 1;
    }
    return Deliver(buffer, size, given_);
}

void PasswordSession::ArchiveEnded(int result)
{
    // After the last permitted question only a clean result tells that the answer was right.
    Settle(asks_ < kMaxAsks || result == UZ_OK);
    asking_ = false;
    asks_ = 0;
    triedKnown_ = false;
    skippedArchive_ = false;
    member_.clear();
    archive_.clear();
}

void PasswordSession::Settle(bool opened)
{
    if (asking_ && hasGiven_ && opened) {
        known_.assign(given_);
        hasKnown_ = true;
    }
    hasGiven_ = false;
    std::fill(given_.begin(), given_.end(), '\0');
    given_.clear();
}

}  // namespace engine
