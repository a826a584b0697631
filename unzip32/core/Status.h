#pragma once
// The ZIP core's own status set. The library's entry point maps it to its result codes in one place.

namespace unzip {

enum class Status {
    Ok = 0,
    NotAnArchive,       // no end-of-central-directory record
    Inconsistent,       // headers contradict each other or point outside the archive
    Truncated,          // the archive ends before a structure it declares
    CrcMismatch,        // member data does not match its CRC-32
    SizeMismatch,       // member data does not have its declared size
    DataError,          // the compressed data is damaged
    BadAuthentication,  // encrypted data does not match its authentication code (WinZip AES)
    UnsupportedMethod,  // a compression method this library does not decode
    Encrypted,          // the member is encrypted and no password is available
    UnsafeName,         // the member's name would leave the target folder
    Overlapping,        // member records overlap each other or the directory (a zip bomb)
    MultiDisk,          // split or multi-disk archive
    NotFound,           // the archive cannot be opened
    ReadFailure,        // the archive cannot be read
    WriteFailure,       // an output file cannot be created or written
    PathBlocked,        // a file stands where the member's folder should be (or a folder where its file should)
    Exists,             // a file or folder was under the member's name before the run and is kept
    DiskFull,           // the disk is full
    OutOfMemory,
    InvalidArgument,
    Internal,
    Stopped,  // the caller asked the run to stop
};

// A static message for the status.
const char* ErrorString(Status status);

}  // namespace unzip
