#include "engine/ArchiveViewerDialog.h"

#include "framework/Dpi.h"
#include "framework/PathInfo.h"
#include "engine/UnzipEngine.h"
#include "resources/kestrova/resource.h"

#include <map>

namespace engine {

ArchiveViewerDialog::ArchiveViewerDialog() : fw::ModelessDialog(IDD_VIEWER) { }

bool ArchiveViewerDialog::OnInit()
{
    Bind(IDC_VIEWER_LIST, memberList);
    Bind(IDC_VIEWER_NAME, nameLabel);
    // The list the viewer is about, then OK (the template has OK first).
    SetTabOrder({memberList, ::GetDlgItem(hwnd_, IDOK)});
    return true;
}

bool ArchiveViewerDialog::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result)
{
    // Only its own showing prepares the viewer: hiding it, or the owner being minimised and
    // restored, must not add a second set of columns.
    if (msg == WM_SHOWWINDOW && wParam != FALSE && lParam == 0) {
        OnShown();
        return false;
    }
    return fw::ModelessDialog::OnMessage(msg, wParam, lParam, result);
}

// While the viewer is open the main window takes no input.
void ArchiveViewerDialog::OnShown()
{
    ::EnableWindow(::GetParent(hwnd_), FALSE);
    iconCache.AttachSystemList(fw::FileIconCache::kSmallIcons);
    memberList.SetImageList(iconCache.Handle(), LVSIL_SMALL);
    const UINT dpi = fw::WindowDpi(hwnd_);
    if (memberList.GetColumnCount() != 0) {
        // Shown again on a monitor of another scale than last time.
        ScaleColumnsTo(dpi);
        return;
    }
    memberList.InsertColumn(0, "File:", fw::ScaleForDpi(150, dpi));
    memberList.InsertColumn(1, "Size:", fw::ScaleForDpi(60, dpi));
    memberList.InsertColumn(2, "Compact:", fw::ScaleForDpi(60, dpi));
    memberList.InsertColumn(3, "Ratio:", fw::ScaleForDpi(40, dpi));
    columnsDpi_ = dpi;
}

void ArchiveViewerDialog::OnDpiChanged(UINT dpi)
{
    ScaleColumnsTo(dpi);
}

// The columns keep their widths as the user left them, in the new scale.
void ArchiveViewerDialog::ScaleColumnsTo(UINT dpi)
{
    if (columnsDpi_ == 0 || dpi == 0 || dpi == columnsDpi_)
        return;
    for (int column = 0, count = memberList.GetColumnCount(); column < count; ++column) {
        memberList.SetColumnWidth(
            column, ::MulDiv(memberList.GetColumnWidth(column), static_cast<int>(dpi), static_cast<int>(columnsDpi_)));
    }
    columnsDpi_ = dpi;
}

void ArchiveViewerDialog::ShowArchive(const std::string& archivePath, unsigned namePage)
{
    nameLabel.SetText(fw::PathInfo(archivePath).FileName());
    UnzipEngine engine;
    engine.SetNamePage(namePage);
    engine.Unzip(archivePath, nullptr, nullptr, 0, true);
    // One icon per extension and listing: a large archive would otherwise append one image to the
    // shared system list for every member.
    std::map<std::string, int> iconOfExtension;
    memberList.SetRedraw(false);
    for (int i = 0; i != engine.GetMemberCount(); ++i) {
        std::string name = engine.GetMemberName(i);
        std::string extension = fw::PathInfo(name).Extension();
        auto known = iconOfExtension.find(extension);
        int icon = known != iconOfExtension.end() ? known->second : iconCache.AddIconForExtension(extension);
        iconOfExtension.emplace(extension, icon);
        memberList.InsertItem(0, name, icon);
        memberList.SetItemText(0, 1, engine.GetMemberSize(i));
        memberList.SetItemText(0, 2, engine.GetMemberPackedSize(i));
        memberList.SetItemText(0, 3, engine.GetMemberRatio(i));
    }
    memberList.SetRedraw(true);
    memberList.Redraw();
    ::SetFocus(memberList);
}

// Escape closes the viewer through the dialog's cancel command; should it reach the member list as a
// plain key (a message loop without dialog keys), it closes the viewer just the same.
bool ArchiveViewerDialog::OnNotify(int id, const NMHDR& header, LRESULT& result)
{
    if (id == IDC_VIEWER_LIST && header.code == LVN_KEYDOWN &&
        reinterpret_cast<const NMLVKEYDOWN&>(header).wVKey == VK_ESCAPE) {
        Close();
        result = 0;
        return true;
    }
    return false;
}

bool ArchiveViewerDialog::OnOK()
{
    Close();
    return true;
}

bool ArchiveViewerDialog::OnCancel()
{
    Close();
    return true;
}

// Rows and columns go, the main window takes input again, and the window is hidden for next time.
void ArchiveViewerDialog::Close()
{
    memberList.DeleteAllItems();
    for (int column = 3; column >= 0; --column)
        memberList.DeleteColumn(column);
    ::EnableWindow(::GetParent(hwnd_), TRUE);
    Show(SW_HIDE);
}

}  // namespace engine
