#include "app/ExtractorApp.h"

#include "app/CommandLine.h"
#include "app/MainWindow.h"

#include <memory>

namespace app {

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
    if (!line.paths.empty() || !line.unusable.empty())
        window->QueuePaths(line.paths, line.unusable);
    if (line.extractAndClose) {
        window->RunExtraction(true);
        if (window->IsValid())
            window->Post(WM_CLOSE);
    }

    // No IsDialogMessage and no accelerators: keys reach the focused control as plain key messages,
    // which the list views' key handlers rely on.
    MSG msg;
    int result;
    while ((result = ::GetMessageA(&msg, nullptr, 0, 0)) != 0) {
        if (result == -1)
            break;
        ::TranslateMessage(&msg);
        ::DispatchMessageA(&msg);
    }
    SetExitCode(result == 0 ? static_cast<int>(msg.wParam) : 0);

    SetMainWindow(nullptr);
    window.reset();
}

}  // namespace app
