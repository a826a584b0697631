#pragma once
#include "framework/Dialog.h"
#include "framework/Edit.h"
#include "framework/Static.h"

#include <string>

namespace app {

// The password prompt for one encrypted member: names the member and its archive, says when the
// password typed before was wrong, and takes the password in a masked field. "OK" hands the typed
// text over; "Skip", Escape and the close box skip the member. It only asks: what is done with the
// answer is the extraction run's business.
class PasswordDialog : public fw::ModalDialog {
public:
    PasswordDialog(const std::string& member, const std::string& archive, bool again = false);

    // Shows the dialog owned by `owner`. True with the typed text in `password` when the user
    // pressed OK; false for Skip, or when the dialog could not be shown.
    bool Ask(HWND owner, std::string& password);

    // Members bound to their controls at initialisation, in template order.
    fw::Static memberLabel;
    fw::Static archiveLabel;
    fw::Static wrongLabel;  // empty unless asked again
    fw::Edit passwordEdit;

protected:
    bool OnInit() override;
    bool OnOK() override;
    bool OnCancel() override;

private:
    // Empties the field, so that the typed text does not outlive the dialog in its control.
    void ClearField();

    std::string member_;
    std::string archive_;
    bool again_;
    std::string* password_ = nullptr;
};

}  // namespace app
