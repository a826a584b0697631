#include "updater/ElevatedReplacement.h"

#include "framework/Text.h"
#include "updater/ReadSetting.h"
#include "updater/UpdateLocation.h"
#include "updater/VersionFile.h"

#include <shellapi.h>

#include <string>
#include <vector>

namespace updater {

namespace {

using Result = ProgramReplacer::Result;

const DWORD kLongPath = 32768;

std::string FolderOf(const std::string& path)
{
    size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string FullPath(const std::string& path)
{
    std::vector<char> full(kLongPath);
    DWORD length = ::GetFullPathNameA(path.c_str(), kLongPath, full.data(), nullptr);
    return length > 0 && length < kLongPath ? std::string(full.data(), length) : path;
}

// The files of one request under the user's temporary folder, removed again when it goes.
class StagingFolder {
public:
    StagingFolder()
    {
        char temp[MAX_PATH + 1] = {};
        DWORD length = ::GetTempPathA(sizeof temp, temp);
        if (length == 0 || length > MAX_PATH)
            return;
        std::string folder = std::string(temp) + "kvupdate" + std::to_string(::GetCurrentProcessId()) + "_" +
            std::to_string(::GetTickCount());
        if (::CreateDirectoryA(folder.c_str(), nullptr))
            folder_ = folder + "\\";
    }
    StagingFolder(const StagingFolder&) = delete;
    StagingFolder& operator=(const StagingFolder&) = delete;
    ~StagingFolder()
    {
        if (folder_.empty())
            return;
        for (const char* name :
            {UpdateLocation::kProgramFileName, UpdateLocation::kSignatureFileName, UpdateLocation::kVersionFileName})
            ::DeleteFileA((folder_ + name).c_str());
        ::RemoveDirectoryA(folder_.c_str());
    }
    bool Made() const { return !folder_.empty(); }
    std::string Child(const char* name) const { return folder_ + name; }

private:
    std::string folder_;
};

bool WriteText(const std::string& path, const std::string& text)
{
    HANDLE file = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    bool done = text.empty() ||
        (::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) && written == text.size());
    ::CloseHandle(file);
    return done;
}

// Waits for `process` while the messages of this thread go on (the window repaints); the owner
// window takes no input meanwhile.
DWORD WaitForExit(HANDLE process, HWND owner)
{
    bool enabled = owner != nullptr && !::EnableWindow(owner, FALSE);
    bool quit = false;
    WPARAM quitCode = 0;
    while (::MsgWaitForMultipleObjects(1, &process, FALSE, INFINITE, QS_ALLINPUT) == WAIT_OBJECT_0 + 1) {
        MSG msg;
        while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                quit = true;
                quitCode = msg.wParam;
                continue;
            }
            ::TranslateMessage(&msg);
            ::DispatchMessageA(&msg);
        }
    }
    if (enabled)
        ::EnableWindow(owner, TRUE);
    if (quit)
        ::PostQuitMessage(static_cast<int>(quitCode));
    DWORD code = STILL_ACTIVE;
    if (!::GetExitCodeProcess(process, &code))
        code = static_cast<DWORD>(Result::NotReplaced);
    return code;
}

}  // namespace

std::string ElevatedReplacement::UpdaterPath()
{
    std::vector<char> path(kLongPath);
    DWORD length = ::GetModuleFileNameA(nullptr, path.data(), kLongPath);
    return length > 0 && length < kLongPath ? std::string(path.data(), length) : std::string();
}

std::string ElevatedReplacement::TargetOf(const std::string& updater)
{
    return FolderOf(FullPath(updater)) + kProgramName;
}

bool ElevatedReplacement::SamePath(const std::string& a, const std::string& b)
{
    return !a.empty() && !b.empty() && ::lstrcmpiA(FullPath(a).c_str(), FullPath(b).c_str()) == 0;
}

ProgramReplacer::Result ElevatedReplacement::Request(
    HWND owner, const std::string& updater, const SignedUpdate& update, const std::string& installedVersion)
{
    // Checked here first, so that the user is asked for administrator rights for nothing but a
    // program that will be installed.
    StagingFolder folder;
    if (!folder.Made())
        return Result::NotReplaced;
    std::string staged = folder.Child(UpdateLocation::kProgramFileName);
    {
        StagedProgram copy;
        if (!copy.Create(update.program, staged))
            return Result::NotReplaced;
        Result checked = copy.Check(update, installedVersion);
        if (checked != Result::Replaced)
            return checked;
        copy.Keep();
    }
    if (!::CopyFileA(update.signature.c_str(), folder.Child(UpdateLocation::kSignatureFileName).c_str(), FALSE) ||
        !WriteText(folder.Child(UpdateLocation::kVersionFileName), update.version))
        return Result::NotReplaced;

    std::wstring file = fw::Widen(updater);
    std::wstring parameters = fw::Widen(std::string(kArgument) + " \"" + staged + "\"");
    SHELLEXECUTEINFOW request = {};
    request.cbSize = sizeof request;
    request.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
    request.hwnd = owner;
    request.lpVerb = L"runas";
    request.lpFile = file.c_str();
    request.lpParameters = parameters.c_str();
    request.nShow = SW_HIDE;
    if (!::ShellExecuteExW(&request))
        return ::GetLastError() == ERROR_CANCELLED ? Result::ElevationDeclined : Result::FolderNotWritable;
    if (request.hProcess == nullptr)
        return Result::FolderNotWritable;
    DWORD code = WaitForExit(request.hProcess, owner);
    ::CloseHandle(request.hProcess);
    if (code == static_cast<DWORD>(Result::FolderNotWritable))
        return Result::NotWritableElevated;
    if (code == static_cast<DWORD>(Result::OtherBuild))
        return Result::OtherBuild;
    return code <= static_cast<DWORD>(Result::RestoreFailed) ? static_cast<Result>(code) : Result::NotReplaced;
}

int ElevatedReplacement::Run(const std::string& staged)
{
    std::string folder = FolderOf(staged);
    SignedUpdate update {staged, folder + UpdateLocation::kSignatureFileName,
        VersionFile::ReadVersionText(folder + UpdateLocation::kVersionFileName)};
    return static_cast<int>(ProgramReplacer::Replace(update, ReadSetting("Version"), TargetOf(UpdaterPath())));
}

}  // namespace updater
