#include "updater/UpdaterApp.h"

#include "updater/UpdateDialog.h"

namespace updater {

bool UpdaterApp::InitInstance()
{
    Enable3dControls();
    UpdateDialog dialog;
    SetMainWindow(&dialog);
    dialog.DoModal(nullptr);
    SetMainWindow(nullptr);
    return false;
}

}  // namespace updater
