#include "framework/MessageBox.h"

#include "framework/Application.h"

namespace fw {

int ShowMessage(HWND owner, const std::string& text, UINT type)
{
    const Application* app = Application::Instance();
    const char* caption = app != nullptr ? app->Title().c_str() : "";
    return ::MessageBoxA(owner, text.c_str(), caption, type);
}

}  // namespace fw
