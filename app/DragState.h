#pragma once
#include <windows.h>

#include "framework/ImageList.h"

namespace app {

// The one drag record of the process, shared by both lists while an entry is dragged.
struct DragState {
    bool isDragging = false;
    fw::ImageList dragImage;    // made from the row under the pointer when the drag began
    HWND dragSource = nullptr;  // the list the drag began in
    HWND dropTarget = nullptr;  // the window under the pointer at the last move or the release
    int dragItem = -1;          // the row under the pointer when the drag began
    POINT dropPoint = {0, 0};   // the release point, screen coordinates
};

}  // namespace app
