// The password prompt of the main window's extraction runs.
#include "app/MainWindow.h"

#include "app/PasswordDialog.h"

namespace app {

bool MainWindow::AskPassword(const std::string& member, const std::string& archive, std::string& password)
{
    PasswordDialog dialog(member, archive);
    return dialog.Ask(hwnd_, password);
}

}  // namespace app
