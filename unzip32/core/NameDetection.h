#pragma once
#include "unzip32/core/NameCodec.h"

#include <string>
#include <vector>

namespace unzip {

// The legacy code pages an archive's names are looked for in: the OEM and ANSI pages in use.
const std::vector<unsigned>& CandidateNamePages();

// The code page that makes all of `rawNames` (legacy names, as stored) most plausible: every name
// must decode in it, then a score of how natural the names read picks among those that do.
// `userPage` (the user's OEM page) wins every tie and every case where the evidence is weak, and is
// the answer when no name has a byte above 0x7F.
unsigned DetectNamePage(const std::vector<std::string>& rawNames, const NameCodec& codec, unsigned userPage);

}  // namespace unzip
