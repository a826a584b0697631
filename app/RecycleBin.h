#pragma once
// Clearing extracted archives away: every file of each archive handed to the Recycle Bin in one
// shell operation, never deleted for good.
#include <windows.h>

#include <string>
#include <vector>

namespace app {

// The files that make up the archive whose first file is `archive` (as the run takes it), in
// order, as far as they exist: name.7z.001, .002, ...; name.part1.rar, part2...; name.rar, .r00,
// .r01, ... (.s00 after .r99); name.z01, .z02, ..., then name.zip. The numbering stops at the first
// volume that is not there, so no file beyond a gap is taken for part of the set. Any other
// archive is its one file (when it exists).
std::vector<std::string> ArchiveVolumes(const std::string& archive);

// True when a file at `path` lies where Windows keeps a Recycle Bin: a local fixed disk with a
// drive letter. Network paths, removable and optical drives have none; handing the shell a file
// there would delete it for good.
bool HasRecycleBin(const std::string& path);

// Hands every file of `archives` (each given as its files, see ArchiveVolumes) to the Recycle Bin
// in one shell operation: no confirmation, no progress, no error boxes. An archive with a file on a
// drive without a Recycle Bin is left out as a whole. Should the shell still find a file it cannot
// recycle (the bin switched off, the file larger than it), the shell warns instead of deleting in
// silence, and No keeps the files. Returns, for each archive, whether all of its files left their
// place.
std::vector<bool> RecycleArchives(HWND owner, const std::vector<std::vector<std::string>>& archives);

}  // namespace app
