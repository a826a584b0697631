#pragma once
#include "framework/ImageList.h"

#include <windows.h>

#include <shellapi.h>

#include <string>

namespace fw {

// The shell's system image list (small or large icons) in a form a list view takes directly: the
// index of an existing path's icon, and icons looked up by file extension for names that exist only
// inside archives or as masks. The list belongs to the shell and is never destroyed from here.
class FileIconCache : public fw::ImageList {
public:
    static constexpr UINT kSmallIcons = SHGFI_SYSICONINDEX | SHGFI_SMALLICON;  // 0x4001
    static constexpr UINT kLargeIcons = SHGFI_SYSICONINDEX | SHGFI_LARGEICON;  // 0x4000

    // Attached to the small system icons.
    FileIconCache();
    FileIconCache(const FileIconCache&) = delete;
    FileIconCache& operator=(const FileIconCache&) = delete;
    // Lets go of the system list without destroying it.
    virtual ~FileIconCache();

    // Stores the flags and attaches the system list of that size; false when the shell gives none.
    bool AttachSystemList(UINT flags);
    UINT Flags() const { return flags_; }
    // Index of an existing path's icon in the system list. For a path the shell cannot answer
    // for, whatever the previous query left (0 on a fresh cache).
    int GetSystemIconIndex(const std::string& path);
    // Appends the icon of an extension (also *.txt, txt or readme.txt) to the system list;
    // the new index, or -1 when the icon cannot be appended. Every call appends a new image.
    int AddIconForExtension(const std::string& extension);
    // The small or large icon (after the flags) registered for the extension, else shell32.dll's
    // first icon. The caller owns the icon.
    HICON LoadIconForExtension(const std::string& extension);
    // The normalised extension whose registration LoadIconForExtension reads: ".txt" for *.TXT,
    // .TXT and readme.TXT, ".TXT" for TXT, "." for html or empty text.
    static std::string LookupExtension(const std::string& extension);
    // Default value of HKEY_CLASSES_ROOT\<keyPath>, trimmed; empty when the key or value is missing.
    static std::string ReadClassesRootDefault(const std::string& keyPath);

private:
    // Holds the same system list; the base handle is taken from it.
    fw::ImageList systemList_;
    UINT flags_ = kSmallIcons;
    SHFILEINFOA fileInfo_ {};
};

}  // namespace fw
