#pragma once
#include "framework/Application.h"

namespace updater {

// The application object of kvupdate: runs the update dialog modally and ends the program when
// it closes.
class UpdaterApp : public fw::Application {
public:
    UpdaterApp() = default;
    ~UpdaterApp() override = default;

protected:
    // Runs the dialog, or with the internal argument of ElevatedReplacement only the replacement;
    // no message loop follows.
    void InitInstance() override;
};

}  // namespace updater
