#pragma once
#include "app/DragState.h"
#include "framework/Application.h"

namespace app {

// The application object of kestrova: owns start-up and the program's own message loop, and holds
// the drag record that both lists share.
class ExtractorApp : public fw::Application {
public:
    ExtractorApp() = default;
    ~ExtractorApp() override = default;

    DragState& GetDragState() { return dragState_; }

protected:
    // Creates the main window, runs the message loop until the window posts the quit message and
    // answers false, so that the framework runs no loop of its own.
    void InitInstance() override;

private:
    DragState dragState_;
};

}  // namespace app
