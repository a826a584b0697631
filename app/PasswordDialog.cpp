#include "app/PasswordDialog.h"

#include "framework/Application.h"
#include "resources/kestrova/resource.h"
#include "resources/kestrova/texts.h"

#include <windows.h>

namespace app {

namespace {

// The longest password the field takes; the library's buffer holds it with its NUL.
constexpr int kMaxPassword = 255;

}  // namespace

PasswordDialog::PasswordDialog(const std::string& member, const std::string& archive, bool again)
    : fw::ModalDialog(IDD_PASSWORD), member_(member), archive_(archive), again_(again)
{
}

bool PasswordDialog::Ask(HWND owner, std::string& password)
{
    password_ = &password;
    const INT_PTR code = DoModal(owner);
    password_ = nullptr;
    return code == IDOK;
}

bool PasswordDialog::OnInit()
{
    Bind(IDC_PASSWORD_MEMBER, memberLabel);
    Bind(IDC_PASSWORD_ARCHIVE, archiveLabel);
    Bind(IDC_PASSWORD_WRONG, wrongLabel);
    Bind(IDC_PASSWORD_EDIT, passwordEdit);
    const fw::Application* application = fw::Application::Instance();
    SetText(application != nullptr ? application->Title() : std::string());
    memberLabel.SetText(texts::kPasswordFor + member_);
    archiveLabel.SetText(texts::kPasswordIn + archive_);
    wrongLabel.SetText(again_ ? texts::kPasswordWrong : "");
    passwordEdit.SetLimit(kMaxPassword);
    ::SetFocus(passwordEdit);
    // Focus is set here: FALSE keeps the dialog manager from moving it.
    return false;
}

// Called for OK (and Enter): the typed text goes to the caller.
bool PasswordDialog::OnOK()
{
    char typed[kMaxPassword + 1] = {};
    ::GetWindowTextA(passwordEdit, typed, sizeof typed);
    if (password_ != nullptr)
        password_->assign(typed);
    ::SecureZeroMemory(typed, sizeof typed);
    ClearField();
    End(IDOK);
    return true;
}

// Called for Skip, Escape and the close box.
bool PasswordDialog::OnCancel()
{
    ClearField();
    End(IDCANCEL);
    return true;
}

void PasswordDialog::ClearField()
{
    passwordEdit.SetText(std::string());
}

}  // namespace app
