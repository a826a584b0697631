#include "app/ExtractionOptions.h"

#include "engine/PathInfo.h"
#include "resources/kestrova/resource.h"
#include "settings/SettingsDialog.h"

namespace app {

namespace {

std::string WithoutTrailingBackslash(const std::string& folder)
{
    if (!folder.empty() && folder.back() == '\\')
        return folder.substr(0, folder.size() - 1);
    return folder;
}

}  // namespace

ExtractionOptions ExtractionOptions::FromSettings(const settings::SettingsDialog& settings)
{
    // The boxes are children of their page's group box, which IsDlgButtonChecked on the dialog misses.
    ExtractionOptions options;
    options.askForFolder = settings.IsOptionChecked(IDC_SETTINGS_ASK_FOLDER);
    options.titleFolder = settings.IsOptionChecked(IDC_SETTINGS_TITLE_EXTRACT);
    options.showSummary = settings.IsOptionChecked(IDC_SETTINGS_MESSAGE_ALERT);
    options.excludeMasks = settings.excludeMasks;
    return options;
}

std::string ExtractionDestination(engine::PathInfo& archive, const ExtractionOptions& options,
                                  const std::string& chosen)
{
    if (!options.askForFolder)
        return options.titleFolder ? archive.Folder() + archive.Title() : WithoutTrailingBackslash(archive.Folder());
    return options.titleFolder ? chosen + "\\" + archive.Title() : chosen;
}

}  // namespace app
