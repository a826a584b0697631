#pragma once
#include <string>
#include <vector>

namespace unzip {

// The outcome of making a member name safe to create under the target folder.
struct SafeName {
    bool refused = false;            // the name would leave the target: nothing is written
    bool changed = false;            // characters or components were made safe
    std::vector<std::string> parts;  // folder components and the final name, UTF-8
    std::string reason;              // why the name was refused
};

// Splits a member's name at '/' and '\' and checks every component. Refused: ".." components,
// absolute names, drive letters, UNC and device paths. Made safe: characters Windows does not allow
// in names (<>:"|?*, control characters, so no alternate data streams) become '_', trailing dots and
// spaces are dropped, and device names (CON, PRN, AUX, NUL, COM0-9, LPT0-9, with any extension) get
// a '_' in front. Empty and "." components are skipped.
SafeName MakeSafe(const std::string& utf8Name);

}  // namespace unzip
