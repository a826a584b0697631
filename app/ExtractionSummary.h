#pragma once
#include <string>
#include <vector>

namespace app {

// The text an extraction run ends with: the heading, then one line per archive handled. A line says
// when its archive did not extract cleanly, and why when it failed. Those lines come first, every
// one of them, in row order; the extracted archives follow in row order as long as the box stays
// within kShownLines lines (then a line counts the rest), so the box always fits on the screen and
// no problem is hidden behind the count.
class ExtractionSummary {
public:
    static constexpr int kShownLines = 30;

    // One archive handled, with the library's result for it (0: extracted; the engine's
    // "not called" when the library could not be used); `passwordSkipped` when the user chose Skip
    // at its password prompt; `reason` says why it failed where there is more to say than the
    // result's text (a damaged archive's count of recovered files).
    void Add(const std::string& archive, int result, bool passwordSkipped = false, const std::string& reason = "");
    // A path given to the run that is neither an archive nor a folder.
    void AddNotQueued(const std::string& path);
    // The run was stopped before its end.
    void MarkStopped() { stopped_ = true; }
    // The archives extracted with result 0, in row order.
    const std::vector<std::string>& Extracted() const { return extracted_; }
    // After the run: `moved` of the extracted archives went to the Recycle Bin, `kept` stayed where
    // they were because it could not take them. Each count gets its line when not 0.
    void SetRecycled(int moved, int kept)
    {
        recycled_ = moved;
        notRecycled_ = kept;
    }
    std::string Text() const;
    // Every line, without heading or limit, as UTF-8 with CRLF line ends: the log of an unattended run.
    std::string Log() const;
    // 0: every archive extracted; 1: files were skipped; 2: an archive failed; 3: the run was stopped.
    int ExitCode() const;

    // "…" in the ANSI code page, or "..." where the code page has no such character.
    static std::string Ellipsis();

private:
    std::vector<std::string> problems_;
    std::vector<std::string> extracted_;
    bool skipped_ = false;
    bool failed_ = false;
    bool stopped_ = false;
    int recycled_ = 0;
    int notRecycled_ = 0;

    std::string RecycleLines(const char* lineEnd) const;
};

}  // namespace app
