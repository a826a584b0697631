#pragma once
#include <string>

namespace updater {

// The version file of the update server: its first six bytes are the latest version text.
class VersionFile {
public:
    static const size_t kVersionLength = 6;

    // The version text of the downloaded version file: its first six bytes, ended early by a zero
    // byte or by the end of a shorter file. Empty when the file cannot be read.
    static std::string ReadVersionText(const std::string& path);
};

}  // namespace updater
