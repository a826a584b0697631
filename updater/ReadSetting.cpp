#include "updater/ReadSetting.h"

#include "settings/RegistryAccess.h"
#include "settings/RegistryValue.h"

namespace updater {

std::string ReadSetting(const char* name)
{
    settings::RegistryAccess access(HKEY_CURRENT_USER);
    settings::RegistryValue value;
    std::string text;
    if (access.ReadValue("Software\\Kestrova", name, value))
        value.AsText(text);
    return text;
}

}  // namespace updater
