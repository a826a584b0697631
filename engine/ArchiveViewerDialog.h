#pragma once
#include "framework/FileIconCache.h"
#include "framework/Dialog.h"
#include "framework/ListView.h"
#include "framework/Static.h"

#include <string>

namespace engine {

// The "Archive Viewer": the members of one archive with their icons, sizes and ratios. Created
// hidden once by the main window; shown for one archive at a time and hidden again by OK or Escape.
class ArchiveViewerDialog : public fw::ModelessDialog {
public:
    ArchiveViewerDialog();

    // Fills the shown viewer with the members of `archivePath`, the last reported one on top;
    // names without Unicode are read in `namePage`, as the extraction reads them.
    void ShowArchive(const std::string& archivePath, unsigned namePage = 0);

    fw::Static nameLabel;
    fw::ListView memberList;
    fw::FileIconCache iconCache;

protected:
    bool OnInit() override;
    bool OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
    bool OnNotify(int id, const NMHDR& header, LRESULT& result) override;
    bool OnOK() override;
    bool OnCancel() override;
    void OnDpiChanged(UINT dpi) override;

private:
    void OnShown();
    void ScaleColumnsTo(UINT dpi);
    void Close();

    UINT columnsDpi_ = 0;  // the DPI the columns' widths are for; 0 before they exist
};

}  // namespace engine
