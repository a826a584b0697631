#pragma once
#include <windows.h>

#include <string>

namespace fw {

// One full path and the questions the explorer, the drop handling, the search and the extraction
// run ask about it: its parts, whether it names a folder, a drive root or an archive, and the size
// and date texts of the explorer list. Every query splits the stored path again.
class PathInfo {
public:
    PathInfo();
    explicit PathInfo(const std::string& text);
    // A path found by an enumeration, with what the enumeration reported for it: IsFolder,
    // SizeText and DateText answer from `found` instead of asking the file system again.
    PathInfo(const std::string& text, const WIN32_FIND_DATAA& found);
    PathInfo(const PathInfo& other) = default;
    PathInfo& operator=(const PathInfo& other) = default;
    virtual ~PathInfo();

    const std::string& Path() const { return path; }
    // Replaces the stored path (and forgets any enumeration data); returns it.
    std::string SetPath(const std::string& text);

    // "Setup.ZIP" of C:\a\Setup.ZIP.
    std::string FileName();
    // "Setup" of C:\a\Setup.ZIP.
    std::string Title();
    // ".zip" of C:\a\Setup.ZIP: the extension, lower-cased in place; empty without a dot.
    std::string Extension();
    // "C:\a\" of C:\a\Setup.ZIP: drive and folder part; empty for a bare name.
    std::string Folder();
    // True exactly for an existing folder that is not a drive root and whose name part is not
    // empty, "." or "..".
    bool IsFolder();
    // True for texts of at most 4 characters (C:\); callers pass folders ending in a backslash.
    bool IsRoot() const;
    // True when the lower-cased extension contains ".zip" anywhere (.ZIP, .zipx).
    bool IsZipArchive();
    // True when the file name ends like an archive the library reads, and the first file of its set
    // (see ArchiveSuffixLength): what the explorer lists and the search, drops and the run take.
    bool IsArchive();
    // "photos" of C:\a\photos.tar.gz, photos.7z.001 or photos.part1.rar: the file name without its
    // whole archive suffix; the same as Title for a name that is no archive.
    std::string ArchiveTitle();
    // Low 32 bits of the size of the first match of the path, in decimal; "0" when nothing matches.
    std::string SizeText() const;
    // The selected time of the first match (1 last write, 2 last access, anything else creation)
    // as local time through strftime; the default format gives "March 07, 1999". Empty when the
    // path does not match, the time cannot be represented or the text does not fit 127 characters.
    std::string DateText(int which = 0, const char* format = nullptr) const;

private:
    // Splits `path` into the four parts by the C runtime's rules, character by character in the
    // code page (a trail byte of a multibyte character is never taken for a separator or a dot).
    void Split();

    // The enumeration's data for this path, if it came from one, else null.
    const WIN32_FIND_DATAA* FoundData(WIN32_FIND_DATAA& lookup) const;

    std::string path;
    WIN32_FIND_DATAA findData_;
    bool hasFindData_;
    std::string drive;
    std::string dir;
    std::string name;
    std::string ext;
};

// The length of the archive suffix that ends the file name `name` (".zip", ".tar.gz", ".7z.001",
// ".part1.rar"), told by the extensions of the kinds case-insensitively; 0 when the name is of no
// kind Kestrova reads or names a volume after the first (.7z.002, .part2.rar, .r00, .z01).
size_t ArchiveSuffixLength(const std::string& name);

// The text with a backslash at its end: added when missing, so empty text gives "\".
std::string WithBackslash(const std::string& folder);

}  // namespace fw
