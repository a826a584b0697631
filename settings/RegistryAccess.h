#pragma once
#include "settings/RegistryValue.h"

#include <string>
#include <vector>

namespace settings {

// Registry operations under one root key. Every operation opens and closes its own key handle and
// answers true on success; nothing is reported.
class RegistryAccess {
public:
    explicit RegistryAccess(HKEY root = HKEY_CURRENT_USER) : root_(root) { }
    RegistryAccess(const RegistryAccess& other) : root_(other.root_) { }
    RegistryAccess& operator=(const RegistryAccess&) = delete;
    virtual ~RegistryAccess() = default;

    // Reads data and type into `value`; on failure `value` keeps what it had.
    bool ReadValue(const std::string& path, const char* name, RegistryValue& value) const;
    // Creates the key path if needed and stores the buffer with its type.
    bool WriteValue(const std::string& path, const char* name, const RegistryValue& value) const;

    bool ReadText(const std::string& path, const char* name, std::string& text) const;
    bool WriteText(const std::string& path, const char* name, const char* text) const;
    bool ReadDword(const std::string& path, const char* name, DWORD& number) const;
    bool WriteDword(const std::string& path, const char* name, DWORD number) const;
    bool ReadBinary(const std::string& path, const char* name, void* bytes, DWORD count) const;
    bool WriteBinary(const std::string& path, const char* name, const void* bytes, DWORD count) const;
    bool ReadMultiText(const std::string& path, const char* name, std::vector<std::string>& texts) const;
    bool WriteMultiText(const std::string& path, const char* name, const std::vector<std::string>& texts) const;

    // Deletes the value `name`, or with a null name the key and everything under it. Sub-keys
    // deleted before a failure stay deleted.
    bool DeleteEntry(const std::string& path, const char* name) const;
    // Counts the key's sub-keys and values (either output may be null); true when either is nonzero.
    bool QueryKeyCounts(const std::string& path, DWORD* subKeys, DWORD* values) const;
    // Makes a predefined key of another machine (null: this one) the root.
    bool ConnectRemote(const char* machine, HKEY predefinedRoot);
    // Replaces the root; returns the previous one.
    HKEY SetRoot(HKEY root);
    HKEY Root() const { return root_; }

private:
    HKEY root_;
};

}  // namespace settings
