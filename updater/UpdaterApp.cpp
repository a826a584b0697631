#include "updater/UpdaterApp.h"

#include "framework/Text.h"
#include "updater/ElevatedReplacement.h"
#include "updater/UpdateDialog.h"

#include <shellapi.h>

namespace updater {

void UpdaterApp::InitInstance()
{
    // Started elevated by a kvupdate of the user for the replacement alone: no window.
    int count = 0;
    LPWSTR* arguments = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    bool replacement = arguments != nullptr && count == 3 && fw::Narrow(arguments[1]) == ElevatedReplacement::kArgument;
    std::string staged = replacement ? fw::Narrow(arguments[2]) : std::string();
    if (arguments != nullptr)
        ::LocalFree(arguments);
    if (replacement) {
        SetExitCode(ElevatedReplacement::Run(staged));
        return;
    }

    Enable3dControls();
    UpdateDialog dialog;
    SetMainWindow(&dialog);
    dialog.DoModal(nullptr);
    SetMainWindow(nullptr);
}

}  // namespace updater
