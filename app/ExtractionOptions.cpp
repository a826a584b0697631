#include "app/ExtractionOptions.h"

#include "framework/PathInfo.h"
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
    options.smartFolder = settings.IsOptionChecked(IDC_SETTINGS_SMART_FOLDER);
    options.namePage = settings.NamePage();
    options.markOfTheWeb = settings.MarkOfTheWeb();
    options.existingFiles = settings.ExistingFiles();
    options.recycleArchives = settings.RecycleArchives();
    options.excludeMasks = settings.excludeMasks;
    return options;
}

std::string ExtractionDestination(
    fw::PathInfo& archive, const ExtractionOptions& options, const std::string& chosen, bool single)
{
    const bool titleFolder = options.titleFolder && !(options.smartFolder && single);
    if (!options.askForFolder)
        return titleFolder ? archive.Folder() + archive.ArchiveTitle() : WithoutTrailingBackslash(archive.Folder());
    return titleFolder ? chosen + "\\" + archive.ArchiveTitle() : chosen;
}

// The length of the first part of `name`: up to its first separator, found character by character
// so that the second byte of a double-byte character is never taken for one.
size_t FirstPartLength(const std::string& name, UINT codePage)
{
    size_t i = 0;
    while (i < name.size() && name[i] != '/' && name[i] != '\\')
        i += ::IsDBCSLeadByteEx(codePage, static_cast<BYTE>(name[i])) && i + 1 < name.size() ? 2 : 1;
    return i;
}

bool OneTopLevelEntry(const std::vector<std::string>& names, std::string* entry, UINT codePage)
{
    if (names.empty())
        return false;
    if (codePage == CP_ACP)
        codePage = ::GetACP();
    std::string top;
    bool anyNested = false;
    for (const std::string& name : names) {
        const size_t separator = FirstPartLength(name, codePage);
        const std::string first = name.substr(0, separator);
        if (first.empty())
            return false;  // a rooted name belongs to no top-level folder
        if (separator + 1 < name.size())
            anyNested = true;
        if (top.empty())
            top = first;
        else if (first != top)
            return false;
    }
    // One name at the top: a folder holding everything, or the one single file.
    if (!anyNested && names.size() != 1)
        return false;
    if (entry != nullptr)
        *entry = top;
    return true;
}

}  // namespace app
