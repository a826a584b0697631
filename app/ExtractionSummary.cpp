#include "app/ExtractionSummary.h"

#include "unzip32/unzip32.h"
#include "resources/kestrova/texts.h"

#include <windows.h>

namespace app {

void ExtractionSummary::Add(const std::string& archive, int result, bool passwordSkipped)
{
    if (++count_ > kShownLines)
        return;
    lines_ += archive;
    // Under the heading "Files extracted:" an archive that failed must not pass for extracted.
    if (result == UZ_STOPPED)
        lines_ += texts::kSummaryStopped;
    else if (passwordSkipped)
        lines_ += texts::kSummaryNoPassword;
    else if (result != UZ_OK)
        lines_ += result == UZ_WARNING ? texts::kSummarySkipped : texts::kSummaryFailed;
    lines_ += '\n';
}

std::string ExtractionSummary::Text() const
{
    std::string text = texts::kSummaryHeading + lines_;
    if (count_ > kShownLines)
        text += Ellipsis() + texts::kSummaryMoreBefore + std::to_string(count_ - kShownLines) +
            texts::kSummaryMoreAfter + "\n";
    return text;
}

// The box shows ANSI text: the character is converted to whatever code page the system runs in
// (0x85 in 1252, two bytes in 932). Best-fit mapping is turned off so that a code page without it
// is noticed rather than given a look-alike; UTF-8 takes no such flags and holds it anyway.
std::string ExtractionSummary::Ellipsis()
{
    const wchar_t wide[] = {0x2026};
    char bytes[8] = {};
    BOOL lossy = FALSE;
    const bool utf8 = ::GetACP() == CP_UTF8;
    int length = ::WideCharToMultiByte(
        CP_ACP, utf8 ? 0 : WC_NO_BEST_FIT_CHARS, wide, 1, bytes, sizeof bytes, nullptr, utf8 ? nullptr : &lossy);
    if (length <= 0 || lossy)
        return "...";
    return std::string(bytes, static_cast<size_t>(length));
}

}  // namespace app
