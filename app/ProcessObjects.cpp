#include "app/ProcessObjects.h"

#include "app/ExtractorApp.h"
#include "app/FolderFinder.h"
#include "app/SearchStatusWindow.h"
#include "engine/ArchiveViewerDialog.h"
#include "framework/FileIconCache.h"
#include "settings/SettingsDialog.h"

// Definition order is construction order within this file; the objects are destroyed in reverse.
namespace {
app::ExtractorApp g_app;
std::string g_currentFolder;
fw::FileIconCache g_iconCache;
app::FolderFinder g_folderFinder;
app::SearchStatusWindow g_searchPopup;
settings::SettingsDialog g_settingsDialog;
engine::ArchiveViewerDialog g_archiveViewer;
}  // namespace

namespace app {

ExtractorApp& TheApp()
{
    return g_app;
}

std::string& CurrentFolder()
{
    return g_currentFolder;
}

fw::FileIconCache& IconCache()
{
    return g_iconCache;
}

FolderFinder& TheFolderFinder()
{
    return g_folderFinder;
}

SearchStatusWindow& SearchPopup()
{
    return g_searchPopup;
}

settings::SettingsDialog& Settings()
{
    return g_settingsDialog;
}

engine::ArchiveViewerDialog& Viewer()
{
    return g_archiveViewer;
}

}  // namespace app
