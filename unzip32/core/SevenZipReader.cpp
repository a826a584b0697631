#include "unzip32/core/ArchiveReader.h"

namespace unzip {

std::unique_ptr<ArchiveReader> OpenSevenZipReader(
    Source& source, Host& host, const ExtractOptions& options, Status& status, std::string& detail)
{
    (void)source;
    (void)host;
    (void)options;
    status = Status::UnsupportedMethod;
    detail = "7z archives are not read yet";
    return nullptr;
}

}  // namespace unzip
