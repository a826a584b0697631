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

    // Below zero when version text `a` names an older version than `b`, zero for the same one, above
    // zero for a newer one. The texts are compared part by part (parts end at a dot) as numbers: a
    // part's leading digits, so "1.10" is newer than "1.9" and "1.8.01" the same as "1.8.1"; a
    // missing part, or one without digits, counts as zero.
    static int Compare(const std::string& a, const std::string& b);
};

}  // namespace updater
