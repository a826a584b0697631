#include "framework/Application.h"

#include "framework/FileSystem.h"

#include <commctrl.h>

namespace fw {

Application* Application::instance_ = nullptr;

namespace {

std::string ModuleTitle(HINSTANCE instance)
{
    std::string name = ModuleFileName(instance);
    size_t slash = name.find_last_of("\\/");
    if (slash != std::string::npos)
        name.erase(0, slash + 1);
    size_t dot = name.find_last_of('.');
    if (dot != std::string::npos)
        name.erase(dot);
    return name;
}

}  // namespace

Application::Application()
{
    instance_ = this;
    // Usable before Run, so that process-wide objects built earlier can already show messages.
    hinstance_ = ::GetModuleHandleA(nullptr);
    title_ = ModuleTitle(hinstance_);
}

Application::~Application()
{
    if (instance_ == this)
        instance_ = nullptr;
}

int Application::Run(HINSTANCE instance)
{
    hinstance_ = instance;
    title_ = ModuleTitle(instance);

    INITCOMMONCONTROLSEX controls {sizeof controls, ICC_WIN95_CLASSES | ICC_USEREX_CLASSES | ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&controls);

    try {
        InitInstance();
    } catch (...) {
        // Nothing may escape WinMain; the exit code stays what the program had set.
    }
    return ExitInstance();
}

}  // namespace fw
