#include "app/MainWindow.h"

#include "app/CommandLine.h"
#include "app/ProcessObjects.h"
#include "framework/PathInfo.h"
#include "app/SearchStatusWindow.h"
#include "engine/ArchiveViewerDialog.h"
#include "framework/Dpi.h"
#include "framework/FileIconCache.h"
#include "framework/MessageBox.h"
#include "framework/Application.h"
#include "framework/ScaledPictures.h"
#include "framework/Dpi.h"
#include "framework/Text.h"
#include "resources/kestrova/resource.h"
#include "settings/RegistryStore.h"
#include "settings/SettingsDialog.h"
#include "settings/ShellFolders.h"
#include "resources/kestrova/texts.h"

#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string>
#include <utility>

namespace app {

using fw::PathInfo;

namespace {

const char kWebsiteAddress[] = "https://www.kestrova.org/";
const char kAuthorMailAddress[] = "mailto:author@kestrova.org";

// The lengths of the layout are pixels at 96 DPI, scaled to the window's DPI where they are used.
// The smallest outer size at which no two controls of the layout overlap: below 371 pixels the
// Desktop button (H - 10) would cover Search (94 to 126); the width keeps the bottom row apart
// from the progress bar with room to spare.
const int kMinimumOuterWidth = 300;
const int kMinimumOuterHeight = 371;
// The count label keeps its right edge and grows leftwards when its text needs more room.
const int kCountLabelWidth = 60;

struct ColumnSetting {
    const char* name;
    int defaultWidth;
};
// Explorer columns 0..2, then extraction-list columns 0..1.
const ColumnSetting kColumns[] = {
    {"Explore Name", 180},
    {"Explore Size", 56},
    {"Explore Created", 110},
    {"List Name", 150},
    {"List Location", 210},
};

// Registry numbers are decimal text; the leading digits with an optional sign count, anything else is 0.
// The 371 pixels of 96 DPI at `dpi`, summed from the scaled lengths of the layout so that rounding
// never lets Desktop touch Search.
int MinimumOuterHeight(UINT dpi)
{
    const auto s = [dpi](int length) { return fw::ScaleForDpi(length, dpi); };
    static_assert(235 + 10 + 94 + 32 == kMinimumOuterHeight, "the layout's lengths");
    return s(235) + s(10) + s(94) + s(32);
}

// A dialog given a size in pixels of the 96-DPI design holds controls placed by its template in
// dialog units, which grow with its font rather than exactly with the DPI: it grows, if need be,
// until every control is inside with a margin.
void HoldTemplateControls(HWND dialog, int margin)
{
    RECT client {};
    ::GetClientRect(dialog, &client);
    LONG right = 0, bottom = 0;
    for (HWND child = ::GetWindow(dialog, GW_CHILD); child != nullptr; child = ::GetWindow(child, GW_HWNDNEXT)) {
        RECT rect {};
        ::GetWindowRect(child, &rect);
        ::MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
        right = std::max(right, rect.right);
        bottom = std::max(bottom, rect.bottom);
    }
    const LONG wider = right > client.right ? right + margin - client.right : 0;
    const LONG taller = bottom > client.bottom ? bottom + margin - client.bottom : 0;
    if (wider == 0 && taller == 0)
        return;
    RECT outer {};
    ::GetWindowRect(dialog, &outer);
    ::SetWindowPos(dialog, nullptr, 0, 0, outer.right - outer.left + wider, outer.bottom - outer.top + taller,
        SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

int ParseNumber(const std::string& text)
{
    errno = 0;
    long value = std::strtol(text.c_str(), nullptr, 10);
    if (errno == ERANGE || value > INT_MAX || value < INT_MIN)
        return 0;
    return static_cast<int>(value);
}

int ReadNumber(settings::RegistryStore& store, const char* subKey, const char* name)
{
    return ParseNumber(store.ReadString(subKey, name));
}

static_assert(
    IDB_SCALED_STEP == fw::ScaledPictures::kIdStep, "the resources number their picture sets by another rule");

}  // namespace

// Runs inside the window's creation: binds the controls, restores the placement, prepares the
// lists and buttons.
bool MainWindow::OnInit()
{
    dpi_ = fw::WindowDpi(hwnd_);
    BindControls();
    RestorePlacement();
    // Both dialogs exist, hidden, for the whole run; the settings dialog's own initialisation loads
    // the options and the masks.
    Viewer().Create(hwnd_);
    ::UpdateWindow(Viewer());
    Settings().Create(hwnd_);
    ::UpdateWindow(Settings());

    // Archives and folders dropped from the shell onto the window or its lists are queued.
    ::DragAcceptFiles(hwnd_, TRUE);
    ExtractionList.SetBkColor(ExtractionListBackground());
    InsertColumns();
    versionLabel.SetText(settings::GetProgramVersion());
    LoadPictures(fw::WindowDpi(hwnd_));
    AddButtonTips();
    SetKeyboardOrder();
    IconCache().AttachSystemList(fw::FileIconCache::kSmallIcons);
    driveBox.SetImageList(IconCache());
    FillDriveBox();
    Settings().LoadOptions();
    NavigateTo(Settings().startFolder);
    SelectStartDrive(Settings().startFolder);
    return true;
}

void MainWindow::BindControls()
{
    Bind(IDC_MAIN_DESKTOP, desktopButton);
    Bind(IDC_MAIN_VIEW, viewButton);
    Bind(IDC_MAIN_DRIVES, driveBox);
    Bind(IDC_MAIN_VERSION, versionLabel);
    Bind(IDC_MAIN_PROGRESS, progressBar);
    Bind(IDC_MAIN_PATH, pathLabel);
    Bind(IDC_MAIN_EXPLORER, ExplorerList);
    Bind(IDC_MAIN_EXTRACTION, ExtractionList);
    Bind(IDC_MAIN_WEBSITE, websiteButton);
    Bind(IDC_MAIN_EMAIL, emailButton);
    Bind(IDC_MAIN_SEARCH, searchButton);
    Bind(IDC_MAIN_OPTIONS, optionsButton);
    Bind(IDC_MAIN_UP, upButton);
    Bind(IDC_MAIN_EXECUTE, executeButton);
    Bind(IDC_MAIN_DELETE, deleteButton);
    Bind(IDC_MAIN_COUNT, countLabel);
    Bind(IDC_MAIN_REFRESH, refreshButton);
}

// "Width" and "Tall" hold the right and bottom edges, not a size. Any zero keeps the template's place.
// Either way the window opens at least at its minimum size, and on a monitor: a placement stored
// on a monitor that is gone moves into the nearest one's work area, keeping its size.
void MainWindow::RestorePlacement()
{
    settings::RegistryStore store;
    int top = ReadNumber(store, "Placement", "Top");
    int left = ReadNumber(store, "Placement", "Left");
    int right = ReadNumber(store, "Placement", "Width");
    int bottom = ReadNumber(store, "Placement", "Tall");
    bool restored = top != 0 && left != 0 && right != 0 && bottom != 0;
    RECT wanted = restored ? RECT {left, top, right, bottom} : GetWindowRect();
    RECT placed = FitPlacement(wanted, dpi_);
    if (restored || !::EqualRect(&placed, &wanted))
        SetPos(placed.left, placed.top, placed.right - placed.left, placed.bottom - placed.top);
}

RECT MainWindow::FitPlacement(RECT rect, UINT dpi)
{
    rect.right = std::max(rect.right, rect.left + static_cast<LONG>(fw::ScaleForDpi(kMinimumOuterWidth, dpi)));
    rect.bottom = std::max(rect.bottom, rect.top + static_cast<LONG>(MinimumOuterHeight(dpi)));
    if (::MonitorFromRect(&rect, MONITOR_DEFAULTTONULL) != nullptr)
        return rect;
    MONITORINFO monitor {};
    monitor.cbSize = sizeof monitor;
    if (!::GetMonitorInfoA(::MonitorFromRect(&rect, MONITOR_DEFAULTTONEAREST), &monitor))
        return rect;
    const RECT& work = monitor.rcWork;
    int width = rect.right - rect.left;
    int height = rect.bottom - rect.top;
    // Inside the work area where the size allows; a window larger than it keeps its top-left corner there.
    int x = std::max(
        static_cast<int>(work.left), std::min(static_cast<int>(rect.left), static_cast<int>(work.right) - width));
    int y = std::max(
        static_cast<int>(work.top), std::min(static_cast<int>(rect.top), static_cast<int>(work.bottom) - height));
    return RECT {x, y, x + width, y + height};
}

bool MainWindow::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result)
{
    if (msg == WM_GETMINMAXINFO) {
        auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
        info->ptMinTrackSize.x = fw::ScaleForDpi(kMinimumOuterWidth, dpi_);
        info->ptMinTrackSize.y = MinimumOuterHeight(dpi_);
        result = 0;
        return true;
    }
    // A theme switched (high contrast on or off): the lists take the new colours.
    if (msg == WM_SYSCOLORCHANGE || (msg == WM_SETTINGCHANGE && wParam == SPI_SETHIGHCONTRAST)) {
        for (HWND list : {ExplorerList.Handle(), ExtractionList.Handle()})
            ::SendMessageA(list, WM_SYSCOLORCHANGE, 0, 0);
        const COLORREF background = ExtractionListBackground();
        ExtractionList.SetBkColor(background);
        ExtractionList.Send(LVM_SETTEXTBKCOLOR, 0, static_cast<LPARAM>(background));
        ::InvalidateRect(ExtractionList, nullptr, TRUE);
        result = 0;
        return true;
    }
    if (msg == WM_DROPFILES) {
        OnDropFiles(reinterpret_cast<HDROP>(wParam));
        result = 0;
        return true;
    }
    if (run_ != nullptr && run_->OnMessage(msg, lParam)) {
        result = 0;
        return true;
    }
    return fw::ModelessDialog::OnMessage(msg, wParam, lParam, result);
}

// One zero width (a column dragged shut, say) resets all five to their defaults. The stored widths
// are at 96 DPI; the columns show them scaled to the window's.
void MainWindow::InsertColumns()
{
    int widths[5];
    bool anyZero = false;
    {
        settings::RegistryStore store;
        for (size_t i = 0; i < 5; ++i) {
            widths[i] = ReadNumber(store, "Columns", kColumns[i].name);
            anyZero = anyZero || widths[i] == 0;
        }
    }
    if (anyZero) {
        for (size_t i = 0; i < 5; ++i)
            widths[i] = kColumns[i].defaultWidth;
    }
    for (int& width : widths)
        width = fw::ScaleForDpi(width, dpi_);
    ExplorerList.InsertColumn(0, "Name:", widths[0]);
    ExplorerList.InsertColumn(1, "Size:", widths[1]);
    ExplorerList.InsertColumn(2, "Created:", widths[2]);
    ExtractionList.InsertColumn(0, "Name:", widths[3]);
    ExtractionList.InsertColumn(1, "Location:", widths[4]);
}

// Runs at initialisation and again when the window comes onto a monitor of another scale. A
// picture that cannot be loaded leaves its button empty. What was shown before is released only
// once nothing shows it any more.
void MainWindow::LoadPictures(UINT dpi)
{
    HINSTANCE instance = fw::Application::Instance()->HInstance();
    const std::pair<const fw::Button*, int> pictures[kButtonBitmaps] = {
        {&viewButton, IDB_VIEW},
        {&desktopButton, IDB_DESKTOP},
        {&emailButton, IDB_EMAIL},
        {&websiteButton, IDB_WEBSITE},
        {&optionsButton, IDB_OPTIONS},
        {&refreshButton, IDB_REFRESH},
        {&executeButton, IDB_EXECUTE},
        {&deleteButton, IDB_DELETE},
        {&searchButton, IDB_SEARCH},
    };
    for (int i = 0; i < kButtonBitmaps; ++i) {
        fw::OwnedBitmap bitmap(fw::ScaledPictures::LoadPicture(instance, pictures[i].second, dpi));
        pictures[i].first->SetBitmap(bitmap);
        buttonBitmaps_[i] = std::move(bitmap);
    }
    // Up keeps showing the root picture in a drive's root.
    const bool atRoot = rootUpBitmap_ && upButton.GetBitmap() == rootUpBitmap_.Get();
    fw::OwnedBitmap up(fw::ScaledPictures::LoadPicture(instance, IDB_UP, dpi));
    fw::OwnedBitmap rootUp(fw::ScaledPictures::LoadPicture(instance, IDB_UP_ROOT, dpi));
    upButton.SetBitmap(atRoot ? rootUp : up);
    upBitmap_ = std::move(up);
    rootUpBitmap_ = std::move(rootUp);

    icons_.Set(hwnd_, instance, IDI_KESTROVA, dpi);

    Settings().LoadPictures(dpi);
}

// A picture says nothing until it is pressed: each button gets a tooltip, and the same words as its
// window text, which a bitmap button does not show but a screen reader reads as its name.
void MainWindow::AddButtonTips()
{
    const std::pair<const fw::Button*, const char*> tips[] = {
        {&upButton, texts::kTipUp},
        {&refreshButton, texts::kTipRefresh},
        {&desktopButton, texts::kTipDesktop},
        {&searchButton, texts::kTipSearch},
        {&deleteButton, texts::kTipDelete},
        {&viewButton, texts::kTipView},
        {&executeButton, texts::kTipExecute},
        {&optionsButton, texts::kTipOptions},
        {&websiteButton, texts::kTipWebsite},
        {&emailButton, texts::kTipEmail},
    };
    buttonTips = ::CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX,
        CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, hwnd_, nullptr, ::GetModuleHandleA(nullptr), nullptr);
    for (const auto& tip : tips) {
        tip.first->SetText(tip.second);
        if (buttonTips == nullptr)
            continue;
        TTTOOLINFOA tool {};
        tool.cbSize = sizeof tool;
        tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
        tool.hwnd = hwnd_;
        tool.uId = reinterpret_cast<UINT_PTR>(tip.first->Handle());
        tool.lpszText = const_cast<char*>(tip.second);
        ::SendMessageA(buttonTips, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
    }
}

bool MainWindow::OnCommand(int id, int code, HWND)
{
    if (id == IDC_MAIN_DRIVES) {
        if (code != CBN_SELCHANGE)
            return false;
        OnDriveChanged();
        return true;
    }
    if (id == IDM_REMOVE_ALL) {
        if (!IsRunning())
            RemoveAll();
        return true;
    }
    if (code != BN_CLICKED)
        return false;
    switch (id) {
    case IDC_MAIN_REFRESH: OnRefresh(); return true;
    case IDC_MAIN_DESKTOP: OnDesktop(); return true;
    case IDC_MAIN_UP: OnUp(); return true;
    case IDC_MAIN_OPTIONS: OnOptions(); return true;
    case IDC_MAIN_SEARCH: SearchSelected(); return true;
    case IDC_MAIN_EXECUTE:
        // Pressed again during a run, Execute stops it.
        if (IsRunning())
            StopExtraction();
        else
            RunExtraction(true);
        return true;
    case IDC_MAIN_VIEW: OnShowFileContents(); return true;
    case IDC_MAIN_DELETE: RemoveSelected(); return true;
    case IDC_MAIN_WEBSITE: OnWebsite(); return true;
    case IDC_MAIN_EMAIL: OnEmail(); return true;
    default: return false;
    }
}

bool MainWindow::OnNotify(int id, const NMHDR& header, LRESULT& result)
{
    switch (id) {
    case IDC_MAIN_EXPLORER:
        if (header.code == NM_DBLCLK) {
            OnExplorerDoubleClick();
        } else if (header.code == LVN_KEYDOWN) {
            OnExplorerKey(reinterpret_cast<const NMLVKEYDOWN&>(header).wVKey);
        } else {
            return false;
        }
        result = 0;
        return true;
    case IDC_MAIN_EXTRACTION:
        if (header.code == LVN_KEYDOWN) {
            OnExtractionKey(reinterpret_cast<const NMLVKEYDOWN&>(header).wVKey);
        } else if (header.code == NM_RCLICK) {
            ShowExtractionMenu();
        } else {
            return false;
        }
        result = 0;
        return true;
    default: return false;
    }
}

// The explorer list takes all the growth; the extraction list keeps its height and follows the
// bottom edge; the button column follows the right edge. Every length is the 96-DPI one scaled.
void MainWindow::LayoutControls()
{
    const auto s = [this](int length) { return fw::ScaleForDpi(length, dpi_); };
    RECT outer = GetWindowRect();
    int w = (outer.right - outer.left) - s(60);
    int h = (outer.bottom - outer.top) - s(235);

    ExplorerList.SetPos(s(5), s(23), w, h);
    driveBox.SetPos(s(5), h + s(26), s(85), s(18));
    pathLabel.SetPos(s(93), h + s(27), w - s(88), s(21));
    ExtractionList.SetPos(s(5), h + s(54), w, s(120));
    upButton.SetPos(w + s(13), s(23), s(35), s(32));
    refreshButton.SetPos(w + s(13), s(58), s(35), s(32));
    searchButton.SetPos(w + s(13), s(94), s(35), s(32));
    PlaceCountLabel(w);
    deleteButton.SetPos(w + s(13), h + s(54), s(35), s(32));
    executeButton.SetPos(w + s(13), h + s(142), s(35), s(32));
    viewButton.SetPos(w + s(13), h + s(102), s(35), s(32));
    desktopButton.SetPos(w + s(13), h - s(10), s(35), s(32));
    progressBar.SetPos(s(5), h + s(180), w - s(90), s(20));
    optionsButton.SetPos(w - s(17), h + s(178), s(23), s(23));
    emailButton.SetPos(w - s(48), h + s(178), s(23), s(23));
    websiteButton.SetPos(w - s(74), h + s(178), s(23), s(23));
    versionLabel.SetPos(w + s(15), h + s(183), s(32), s(15));

    const fw::Window* redrawn[] = {&desktopButton, &viewButton, &executeButton, &upButton, &searchButton,
        &refreshButton, &deleteButton, &countLabel, &ExtractionList, &pathLabel, &progressBar, &optionsButton,
        &websiteButton, &emailButton, &versionLabel};
    for (const fw::Window* control : redrawn)
        control->Redraw();
}

// The label ends at W + 2 and is 60 pixels wide, wider to the left when its text needs it
// ("10000 Object(s)" would otherwise lose its first digits).
void MainWindow::PlaceCountLabel(int w)
{
    int width = fw::ScaleForDpi(kCountLabelWidth, dpi_);
    std::string text = countLabel.GetText();
    if (HDC dc = ::GetDC(countLabel)) {
        HGDIOBJ old = ::SelectObject(dc, reinterpret_cast<HGDIOBJ>(countLabel.Send(WM_GETFONT)));
        SIZE extent {};
        if (::GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &extent))
            width = std::max(width, static_cast<int>(extent.cx) + fw::ScaleForDpi(4, dpi_));
        ::SelectObject(dc, old);
        ::ReleaseDC(countLabel, dc);
    }
    countLabel.SetPos(w + fw::ScaleForDpi(2, dpi_) - width, fw::ScaleForDpi(4, dpi_), width, fw::ScaleForDpi(15, dpi_));
}

// The size change the platform reports while the window is being created comes before the
// controls are bound; the layout starts with the next one. Either way default processing follows.
bool MainWindow::OnSize(UINT, int, int)
{
    if (ExplorerList.Handle() != nullptr)
        LayoutControls();
    return false;
}

bool MainWindow::OnPaint()
{
    if (!::IsIconic(hwnd_))
        return false;
    PaintMinimised();
    return true;
}

void MainWindow::PaintMinimised()
{
    PAINTSTRUCT paint;
    HDC dc = ::BeginPaint(hwnd_, &paint);
    Send(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    HICON icon = static_cast<HICON>(::LoadImageA(
        fw::Application::Instance()->HInstance(), MAKEINTRESOURCEA(IDI_KESTROVA), IMAGE_ICON, 0, 0, LR_SHARED));
    RECT client = GetClientRect();
    int x = (client.right - client.left - ::GetSystemMetrics(SM_CXICON) + 1) / 2;
    int y = (client.bottom - client.top - ::GetSystemMetrics(SM_CYICON) + 1) / 2;
    ::DrawIcon(dc, x, y, icon);
    ::EndPaint(hwnd_, &paint);
}

// The dialog opens at the same offset from the window's corner, wherever it was last.
void MainWindow::OnOptions()
{
    const auto s = [this](int length) { return fw::ScaleForDpi(length, dpi_); };
    RECT outer = GetWindowRect();
    Settings().SetPos(outer.left + s(45), outer.top + s(45), s(344), s(395));
    HoldTemplateControls(Settings(), s(4));
    Settings().Show(SW_SHOW);
}

// Lists the one selected extraction-list archive in the viewer.
void MainWindow::OnShowFileContents()
{
    int selected = 0;
    int row = -1;
    for (int i = ExtractionList.GetItemCount() - 1; i >= 0; --i) {
        if (ExtractionList.GetItemState(i, LVIS_SELECTED) & LVIS_SELECTED) {
            ++selected;
            row = i;
        }
    }
    if (selected == 0) {
        fw::ShowMessage(hwnd_, texts::kSelectFileToView, MB_OK);
        return;
    }
    if (selected > 1) {
        fw::ShowMessage(hwnd_, texts::kOneFileToView, MB_OK);
        return;
    }
    engine::ArchiveViewerDialog& viewer = Viewer();
    viewer.memberList.DeleteAllItems();
    RECT frame = GetWindowRect();
    viewer.Show(SW_SHOW);
    const auto s = [this](int length) { return fw::ScaleForDpi(length, dpi_); };
    viewer.SetPos(frame.left + s(45), frame.top + s(45), s(354), s(290));
    HoldTemplateControls(viewer, s(4));
    viewer.ShowArchive(ExtractionList.GetItemText(row, 1) + ExtractionList.GetItemText(row, 0), Settings().NamePage());
}

// Moved to a monitor of another scale (the rectangle Windows suggests for it comes next): the
// columns keep their width at 96 DPI, the layout, its size limits and the pictures follow the new
// scale.
void MainWindow::OnDpiChanged(UINT dpi)
{
    if (dpi == 0 || dpi == dpi_)
        return;
    const UINT old = dpi_;
    dpi_ = dpi;
    for (const DragListView* list : {&ExplorerList, &ExtractionList}) {
        for (int column = 0, count = list->GetColumnCount(); column < count; ++column)
            list->SetColumnWidth(column, ::MulDiv(list->GetColumnWidth(column), static_cast<int>(dpi), static_cast<int>(old)));
    }
    LayoutControls();
    LoadPictures(dpi);
}

void MainWindow::OnDropFiles(HDROP drop)
{
    std::vector<std::string> paths;
    std::vector<std::string> unusable;
    const UINT count = ::DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    for (UINT i = 0; i < count; ++i) {
        std::wstring name(::DragQueryFileW(drop, i, nullptr, 0) + 1, L'\0');
        name.resize(::DragQueryFileW(drop, i, &name[0], static_cast<UINT>(name.size())));
        std::string path;
        if (fw::NarrowExact(name, path))
            paths.push_back(path);
        else
            unusable.push_back(fw::Narrow(name));
    }
    ::DragFinish(drop);
    QueuePaths(paths, unusable);
}

void MainWindow::OnWebsite()
{
    ::ShellExecuteA(nullptr, "open", kWebsiteAddress, nullptr, nullptr, SW_SHOWNORMAL);
}

void MainWindow::OnEmail()
{
    ::ShellExecuteA(nullptr, "open", kAuthorMailAddress, nullptr, nullptr, SW_SHOWNORMAL);
}

void MainWindow::SavePlacementAndColumns()
{
    RECT outer = GetWindowRect();
    settings::RegistryStore store;
    store.WriteNumber("Placement", "Top", outer.top);
    store.WriteNumber("Placement", "Left", outer.left);
    store.WriteNumber("Placement", "Width", outer.right);
    store.WriteNumber("Placement", "Tall", outer.bottom);

    const int widths[5] = {ExplorerList.GetColumnWidth(0), ExplorerList.GetColumnWidth(1),
        ExplorerList.GetColumnWidth(2), ExtractionList.GetColumnWidth(0), ExtractionList.GetColumnWidth(1)};
    for (size_t i = 0; i < 5; ++i)
        store.WriteNumber("Columns", kColumns[i].name, fw::UnscaleForDpi(widths[i], dpi_));
}

// Close writes the placement and the columns, destroys the window (which saves the settings) and
// ends the message loop. The window is gone afterwards, so default processing has nothing to do.
bool MainWindow::OnClose()
{
    if (CloseDuringRun())
        return true;
    SavePlacementAndColumns();
    Destroy();
    ::PostQuitMessage(0);
    return true;
}

bool MainWindow::Destroy()
{
    // The only moment the settings reach the registry.
    Settings().SaveSettings();
    Settings().Destroy();
    if (SearchPopup().IsValid())
        SearchPopup().Destroy();
    return fw::ModelessDialog::Destroy();
}

}  // namespace app
