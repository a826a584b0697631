#pragma once
#include "framework/Control.h"

#include <cassert>
#include <utility>
#include <vector>

namespace fw {

// A dialog built from a resource template. The dialog procedure is one static thunk that finds
// the object (stored at WM_INITDIALOG) and hands each message to OnMessage, which turns the common
// messages into typed hooks. A hook returns true when it handled the message; anything unhandled
// gets the dialog manager's default processing.
class Dialog : public Window {
public:
    explicit Dialog(int templateId) : templateId_(templateId) { }
    int TemplateId() const { return templateId_; }

    // The dialog object that owns `hwnd`, or null.
    static Dialog* FromHandle(HWND hwnd);

    // Keyboard navigation for a message taken from a program's own message loop: when `msg` is a
    // key press of Tab, Enter or Escape for a window of one of these dialogs, the dialog handles it
    // as the dialog manager does (Tab moves the focus, Enter presses the default button, Escape
    // sends the cancel command), unless the focused control asks for that key (WM_GETDLGCODE).
    // True when the message has been handled (then it must not be dispatched again). Every other
    // message is left alone, so all other keys reach the focused control as plain key messages.
    static bool TranslateDialogKey(MSG& msg);

protected:
    // The message map. `result` becomes the dialog procedure's answer (for WM_NOTIFY and most
    // other messages it is passed back through DWLP_MSGRESULT).
    virtual bool OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result);

    // Called on WM_INITDIALOG. Return true to let the dialog manager focus the first control.
    virtual bool OnInit() { return true; }
    virtual bool OnCommand(int id, int code, HWND control);
    virtual bool OnNotify(int id, const NMHDR& header, LRESULT& result);
    virtual bool OnSize(UINT type, int width, int height);
    virtual bool OnTimer(UINT_PTR id);
    virtual bool OnPaint() { return false; }
    virtual bool OnClose() { return false; }
    // Called on WM_DESTROY, while the children still exist.
    virtual void OnDestroy() { }
    virtual bool OnOK() { return false; }
    virtual bool OnCancel() { return false; }
    // Called on WM_DPICHANGED (the window moved to a monitor of another scale), after the dialog
    // manager has given the controls their fonts for the new DPI and just before the window takes
    // the rectangle Windows suggests for it: the place to redo a layout computed in pixels (a size
    // change, if any, follows).
    virtual void OnDpiChanged(UINT dpi) { (void)dpi; }

    // Attaches a member control to the dialog item `id`; the item must exist.
    void Bind(int id, Control& control)
    {
        HWND item = ::GetDlgItem(hwnd_, id);
        assert(item != nullptr && "dialog item missing from the template");
        control.Attach(item);
        control.Bound();
    }

    // The controls in the order Tab visits them (Shift+Tab the other way round), for a dialog whose
    // window order is not that order; hidden and disabled ones are passed over. Without it Tab
    // follows the window order, as the dialog manager does.
    void SetTabOrder(std::vector<HWND> controls);

    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

private:
    INT_PTR Dispatch(UINT msg, WPARAM wParam, LPARAM lParam);
    bool MoveFocusInTabOrder(bool backwards);
    void KeepDefaultButton(HWND focused);

    int templateId_;
    std::vector<HWND> tabOrder_;
    HWND defaultButton_ = nullptr;  // the template's default push button among them, if any
    bool inDefaultDpiChange_ = false;
};

// A dialog that runs beside the message loop. Created once from its template and destroyed by
// Destroy; the object outlives its window.
class ModelessDialog : public Dialog {
public:
    using Dialog::Dialog;
    // Creates the window; OnInit runs before this returns.
    virtual bool Create(HWND parent);
    // Destroys the window (if it exists).
    virtual bool Destroy() { return Window::Destroy(); }
};

// A dialog with its own modal loop that ends itself on OK and Cancel.
class ModalDialog : public Dialog {
public:
    using Dialog::Dialog;
    // Runs the dialog; the result is the code given to End, or -1 when the window could not be made.
    INT_PTR DoModal(HWND parent);
    void End(INT_PTR code) { ::EndDialog(hwnd_, code); }

protected:
    bool OnOK() override
    {
        End(IDOK);
        return true;
    }
    bool OnCancel() override
    {
        End(IDCANCEL);
        return true;
    }
};

}  // namespace fw
