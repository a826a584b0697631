#pragma once
#include "unzip32/core/Extractor.h"

#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace unzip {

// A Host that extracts into memory: the unit tests and the fuzzer drive the whole core through
// it. Files are kept by their '/'-joined safe path; file data beyond `keepLimit` bytes in all is
// checked but not kept, so a huge (or hostile) archive costs no memory.
class MemoryHost : public Host {
public:
    struct Listed {
        std::string name;
        uint64_t size = 0;
        uint64_t compressedSize = 0;
        unsigned factor = 0;
    };

    explicit MemoryHost(size_t keepLimit = 64u << 20) : keepLimit_(keepLimit) { }

    std::string DisplayName(const Entry& entry) override { return entry.name; }
    void Print(const std::string& line) override { lines.push_back(line); }
    void Member(const Entry& entry, const std::string& displayName, unsigned factor) override;
    Status CreateFolder(const std::vector<std::string>& parts) override;
    Status CreateOutput(
        const std::vector<std::string>& parts, const Entry& entry, std::unique_ptr<OutputFile>& file) override;

    Status CopyOutput(
        const std::vector<std::string>& from, const std::vector<std::string>& parts, const Entry& entry) override;
    const NameCodec* Names() override { return names; }
    VolumeSet* Volumes() override { return volumes; }
    std::string ArchiveFileName() override { return archiveName; }
    // Anything in `files` or `folders` under the parts' path, or made in the run under a path equal
    // to it by NameKey.
    bool Exists(const std::vector<std::string>& parts) override;

    std::string archiveName;  // the archive's file name, where a test gives one
    // The other volumes of a split archive (none: one file).
    VolumeSet* volumes = nullptr;

    // The code pages legacy names are read in (none: CP437).
    const NameCodec* names = nullptr;
    // What the run produced. `files` is written by Commit, which may run on worker threads: read
    // it only after Extract has returned.
    std::map<std::string, std::string> files;
    std::set<std::string> folders;
    std::vector<std::string> lines;
    std::vector<Listed> listed;
    // A file that CreateOutput refuses (to test failures of the file system).
    std::string refuseFile;

private:
    friend class MemoryOutputFile;
    std::string PathKey(const std::vector<std::string>& parts, size_t count);
    std::mutex mutex_;
    size_t keepLimit_;
    size_t kept_ = 0;
    std::set<std::string> madeKeys_;  // the paths of the files and folders made, by NameKey
};

}  // namespace unzip
