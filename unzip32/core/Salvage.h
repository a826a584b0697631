#pragma once
#include "unzip32/core/Directory.h"
#include "unzip32/core/NameCodec.h"
#include "unzip32/core/Source.h"
#include "unzip32/core/Status.h"
#include "unzip32/core/WholeMember.h"

namespace unzip {

// For an archive whose end record or central directory is missing or unreadable (a download cut
// off, a directory overwritten): walks the local records from the start of the file and makes a
// directory of the members that can be proved whole. A member counts when its data lies inside the
// file, where its local record or its data descriptor says it ends, and decodes to its size and
// CRC (an encrypted one with its sizes in the record is taken on those: its password and CRC are
// checked when it is extracted); folders are taken as they stand. A member that cannot be proved
// is skipped, and the walk goes on after it, or at the next local record's signature when its end
// is unknown. The walk only ever moves forward and what it reads and decodes is bounded by a few
// times the file's size, whatever the records declare.
//
// NotAnArchive when the file does not start with a local record; Stopped when `going`, told the
// bytes decoded so far to prove members, said stop; otherwise Ok, with the members found (perhaps
// none) and `directoryStart` where the walk ended.
Status SalvageDirectory(Source& source, Directory& directory, const NameCodec* codec = nullptr,
    unsigned namePage = kNamePageAsWindows, const Progress& going = Progress());

}  // namespace unzip
