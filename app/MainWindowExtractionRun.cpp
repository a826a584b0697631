// The extraction run of the main window: every queued archive (or the selected ones) extracted into
// its destination with the user's exclusion masks, then a summary.
#include "app/MainWindow.h"

#include "app/ExtractionOptions.h"
#include "app/ExtractionSummary.h"
#include "app/FolderPicker.h"
#include "app/ProcessObjects.h"
#include "engine/PasswordSession.h"
#include "engine/PathInfo.h"
#include "engine/UnzipEngine.h"
#include "framework/FileSystem.h"
#include "framework/MessageBox.h"
#include "resources/kestrova/texts.h"

#include <vector>

namespace app {

using engine::PathInfo;

void MainWindow::RunExtraction(bool allRows)
{
    const ExtractionOptions options = ExtractionOptions::FromSettings(Settings());
    ExtractionSummary summary;
    std::string chosen;
    if (options.askForFolder) {
        FolderPicker picker;
        picker.title = texts::kPickerTitle;
        chosen = picker.Browse();
        // Cancelling the picker means "not now": extracting to an empty or root-relative
        // destination instead would scatter files where the user never asked for them.
        if (chosen.empty())
            return;
    }

    // One session for the whole run: archives that share a password ask for it once.
    engine::PasswordSession passwords(*this);
    progressBar.SetRange(0, ExtractionList.GetSelectedCount());
    for (int row = 0; row < ExtractionList.GetItemCount(); ++row) {
        bool handled = allRows || (ExtractionList.GetItemState(row, LVIS_SELECTED) & LVIS_SELECTED) != 0;
        if (handled) {
            std::string path = ExtractionList.GetItemText(row, 1) + ExtractionList.GetItemText(row, 0);
            PathInfo archive(path);
            if (archive.IsZipArchive()) {
                std::string destination = ExtractionDestination(archive, options, chosen);
                fw::CreateFolder(destination);

                std::vector<char*> masks;
                masks.reserve(options.excludeMasks.size());
                for (const std::string& mask : options.excludeMasks)
                    masks.push_back(const_cast<char*>(mask.c_str()));
                engine::UnzipEngine engine;
                engine.SetPasswords(&passwords);
                engine.Unzip(path, destination.c_str(), masks.empty() ? nullptr : masks.data(),
                             static_cast<int>(masks.size()), false);
                summary.Add(path, engine.GetResult());
            }
        }
        progressBar.SetPosition(progressBar.GetPosition() + 1);
    }
    progressBar.SetPosition(0);

    if (options.showSummary)
        fw::ShowMessage(hwnd_, summary.Text(), MB_OK);
}

}  // namespace app
