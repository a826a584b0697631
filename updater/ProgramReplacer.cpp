#include "updater/ProgramReplacer.h"

#include <windows.h>

namespace updater {

namespace {

const DWORD kNewHeaderOffsetField = 0x3C;
const DWORD kDosHeaderSize = 0x40;

bool ReadAt(HANDLE file, DWORD offset, void* bytes, DWORD count)
{
    if (::SetFilePointer(file, static_cast<LONG>(offset), nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER)
        return false;
    DWORD got = 0;
    return ::ReadFile(file, bytes, count, &got, nullptr) != FALSE && got == count;
}

}  // namespace

bool ProgramReplacer::IsWindowsExecutable(const std::string& path)
{
    HANDLE file = ::CreateFileA(
        path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    unsigned char header[kDosHeaderSize] = {};
    bool executable = false;
    if (ReadAt(file, 0, header, sizeof header) && header[0] == 'M' && header[1] == 'Z') {
        DWORD offset = static_cast<DWORD>(header[kNewHeaderOffsetField]) |
            static_cast<DWORD>(header[kNewHeaderOffsetField + 1]) << 8 |
            static_cast<DWORD>(header[kNewHeaderOffsetField + 2]) << 16 |
            static_cast<DWORD>(header[kNewHeaderOffsetField + 3]) << 24;
        unsigned char signature[4] = {};
        executable = offset >= kDosHeaderSize && ReadAt(file, offset, signature, sizeof signature) &&
            signature[0] == 'P' && signature[1] == 'E' && signature[2] == 0 && signature[3] == 0;
    }
    ::CloseHandle(file);
    return executable;
}

ProgramReplacer::Result ProgramReplacer::Replace(const std::string& downloaded, const std::string& target)
{
    if (target.empty())
        return Result::NoTarget;
    if (!IsWindowsExecutable(downloaded))
        return Result::NotAProgram;

    DWORD attributes = ::GetFileAttributesA(target.c_str());
    bool installed = attributes != INVALID_FILE_ATTRIBUTES;
    // A folder is no program, and a read-only program is one the user does not want overwritten
    // (renaming would get round the attribute).
    if (installed && (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0)
        return Result::NotReplaced;

    // Beside the target, so that the swap below is a rename on one volume.
    std::string staged = StagingPath(target);
    if (!::CopyFileA(downloaded.c_str(), staged.c_str(), FALSE)) {
        ::DeleteFileA(staged.c_str());
        return Result::NotReplaced;
    }
    if (!installed) {
        if (::MoveFileExA(staged.c_str(), target.c_str(), 0))
            return Result::Replaced;
        ::DeleteFileA(staged.c_str());
        return Result::NotReplaced;
    }

    // Moving the installed file aside fails while another process holds it open without sharing
    // (a locked program): then nothing has changed yet.
    std::string backup = BackupPath(target);
    if (!::MoveFileExA(target.c_str(), backup.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        ::DeleteFileA(staged.c_str());
        return Result::NotReplaced;
    }
    if (!::MoveFileExA(staged.c_str(), target.c_str(), 0)) {
        if (!::MoveFileExA(backup.c_str(), target.c_str(), 0))
            return Result::RestoreFailed;
        ::DeleteFileA(staged.c_str());
        return Result::NotReplaced;
    }
    // A program that is still running (Windows lets its file be renamed but not deleted) keeps
    // the old copy beside it; the next update replaces that copy.
    ::DeleteFileA(backup.c_str());
    return Result::Replaced;
}

}  // namespace updater
