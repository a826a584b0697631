#include "updater/UpdateLocation.h"

#include "framework/Text.h"
#include "updater/ReadSetting.h"

#include <windows.h>

#include <cctype>

namespace updater {

namespace {

// Read through the platform rather than the C runtime's copy, which does not see changes a
// program makes to its own environment after start.
std::string EnvironmentValue(const char* name)
{
    char buffer[2048] = {};
    DWORD length = ::GetEnvironmentVariableA(name, buffer, sizeof buffer);
    if (length == 0 || length >= sizeof buffer)
        return std::string();
    return std::string(buffer, length);
}

}  // namespace

std::string UpdateLocation::Base()
{
    std::string location = fw::Trimmed(EnvironmentValue(kEnvironmentVariable));
    if (location.empty())
        location = fw::Trimmed(ReadSetting(kRegistryValue));
    if (location.empty())
        location = kDefault;
    if (location.back() != '/')
        location += '/';
    return location;
}

bool UpdateLocation::IsWellFormedUrl(const std::string& url)
{
    for (char c : url) {
        unsigned char byte = static_cast<unsigned char>(c);
        if (byte <= ' ' || byte == 0x7F)
            return false;
    }
    size_t separator = url.find("://");
    if (separator == std::string::npos || separator == 0)
        return false;
    if (!std::isalpha(static_cast<unsigned char>(url[0])))
        return false;
    for (size_t i = 1; i < separator; ++i) {
        unsigned char c = static_cast<unsigned char>(url[i]);
        if (!std::isalnum(c) && c != '+' && c != '-' && c != '.')
            return false;
    }
    size_t hostStart = separator + 3;
    size_t hostEnd = url.find_first_of("/?#", hostStart);
    if (hostEnd == std::string::npos)
        hostEnd = url.size();
    return hostEnd > hostStart;
}

}  // namespace updater
