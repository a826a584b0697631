#pragma once
#include "framework/FileIconCache.h"
#include "framework/Button.h"
#include "framework/Dialog.h"
#include "framework/Edit.h"
#include "framework/ListView.h"
#include "framework/Owned.h"
#include "framework/Static.h"
#include "framework/TabControl.h"

#include <string>
#include <vector>

namespace settings {

// The "Settings" window with its General, File Masking and About pages, and at the same time the
// live settings of the run: its check boxes are the options, its fields the start and last folder
// and the exclusion masks. Created hidden once by the main window; Apply only hides it.
class SettingsDialog : public fw::ModelessDialog {
public:
    SettingsDialog();
    ~SettingsDialog() override;

    // Sets the six check boxes and startFolder/lastFolder from the registry.
    void LoadOptions();
    // Writes shortcuts, masks, options, "Last", "FilePath" and "Version"; run once at program end.
    void SaveSettings();
    // Check state of one of the option boxes 1020, 1024 to 1028; false for any other id. The
    // boxes live inside their page's group box, so GetDlgItem on the dialog does not find them.
    bool IsOptionChecked(int id) const;
    // The code page chosen for names in archives without Unicode: NameCodePage::kAutomatic,
    // kAsWindows or a page number (what the run and the viewer hand to the library).
    unsigned NamePage() const;
    // Selects the entry of `value`; an unknown value selects Automatic.
    void SelectNamePage(unsigned value);
    // Whether extracted files take on the mark of the web of a downloaded archive ("Extract"\"Mark
    // Of The Web": only "0" turns it off, as only a deliberate choice should).
    bool MarkOfTheWeb() const { return markOfTheWeb.IsChecked(); }
    // What happens to a file that was there before the run: kOverwrite, kSkip or kKeepBoth, the
    // values stored in "Extract"\"Existing Files" (anything else reads as kOverwrite).
    enum ExistingFiles { kOverwrite = 0, kSkip = 1, kKeepBoth = 2 };
    int ExistingFiles() const;
    void SelectExistingFiles(int value);
    // Shows the page headings drawn for the scale nearest `dpi`, each in the place it has.
    void LoadPictures(UINT dpi);
    // Whether archives extracted without a fault go to the Recycle Bin at the end of the run
    // ("Extract"\"Recycle Archives": only "1" turns it on).
    bool RecycleArchives() const { return recycleArchives.IsChecked(); }

    // The masks loaded at initialisation, in list order: the exclusion list of every extraction
    // until the program ends (masks added or deleted in the dialog count from the next start).
    std::vector<std::string> excludeMasks;
    int excludeMaskCount = 0;
    std::string startFolder;
    std::string lastFolder;

    // Members bound to their controls at initialisation, in template order.
    fw::Button applyButton;
    fw::TabControl tabs;
    fw::Button generalPage;
    fw::Button maskingPage;
    fw::Button aboutPage;
    fw::Static locationHeading;
    fw::Button titleExtract;     // 1020 "Title Extract"
    fw::Button messageBoxAlert;  // 1024 "Message Box Alert"
    fw::Button askForFolder;     // 1025 "Ask For Folder"
    fw::Static quickAccessHeading;
    fw::Button desktopShortcut;      // 1026 "Desktop Shortcut"
    fw::Button quickLaunchShortcut;  // 1027 "QuickLaunch Shortcut"
    fw::Button smartFolder;          // 1028 "Smart Folder": no title folder for one top-level entry
    fw::Static namePageLabel;        // "Names in archives without Unicode:"
    fw::Control namePages;           // its drop-down list; each entry's data is its stored value
    fw::Button markOfTheWeb;         // "Mark Files From Downloaded Archives"
    fw::Button recycleArchives;      // "Move Archives To The Recycle Bin After Extraction"
    fw::Static existingFilesLabel;   // "When A File Exists:"
    fw::Control existingFiles;       // Overwrite, Skip, Keep Both; each entry's data is its stored value
    fw::Static masksHeading;
    fw::ListView maskList;
    fw::Static maskHelp;
    fw::Edit maskEdit;
    fw::Button addButton;
    fw::Button deleteButton;
    fw::Static aboutHeading;
    fw::Static aboutText;
    fw::Static versionLabel;

protected:
    bool OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
    bool OnInit() override;
    bool OnCommand(int id, int code, HWND control) override;
    bool OnNotify(int id, const NMHDR& header, LRESULT& result) override;
    bool OnOK() override;
    bool OnCancel() override;
    void OnDpiChanged(UINT dpi) override;

private:
    void BindControls();
    void FillNamePages();
    void FitNamePagesDropDown();
    void FillExistingFiles();
    void BuildPages();
    void ApplyGeometry();
    void KeepBottomRowBelowTabs();
    void SetKeyboardOrder();
    void FitVersionLabelToItsText();
    void LoadMasks();
    // Inserts a mask row with its extension's large icon; answers the row's index or -1.
    int InsertMask(int index, const std::string& text);
    void ShowPage(int page);
    void OnAdd();
    void OnDelete();
    void OnMaskEditUpdate();
    void UpdateDeleteButton();
    void OnShown();
    void HideAndReleaseOwner();

    // The dialog's own cache on the large system icons: the mask list's normal image list.
    fw::FileIconCache icons_;
    // The headings' pictures once LoadPictures has run (until then the statics show the template's).
    static constexpr int kHeadings = 4;
    fw::OwnedBitmap headingBitmaps_[kHeadings];
    // The widest code-page name, in pixels of the box's font: the drop-down opens that wide.
    LONG namePagesWidest_ = 0;
    // The DPI the pixel layout is scaled to (the dialog's monitor's).
    UINT dpi_ = 96;
};

}  // namespace settings
