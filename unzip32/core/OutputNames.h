#pragma once
#include "unzip32/core/Extractor.h"

#include <map>
#include <string>
#include <vector>

namespace unzip {

// The names of the files one run writes, as the host's file system compares them (its NameKey of
// every part). A member whose file would replace one that the run wrote before gets a free name of
// its own instead ("A.txt", then "A (2).txt"), so that no member of the archive is lost; a file
// that was in the target before the run is replaced, kept or kept beside the new one, as the
// caller chose (ExistingFiles).
class OutputNames {
public:
    explicit OutputNames(Host& host) : host_(host) { }
    OutputNames(const OutputNames&) = delete;
    OutputNames& operator=(const OutputNames&) = delete;

    // Where a file of the run takes a name written before, gives its last part " (2)", " (3)"...
    // before its extension, the first number under which neither the run nor the target has
    // anything (folders merge: only the last part changes). True when the name was changed.
    bool Choose(std::vector<std::string>& parts);
    // For a name that Choose left as it was: where the target holds a file or folder under it (from
    // before the run), Skip gives Exists, and KeepBoth numbers the last part as Choose does and
    // sets `numbered`. Overwrite asks the host nothing (the host replaces a file, refuses a folder).
    Status Existing(std::vector<std::string>& parts, ExistingFiles existing, bool& numbered);
    // The file has been created under `parts`: a later file of that name is renamed.
    void Take(const std::vector<std::string>& parts);

private:
    std::string Key(const std::vector<std::string>& parts) const;
    // `parts` with the last part numbered from `number` on, the first that neither the run nor the
    // target has; `number` is left at it.
    std::vector<std::string> Numbered(const std::vector<std::string>& parts, unsigned& number) const;

    Host& host_;
    // Every name taken, by its key, with the next number to try for a file renamed from it.
    std::map<std::string, unsigned> taken_;
};

// "A.txt" numbered 2 gives "A (2).txt", "readme" gives "readme (2)", ".profile" gives
// ".profile (2)": the extension is what follows the last dot, unless that dot starts the name.
std::string NumberedName(const std::string& name, unsigned number);

// The line that tells where a renamed member went: its shown name, and the new one in the form the
// host shows names in; `keptBoth` for a name numbered beside what was there before the run
// (OutputNames::Existing), else for one a file of the run had taken.
std::string RenamedLine(
    Host& host, const std::string& shown, const std::vector<std::string>& parts, bool keptBoth = false);

// A member done, as both extractors report it: counted where it is a file extracted, its line
// printed, and the line of its new name where it was renamed (counted as renamed, or as kept
// beside a file there before when `keptBoth`).
void ReportDone(Host& host, const ExtractOptions& options, ExtractReport& report, bool counted,
    const std::string& doneLine, const std::string& renamedLine, bool keptBoth = false);

}  // namespace unzip
