#pragma once
#include <windows.h>

#include <shtypes.h>

#include <string>

namespace fw {

// File-system calls for paths in the program's code page. They go through the wide functions, so
// that folders deeper than MAX_PATH characters work whether or not the system lifts that limit for
// the ANSI functions: a long absolute path is handed on in its \\?\ form.

// The path as the wide functions take it: UTF-16, and for a full path of MAX_PATH - 12 characters
// or more (the limit of a folder's creation) made absolute and prefixed with \\?\ (\\?\UNC\ for a
// network path). Empty when the text does not convert.
std::wstring WidePath(const std::string& path);

// FindFirstFile / FindNextFile with the match's name in the program's code page. A name that does
// not fit cFileName, or that the code page cannot hold, is reported by its short name when the file
// system has one; without one the entry is passed over.
HANDLE FindFirst(const std::string& pattern, WIN32_FIND_DATAA& match);
bool FindNext(HANDLE find, WIN32_FIND_DATAA& match);

// GetFileAttributes; INVALID_FILE_ATTRIBUTES when the path does not exist.
DWORD FileAttributes(const std::string& path);

// Creates one folder (its parent must exist); false when it could not be made or already exists.
bool CreateFolder(const std::string& path);

// The full path of a loaded module, however long; empty on failure.
std::string ModuleFileName(HMODULE module);

// The file-system path of a shell item list, read as UTF-16 and converted; empty when the item is
// not part of the file system.
std::string PathFromItemList(PCIDLIST_ABSOLUTE list);

}  // namespace fw
