#include "settings/RegistryAccess.h"

#include "framework/Owned.h"

#include <vector>

namespace settings {

bool RegistryAccess::ReadValue(const std::string& path, const char* name, RegistryValue& value) const
{
    fw::OwnedKey key;
    if (::RegOpenKeyExA(root_, path.c_str(), 0, KEY_READ, key.Put()) != ERROR_SUCCESS)
        return false;
    DWORD type = REG_NONE;
    DWORD size = 0;
    if (::RegQueryValueExA(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
        return false;
    BYTE* block = value.Allocate(size);
    if (block == nullptr)
        return false;
    DWORD got = size;
    if (::RegQueryValueExA(key, name, nullptr, &type, block, &got) != ERROR_SUCCESS || got > size) {
        value.Release();
        return false;
    }
    value.SetType(type);
    return true;
}

bool RegistryAccess::WriteValue(const std::string& path, const char* name, const RegistryValue& value) const
{
    fw::OwnedKey key;
    if (::RegCreateKeyExA(root_, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, key.Put(),
            nullptr) != ERROR_SUCCESS)
        return false;
    return ::RegSetValueExA(key, name, 0, value.Type(), value.Data(), value.Size()) == ERROR_SUCCESS;
}

bool RegistryAccess::ReadText(const std::string& path, const char* name, std::string& text) const
{
    RegistryValue value;
    return ReadValue(path, name, value) && value.AsText(text);
}

bool RegistryAccess::WriteText(const std::string& path, const char* name, const char* text) const
{
    RegistryValue value;
    value.SetText(text, false);
    return WriteValue(path, name, value);
}

bool RegistryAccess::ReadDword(const std::string& path, const char* name, DWORD& number) const
{
    RegistryValue value;
    return ReadValue(path, name, value) && value.AsDword(number);
}

bool RegistryAccess::WriteDword(const std::string& path, const char* name, DWORD number) const
{
    RegistryValue value;
    value.SetDword(number);
    return WriteValue(path, name, value);
}

bool RegistryAccess::ReadBinary(const std::string& path, const char* name, void* bytes, DWORD count) const
{
    RegistryValue value;
    return ReadValue(path, name, value) && value.AsBinary(bytes, count);
}

bool RegistryAccess::WriteBinary(const std::string& path, const char* name, const void* bytes, DWORD count) const
{
    RegistryValue value;
    value.SetBinary(bytes, count);
    return WriteValue(path, name, value);
}

bool RegistryAccess::ReadMultiText(const std::string& path, const char* name, std::vector<std::string>& texts) const
{
    RegistryValue value;
    return ReadValue(path, name, value) && value.AsMultiText(texts);
}

bool RegistryAccess::WriteMultiText(
    const std::string& path, const char* name, const std::vector<std::string>& texts) const
{
    RegistryValue value;
    value.SetMultiText(texts);
    return WriteValue(path, name, value);
}

// The A functions cannot delete a key that still has sub-keys, so the tree goes bottom up.
bool RegistryAccess::DeleteEntry(const std::string& path, const char* name) const
{
    fw::OwnedKey key;
    if (::RegOpenKeyExA(root_, path.c_str(), 0, KEY_READ | KEY_WRITE, key.Put()) != ERROR_SUCCESS)
        return false;
    if (name != nullptr)
        return ::RegDeleteValueA(key, name) == ERROR_SUCCESS;
    for (;;) {
        DWORD subKeys = 0;
        DWORD longest = 0;
        if (::RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subKeys, &longest, nullptr, nullptr, nullptr, nullptr,
                nullptr, nullptr) != ERROR_SUCCESS)
            return false;
        if (subKeys == 0)
            break;
        std::vector<char> child(longest + 1);
        if (::RegEnumKeyA(key, 0, child.data(), longest + 1) != ERROR_SUCCESS ||
            !RegistryAccess(key).DeleteEntry(child.data(), nullptr))
            return false;
    }
    key.Reset();
    return ::RegDeleteKeyA(root_, path.c_str()) == ERROR_SUCCESS;
}

bool RegistryAccess::QueryKeyCounts(const std::string& path, DWORD* subKeys, DWORD* values) const
{
    if (subKeys != nullptr)
        *subKeys = 0;
    if (values != nullptr)
        *values = 0;
    fw::OwnedKey key;
    if (::RegOpenKeyExA(root_, path.c_str(), 0, KEY_READ, key.Put()) != ERROR_SUCCESS)
        return false;
    DWORD keyCount = 0;
    DWORD valueCount = 0;
    LONG queried = ::RegQueryInfoKeyA(
        key, nullptr, nullptr, nullptr, &keyCount, nullptr, nullptr, &valueCount, nullptr, nullptr, nullptr, nullptr);
    key.Reset();
    if (queried != ERROR_SUCCESS)
        return false;
    if (subKeys != nullptr)
        *subKeys = keyCount;
    if (values != nullptr)
        *values = valueCount;
    return keyCount != 0 || valueCount != 0;
}

bool RegistryAccess::ConnectRemote(const char* machine, HKEY predefinedRoot)
{
    std::string copy = machine != nullptr ? machine : "";
    HKEY connected = nullptr;
    if (::RegConnectRegistryA(machine != nullptr ? copy.c_str() : nullptr, predefinedRoot, &connected) != ERROR_SUCCESS)
        return false;
    root_ = connected;
    return true;
}

HKEY RegistryAccess::SetRoot(HKEY root)
{
    HKEY previous = root_;
    root_ = root;
    return previous;
}

}  // namespace settings
