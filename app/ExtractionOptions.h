#pragma once
#include <windows.h>

#include <string>
#include <vector>

namespace fw {
class PathInfo;
}
namespace settings {
class SettingsDialog;
}

namespace app {

// What an extraction run does, read from the settings once when it starts: the settings dialog
// cannot change while a run goes on, so this is what reading the boxes per archive would give.
struct ExtractionOptions {
    bool askForFolder = false;  // one folder, picked at the start, for the whole run
    bool titleFolder = false;   // each archive into a sub-folder named after it
    bool showSummary = false;   // the summary box at the end
    bool smartFolder = false;   // no title sub-folder for an archive with one top-level entry
    unsigned namePage = 0;      // the code page of names without Unicode (0: automatic)
    bool markOfTheWeb = true;     // carry the archive's mark of the web onto the files
    int existingFiles = 0;        // 0 overwrite, 1 skip, 2 keep both
    bool recycleArchives = false; // good archives go to the Recycle Bin at the end of the run
    std::vector<std::string> excludeMasks;

    static ExtractionOptions FromSettings(const settings::SettingsDialog& settings);
};

// The folder `archive` is extracted into: beside it, or in the folder `chosen` at the start of the
// run; in either, inside a sub-folder named after the archive when the title option is on, unless
// the smart folder option is on too and the archive holds one top-level entry (`single`).
std::string ExtractionDestination(
    fw::PathInfo& archive, const ExtractionOptions& options, const std::string& chosen, bool single = false);

// True when every member name (as listed, in `codePage`) lies under one top-level folder, or there
// is one single file: such an archive brings its own folder, or needs none. `entry` is given that
// folder's or file's name.
bool OneTopLevelEntry(const std::vector<std::string>& names, std::string* entry = nullptr, UINT codePage = CP_ACP);

}  // namespace app
