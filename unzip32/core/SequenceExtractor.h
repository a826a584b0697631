#pragma once
#include "unzip32/core/ArchiveReader.h"
#include "unzip32/core/Extractor.h"

namespace unzip {

// Whether one of the masks matches the member's shown name.
bool Matches(const std::vector<std::string>& masks, const std::string& name, bool ignoreCase, bool utf8);

// Counts a member that failed or was refused under its kind in the report.
void CountProblem(ExtractReport& report, Status status);

// Lists, tests or extracts the members of an archive read member by member (7z, RAR, tar...), with
// the rules of ZIP members: masks, safe names, folders, links never made, the output abandoned
// unless complete and checked, Service by step and by time, the same counts in `report`.
void ExtractSequence(ArchiveReader& reader, Host& host, const ExtractOptions& options, ExtractReport& report);

}  // namespace unzip
