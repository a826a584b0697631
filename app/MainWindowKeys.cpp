#include "app/MainWindow.h"

namespace app {

// Tab goes through the window as it reads: the explorer pane and the buttons beside it from top to
// bottom, the drive box below it, the extraction list and its buttons, then the bottom row from
// left to right. The layout raises each control it places, so the window order is no guide.
void MainWindow::SetKeyboardOrder()
{
    SetTabOrder({ExplorerList, upButton, refreshButton, searchButton, desktopButton, driveBox, ExtractionList,
        deleteButton, viewButton, executeButton, websiteButton, emailButton, optionsButton});
}

}  // namespace app
