#include "updater/UpdaterApp.h"

#include "updater/UpdateDialog.h"

namespace updater {

void UpdaterApp::InitInstance()
{
    Enable3dControls();
    UpdateDialog dialog;
    SetMainWindow(&dialog);
    dialog.DoModal(nullptr);
    SetMainWindow(nullptr);
}

}  // namespace updater
