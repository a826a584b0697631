#pragma once
#include <string>

namespace engine {

// How an extraction run asks the user for the password of an encrypted member. The program
// implements it with its own dialog; the engine holds only this interface and knows no window.
class PasswordPrompt {
public:
    virtual ~PasswordPrompt() = default;

    // Asks for the password of `member` in `archive`; `again` says that the password typed last
    // was wrong. True with the typed text in `password`; false when the user skips the member.
    virtual bool AskPassword(
        const std::string& member, const std::string& archive, bool again, std::string& password) = 0;
};

}  // namespace engine
