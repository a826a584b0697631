#pragma once
#include "framework/Dialog.h"
#include "framework/Static.h"

#include <string>
#include <vector>

namespace app {

// The small popup that names the folder being searched, and the table of archives the search found.
// Its window exists only while one folder is searched; the table outlives it until the next search.
class SearchStatusWindow : public fw::ModelessDialog {
public:
    SearchStatusWindow();

    // Creates the popup window (template 135) owned by `owner`; starts a new search.
    bool Create(HWND owner) override;

    // Walks `folder` and all its sub-folders depth first and stores every archive found. The first
    // (outermost) call of a search resets the table and names the folder in the label.
    void Search(const std::string& folder);
    int ResultCount() const { return foundCount; }
    // The next stored path; call it ResultCount times after a search.
    std::string NextResult();

    std::vector<std::string> results;
    fw::Static statusLabel;
    bool headerShown = false;
    int foundCount = 0;
    int readCursor = -1;

protected:
    bool OnInit() override;
    bool OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

private:
    void EnableOwner(bool enable) const;
};

}  // namespace app
