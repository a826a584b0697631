#pragma once
#include <string>

namespace unzip {

// Matches a member's whole stored name against a mask with '*' (any run, also across folders) and
// '?' (one character); '/' and '\' match each other. Case-insensitive for ASCII letters when asked.
bool MatchMask(const std::string& mask, const std::string& name, bool ignoreCase);

}  // namespace unzip
