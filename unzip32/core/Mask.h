#pragma once
#include <string>

namespace unzip {

// Matches a member's whole stored name against a mask with '*' (any run, also across folders) and
// '?' (one character); '/' and '\' match each other. Case-insensitive for ASCII letters when asked.
// With `utf8` the texts are UTF-8 and '?' (like the run of a '*') takes whole characters, not bytes.
bool MatchMask(const std::string& mask, const std::string& name, bool ignoreCase, bool utf8 = false);

}  // namespace unzip
