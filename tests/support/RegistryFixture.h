#pragma once
#include <windows.h>

#include <shlwapi.h>

#include <gtest/gtest.h>

#include <string>

namespace testsupport {

// The current user's registry root, opened afresh for each access. Under Wine the process's cached
// HKEY_CURRENT_USER handle has been seen to go invalid (ERROR_INVALID_HANDLE) after a mouse drag in
// another process's window, while a newly opened root still reads the same values.
class UserRoot {
public:
    UserRoot()
    {
        if (::RegOpenCurrentUser(KEY_ALL_ACCESS, &key_) != ERROR_SUCCESS)
            key_ = HKEY_CURRENT_USER;
    }
    UserRoot(const UserRoot&) = delete;
    UserRoot& operator=(const UserRoot&) = delete;
    ~UserRoot()
    {
        if (key_ != HKEY_CURRENT_USER)
            ::RegCloseKey(key_);
    }
    operator HKEY() const { return key_; }

private:
    HKEY key_ = HKEY_CURRENT_USER;
};

// Clears HKCU\Software\Kestrova before and after each test and reads and writes its values with the
// raw registry calls, independent of the code under test.
class RegistryFixture : public ::testing::Test {
protected:
    static constexpr const char* kProgramKey = "Software\\Kestrova";

    void SetUp() override { ::SHDeleteKeyA(UserRoot(), kProgramKey); }
    void TearDown() override { ::SHDeleteKeyA(UserRoot(), kProgramKey); }

    static std::string KeyPath(const std::string& subKey)
    {
        return subKey.empty() ? std::string(kProgramKey) : std::string(kProgramKey) + "\\" + subKey;
    }
    static std::string ReadRaw(const std::string& subKey, const std::string& name)
    {
        char data[1024] = {};
        DWORD size = sizeof data - 1;
        DWORD type = 0;
        if (::SHGetValueA(UserRoot(), KeyPath(subKey).c_str(), name.c_str(), &type, data, &size) != ERROR_SUCCESS)
            return "<missing>";
        return std::string(data);
    }
    static DWORD RawType(const std::string& subKey, const std::string& name)
    {
        DWORD type = REG_NONE;
        DWORD size = 0;
        ::SHGetValueA(UserRoot(), KeyPath(subKey).c_str(), name.c_str(), &type, nullptr, &size);
        return type;
    }
    static void WriteRaw(const std::string& subKey, const std::string& name, const std::string& text)
    {
        ::SHSetValueA(UserRoot(), KeyPath(subKey).c_str(), name.c_str(), REG_SZ, text.c_str(),
            static_cast<DWORD>(text.size() + 1));
    }
};

}  // namespace testsupport
