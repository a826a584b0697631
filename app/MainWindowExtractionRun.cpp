// The extraction run of the main window: every queued archive (or the selected ones) extracted into
// its destination with the user's exclusion masks, then a summary.
#include "app/MainWindow.h"

#include "app/ExtractionSummary.h"
#include "app/FolderPicker.h"
#include "engine/PathInfo.h"
#include "app/ProcessObjects.h"
#include "engine/UnzipEngine.h"
#include "framework/MessageBox.h"
#include "resources/kestrova/resource.h"
#include "settings/SettingsDialog.h"

#include <direct.h>

#include <vector>

namespace app {

using engine::PathInfo;

namespace {

const char kPickerTitle[] = "Select the folder in where the selected archives will be extracted to:";

bool OptionChecked(int id)
{
    // The boxes are children of their page's group box, which IsDlgButtonChecked on the dialog misses.
    return Settings().IsOptionChecked(id);
}

}  // namespace

std::string WithoutTrailingBackslash(const std::string& folder)
{
    if (!folder.empty() && folder.back() == '\\')
        return folder.substr(0, folder.size() - 1);
    return folder;
}

std::string ExtractionDestination(PathInfo& archive, bool askForFolder, bool titleFolder, const std::string& chosen)
{
    if (!askForFolder)
        return titleFolder ? archive.Folder() + archive.Title() : WithoutTrailingBackslash(archive.Folder());
    return titleFolder ? chosen + "\\" + archive.Title() : chosen;
}

void MainWindow::RunExtraction(bool allRows)
{
    ExtractionSummary summary;
    std::string chosen;
    if (OptionChecked(IDC_SETTINGS_ASK_FOLDER)) {
        FolderPicker picker;
        picker.title = kPickerTitle;
        chosen = picker.Browse();
        // Cancelling the picker means "not now": extracting to an empty or root-relative
        // destination instead would scatter files where the user never asked for them.
        if (chosen.empty())
            return;
    }

    progressBar.SetRange(0, ExtractionList.GetSelectedCount());
    for (int row = 0; row < ExtractionList.GetItemCount(); ++row) {
        bool handled = allRows || (ExtractionList.GetItemState(row, LVIS_SELECTED) & LVIS_SELECTED) != 0;
        if (handled) {
            std::string path = ExtractionList.GetItemText(row, 1) + ExtractionList.GetItemText(row, 0);
            PathInfo archive(path);
            if (archive.IsZipArchive()) {
                std::string destination = ExtractionDestination(archive, OptionChecked(IDC_SETTINGS_ASK_FOLDER),
                                                                OptionChecked(IDC_SETTINGS_TITLE_EXTRACT), chosen);
                ::_mkdir(destination.c_str());

                const settings::SettingsDialog& options = Settings();
                std::vector<char*> masks;
                masks.reserve(options.excludeMasks.size());
                for (const std::string& mask : options.excludeMasks)
                    masks.push_back(const_cast<char*>(mask.c_str()));
                engine::UnzipEngine engine;
                engine.Unzip(path, destination.c_str(), masks.empty() ? nullptr : masks.data(),
                             static_cast<int>(masks.size()), false);
                summary.Add(path, engine.GetResult());
            }
        }
        progressBar.SetPosition(progressBar.GetPosition() + 1);
    }
    progressBar.SetPosition(0);

    if (OptionChecked(IDC_SETTINGS_MESSAGE_ALERT))
        fw::ShowMessage(hwnd_, summary.Text(), MB_OK);
}

}  // namespace app
