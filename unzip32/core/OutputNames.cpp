#include "unzip32/core/OutputNames.h"

namespace unzip {

std::string NumberedName(const std::string& name, unsigned number)
{
    const size_t dot = name.rfind('.');
    const size_t stem = dot == std::string::npos || dot == 0 ? name.size() : dot;
    return name.substr(0, stem) + " (" + std::to_string(number) + ")" + name.substr(stem);
}

std::string RenamedLine(Host& host, const std::string& shown, const std::vector<std::string>& parts, bool keptBoth)
{
    Entry written;
    for (const std::string& part : parts)
        written.name += (written.name.empty() ? "" : "/") + part;
    // Not "renamed:": the caller's own choice is no problem to report.
    if (keptBoth)
        return "keeping both: " + shown + " as " + host.DisplayName(written) +
            " (a file or folder of that name was there before)\n";
    return "renamed: " + shown + " as " + host.DisplayName(written) + " (a file of that name was extracted before)\n";
}

void ReportDone(Host& host, const ExtractOptions& options, ExtractReport& report, bool counted,
    const std::string& doneLine, const std::string& renamedLine, bool keptBoth)
{
    if (counted)
        ++report.extracted;
    if (options.quiet == 0 && !doneLine.empty())
        host.Print(doneLine);
    if (!renamedLine.empty()) {
        ++(keptBoth ? report.keptBoth : report.renamed);
        if (options.quiet < 2)
            host.Print(renamedLine);
    }
}

std::string OutputNames::Key(const std::vector<std::string>& parts) const
{
    return host_.PathKey(parts, parts.size());
}

bool OutputNames::Choose(std::vector<std::string>& parts)
{
    if (parts.empty())
        return false;
    auto taken = taken_.find(Key(parts));
    if (taken == taken_.end())
        return false;
    // Numbering goes on from the number the last file renamed from this name got: an archive of
    // many members of one name costs a look or two per member, not one per number.
    parts = Numbered(parts, taken->second);
    return true;
}

Status OutputNames::Existing(std::vector<std::string>& parts, ExistingFiles existing, bool& numbered)
{
    numbered = false;
    if (existing == ExistingFiles::Overwrite || parts.empty() || !host_.Exists(parts))
        return Status::Ok;
    if (existing == ExistingFiles::Skip)
        return Status::Exists;
    unsigned number = 2;
    parts = Numbered(parts, number);
    numbered = true;
    return Status::Ok;
}

std::vector<std::string> OutputNames::Numbered(const std::vector<std::string>& parts, unsigned& number) const
{
    std::vector<std::string> numbered = parts;
    for (;; ++number) {
        numbered.back() = NumberedName(parts.back(), number);
        if (taken_.count(Key(numbered)) == 0 && !host_.Exists(numbered))
            return numbered;
    }
}

void OutputNames::Take(const std::vector<std::string>& parts)
{
    taken_.emplace(Key(parts), 2u);
}

}  // namespace unzip
