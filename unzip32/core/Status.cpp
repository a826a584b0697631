#include "unzip32/core/Status.h"

namespace unzip {

const char* ErrorString(Status status)
{
    switch (status) {
    case Status::Ok: return "no error";
    case Status::NotAnArchive: return "not an archive Kestrova knows";
    case Status::Inconsistent: return "inconsistent archive headers";
    case Status::Truncated: return "archive is truncated";
    case Status::CrcMismatch: return "CRC error";
    case Status::SizeMismatch: return "size does not match the directory";
    case Status::DataError: return "damaged compressed data";
    case Status::BadAuthentication: return "authentication code does not match (damaged data)";
    case Status::UnsupportedMethod: return "unsupported compression method";
    case Status::Encrypted: return "encrypted member, no password";
    case Status::UnsafeName: return "unsafe member name";
    case Status::Overlapping: return "overlapping member records";
    case Status::MultiDisk: return "split or multi-disk archives are not supported";
    case Status::NotFound: return "cannot open the archive";
    case Status::ReadFailure: return "cannot read the archive";
    case Status::WriteFailure: return "cannot write the output file";
    case Status::PathBlocked: return "a file stands where its folder should be";
    case Status::Exists: return "a file or folder of that name was there before: kept as it was";
    case Status::DiskFull: return "disk full";
    case Status::OutOfMemory: return "out of memory";
    case Status::InvalidArgument: return "invalid argument";
    case Status::Internal: return "internal error";
    case Status::Stopped: return "stopped";
    }
    return "unknown error";
}

}  // namespace unzip
