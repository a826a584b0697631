#pragma once
#include <string>

namespace engine {
class ArchiveViewerDialog;
}  // namespace engine
namespace fw {
class FileIconCache;
}  // namespace fw
namespace settings {
class SettingsDialog;
}

namespace app {

class ExtractorApp;
class FolderFinder;
class SearchStatusWindow;

// The process-wide objects of kestrova. They are built before start-up in a fixed order and
// destroyed in reverse order at exit (see ProcessObjects.cpp).
ExtractorApp& TheApp();
// The folder the explorer pane shows; once the first navigation has run it ends in a backslash.
std::string& CurrentFolder();
// Small system icons for the main window's lists and the drive box.
fw::FileIconCache& IconCache();
// The explorer pane's file search.
FolderFinder& TheFolderFinder();
// The popup of the Search button.
SearchStatusWindow& SearchPopup();
// The settings dialog: also the live settings of the whole run.
settings::SettingsDialog& Settings();
// The archive viewer.
engine::ArchiveViewerDialog& Viewer();

}  // namespace app
