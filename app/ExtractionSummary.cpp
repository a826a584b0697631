#include "app/ExtractionSummary.h"

#include "engine/UnzipEngine.h"
#include "framework/Text.h"
#include "unzip32/unzip32.h"
#include "resources/kestrova/texts.h"

#include <windows.h>

#include <algorithm>

namespace app {

void ExtractionSummary::Add(const std::string& archive, int result, bool passwordSkipped, const std::string& reason)
{
    // Under the heading "Files extracted:" an archive that failed must not pass for extracted.
    if (result == UZ_OK) {
        extracted_.push_back(archive);
    } else if (result == UZ_STOPPED) {
        stopped_ = true;
        problems_.push_back(archive + texts::kSummaryStopped);
    } else if (passwordSkipped) {
        skipped_ = true;  // the user's own choice at the prompt
        problems_.push_back(archive + texts::kSummaryNoPassword);
    } else if (result == UZ_WARNING) {
        skipped_ = true;
        problems_.push_back(archive + texts::kSummarySkipped);
    } else {
        failed_ = true;
        problems_.push_back(archive + texts::kSummaryFailedBefore +
            (reason.empty() ? engine::UnzipEngine::ResultReason(result) : reason) + texts::kSummaryFailedAfter);
    }
}

void ExtractionSummary::AddNotQueued(const std::string& path)
{
    failed_ = true;
    problems_.push_back(path + texts::kSummaryFailedBefore + texts::kReasonNotQueued + texts::kSummaryFailedAfter);
}

std::string ExtractionSummary::Text() const
{
    std::string text = texts::kSummaryHeading;
    for (const std::string& line : problems_)
        text += line + '\n';
    const size_t room = static_cast<size_t>(kShownLines) - std::min<size_t>(problems_.size(), kShownLines);
    const size_t shown = std::min(room, extracted_.size());
    for (size_t i = 0; i < shown; ++i)
        text += extracted_[i] + '\n';
    if (shown < extracted_.size())
        text += Ellipsis() + texts::kSummaryMoreBefore + std::to_string(extracted_.size() - shown) +
            texts::kSummaryMoreAfter + "\n";
    return text + RecycleLines("\n");
}

std::string ExtractionSummary::Log() const
{
    std::string ansi;
    for (const std::vector<std::string>* lines : {&problems_, &extracted_}) {
        for (const std::string& line : *lines)
            ansi += line + "\r\n";
    }
    ansi += RecycleLines("\r\n");
    if (ansi.empty() || ::GetACP() == CP_UTF8)
        return ansi;
    const int size = static_cast<int>(ansi.size());
    const int wideLength = ::MultiByteToWideChar(CP_ACP, 0, ansi.data(), size, nullptr, 0);
    std::wstring wide(static_cast<size_t>(std::max(wideLength, 0)), L'\0');
    if (wideLength > 0)
        ::MultiByteToWideChar(CP_ACP, 0, ansi.data(), size, &wide[0], wideLength);
    const int length = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideLength, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(std::max(length, 0)), '\0');
    if (length > 0)
        ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideLength, &utf8[0], length, nullptr, nullptr);
    return utf8;
}

// What became of the extracted archives when they were to go to the Recycle Bin, after a blank line.
std::string ExtractionSummary::RecycleLines(const char* lineEnd) const
{
    std::string lines;
    const auto count = [](int archives) {
        return std::to_string(archives) + (archives == 1 ? texts::kSummaryOneArchive : texts::kSummaryArchives);
    };
    if (recycled_ > 0)
        lines += texts::kSummaryRecycled + count(recycled_) + lineEnd;
    if (notRecycled_ > 0)
        lines += texts::kSummaryNotRecycled + count(notRecycled_) + lineEnd;
    return lines.empty() ? lines : lineEnd + lines;
}

int ExtractionSummary::ExitCode() const
{
    if (stopped_)
        return 3;
    if (failed_)
        return 2;
    return skipped_ ? 1 : 0;
}

// The box shows ANSI text: the character is converted to whatever code page the system runs in
// (0x85 in 1252, two bytes in 932). A code page without it is noticed rather than given a look-alike.
std::string ExtractionSummary::Ellipsis()
{
    std::string ellipsis;
    return fw::NarrowExact(std::wstring(1, L'\x2026'), ellipsis) ? ellipsis : "...";
}

}  // namespace app
