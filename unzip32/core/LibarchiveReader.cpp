#include "unzip32/core/ArchiveReader.h"

namespace unzip {

std::unique_ptr<ArchiveReader> OpenLibarchiveReader(ArchiveKind kind, Source& source, Host& host,
    const ExtractOptions& options, Status& status, std::string& detail)
{
    (void)source;
    (void)host;
    (void)options;
    status = kind == ArchiveKind::Unknown ? Status::NotAnArchive : Status::UnsupportedMethod;
    detail = kind == ArchiveKind::Unknown ? "" : std::string(ArchiveKindName(kind)) + " archives are not read yet";
    return nullptr;
}

}  // namespace unzip
