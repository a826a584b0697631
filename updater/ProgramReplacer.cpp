#include "updater/ProgramReplacer.h"

#include "framework/Text.h"
#include "updater/UpdateSignature.h"
#include "updater/VersionFile.h"

#include <vector>

namespace updater {

namespace {

const DWORD kNewHeaderOffsetField = 0x3C;
const DWORD kDosHeaderSize = 0x40;
const DWORD kCopyChunk = 64 * 1024;

bool ReadAt(HANDLE file, DWORD offset, void* bytes, DWORD count)
{
    if (::SetFilePointer(file, static_cast<LONG>(offset), nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER)
        return false;
    DWORD got = 0;
    return ::ReadFile(file, bytes, count, &got, nullptr) != FALSE && got == count;
}

bool CopyContents(HANDLE from, HANDLE to)
{
    std::vector<char> buffer(kCopyChunk);
    for (;;) {
        DWORD read = 0;
        if (!::ReadFile(from, buffer.data(), kCopyChunk, &read, nullptr))
            return false;
        if (read == 0)
            return true;
        DWORD written = 0;
        if (!::WriteFile(to, buffer.data(), read, &written, nullptr) || written != read)
            return false;
    }
}

// The path as the system's native rename takes it: "\??\" and the full path ("\??\UNC\..." for a
// share). A bare name would be taken relative to the current folder by some systems.
std::wstring NativePath(const std::string& path)
{
    std::wstring wide = fw::Widen(path);
    DWORD length = ::GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (length == 0)
        return std::wstring();
    std::wstring full(length, L'\0');
    length = ::GetFullPathNameW(wide.c_str(), length, &full[0], nullptr);
    full.resize(length);
    if (full.compare(0, 4, L"\\\\?\\") == 0)
        return L"\\??\\" + full.substr(4);
    if (full.compare(0, 2, L"\\\\") == 0)
        return L"\\??\\UNC\\" + full.substr(2);
    return L"\\??\\" + full;
}

// Creating a file failed because this process may not write into the folder (on Windows: a folder
// of administrators; under Wine also a read-only volume), not because of the file itself.
bool IsFolderRefusal(DWORD error, const std::string& path)
{
    return (error == ERROR_ACCESS_DENIED || error == ERROR_WRITE_PROTECT) &&
        ::GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES;
}

// The offset of the "PE\0\0" signature, 0 when the file is no Windows executable.
DWORD NewHeaderOffset(HANDLE file)
{
    unsigned char header[kDosHeaderSize] = {};
    if (!ReadAt(file, 0, header, sizeof header) || header[0] != 'M' || header[1] != 'Z')
        return 0;
    DWORD offset = static_cast<DWORD>(header[kNewHeaderOffsetField]) |
        static_cast<DWORD>(header[kNewHeaderOffsetField + 1]) << 8 |
        static_cast<DWORD>(header[kNewHeaderOffsetField + 2]) << 16 |
        static_cast<DWORD>(header[kNewHeaderOffsetField + 3]) << 24;
    unsigned char signature[4] = {};
    bool pe = offset >= kDosHeaderSize && ReadAt(file, offset, signature, sizeof signature) && signature[0] == 'P' &&
        signature[1] == 'E' && signature[2] == 0 && signature[3] == 0;
    return pe ? offset : 0;
}

}  // namespace

bool ProgramReplacer::IsWindowsExecutable(HANDLE file)
{
    return NewHeaderOffset(file) != 0;
}

WORD ProgramReplacer::MachineOf(HANDLE file)
{
    DWORD offset = NewHeaderOffset(file);
    unsigned char machine[2] = {};
    if (offset == 0 || !ReadAt(file, offset + 4, machine, sizeof machine))
        return 0;
    return static_cast<WORD>(machine[0] | machine[1] << 8);
}

ProgramReplacer::Result ProgramReplacer::Replace(
    const SignedUpdate& update, const std::string& installedVersion, const std::string& target)
{
    if (target.empty())
        return Result::NoTarget;

    DWORD attributes = ::GetFileAttributesA(target.c_str());
    bool installed = attributes != INVALID_FILE_ATTRIBUTES;
    // A folder is no program, and a read-only program is one the user does not want overwritten
    // (renaming would get round the attribute).
    if (installed && (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0)
        return Result::NotReplaced;

    // Beside the target, so that the swap below is a rename on one volume.
    std::string staging = StagingPath(target);
    StagedProgram staged;
    if (!staged.Create(update.program, staging))
        return IsFolderRefusal(staged.Error(), staging) ? Result::FolderNotWritable : Result::NotReplaced;
    Result checked = staged.Check(update, installedVersion);
    if (checked != Result::Replaced)
        return checked;
    if (!installed)
        return staged.MoveTo(target) ? Result::Replaced : Result::NotReplaced;

    // Moving the installed file aside fails while another process holds it open without sharing
    // (a locked program): then nothing has changed yet.
    std::string backup = BackupPath(target);
    if (!::MoveFileExA(target.c_str(), backup.c_str(), MOVEFILE_REPLACE_EXISTING))
        return Result::NotReplaced;
    if (!staged.MoveTo(target)) {
        if (!::MoveFileExA(backup.c_str(), target.c_str(), 0))
            return Result::RestoreFailed;
        return Result::NotReplaced;
    }
    // A program that is still running (Windows lets its file be renamed but not deleted) keeps
    // the old copy beside it; the next update replaces that copy.
    ::DeleteFileA(backup.c_str());
    return Result::Replaced;
}

StagedProgram::~StagedProgram()
{
    if (file_ == INVALID_HANDLE_VALUE)
        return;
    FILE_DISPOSITION_INFO disposition = {TRUE};
    ::SetFileInformationByHandle(file_, FileDispositionInfo, &disposition, sizeof disposition);
    ::CloseHandle(file_);
}

bool StagedProgram::Create(const std::string& source, const std::string& path)
{
    HANDLE from = ::CreateFileA(source.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (from == INVALID_HANDLE_VALUE) {
        error_ = ::GetLastError();
        return false;
    }
    // DELETE access for the rename and the delete through this handle; others may only read.
    file_ = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
        FILE_ATTRIBUTE_NORMAL, nullptr);
    error_ = file_ == INVALID_HANDLE_VALUE ? ::GetLastError() : 0;
    if (file_ != INVALID_HANDLE_VALUE && !CopyContents(from, file_)) {
        error_ = ::GetLastError();
        FILE_DISPOSITION_INFO disposition = {TRUE};
        ::SetFileInformationByHandle(file_, FileDispositionInfo, &disposition, sizeof disposition);
        ::CloseHandle(file_);
        file_ = INVALID_HANDLE_VALUE;
    }
    ::CloseHandle(from);
    return file_ != INVALID_HANDLE_VALUE;
}

ProgramReplacer::Result StagedProgram::Check(const SignedUpdate& update, const std::string& installedVersion) const
{
    if (!UpdateSignature::Verify(file_, update.version, update.signature, kTrustedUpdateKey))
        return ProgramReplacer::Result::NotSigned;
    if (!ProgramReplacer::IsWindowsExecutable(file_))
        return ProgramReplacer::Result::NotAProgram;
    // The library beside the program is of the installed kind: a program of the other kind could
    // not load it.
    if (ProgramReplacer::MachineOf(file_) != ProgramReplacer::kOwnMachine)
        return ProgramReplacer::Result::OtherBuild;
    if (VersionFile::Compare(update.version, installedVersion) < 0)
        return ProgramReplacer::Result::OlderVersion;
    return ProgramReplacer::Result::Replaced;
}

bool StagedProgram::MoveTo(const std::string& path)
{
    std::wstring name = NativePath(path);
    if (name.empty())
        return false;
    // The record ends in the name's characters; FileNameLength counts bytes without a terminator.
    std::vector<char> record(sizeof(FILE_RENAME_INFO) + name.size() * sizeof(wchar_t));
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(record.data());
    rename->ReplaceIfExists = FALSE;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = static_cast<DWORD>(name.size() * sizeof(wchar_t));
    name.copy(rename->FileName, name.size());
    if (!::SetFileInformationByHandle(file_, FileRenameInfo, rename, static_cast<DWORD>(record.size())))
        return false;
    Keep();
    return true;
}

void StagedProgram::Keep()
{
    if (file_ != INVALID_HANDLE_VALUE)
        ::CloseHandle(file_);
    file_ = INVALID_HANDLE_VALUE;
}

}  // namespace updater
