#include "app/ExtractorApp.h"

#include "app/CommandLine.h"
#include "app/MainWindow.h"
#include "framework/Dialog.h"

#include <algorithm>
#include <memory>

namespace app {

namespace {

// The whole log in one file, replaced if it exists; false when it cannot be written.
bool WriteLog(const std::wstring& path, const std::string& text)
{
    if (path.empty())
        return false;
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    const bool ok =
        ::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) && written == text.size();
    return ::CloseHandle(file) && ok;
}

}  // namespace

void ExtractorApp::InitInstance()
{
    EnableControlContainer();
    SetRegistryKey("Kestrova");
    Enable3dControls();

    auto window = std::make_unique<app::MainWindow>();
    SetMainWindow(window.get());
    if (!window->Create(nullptr)) {
        // Without a main window nothing could ever post the quit message: stop cleanly instead.
        SetMainWindow(nullptr);
        SetExitCode(0);
        return;
    }
    window->Show(SW_SHOW);

    // kestrova.exe [/x] [paths...]: the paths are queued; /x extracts them and closes the program.
    const CommandLine line = CommandLine::Parse(::GetCommandLineW());
    window->SetUnattended(line.extractAndClose);
    if (!line.paths.empty() || !line.unusable.empty())
        window->QueuePaths(line.paths, line.unusable);
    int runCode = 0;
    if (line.extractAndClose) {
        window->RunExtraction(true);
        runCode = window->LastSummary().ExitCode();
        if (line.logAsked && !WriteLog(line.logFile, window->LastSummary().Log()))
            runCode = std::max(runCode, 2);
        if (window->IsValid())
            window->Post(WM_CLOSE);
    }

    // The windows' dialog keys (Tab, Enter, Escape) work as in any dialog; every other key reaches
    // the focused control as a plain key message, and the lists ask for Enter themselves, which
    // their key handlers rely on. No accelerators.
    MSG msg;
    int result;
    while ((result = ::GetMessageA(&msg, nullptr, 0, 0)) != 0) {
        if (result == -1)
            break;
        if (fw::Dialog::TranslateDialogKey(msg))
            continue;
        ::TranslateMessage(&msg);
        ::DispatchMessageA(&msg);
    }
    // Unattended, the exit code tells how the run went.
    SetExitCode(line.extractAndClose ? runCode : result == 0 ? static_cast<int>(msg.wParam) : 0);

    SetMainWindow(nullptr);
    window.reset();
}

}  // namespace app
