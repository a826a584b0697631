// The settings dialog driven as a user would, against the real registry key of the prefix.
#include "framework/Application.h"
#include "resources/kestrova/resource.h"
#include "settings/SettingsDialog.h"
#include "settings/ShellFolders.h"
#include "tests/support/ShortcutTarget.h"
#include "tests/support/TestSupport.h"

#include <commctrl.h>
#include <objbase.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace {

using testsupport::FileExists;
using testsupport::PumpMessages;
using testsupport::RectInParent;
using testsupport::ShortcutTarget;
using testsupport::ThisProgram;
using testsupport::UserProfile;

class TestApplication : public fw::Application {
protected:
    void InitInstance() override { }
};
TestApplication g_testApp;

// The control's own visible flag, whatever its parents show.
bool Shown(HWND control)
{
    return (::GetWindowLongPtrA(control, GWL_STYLE) & WS_VISIBLE) != 0;
}

class SettingsDialogTest : public testsupport::RegistryFixture {
protected:
    void SetUp() override
    {
        RegistryFixture::SetUp();
        INITCOMMONCONTROLSEX controls {sizeof controls, ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
        ::InitCommonControlsEx(&controls);
        ::CoInitialize(nullptr);
        owner = ::CreateWindowExA(0, "STATIC", "Owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10, 300, 200, nullptr,
            nullptr, nullptr, nullptr);
        desktopLink = testsupport::DesktopShortcut();
        quickLaunchFolder = UserProfile() + "\\Application Data\\Microsoft\\Internet Explorer\\Quick Launch\\";
    }
    void TearDown() override
    {
        if (dialog != nullptr && dialog->IsValid())
            dialog->Destroy();
        dialog.reset();
        ::DestroyWindow(owner);
        PumpMessages(0);
        ::DeleteFileA(desktopLink.c_str());
        ::DeleteFileA((quickLaunchFolder + "Kestrova.lnk").c_str());
        RegistryFixture::TearDown();
    }
    settings::SettingsDialog& Open()
    {
        dialog = std::make_unique<settings::SettingsDialog>();
        EXPECT_TRUE(dialog->Create(owner));
        PumpMessages(0);
        return *dialog;
    }
    // Shows the dialog the way the main window's Options button does.
    void ShowDialog()
    {
        dialog->SetPos(55, 55, 344, 395);
        dialog->Show(SW_SHOW);
        PumpMessages(0);
    }
    void SelectTab(int index)
    {
        // TCM_SETCURFOCUS changes the tab and notifies the dialog as a click would.
        dialog->tabs.Send(TCM_SETCURFOCUS, static_cast<WPARAM>(index));
        PumpMessages(0);
    }
    void TypeIntoEdit(const std::string& text)
    {
        for (char c : text)
            dialog->maskEdit.Send(WM_CHAR, static_cast<WPARAM>(static_cast<unsigned char>(c)), 1);
        PumpMessages(0);
    }
    std::vector<std::string> Masks()
    {
        std::vector<std::string> masks;
        for (int i = 0; i < dialog->maskList.GetItemCount(); ++i)
            masks.push_back(dialog->maskList.GetItemText(i, 0));
        return masks;
    }
    void Select(int item, bool selected)
    {
        dialog->maskList.SetItemState(item, selected ? LVIS_SELECTED : 0, LVIS_SELECTED);
    }
    // What a click in the list tells the dialog.
    void NotifyListClick() { testsupport::NotifyListClick(*dialog, dialog->maskList, NM_CLICK); }
    std::string ChoiceText(int index)
    {
        char text[256] = {};
        if (dialog->namePages.Send(CB_GETLBTEXTLEN, static_cast<WPARAM>(index)) >= static_cast<LRESULT>(sizeof text))
            return "<too long>";
        dialog->namePages.Send(CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text));
        return text;
    }
    int ChoiceIndex(const std::string& text)
    {
        for (int i = 0; i < dialog->namePages.Send(CB_GETCOUNT); ++i)
            if (ChoiceText(i) == text)
                return i;
        return -1;
    }
    // The width of `text` in the control's font, in pixels.
    static LONG TextWidth(HWND control, const std::string& text)
    {
        HDC dc = ::GetDC(control);
        HGDIOBJ old = ::SelectObject(dc, reinterpret_cast<HGDIOBJ>(::SendMessageA(control, WM_GETFONT, 0, 0)));
        SIZE size {};
        ::GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &size);
        ::SelectObject(dc, old);
        ::ReleaseDC(control, dc);
        return size.cx;
    }
    std::set<std::string> MaskValueNames()
    {
        std::set<std::string> names;
        HKEY key = nullptr;
        if (::RegOpenKeyExA(HKEY_CURRENT_USER, KeyPath("Not To Extract").c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
            return names;
        for (DWORD i = 0;; ++i) {
            char name[64] = {};
            DWORD size = sizeof name;
            if (::RegEnumValueA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
                break;
            names.insert(name);
        }
        ::RegCloseKey(key);
        return names;
    }
    static bool KeyExists(const std::string& subKey)
    {
        HKEY key = nullptr;
        if (::RegOpenKeyExA(HKEY_CURRENT_USER, KeyPath(subKey).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
            return false;
        ::RegCloseKey(key);
        return true;
    }

    HWND owner = nullptr;
    std::unique_ptr<settings::SettingsDialog> dialog;
    std::string desktopLink;
    std::string quickLaunchFolder;
};

TEST_F(SettingsDialogTest, FirstStartHasClearBoxesNoMasksAndTheDesktopAsStartFolder)
{
    settings::SettingsDialog& d = Open();
    EXPECT_FALSE(d.IsVisible()) << "created hidden";
    for (int id : {IDC_SETTINGS_TITLE_EXTRACT, IDC_SETTINGS_MESSAGE_ALERT, IDC_SETTINGS_ASK_FOLDER,
             IDC_SETTINGS_DESKTOP_SHORTCUT, IDC_SETTINGS_QUICKLAUNCH_SHORTCUT})
        EXPECT_FALSE(d.IsOptionChecked(id)) << id;
    EXPECT_EQ(d.maskList.GetItemCount(), 0);
    EXPECT_EQ(d.excludeMaskCount, 0);
    EXPECT_TRUE(d.excludeMasks.empty());
    EXPECT_STRCASEEQ(d.startFolder.c_str(), (UserProfile() + "\\Desktop").c_str());
    EXPECT_EQ(d.lastFolder, d.startFolder);
    EXPECT_EQ(d.versionLabel.GetText(), "Current Version: 1.8.00");
    EXPECT_FALSE(d.deleteButton.IsEnabled()) << "nothing selected";
    char caption[32] = {};
    ::GetWindowTextA(d, caption, sizeof caption);
    EXPECT_STREQ(caption, "Settings");
    EXPECT_EQ(::GetWindow(d, GW_OWNER), owner);
}

TEST_F(SettingsDialogTest, LoadOptionsReadsTheStoredValues)
{
    WriteRaw("Extract", "Title Extract", "1");
    WriteRaw("Extract", "Message Box Alert", " 1 ");
    WriteRaw("Extract", "Ask For Folder", "01");
    WriteRaw("Shortcuts", "Desktop Shortcut", "yes");
    WriteRaw("Shortcuts", "QuickLaunch Shortcut", "1");
    WriteRaw("Extract", "Smart Folder", "1");
    WriteRaw("Folders", "Last", "  C:\\windows\\  ");
    settings::SettingsDialog& d = Open();
    EXPECT_TRUE(d.titleExtract.IsChecked());
    EXPECT_TRUE(d.messageBoxAlert.IsChecked());
    EXPECT_FALSE(d.askForFolder.IsChecked()) << "only a stored 1 counts";
    EXPECT_FALSE(d.desktopShortcut.IsChecked());
    EXPECT_TRUE(d.quickLaunchShortcut.IsChecked());
    // The extraction run asks through IsOptionChecked: the boxes are no longer the dialog's children.
    EXPECT_TRUE(d.IsOptionChecked(IDC_SETTINGS_TITLE_EXTRACT));
    EXPECT_FALSE(d.IsOptionChecked(IDC_SETTINGS_ASK_FOLDER));
    EXPECT_TRUE(d.IsOptionChecked(IDC_SETTINGS_QUICKLAUNCH_SHORTCUT));
    EXPECT_TRUE(d.IsOptionChecked(IDC_SETTINGS_SMART_FOLDER));
    EXPECT_FALSE(d.IsOptionChecked(IDC_SETTINGS_MASKS));
    EXPECT_EQ(::GetDlgItem(d, IDC_SETTINGS_TITLE_EXTRACT), nullptr);
    EXPECT_EQ(d.startFolder, "C:\\windows\\");
    EXPECT_EQ(d.lastFolder, "C:\\windows\\");

    WriteRaw("Folders", "Last", "   ");
    d.LoadOptions();
    EXPECT_STRCASEEQ(d.startFolder.c_str(), (UserProfile() + "\\Desktop").c_str()) << "blanks count as missing";

    // A stored folder that is gone starts on the desktop too: a missing drive, a deleted folder, a file.
    for (const char* gone : {"Q:\\Nowhere\\", "C:\\windows\\no such folder\\", "C:\\windows\\win.ini"}) {
        WriteRaw("Folders", "Last", gone);
        d.LoadOptions();
        EXPECT_STRCASEEQ(d.startFolder.c_str(), (UserProfile() + "\\Desktop").c_str()) << gone;
        EXPECT_EQ(d.lastFolder, d.startFolder) << gone;
    }
}

TEST_F(SettingsDialogTest, MasksLoadInOrderUpToTheFirstGap)
{
    WriteRaw("Not To Extract", "0", "*.bak");
    WriteRaw("Not To Extract", "1", "  *.tmp ");
    WriteRaw("Not To Extract", "3", "*.never");
    settings::SettingsDialog& d = Open();
    EXPECT_EQ(Masks(), (std::vector<std::string> {"*.bak", "*.tmp"}));
    EXPECT_EQ(d.excludeMasks, (std::vector<std::string> {"*.bak", "*.tmp"}));
    EXPECT_EQ(d.excludeMaskCount, 2);
    // Each row shows an image of the large system list.
    EXPECT_GE(d.maskList.GetItemImage(0), 0);
    HIMAGELIST list = reinterpret_cast<HIMAGELIST>(d.maskList.Send(LVM_GETIMAGELIST, LVSIL_NORMAL));
    SHFILEINFOA info {};
    EXPECT_EQ(list, reinterpret_cast<HIMAGELIST>(::SHGetFileInfoA("", 0, &info, sizeof info, 0x4000)));
    EXPECT_EQ(d.maskList.Send(LVM_GETITEMSPACING, FALSE), MAKELONG(69, 75));
}

TEST_F(SettingsDialogTest, MasksBeyondTheHundredthSurviveARestart)
{
    for (int i = 0; i < 130; ++i)
        WriteRaw("Not To Extract", std::to_string(i), "*.m" + std::to_string(i));
    settings::SettingsDialog& d = Open();
    EXPECT_EQ(d.excludeMaskCount, 130);
    ASSERT_EQ(d.maskList.GetItemCount(), 130);
    EXPECT_EQ(d.excludeMasks[129], "*.m129");
    d.SaveSettings();
    EXPECT_EQ(MaskValueNames().size(), 130u);
    EXPECT_EQ(ReadRaw("Not To Extract", "129"), "*.m129");
}

TEST_F(SettingsDialogTest, TabsShowTheirPagesAndThePageControlsLiveInTheirGroupBoxes)
{
    settings::SettingsDialog& d = Open();
    ShowDialog();
    EXPECT_EQ(d.tabs.GetItemCount(), 3);
    for (HWND control :
        {d.titleExtract.Handle(), d.messageBoxAlert.Handle(), d.askForFolder.Handle(), d.desktopShortcut.Handle(),
            d.quickLaunchShortcut.Handle(), d.locationHeading.Handle(), d.quickAccessHeading.Handle()})
        EXPECT_EQ(::GetParent(control), d.generalPage.Handle());
    for (HWND control : {d.maskList.Handle(), d.maskHelp.Handle(), d.masksHeading.Handle()})
        EXPECT_EQ(::GetParent(control), d.maskingPage.Handle());
    EXPECT_EQ(::GetParent(d.aboutText), d.aboutPage.Handle());
    EXPECT_EQ(::GetParent(d.maskEdit), d.Handle());
    EXPECT_EQ(::GetParent(d.addButton), d.Handle());

    auto expectPage = [&](bool general, bool masking, bool about) {
        EXPECT_EQ(Shown(d.generalPage), general);
        EXPECT_EQ(Shown(d.maskingPage), masking);
        EXPECT_EQ(Shown(d.aboutPage), about);
        EXPECT_EQ(Shown(d.maskEdit), masking);
        EXPECT_EQ(Shown(d.addButton), masking);
        EXPECT_EQ(Shown(d.deleteButton), masking);
        EXPECT_EQ(d.titleExtract.IsVisible(), general);
        EXPECT_EQ(d.maskList.IsVisible(), masking);
        EXPECT_EQ(d.aboutText.IsVisible(), about);
    };
    {
        SCOPED_TRACE("start");
        expectPage(true, false, false);
    }
    SelectTab(1);
    {
        SCOPED_TRACE("File Masking");
        expectPage(false, true, false);
    }
    SelectTab(2);
    {
        SCOPED_TRACE("About");
        expectPage(false, false, true);
    }
    EXPECT_NE(d.aboutText.GetText().find("author@kestrova.org"), std::string::npos);
    SelectTab(0);
    {
        SCOPED_TRACE("General");
        expectPage(true, false, false);
    }
}

TEST_F(SettingsDialogTest, ControlsStandWhereTheGeometryTablePutsThem)
{
    settings::SettingsDialog& d = Open();
    struct Expected {
        HWND control;
        RECT rect;
    };
    const Expected expected[] = {
        {d.tabs, {4, 2, 4 + 331, 2 + 331}},
        {d.maskingPage, {9, 29, 9 + 320, 29 + 294}},
        {d.askForFolder, {15, 76, 15 + 290, 76 + 30}},
        {d.maskList, {15, 50, 15 + 290, 50 + 70}},
        {d.aboutText, {20, 50, 20 + 200, 50 + 150}},
        {d.deleteButton, {23, 155, 23 + 65, 155 + 27}},
        {d.addButton, {91, 155, 91 + 65, 155 + 27}},
        {d.maskEdit, {163, 157, 163 + 151, 157 + 22}},
        {d.locationHeading, {15, 22, 15 + 290, 22 + 16}},
    };
    for (const Expected& e : expected) {
        RECT rect = RectInParent(e.control);
        EXPECT_EQ(rect.left, e.rect.left) << ::GetDlgCtrlID(e.control);
        EXPECT_EQ(rect.top, e.rect.top) << ::GetDlgCtrlID(e.control);
        EXPECT_EQ(rect.right, e.rect.right) << ::GetDlgCtrlID(e.control);
        EXPECT_EQ(rect.bottom, e.rect.bottom) << ::GetDlgCtrlID(e.control);
    }
    // As the user sees it, at the size the Options button gives the dialog:
    ShowDialog();
    // Apply keeps its template place and size (mapped edges may round a pixel apart), moved down
    // only as far as it takes to clear the tab control, and left only when a wide substitute font
    // would put it past the dialog's edge.
    RECT apply {173, 146, 173 + 50, 146 + 14};
    ::MapDialogRect(d, &apply);
    RECT applied = RectInParent(d.applyButton);
    RECT client = d.GetClientRect();
    if (apply.right <= client.right)
        EXPECT_EQ(applied.left, apply.left);
    else
        EXPECT_LE(applied.right, client.right) << "pulled back inside the dialog";
    EXPECT_NEAR(applied.right - applied.left, apply.right - apply.left, 1);
    EXPECT_GE(applied.top, std::min(apply.top, RectInParent(d.tabs).bottom));
    EXPECT_GE(applied.top, RectInParent(d.tabs).bottom) << "no overlap with the pages";
    EXPECT_GE(RectInParent(d.versionLabel).top, RectInParent(d.tabs).bottom);
    EXPECT_NE(d.locationHeading.Send(STM_GETIMAGE, IMAGE_BITMAP), 0) << "heading bitmap loaded";
}

TEST_F(SettingsDialogTest, NoTwoControlsOfAPageOverlap)
{
    settings::SettingsDialog& d = Open();
    ShowDialog();
    const std::vector<std::vector<HWND>> pages = {
        {d.locationHeading, d.titleExtract, d.messageBoxAlert, d.askForFolder, d.smartFolder, d.markOfTheWeb,
            d.recycleArchives, d.existingFilesLabel, d.existingFiles, d.namePageLabel, d.namePages,
            d.quickAccessHeading, d.desktopShortcut, d.quickLaunchShortcut, d.applyButton, d.versionLabel},
        {d.masksHeading, d.maskList, d.maskHelp, d.deleteButton, d.addButton, d.maskEdit, d.applyButton,
            d.versionLabel},
        {d.aboutHeading, d.aboutText, d.applyButton, d.versionLabel},
    };
    RECT client = d.GetClientRect();
    ::MapWindowPoints(d, nullptr, reinterpret_cast<POINT*>(&client), 2);
    for (size_t page = 0; page < pages.size(); ++page) {
        for (size_t i = 0; i < pages[page].size(); ++i) {
            RECT a {};
            ::GetWindowRect(pages[page][i], &a);
            RECT inside {};
            EXPECT_TRUE(::IntersectRect(&inside, &a, &client) && ::EqualRect(&inside, &a))
                << "page " << page << " control " << ::GetDlgCtrlID(pages[page][i]) << " leaves the dialog";
            // A page's own controls keep clear of its group box's border lines.
            HWND box = ::GetParent(pages[page][i]);
            RECT frame {};
            ::GetWindowRect(box, &frame);
            ::InflateRect(&frame, -4, -4);
            if (box != d.Handle()) {
                EXPECT_TRUE(::IntersectRect(&inside, &a, &frame) && ::EqualRect(&inside, &a))
                    << "control " << ::GetDlgCtrlID(pages[page][i]) << " touches its group box's border";
            }
            // The placed check boxes overlap their neighbours by up to 3 pixels of blank margin
            // (their text is centred vertically); anything more is a visible overlap.
            ::InflateRect(&a, 0, -2);
            for (size_t j = i + 1; j < pages[page].size(); ++j) {
                RECT b {}, overlap {};
                ::GetWindowRect(pages[page][j], &b);
                ::InflateRect(&b, 0, -2);
                EXPECT_FALSE(::IntersectRect(&overlap, &a, &b))
                    << "page " << page << ": " << ::GetDlgCtrlID(pages[page][i]) << " and "
                    << ::GetDlgCtrlID(pages[page][j]);
            }
        }
    }
    // The extraction options stand above the shortcuts' heading.
    for (HWND option : {d.smartFolder.Handle(), d.namePages.Handle(), d.markOfTheWeb.Handle(),
             d.recycleArchives.Handle(), d.existingFiles.Handle()})
        EXPECT_LT(RectInParent(option).bottom, RectInParent(d.quickAccessHeading).top) << ::GetDlgCtrlID(option);
    // Labels and the existing-files choices are shown whole.
    for (HWND label : {d.markOfTheWeb.Handle(), d.recycleArchives.Handle(), d.existingFilesLabel.Handle()}) {
        RECT rect = RectInParent(label);
        const int check = label == d.existingFilesLabel.Handle() ? 0 : ::GetSystemMetrics(SM_CXMENUCHECK) + 4;
        char text[128] = {};
        ::GetWindowTextA(label, text, sizeof text);
        EXPECT_GE(rect.right - rect.left - check, TextWidth(label, text)) << text;
    }
    RECT choices = RectInParent(d.existingFiles);
    EXPECT_GE(choices.right - choices.left - ::GetSystemMetrics(SM_CXVSCROLL), TextWidth(d.existingFiles, "Keep Both"));
    // The closed drop-down shows the longest choice whole.
    RECT box = RectInParent(d.namePages);
    EXPECT_GE(box.right - box.left - ::GetSystemMetrics(SM_CXVSCROLL),
        TextWidth(d.namePages, "As Windows (950 Chinese Traditional (Big5))"));
}

// "Extract"\"Name Code Page": "0" automatic, "1" as Windows, else a listed page; odd values read as
// automatic. The drop-down is the live setting (NamePage), saved at program end like the boxes.
TEST_F(SettingsDialogTest, NameCodePageRoundTripsThroughTheDropDownAndTheRegistry)
{
    settings::SettingsDialog& d = Open();
    EXPECT_EQ(d.NamePage(), 0u);
    EXPECT_EQ(ChoiceText(0), "Automatic");
    EXPECT_EQ(ChoiceText(1), "As Windows (437 United States (DOS))") << "the prefix's locale is en-US";
    EXPECT_EQ(d.namePages.Send(CB_GETCOUNT), 25);
    EXPECT_EQ(ChoiceText(2), "437 \u2014 United States (DOS)");
    EXPECT_EQ(d.namePageLabel.GetText(), "Names in archives without Unicode:");
    const int cyrillic = ChoiceIndex("866 \u2014 Cyrillic (DOS)");
    ASSERT_GT(cyrillic, 1);
    ShowDialog();
    d.namePages.Send(CB_SETCURSEL, static_cast<WPARAM>(cyrillic));
    d.applyButton.Click();
    PumpMessages(0);
    EXPECT_EQ(d.NamePage(), 866u);
    d.SaveSettings();
    EXPECT_EQ(ReadRaw("Extract", "Name Code Page"), "866");
    EXPECT_EQ(RawType("Extract", "Name Code Page"), static_cast<DWORD>(REG_SZ));
    d.Destroy();

    settings::SettingsDialog& again = Open();
    EXPECT_EQ(again.NamePage(), 866u);
    EXPECT_EQ(::GetWindowTextLengthA(again.namePages), static_cast<int>(ChoiceText(cyrillic).size()));

    const struct {
        const char* stored;
        unsigned read;
    } values[] = {{"1", 1}, {" 1251 ", 1251}, {"932", 932}, {"0", 0}, {"65001", 0}, {"720", 0}, {"9999999", 0},
        {"-866", 0}, {"866x", 0}, {"", 0}};
    for (const auto& value : values) {
        WriteRaw("Extract", "Name Code Page", value.stored);
        again.LoadOptions();
        EXPECT_EQ(again.NamePage(), value.read) << value.stored;
    }
    const DWORD number = 866;
    ::SHSetValueA(HKEY_CURRENT_USER, KeyPath("Extract").c_str(), "Name Code Page", REG_DWORD, &number, sizeof number);
    again.LoadOptions();
    EXPECT_EQ(again.NamePage(), 0u) << "a number of another type";
}

// "Mark Of The Web" is on unless "0" is stored; "Recycle Archives" is off unless "1" is; "Existing
// Files" is "0" overwrite, "1" skip, "2" keep both, and anything else overwrites, as before.
TEST_F(SettingsDialogTest, ExtractionSafetyChoicesRoundTripAndOddValuesKeepTheSafeDefaults)
{
    settings::SettingsDialog& d = Open();
    EXPECT_TRUE(d.MarkOfTheWeb()) << "on at the first start, as in Windows";
    EXPECT_FALSE(d.RecycleArchives());
    EXPECT_EQ(d.ExistingFiles(), settings::SettingsDialog::kOverwrite);
    ASSERT_EQ(d.existingFiles.Send(CB_GETCOUNT), 3);
    EXPECT_EQ(d.existingFilesLabel.GetText(), "When A File Exists:");
    EXPECT_EQ(d.markOfTheWeb.GetText(), "Mark Files From Downloaded Archives");
    EXPECT_EQ(d.recycleArchives.GetText(), "Move Archives To The Recycle Bin After Extraction");

    ShowDialog();
    d.markOfTheWeb.Click();
    d.recycleArchives.Click();
    d.existingFiles.Send(CB_SETCURSEL, 2);
    EXPECT_EQ(::GetWindowTextLengthA(d.existingFiles), 9) << "Keep Both";
    d.applyButton.Click();
    PumpMessages(0);
    d.SaveSettings();
    EXPECT_EQ(ReadRaw("Extract", "Mark Of The Web"), "0");
    EXPECT_EQ(ReadRaw("Extract", "Recycle Archives"), "1");
    EXPECT_EQ(ReadRaw("Extract", "Existing Files"), "2");
    d.Destroy();

    settings::SettingsDialog& again = Open();
    EXPECT_FALSE(again.MarkOfTheWeb());
    EXPECT_TRUE(again.RecycleArchives());
    EXPECT_EQ(again.ExistingFiles(), settings::SettingsDialog::kKeepBoth);
    const struct {
        const char* mark;
        const char* recycle;
        const char* existing;
        bool marks, recycles;
        int choice;
    } values[] = {{" 0 ", " 1 ", " 1 ", false, true, settings::SettingsDialog::kSkip},
        {"no", "yes", "3", true, false, settings::SettingsDialog::kOverwrite},
        {"", "", "-1", true, false, settings::SettingsDialog::kOverwrite},
        {"1", "0", "2x", true, false, settings::SettingsDialog::kOverwrite}};
    for (const auto& value : values) {
        WriteRaw("Extract", "Mark Of The Web", value.mark);
        WriteRaw("Extract", "Recycle Archives", value.recycle);
        WriteRaw("Extract", "Existing Files", value.existing);
        again.LoadOptions();
        EXPECT_EQ(again.MarkOfTheWeb(), value.marks) << value.mark;
        EXPECT_EQ(again.RecycleArchives(), value.recycles) << value.recycle;
        EXPECT_EQ(again.ExistingFiles(), value.choice) << value.existing;
    }
}

TEST_F(SettingsDialogTest, TypingEnablesAddAndAddPutsTheMaskOnTop)
{
    WriteRaw("Not To Extract", "0", "*.bak");
    WriteRaw("Not To Extract", "1", "*.tmp");
    settings::SettingsDialog& d = Open();
    ShowDialog();
    SelectTab(1);
    TypeIntoEdit("*.txt");
    EXPECT_TRUE(d.addButton.IsEnabled());
    d.addButton.Click();
    PumpMessages(0);
    EXPECT_EQ(Masks(), (std::vector<std::string> {"*.txt", "*.bak", "*.tmp"}));
    EXPECT_EQ(d.maskEdit.GetText(), "*.txt") << "the edit keeps its text";
    EXPECT_EQ(::GetFocus(), d.maskList.Handle());
    EXPECT_EQ(d.excludeMasks, (std::vector<std::string> {"*.bak", "*.tmp"})) << "extraction keeps the loaded list";

    d.addButton.Click();
    PumpMessages(0);
    EXPECT_EQ(d.maskList.GetItemCount(), 4) << "duplicates are allowed";

    for (int i = 0; i < 5; ++i)
        d.maskEdit.Send(WM_CHAR, VK_BACK, 1);
    PumpMessages(0);
    EXPECT_EQ(d.maskEdit.GetText(), "");
    EXPECT_FALSE(d.addButton.IsEnabled()) << "erasing the text disables Add";

    // With an empty edit, Add adds nothing but still moves the focus to the list.
    d.addButton.Enable(true);
    ::SetFocus(d.maskEdit);
    d.addButton.Click();
    PumpMessages(0);
    EXPECT_EQ(d.maskList.GetItemCount(), 4);
    EXPECT_EQ(::GetFocus(), d.maskList.Handle());

    d.SaveSettings();
    EXPECT_EQ(ReadRaw("Not To Extract", "0"), "*.txt");
    EXPECT_EQ(ReadRaw("Not To Extract", "2"), "*.bak");
    EXPECT_EQ(ReadRaw("Not To Extract", "3"), "*.tmp");
}

TEST_F(SettingsDialogTest, DeleteRemovesTheSelectedMasks)
{
    WriteRaw("Not To Extract", "0", "*.a");
    WriteRaw("Not To Extract", "1", "*.b");
    WriteRaw("Not To Extract", "2", "*.c");
    WriteRaw("Not To Extract", "3", "*.d");
    settings::SettingsDialog& d = Open();
    ShowDialog();
    SelectTab(1);
    EXPECT_FALSE(d.deleteButton.IsEnabled());
    Select(0, true);
    Select(2, true);
    EXPECT_FALSE(d.deleteButton.IsEnabled()) << "keyboard or program selection does not update Delete";
    NotifyListClick();
    EXPECT_TRUE(d.deleteButton.IsEnabled());
    d.deleteButton.Click();
    PumpMessages(0);
    EXPECT_EQ(Masks(), (std::vector<std::string> {"*.b", "*.d"}));
    EXPECT_TRUE(d.deleteButton.IsEnabled()) << "stays as it was until the next click";
    d.deleteButton.Click();
    PumpMessages(0);
    EXPECT_EQ(Masks(), (std::vector<std::string> {"*.b", "*.d"})) << "nothing selected, nothing removed";
    NotifyListClick();
    EXPECT_FALSE(d.deleteButton.IsEnabled());
}

TEST_F(SettingsDialogTest, ThreeMasksWithTheFirstDeletedLeaveExactlyTwoValues)
{
    WriteRaw("Not To Extract", "0", "*.one");
    WriteRaw("Not To Extract", "1", "*.two");
    WriteRaw("Not To Extract", "2", "*.three");
    settings::SettingsDialog& d = Open();
    ShowDialog();
    SelectTab(1);
    Select(0, true);
    NotifyListClick();
    d.deleteButton.Click();
    PumpMessages(0);
    d.SaveSettings();
    EXPECT_EQ(MaskValueNames(), (std::set<std::string> {"0", "1"}));
    EXPECT_EQ(ReadRaw("Not To Extract", "0"), "*.two");
    EXPECT_EQ(ReadRaw("Not To Extract", "1"), "*.three");

    Select(0, true);
    Select(1, true);
    d.deleteButton.Click();
    PumpMessages(0);
    d.SaveSettings();
    EXPECT_FALSE(KeyExists("Not To Extract")) << "an empty list leaves no key";
}

TEST_F(SettingsDialogTest, OwnerTakesNoInputWhileTheDialogIsShown)
{
    settings::SettingsDialog& d = Open();
    EXPECT_TRUE(::IsWindowEnabled(owner));
    ShowDialog();
    EXPECT_TRUE(d.IsVisible());
    EXPECT_FALSE(::IsWindowEnabled(owner));
    d.titleExtract.Click();
    d.applyButton.Click();
    PumpMessages(0);
    EXPECT_FALSE(d.IsVisible());
    EXPECT_TRUE(::IsWindowEnabled(owner));
    EXPECT_EQ(ReadRaw("Extract", "Title Extract"), "<missing>") << "Apply saves nothing";

    // Shown again with its states kept.
    ShowDialog();
    EXPECT_FALSE(::IsWindowEnabled(owner));
    EXPECT_TRUE(d.titleExtract.IsChecked());
    d.Send(WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    PumpMessages(0);
    EXPECT_FALSE(d.IsVisible());
    EXPECT_TRUE(::IsWindowEnabled(owner));
}

TEST_F(SettingsDialogTest, ProgramEndWritesEveryValueAsText)
{
    WriteRaw("Not To Extract", "0", "*.bak");
    settings::SettingsDialog& d = Open();
    d.titleExtract.SetCheck(true);
    d.askForFolder.SetCheck(true);
    d.lastFolder = "C:\\windows\\";
    d.SaveSettings();
    const struct {
        const char* subKey;
        const char* name;
        const char* value;
    } expected[] = {
        {"Extract", "Title Extract", "1"},
        {"Extract", "Message Box Alert", "0"},
        {"Extract", "Ask For Folder", "1"},
        {"Extract", "Smart Folder", "0"},
        {"Extract", "Name Code Page", "0"},
        {"Extract", "Mark Of The Web", "1"},
        {"Extract", "Existing Files", "0"},
        {"Extract", "Recycle Archives", "0"},
        {"Shortcuts", "Desktop Shortcut", "0"},
        {"Shortcuts", "QuickLaunch Shortcut", "0"},
        {"Folders", "Last", "C:\\windows\\"},
        {"Not To Extract", "0", "*.bak"},
        {"", "Version", "1.8.00"},
    };
    for (const auto& e : expected) {
        EXPECT_EQ(ReadRaw(e.subKey, e.name), e.value) << e.subKey << "/" << e.name;
        EXPECT_EQ(RawType(e.subKey, e.name), static_cast<DWORD>(REG_SZ)) << e.name;
    }
    EXPECT_STRCASEEQ(ReadRaw("", "FilePath").c_str(), ThisProgram().c_str());
}

TEST_F(SettingsDialogTest, DesktopShortcutIsWrittenWhenCheckedAndDeletedWhenNot)
{
    settings::SettingsDialog& d = Open();
    d.desktopShortcut.SetCheck(true);
    d.SaveSettings();
    ASSERT_TRUE(FileExists(desktopLink)) << desktopLink;
    EXPECT_STRCASEEQ(ShortcutTarget(desktopLink).c_str(), ThisProgram().c_str());
    d.SaveSettings();
    EXPECT_TRUE(FileExists(desktopLink)) << "rewritten over the existing one";

    d.desktopShortcut.SetCheck(false);
    d.SaveSettings();
    EXPECT_FALSE(FileExists(desktopLink));
    d.SaveSettings();
    EXPECT_EQ(ReadRaw("", "Version"), "1.8.00") << "a missing shortcut is no error";
}

TEST_F(SettingsDialogTest, QuickLaunchShortcutNeedsItsFolder)
{
    settings::SettingsDialog& d = Open();
    d.quickLaunchShortcut.SetCheck(true);
    bool existed = FileExists(quickLaunchFolder);
    if (!existed) {
        d.SaveSettings();
        EXPECT_FALSE(FileExists(quickLaunchFolder)) << "no folder is created";
        ::SHCreateDirectoryExA(nullptr, quickLaunchFolder.c_str(), nullptr);
    }
    d.SaveSettings();
    EXPECT_STRCASEEQ(ShortcutTarget(quickLaunchFolder + "Kestrova.lnk").c_str(), ThisProgram().c_str());
    d.quickLaunchShortcut.SetCheck(false);
    d.SaveSettings();
    EXPECT_FALSE(FileExists(quickLaunchFolder + "Kestrova.lnk"));
    if (!existed)
        ::RemoveDirectoryA(quickLaunchFolder.c_str());
}

TEST_F(SettingsDialogTest, WithoutItsWindowNothingIsSaved)
{
    WriteRaw("Not To Extract", "0", "*.keep");
    settings::SettingsDialog unopened;
    unopened.SaveSettings();
    EXPECT_EQ(ReadRaw("Not To Extract", "0"), "*.keep");
    EXPECT_EQ(ReadRaw("", "Version"), "<missing>");
}

}  // namespace
