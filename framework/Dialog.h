#pragma once
#include "framework/Control.h"

#include <cassert>

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
    // Called on WM_DPICHANGED (the window moved to a monitor of another scale), just before the
    // window takes the rectangle Windows suggests for the new DPI: the place to redo a layout
    // computed in pixels (a size change, if any, follows).
    virtual void OnDpiChanged(UINT dpi) { (void)dpi; }

    // Attaches a member control to the dialog item `id`; the item must exist.
    void Bind(int id, Control& control)
    {
        HWND item = ::GetDlgItem(hwnd_, id);
        assert(item != nullptr && "dialog item missing from the template");
        control.Attach(item);
        control.Bound();
    }

    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

private:
    INT_PTR Dispatch(UINT msg, WPARAM wParam, LPARAM lParam);

    int templateId_;
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
