#pragma once
#include <windows.h>

#include <string>

namespace fw {

class Window;

// The one application object of a program: holds the instance handle and the application's title,
// initialises the common controls and owns start-up. WinMain only constructs the derived object and
// calls Run; each program runs its own message loop inside InitInstance.
class Application {
public:
    Application();
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;
    virtual ~Application();

    // The application object of this process (null before it is constructed).
    static Application* Instance() { return instance_; }

    // Initialises, calls InitInstance, then ExitInstance, whose result is the process's exit code.
    int Run(HINSTANCE instance);

    HINSTANCE HInstance() const { return hinstance_; }
    // The program file's name without its extension: the caption of every message box.
    const std::string& Title() const { return title_; }

    // Name of the application's key under HKEY_CURRENT_USER\Software.
    void SetRegistryKey(const std::string& name) { registryKey_ = name; }

    // Kept for programs that host embedded controls in dialogs; nothing to do with the standard controls.
    void EnableControlContainer() { }
    // Three-dimensional drawing of the standard controls is the platform's default; kept as a no-op.
    void Enable3dControls() { }

    Window* MainWindow() const { return mainWindow_; }
    void SetMainWindow(Window* window) { mainWindow_ = window; }

protected:
    // The program's start-up and its run.
    virtual void InitInstance() = 0;
    // The exit processing; its result is the exit code.
    virtual int ExitInstance() { return exitCode_; }
    void SetExitCode(int code) { exitCode_ = code; }

private:
    static Application* instance_;
    HINSTANCE hinstance_ = nullptr;
    std::string title_;
    std::string registryKey_;
    Window* mainWindow_ = nullptr;
    int exitCode_ = 0;
};

}  // namespace fw
