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

}  // namespace

Dialog* Dialog::FromHandle(HWND hwnd)
{
    return static_cast<Dialog*>(::GetPropA(hwnd, kDialogProperty));
}

bool Dialog::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result)
{
    switch (msg) {
    case WM_INITDIALOG: result = OnInit() ? TRUE : FALSE; return true;
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
    case WM_DPICHANGED: {
        // The new scale first, so that the size limits and the layout of the size change already
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
