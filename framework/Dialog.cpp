#include "framework/Dialog.h"

#include "framework/Application.h"
#include "framework/Dpi.h"

namespace fw {

namespace {

const char kDialogProperty[] = "fw.Dialog";

// Messages whose answer is the dialog procedure's return value itself rather than DWLP_MSGRESULT.
bool ReturnsDirectly(UINT msg)
{
    switch (msg) {
    case WM_INITDIALOG:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
    case WM_COMPAREITEM:
    case WM_VKEYTOITEM:
    case WM_CHARTOITEM:
    case WM_QUERYDRAGICON: return true;
    default: return false;
    }
}

// A per-monitor (v2) dialog is resized and its controls moved in proportion by the dialog manager
// when its DPI changes; the program lays its dialogs out itself, so only the fonts are left to the
// dialog manager. Windows before 10 1703 (and Wine) have no such behaviour to switch off.
void KeepOwnLayoutOnDpiChange(HWND dialog)
{
    using SetBehaviour = BOOL(WINAPI*)(HWND, int, int);
    static const auto setBehaviour = reinterpret_cast<SetBehaviour>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleA("user32.dll"), "SetDialogDpiChangeBehavior")));
    const int disableResize = 0x0002;           // DDC_DISABLE_RESIZE
    const int disableControlRelayout = 0x0004;  // DDC_DISABLE_CONTROL_RELAYOUT
    if (setBehaviour != nullptr)
        setBehaviour(dialog, disableResize | disableControlRelayout, disableResize | disableControlRelayout);
}

}  // namespace

Dialog* Dialog::FromHandle(HWND hwnd)
{
    return static_cast<Dialog*>(::GetPropA(hwnd, kDialogProperty));
}

bool Dialog::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result)
{
    switch (msg) {
    case WM_INITDIALOG:
        KeepOwnLayoutOnDpiChange(hwnd_);
        result = OnInit() ? TRUE : FALSE;
        return true;
    case WM_COMMAND: {
        int id = LOWORD(wParam);
        int code = HIWORD(wParam);
        HWND control = reinterpret_cast<HWND>(lParam);
        if (OnCommand(id, code, control))
            return true;
        if (id == IDOK && code == BN_CLICKED)
            return OnOK();
        if (id == IDCANCEL && code == BN_CLICKED)
            return OnCancel();
        return false;
    }
    case WM_NOTIFY: {
        const NMHDR& header = *reinterpret_cast<const NMHDR*>(lParam);
        // Offer the notification to the control that sent it first (reflection).
        if (Control* control = Control::FromHandle(header.hwndFrom)) {
            if (control->OnReflectedNotify(header, result))
                return true;
        }
        return OnNotify(static_cast<int>(header.idFrom), header, result);
    }
    case WM_SIZE: return OnSize(static_cast<UINT>(wParam), LOWORD(lParam), HIWORD(lParam));
    case WM_TIMER: return OnTimer(static_cast<UINT_PTR>(wParam));
    case WM_PAINT: return OnPaint();
    case WM_CLOSE: return OnClose();
    case WM_DESTROY: OnDestroy(); return false;
    case WM_NEXTDLGCTL:
        // The keyboard moves the focus: from now on the focused control shows its focus rectangle.
        // The dialog manager's default processing still moves the focus.
        ::SendMessageA(hwnd_, WM_CHANGEUISTATE, MAKEWPARAM(UIS_CLEAR, UISF_HIDEFOCUS), 0);
        return false;
    case WM_DPICHANGED: {
        // The dialog manager's own part first, while this procedure declines the message: on
        // Windows 10 1703 and later it gives every control of a template dialog its font for the
        // new DPI. Its resizing and its proportional re-layout are switched off (WM_INITDIALOG):
        // the layout below is the program's own.
        if (inDefaultDpiChange_)
            return false;
        inDefaultDpiChange_ = true;
        ::DefDlgProcA(hwnd_, msg, wParam, lParam);
        inDefaultDpiChange_ = false;
        // Then the new scale, so that the size limits and the layout of the size change already
        // follow it.
        const RECT suggested = *reinterpret_cast<const RECT*>(lParam);
        OnDpiChanged(HIWORD(wParam));
        ::SetWindowPos(hwnd_, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
            suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
        result = 0;
        return true;
    }
    default: return false;
    }
}

bool Dialog::TranslateDialogKey(MSG& msg)
{
    if (msg.message != WM_KEYDOWN || msg.hwnd == nullptr)
        return false;
    const WPARAM key = msg.wParam;
    if (key != VK_TAB && key != VK_RETURN && key != VK_ESCAPE)
        return false;
    HWND root = ::GetAncestor(msg.hwnd, GA_ROOT);
    Dialog* dialog = FromHandle(root);
    if (dialog == nullptr)
        return false;
    if (key == VK_TAB && !dialog->tabOrder_.empty()) {
        const LRESULT wants = ::SendMessageA(msg.hwnd, WM_GETDLGCODE, key, reinterpret_cast<LPARAM>(&msg));
        if ((wants & (DLGC_WANTTAB | DLGC_WANTMESSAGE)) != 0 || (::GetKeyState(VK_CONTROL) & 0x8000) != 0)
            return false;
        return dialog->MoveFocusInTabOrder((::GetKeyState(VK_SHIFT) & 0x8000) != 0);
    }
    return ::IsDialogMessageA(root, &msg) != FALSE;
}

// From the control that has the focus (or holds it, as a combo box holds its edit field) to the
// next one that is shown and enabled; from anywhere else to the first (Shift: the last).
bool Dialog::MoveFocusInTabOrder(bool backwards)
{
    const int count = static_cast<int>(tabOrder_.size());
    HWND focus = ::GetFocus();
    int current = -1;
    for (int i = 0; i < count && current < 0; ++i) {
        if (focus != nullptr && (tabOrder_[i] == focus || ::IsChild(tabOrder_[i], focus)))
            current = i;
    }
    for (int step = 1; step <= count; ++step) {
        int index = current < 0 ? (backwards ? count - step : step - 1)
                                : ((current + (backwards ? -step : step)) % count + count) % count;
        HWND control = tabOrder_[static_cast<size_t>(index)];
        if (::IsWindowVisible(control) && ::IsWindowEnabled(control)) {
            ::SendMessageA(hwnd_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(control), TRUE);
            KeepDefaultButton(control);
            break;
        }
    }
    return true;
}

// A push button that has the focus is the one Enter presses; once the focus has moved on to any
// other kind of control, Enter presses the dialog's own default button again (none in a dialog
// without one), not the button that had the focus last.
void Dialog::KeepDefaultButton(HWND focused)
{
    const UINT kPushButton = DLGC_DEFPUSHBUTTON | DLGC_UNDEFPUSHBUTTON;
    if ((::SendMessageA(focused, WM_GETDLGCODE, 0, 0) & kPushButton) != 0)
        return;
    for (HWND control : tabOrder_) {
        const LRESULT code = ::SendMessageA(control, WM_GETDLGCODE, 0, 0);
        if (control == defaultButton_ && (code & DLGC_UNDEFPUSHBUTTON) != 0)
            ::SendMessageA(control, BM_SETSTYLE, BS_DEFPUSHBUTTON, TRUE);
        else if (control != defaultButton_ && (code & DLGC_DEFPUSHBUTTON) != 0)
            ::SendMessageA(control, BM_SETSTYLE, BS_PUSHBUTTON, TRUE);
    }
}

void Dialog::SetTabOrder(std::vector<HWND> controls)
{
    tabOrder_ = std::move(controls);
    defaultButton_ = nullptr;
    for (HWND control : tabOrder_) {
        if ((::SendMessageA(control, WM_GETDLGCODE, 0, 0) & DLGC_DEFPUSHBUTTON) != 0)
            defaultButton_ = control;
    }
}

bool Dialog::OnCommand(int, int, HWND)
{
    return false;
}

bool Dialog::OnNotify(int, const NMHDR&, LRESULT&)
{
    return false;
}

bool Dialog::OnSize(UINT, int, int)
{
    return false;
}

bool Dialog::OnTimer(UINT_PTR)
{
    return false;
}

INT_PTR Dialog::Dispatch(UINT msg, WPARAM wParam, LPARAM lParam)
{
    LRESULT result = 0;
    if (!OnMessage(msg, wParam, lParam, result))
        return FALSE;
    if (ReturnsDirectly(msg))
        return static_cast<INT_PTR>(result);
    ::SetWindowLongPtrA(hwnd_, DWLP_MSGRESULT, static_cast<LONG_PTR>(result));
    return TRUE;
}

// The object is linked to its window at WM_INITDIALOG (its init parameter) and unlinked at
// WM_NCDESTROY; messages before the link get default handling. mingw's 32-bit unwinder cannot cross
// user32 frames, so no exception may leave this function.
INT_PTR CALLBACK Dialog::DialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    Dialog* self = nullptr;
    if (msg == WM_INITDIALOG) {
        self = reinterpret_cast<Dialog*>(lParam);
        if (self == nullptr)
            return FALSE;
        self->hwnd_ = hwnd;
        ::SetPropA(hwnd, kDialogProperty, self);
    } else {
        self = FromHandle(hwnd);
    }
    if (self == nullptr)
        return FALSE;
    INT_PTR answer = FALSE;
    try {
        answer = self->Dispatch(msg, wParam, lParam);
    } catch (...) {
        answer = FALSE;
    }
    if (msg == WM_NCDESTROY) {
        ::RemovePropA(hwnd, kDialogProperty);
        if (self->hwnd_ == hwnd)
            self->hwnd_ = nullptr;
    }
    return answer;
}

bool ModelessDialog::Create(HWND parent)
{
    HWND hwnd = ::CreateDialogParamA(Application::Instance()->HInstance(), MAKEINTRESOURCEA(TemplateId()), parent,
        &Dialog::DialogProc, reinterpret_cast<LPARAM>(this));
    return hwnd != nullptr;
}

INT_PTR ModalDialog::DoModal(HWND parent)
{
    return ::DialogBoxParamA(Application::Instance()->HInstance(), MAKEINTRESOURCEA(TemplateId()), parent,
        &Dialog::DialogProc, reinterpret_cast<LPARAM>(this));
}

}  // namespace fw
