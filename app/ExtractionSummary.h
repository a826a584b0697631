#pragma once
#include <string>

namespace app {

// The text an extraction run ends with: the heading, then one line per archive handled, in row
// order. A line says when its archive did not extract cleanly, and only the first kShownLines
// archives are named (then a line counts the rest), so the box always fits on the screen.
class ExtractionSummary {
public:
    static constexpr int kShownLines = 30;

    // One archive handled, with the library's result for it (0: extracted; the engine's
    // "not called" when the library could not be used); `passwordSkipped` when the user chose Skip
    // at its password prompt.
    void Add(const std::string& archive, int result, bool passwordSkipped = false);
    std::string Text() const;

    // "…" in the ANSI code page, or "..." where the code page has no such character.
    static std::string Ellipsis();

private:
    std::string lines_;
    int count_ = 0;
};

}  // namespace app
