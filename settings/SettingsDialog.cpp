#include "settings/SettingsDialog.h"

#include "framework/Application.h"
#include "framework/Dpi.h"
#include "framework/FileSystem.h"
#include "framework/ScaledPictures.h"
#include "resources/kestrova/resource.h"
#include "settings/NameCodePage.h"
#include "settings/RegistryStore.h"
#include "settings/ShellLink.h"
#include "settings/ShellFolders.h"
#include "resources/kestrova/texts.h"

#include <commctrl.h>

#include <algorithm>
#include <utility>

namespace settings {

namespace {

const char kProgramKeyPath[] = "Software\\Kestrova";
const char kMasksSubKey[] = "Not To Extract";

enum Page { kGeneralPage = 0, kMaskingPage = 1, kAboutPage = 2 };

// The mask list's icon spacing, in pixels at 96 DPI.
const int kIconSpacingX = 69;
const int kIconSpacingY = 75;

bool IsExistingFolder(const std::string& path)
{
    // No "insert a disk" box for a removable drive without its medium.
    UINT oldMode = ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    DWORD attributes = fw::FileAttributes(path);
    ::SetErrorMode(oldMode);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Selects the drop-down entry whose data is `value` (the value it is stored as); the first entry
// when none is.
void SelectByData(const fw::Control& box, unsigned value)
{
    const LRESULT count = box.Send(CB_GETCOUNT);
    for (LRESULT i = 0; i < count; ++i) {
        if (static_cast<unsigned>(box.Send(CB_GETITEMDATA, static_cast<WPARAM>(i))) == value) {
            box.Send(CB_SETCURSEL, static_cast<WPARAM>(i));
            return;
        }
    }
    box.Send(CB_SETCURSEL, 0);
}

}  // namespace

SettingsDialog::SettingsDialog() : fw::ModelessDialog(IDD_SETTINGS) { }

SettingsDialog::~SettingsDialog() = default;

void SettingsDialog::LoadOptions()
{
    RegistryStore store;
    titleExtract.SetCheck(store.ReadFlag("Extract", "Title Extract"));
    messageBoxAlert.SetCheck(store.ReadFlag("Extract", "Message Box Alert"));
    askForFolder.SetCheck(store.ReadFlag("Extract", "Ask For Folder"));
    smartFolder.SetCheck(store.ReadFlag("Extract", "Smart Folder"));
    desktopShortcut.SetCheck(store.ReadFlag("Shortcuts", "Desktop Shortcut"));
    quickLaunchShortcut.SetCheck(store.ReadFlag("Shortcuts", "QuickLaunch Shortcut"));
    SelectNamePage(NameCodePage::Read());
    markOfTheWeb.SetCheck(RegistryStore::Trim(store.ReadString("Extract", "Mark Of The Web")) != "0");
    recycleArchives.SetCheck(store.ReadFlag("Extract", "Recycle Archives"));
    const std::string existing = RegistryStore::Trim(store.ReadString("Extract", "Existing Files"));
    SelectExistingFiles(existing == "1" ? kSkip : existing == "2" ? kKeepBoth : kOverwrite);
    startFolder = store.ReadString("Folders", "Last");
    // A folder that is gone (a drive unplugged, the folder deleted or replaced by a file) would open
    // an empty pane and be saved back: start on the desktop instead, as at the first start.
    if (startFolder.empty() || !IsExistingFolder(startFolder))
        startFolder = GetDesktopFolder();
    lastFolder = startFolder;
}

// Without its window the dialog holds no settings at all: saving then would wipe the stored
// options and masks, so nothing is written.
void SettingsDialog::SaveSettings()
{
    if (!IsValid())
        return;
    std::string programPath = GetModulePath(hwnd_);

    ShellLink link;
    if (desktopShortcut.IsChecked())
        link.CreateShellLink(programPath, kShortcutName, kDesktopSuffix);
    else
        ::DeleteFileA(ShellLink::ShortcutPath(kDesktopSuffix).c_str());
    if (quickLaunchShortcut.IsChecked())
        link.CreateShellLink(programPath, kShortcutName, kQuickLaunchSuffix);
    else
        ::DeleteFileA(ShellLink::ShortcutPath(kQuickLaunchSuffix).c_str());

    // Deleted and rewritten, so that a list that shrank leaves no stale values behind.
    ::RegDeleteKeyA(HKEY_CURRENT_USER, (std::string(kProgramKeyPath) + "\\" + kMasksSubKey).c_str());
    RegistryStore store;
    int count = maskList.GetItemCount();
    for (int i = 0; i < count; ++i)
        store.WriteString(kMasksSubKey, std::to_string(i), maskList.GetItemText(i, 0));

    store.WriteNumber("Extract", "Title Extract", titleExtract.IsChecked() ? 1 : 0);
    store.WriteNumber("Extract", "Message Box Alert", messageBoxAlert.IsChecked() ? 1 : 0);
    store.WriteNumber("Extract", "Ask For Folder", askForFolder.IsChecked() ? 1 : 0);
    store.WriteNumber("Extract", "Smart Folder", smartFolder.IsChecked() ? 1 : 0);
    store.WriteNumber("Shortcuts", "Desktop Shortcut", desktopShortcut.IsChecked() ? 1 : 0);
    store.WriteNumber("Shortcuts", "QuickLaunch Shortcut", quickLaunchShortcut.IsChecked() ? 1 : 0);
    NameCodePage::Write(NamePage());
    store.WriteNumber("Extract", "Mark Of The Web", markOfTheWeb.IsChecked() ? 1 : 0);
    store.WriteNumber("Extract", "Existing Files", ExistingFiles());
    store.WriteNumber("Extract", "Recycle Archives", recycleArchives.IsChecked() ? 1 : 0);
    store.WriteString("Folders", "Last", lastFolder);
    store.WriteString("", "FilePath", programPath);
    store.WriteString("", "Version", GetProgramVersion());
}

bool SettingsDialog::IsOptionChecked(int id) const
{
    switch (id) {
    case IDC_SETTINGS_TITLE_EXTRACT: return titleExtract.IsChecked();
    case IDC_SETTINGS_MESSAGE_ALERT: return messageBoxAlert.IsChecked();
    case IDC_SETTINGS_ASK_FOLDER: return askForFolder.IsChecked();
    case IDC_SETTINGS_DESKTOP_SHORTCUT: return desktopShortcut.IsChecked();
    case IDC_SETTINGS_QUICKLAUNCH_SHORTCUT: return quickLaunchShortcut.IsChecked();
    case IDC_SETTINGS_SMART_FOLDER: return smartFolder.IsChecked();
    default: return false;
    }
}

unsigned SettingsDialog::NamePage() const
{
    const LRESULT selected = namePages.Send(CB_GETCURSEL);
    if (selected == CB_ERR)  // no window, or nothing selected
        return NameCodePage::kAutomatic;
    return static_cast<unsigned>(namePages.Send(CB_GETITEMDATA, static_cast<WPARAM>(selected)));
}

void SettingsDialog::SelectNamePage(unsigned value)
{
    SelectByData(namePages, value);
}

int SettingsDialog::ExistingFiles() const
{
    const LRESULT selected = existingFiles.Send(CB_GETCURSEL);
    if (selected == CB_ERR)
        return kOverwrite;
    const LRESULT value = existingFiles.Send(CB_GETITEMDATA, static_cast<WPARAM>(selected));
    return value == kSkip || value == kKeepBoth ? static_cast<int>(value) : kOverwrite;
}

void SettingsDialog::SelectExistingFiles(int value)
{
    SelectByData(existingFiles, static_cast<unsigned>(value));
}

bool SettingsDialog::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result)
{
    if (msg == WM_SHOWWINDOW) {
        // Default processing still follows (the answer is "not handled").
        if (wParam != FALSE)
            OnShown();
        return false;
    }
    if (msg == WM_SIZE && applyButton.Handle() != nullptr) {
        // The owner gives the dialog its size when it shows it; the bottom row must stay inside.
        KeepBottomRowBelowTabs();
        return false;
    }
    return fw::ModelessDialog::OnMessage(msg, wParam, lParam, result);
}

// Runs inside the window's creation: builds the three pages, loads the options and the masks.
bool SettingsDialog::OnInit()
{
    dpi_ = fw::WindowDpi(hwnd_);
    BindControls();
    FillNamePages();
    FillExistingFiles();
    LoadOptions();
    versionLabel.SetText(texts::kCurrentVersion + GetProgramVersion());
    aboutText.SetText(texts::kAbout);
    tabs.InsertItem(kGeneralPage, texts::kTabGeneral);
    tabs.InsertItem(kMaskingPage, texts::kTabMasking);
    tabs.InsertItem(kAboutPage, texts::kTabAbout);
    BuildPages();
    ApplyGeometry();
    SetKeyboardOrder();
    // The list is created with LVS_SHAREIMAGELISTS: the system list is never destroyed through it.
    icons_.AttachSystemList(fw::FileIconCache::kLargeIcons);
    maskList.SetImageList(icons_, LVSIL_NORMAL);
    LoadMasks();
    UpdateDeleteButton();
    LoadOptions();
    return true;
}

void SettingsDialog::BindControls()
{
    Bind(IDOK, applyButton);
    Bind(IDC_SETTINGS_TABS, tabs);
    Bind(IDC_SETTINGS_GENERAL_PAGE, generalPage);
    Bind(IDC_SETTINGS_MASKING_PAGE, maskingPage);
    Bind(IDC_SETTINGS_ABOUT_PAGE, aboutPage);
    Bind(IDC_SETTINGS_LOCATION_HEADING, locationHeading);
    Bind(IDC_SETTINGS_TITLE_EXTRACT, titleExtract);
    Bind(IDC_SETTINGS_MESSAGE_ALERT, messageBoxAlert);
    Bind(IDC_SETTINGS_ASK_FOLDER, askForFolder);
    Bind(IDC_SETTINGS_QUICK_HEADING, quickAccessHeading);
    Bind(IDC_SETTINGS_DESKTOP_SHORTCUT, desktopShortcut);
    Bind(IDC_SETTINGS_QUICKLAUNCH_SHORTCUT, quickLaunchShortcut);
    Bind(IDC_SETTINGS_SMART_FOLDER, smartFolder);
    Bind(IDC_SETTINGS_NAME_PAGE_LABEL, namePageLabel);
    Bind(IDC_SETTINGS_NAME_PAGE, namePages);
    Bind(IDC_SETTINGS_MARK_OF_THE_WEB, markOfTheWeb);
    Bind(IDC_SETTINGS_RECYCLE_ARCHIVES, recycleArchives);
    Bind(IDC_SETTINGS_EXISTING_LABEL, existingFilesLabel);
    Bind(IDC_SETTINGS_EXISTING_FILES, existingFiles);
    Bind(IDC_SETTINGS_MASKS_HEADING, masksHeading);
    Bind(IDC_SETTINGS_MASKS, maskList);
    Bind(IDC_SETTINGS_MASK_HELP, maskHelp);
    Bind(IDC_SETTINGS_MASK_EDIT, maskEdit);
    Bind(IDC_SETTINGS_ADD, addButton);
    Bind(IDC_SETTINGS_DELETE, deleteButton);
    Bind(IDC_SETTINGS_ABOUT_HEADING, aboutHeading);
    Bind(IDC_SETTINGS_ABOUT_TEXT, aboutText);
    Bind(IDC_SETTINGS_VERSION, versionLabel);
}

void SettingsDialog::FillExistingFiles()
{
    const struct {
        const char* text;
        int value;
    } choices[] = {{texts::kExistingOverwrite, kOverwrite}, {texts::kExistingSkip, kSkip},
        {texts::kExistingKeepBoth, kKeepBoth}};
    for (const auto& choice : choices) {
        const LRESULT index = existingFiles.Send(CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(choice.text));
        if (index >= 0)
            existingFiles.Send(CB_SETITEMDATA, static_cast<WPARAM>(index), static_cast<LPARAM>(choice.value));
    }
}

// In the order of NameCodePage::Choices, Automatic first; the list opens wide enough for the
// longest text even where the closed box shows less of it.
void SettingsDialog::FillNamePages()
{
    HDC dc = ::GetDC(namePages);
    HGDIOBJ oldFont = ::SelectObject(dc, reinterpret_cast<HGDIOBJ>(namePages.Send(WM_GETFONT)));
    LONG widest = 0;
    for (const NameCodePage::Choice& choice : NameCodePage::Choices()) {
        const LRESULT index = namePages.Send(CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(choice.text.c_str()));
        if (index < 0)  // CB_ERR or CB_ERRSPACE
            continue;
        namePages.Send(CB_SETITEMDATA, static_cast<WPARAM>(index), static_cast<LPARAM>(choice.value));
        SIZE size {};
        if (::GetTextExtentPoint32A(dc, choice.text.c_str(), static_cast<int>(choice.text.size()), &size))
            widest = std::max(widest, size.cx);
    }
    ::SelectObject(dc, oldFont);
    ::ReleaseDC(namePages, dc);
    namePagesWidest_ = widest;
    FitNamePagesDropDown();
}

void SettingsDialog::FitNamePagesDropDown()
{
    namePages.Send(CB_SETDROPPEDWIDTH,
        static_cast<WPARAM>(namePagesWidest_ + fw::SystemMetricForDpi(SM_CXVSCROLL, dpi_) + fw::ScaleForDpi(8, dpi_)));
}

// Each page's own controls become children of its group box, so that they appear and disappear
// with it. The mask edit and the Add and Delete buttons stay children of the dialog and are shown
// by page; the list view keeps sending its notifications to the dialog, its parent at creation.
void SettingsDialog::BuildPages()
{
    generalPage.Show(SW_SHOW);
    maskingPage.Show(SW_HIDE);
    aboutPage.Show(SW_HIDE);
    maskEdit.Show(SW_HIDE);

    const fw::Window* general[] = {&askForFolder, &desktopShortcut, &quickLaunchShortcut, &messageBoxAlert,
        &titleExtract, &locationHeading, &quickAccessHeading, &smartFolder, &namePageLabel, &namePages, &markOfTheWeb, &recycleArchives, &existingFilesLabel,
        &existingFiles};
    // The option rows stand closer than their boxes are tall: each is clipped by the rows above it
    // in the z-order, so that no box paints its background over the top of the next row's text.
    for (const fw::Window* control : general) {
        ::SetParent(*control, generalPage);
        ::SetWindowLongA(*control, GWL_STYLE, ::GetWindowLongA(*control, GWL_STYLE) | WS_CLIPSIBLINGS);
    }
    addButton.Show(SW_HIDE);
    deleteButton.Show(SW_HIDE);
    const fw::Window* masking[] = {&maskList, &maskHelp, &masksHeading};
    for (const fw::Window* control : masking)
        ::SetParent(*control, maskingPage);
    ::SetParent(aboutText, aboutPage);
    ::SetParent(aboutHeading, aboutPage);
}

// Pixels at 96 DPI, scaled to the dialog's, relative to each control's parent after BuildPages.
// Each call also raises the control to the top, so the group boxes end up above the tab control
// and the mask entry above its page.
void SettingsDialog::ApplyGeometry()
{
    const auto s = [this](int length) { return fw::ScaleForDpi(length, dpi_); };
    struct Place {
        const fw::Window* control;
        int x, y, width, height;
    };
    const Place places[] = {
        {&tabs, 4, 2, 331, 331},
        {&generalPage, 9, 29, 320, 294},
        {&maskingPage, 9, 29, 320, 294},
        {&aboutPage, 9, 29, 320, 294},
        {&locationHeading, 15, 22, 290, 16},
        {&titleExtract, 15, 41, 290, 20},
        {&messageBoxAlert, 15, 58, 290, 20},
        {&askForFolder, 15, 76, 290, 30},
        {&smartFolder, 15, 103, 290, 20},
        {&markOfTheWeb, 15, 120, 290, 20},
        {&recycleArchives, 15, 137, 290, 20},
        {&existingFilesLabel, 15, 162, 130, 16},
        {&existingFiles, 150, 158, 155, 120},  // the closed box takes its font's height, the rest is the list's
        {&namePageLabel, 15, 184, 290, 16},
        {&namePages, 15, 200, 290, 240},
        {&quickAccessHeading, 15, 228, 290, 16},
        {&desktopShortcut, 15, 246, 290, 20},
        {&quickLaunchShortcut, 15, 263, 290, 26},
        {&masksHeading, 15, 25, 290, 16},
        {&maskList, 15, 50, 290, 70},
        {&maskHelp, 15, 157, 290, 50},
        {&aboutHeading, 15, 25, 290, 16},
        {&aboutText, 20, 50, 200, 150},
        {&deleteButton, 23, 155, 65, 27},
        {&addButton, 91, 155, 65, 27},
        {&maskEdit, 163, 157, 151, 22},
    };
    for (const Place& place : places)
        place.control->SetPos(s(place.x), s(place.y), s(place.width), s(place.height));
    ::SendMessageA(maskList, LVM_SETICONSPACING, 0, MAKELPARAM(s(kIconSpacingX), s(kIconSpacingY)));
    FitVersionLabelToItsText();
    KeepBottomRowBelowTabs();
}

// The template makes the version label a little shorter than a line of its font, which cuts off
// the bottom of its text: it grows downwards to one line (the bottom row then keeps inside).
void SettingsDialog::FitVersionLabelToItsText()
{
    HDC dc = ::GetDC(versionLabel);
    HGDIOBJ old = ::SelectObject(dc, reinterpret_cast<HGDIOBJ>(versionLabel.Send(WM_GETFONT)));
    TEXTMETRICA metrics {};
    const bool measured = ::GetTextMetricsA(dc, &metrics) != FALSE;
    ::SelectObject(dc, old);
    ::ReleaseDC(versionLabel, dc);
    RECT rect = versionLabel.GetWindowRect();
    ::MapWindowPoints(nullptr, hwnd_, reinterpret_cast<POINT*>(&rect), 2);
    if (measured && rect.bottom - rect.top < metrics.tmHeight)
        versionLabel.SetPos(rect.left, rect.top, rect.right - rect.left, metrics.tmHeight);
}

// Moved to a monitor of another scale: the pixel layout and the drop-down's width follow it, the
// dialog's size too (the main window gives it that size each time it shows it), and the headings
// take the pictures drawn for it.
void SettingsDialog::OnDpiChanged(UINT dpi)
{
    if (dpi == 0)
        return;
    dpi_ = dpi;
    ApplyGeometry();
    FitNamePagesDropDown();
    LoadPictures(dpi);
}

// Apply and the version label keep their template places, which are in dialog units, while the
// tab control and the dialog are sized in pixels. With a font whose dialog units come out small
// (Arial under Wine, say) the template places fall on the bottom of the pages; then both move down
// together, just below the tab control. With a wider substitute font they can stand past the
// dialog's right or bottom edge; then both move back inside. Size and spacing are kept.
void SettingsDialog::KeepBottomRowBelowTabs()
{
    const int kGap = fw::ScaleForDpi(2, dpi_);
    const fw::Window* bottomRow[] = {&applyButton, &versionLabel};
    RECT tabRect = tabs.GetWindowRect();
    RECT client = GetClientRect();
    ::MapWindowPoints(hwnd_, nullptr, reinterpret_cast<POINT*>(&client), 2);
    RECT row = applyButton.GetWindowRect();
    RECT label = versionLabel.GetWindowRect();
    ::UnionRect(&row, &row, &label);
    LONG down = std::max<LONG>(0, tabRect.bottom + kGap - applyButton.GetWindowRect().top);
    if (row.bottom + down > client.bottom)
        down = client.bottom - row.bottom;
    LONG left = row.right > client.right ? row.right - client.right : 0;
    left = std::min<LONG>(left, row.left - client.left);
    if (down == 0 && left == 0)
        return;
    for (const fw::Window* control : bottomRow) {
        RECT rect = control->GetWindowRect();
        ::MapWindowPoints(nullptr, hwnd_, reinterpret_cast<POINT*>(&rect), 2);
        control->SetPos(rect.left - left, rect.top + down, rect.right - rect.left, rect.bottom - rect.top);
    }
}

// A picture static sizes itself to each new bitmap: the heading is put back into the place the
// layout gave it, without changing its z-order. The template's bitmap, which the static loaded
// itself, is released here: once given another picture, a static leaves every one to its owner.
// A heading whose picture cannot be loaded keeps the one it shows.
void SettingsDialog::LoadPictures(UINT dpi)
{
    HINSTANCE instance = fw::Application::Instance()->HInstance();
    const std::pair<const fw::Static*, int> headings[kHeadings] = {
        {&locationHeading, IDB_LOCATION_HEADING},
        {&quickAccessHeading, IDB_QUICK_ACCESS_HEADING},
        {&masksHeading, IDB_MASKS_HEADING},
        {&aboutHeading, IDB_ABOUT_HEADING},
    };
    for (int i = 0; i < kHeadings; ++i) {
        const fw::Static& heading = *headings[i].first;
        fw::OwnedBitmap bitmap(fw::ScaledPictures::LoadPicture(instance, headings[i].second, dpi));
        if (!bitmap)
            continue;
        RECT place = heading.GetWindowRect();
        ::MapWindowPoints(nullptr, ::GetParent(heading), reinterpret_cast<POINT*>(&place), 2);
        HBITMAP shown = heading.SetBitmap(bitmap);
        ::SetWindowPos(heading, nullptr, place.left, place.top, place.right - place.left, place.bottom - place.top,
            SWP_NOZORDER | SWP_NOACTIVATE);
        if (shown != nullptr && shown != headingBitmaps_[i].Get() && shown != bitmap.Get())
            ::DeleteObject(shown);
        headingBitmaps_[i] = std::move(bitmap);
    }
}

// Tab goes from the page tabs through the shown page from top to bottom (on File Masking: the list,
// then Delete, Add and the mask entry as they stand left to right) to Apply. The pages' controls
// live inside their group boxes and the geometry raises each control it places, so the window
// order is no guide; the controls of hidden pages are passed over.
void SettingsDialog::SetKeyboardOrder()
{
    SetTabOrder({tabs, titleExtract, messageBoxAlert, askForFolder, smartFolder, markOfTheWeb, recycleArchives,
        existingFiles, namePages, desktopShortcut, quickLaunchShortcut, maskList, deleteButton, addButton, maskEdit,
        applyButton});
}

// Consecutive values "0", "1", ... up to the first missing or empty one, however many there are:
// SaveSettings writes every row of the list, so every row must come back.
void SettingsDialog::LoadMasks()
{
    excludeMasks.clear();
    excludeMaskCount = 0;
    RegistryStore store;
    for (int i = 0;; ++i) {
        std::string text = store.ReadString(kMasksSubKey, std::to_string(i));
        if (text.empty())
            break;
        InsertMask(maskList.GetItemCount(), text);
        excludeMasks.push_back(text);
        ++excludeMaskCount;
    }
}

// The image index goes in as the cache reports it, -1 for an icon that could not be added.
int SettingsDialog::InsertMask(int index, const std::string& text)
{
    LVITEMA item {};
    item.mask = LVIF_TEXT | LVIF_IMAGE;
    item.iItem = index;
    item.pszText = const_cast<char*>(text.c_str());
    item.iImage = icons_.AddIconForExtension(text);
    return static_cast<int>(maskList.Send(LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
}

bool SettingsDialog::OnCommand(int id, int code, HWND)
{
    switch (id) {
    case IDC_SETTINGS_ADD:
        if (code != BN_CLICKED)
            return false;
        OnAdd();
        return true;
    case IDC_SETTINGS_DELETE:
        if (code != BN_CLICKED)
            return false;
        OnDelete();
        return true;
    case IDC_SETTINGS_MASK_EDIT:
        if (code != EN_UPDATE)
            return false;
        OnMaskEditUpdate();
        return true;
    case IDOK:
        // Enter in the mask entry adds the mask typed there, as Add does: Apply would close the
        // dialog and drop it. A click on Apply has taken the focus first.
        if (code != BN_CLICKED || ::GetFocus() != maskEdit || !::IsWindowEnabled(addButton))
            return false;
        OnAdd();
        return true;
    default: return false;
    }
}

bool SettingsDialog::OnNotify(int id, const NMHDR& header, LRESULT&)
{
    switch (id) {
    case IDC_SETTINGS_TABS:
        if (header.code != TCN_SELCHANGE)
            return false;
        ShowPage(tabs.GetCurSel());
        return true;
    case IDC_SETTINGS_MASKS:
        if (header.code != NM_CLICK)
            return false;
        UpdateDeleteButton();
        return true;
    default: return false;
    }
}

// Each page's own controls come and go with its group box; the mask entry and its two buttons
// belong to the File Masking page. Any other selection changes nothing.
void SettingsDialog::ShowPage(int page)
{
    if (page != kGeneralPage && page != kMaskingPage && page != kAboutPage)
        return;
    int masking = page == kMaskingPage ? SW_SHOW : SW_HIDE;
    generalPage.Show(page == kGeneralPage ? SW_SHOW : SW_HIDE);
    maskingPage.Show(masking);
    aboutPage.Show(page == kAboutPage ? SW_SHOW : SW_HIDE);
    maskEdit.Show(masking);
    addButton.Show(masking);
    deleteButton.Show(masking);
}

// The edit's text as typed (not trimmed) goes on top; duplicates are allowed and the edit keeps
// its text. The focus moves to the list even when nothing was added.
void SettingsDialog::OnAdd()
{
    std::string text = maskEdit.GetText();
    if (!text.empty())
        InsertMask(0, text);
    ::SetFocus(maskList);
}

// Rows are visited from the last to the first so that deleting one leaves the rest in place.
void SettingsDialog::OnDelete()
{
    for (int i = maskList.GetItemCount() - 1; i >= 0; --i) {
        if (maskList.GetItemState(i, LVIS_SELECTED) & LVIS_SELECTED)
            maskList.DeleteItem(i);
    }
}

void SettingsDialog::OnMaskEditUpdate()
{
    addButton.Enable(::GetWindowTextLengthA(maskEdit) > 0);
}

// Runs after initialisation and on every click in the list; keyboard selection does not update it.
void SettingsDialog::UpdateDeleteButton()
{
    deleteButton.Enable(maskList.GetSelectedCount() > 0);
}

// The dialog behaves as a modal one while it is shown: its owner, the main window, takes no input.
void SettingsDialog::OnShown()
{
    HWND owner = ::GetWindow(hwnd_, GW_OWNER);
    if (owner != nullptr)
        ::EnableWindow(owner, FALSE);
    ::SetFocus(hwnd_);
}

// "Apply": the settings are the controls themselves, so nothing is saved here.
bool SettingsDialog::OnOK()
{
    HideAndReleaseOwner();
    return true;
}

bool SettingsDialog::OnCancel()
{
    HideAndReleaseOwner();
    return true;
}

void SettingsDialog::HideAndReleaseOwner()
{
    Show(SW_HIDE);
    HWND owner = ::GetWindow(hwnd_, GW_OWNER);
    if (owner != nullptr)
        ::EnableWindow(owner, TRUE);
}

}  // namespace settings
