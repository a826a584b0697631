#pragma once
#include "framework/Window.h"

#include <commctrl.h>

namespace fw {

// Base of the control wrappers. A control is normally a plain non-owning handle holder; a class
// that must see its own mouse messages or the notifications it sends to its parent (a list view
// that handles its own drag start, say) subclasses the window when it is bound.
class Control : public Window {
public:
    Control() = default;
    ~Control() override;

    // Called by Dialog::Bind once the handle is attached.
    virtual void Bound() { }

    // Notifications this control sent to its parent, offered to the control first. Return true to
    // keep the parent from seeing it; `result` is what the parent's dialog procedure answers.
    virtual bool OnReflectedNotify(const NMHDR& header, LRESULT& result);

    // The subclassed control that owns `hwnd`, or null.
    static Control* FromHandle(HWND hwnd);

protected:
    // Routes the window's messages through WindowProc until the window is destroyed.
    bool Subclass();
    void Unsubclass();
    // Messages of a subclassed control; the default hands them to the original procedure.
    virtual LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam);
    LRESULT CallOriginal(UINT msg, WPARAM wParam, LPARAM lParam);

private:
    static LRESULT CALLBACK SubclassProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    WNDPROC originalProc_ = nullptr;
};

}  // namespace fw
