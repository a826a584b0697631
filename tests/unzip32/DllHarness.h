#pragma once
// Loads UNZIP32.DLL as the program does and calls its entry point with recording callbacks.
#include <windows.h>

#include "unzip32/unzip32.h"

#include <string>
#include <vector>

namespace dlltest {

struct ListedMember {
    unsigned long size, packedSize;
    unsigned factor, month, day, year, hour, minute;
    char marker;
    std::string name, method;
    unsigned long crc;
    char encrypted;
};

// What the callbacks of the last run saw.
struct Seen {
    std::vector<std::string> lines;
    std::vector<ListedMember> members;
    bool offThread = false;  // a callback came on another thread than the caller's
};

struct RunArgs {
    std::string archive;
    const char* target = nullptr;
    std::vector<std::string> exclude;
    bool list = false;
    bool caseInsensitive = false;
};

// Runs the library once; answers its result code (-1 when the library could not be loaded).
int RunLibrary(const RunArgs& args, Seen& seen);

// Whole-file helpers and the folder walk used to prove where output went. Paths are UTF-8.
std::string ReadAll(const std::string& path);
void WriteAll(const std::string& path, const std::string& bytes);
// Every file and folder under `root`, relative, with '\' separators (folders end in '\').
std::vector<std::string> Walk(const std::string& root);
std::string TempFolder(const std::string& tag);
void RemoveTree(const std::string& folder);
uint32_t FileCrc(const std::string& path, uint64_t& size);

}  // namespace dlltest
