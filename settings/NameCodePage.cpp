#include "settings/NameCodePage.h"

#include "framework/Text.h"
#include "resources/kestrova/texts.h"
#include "settings/RegistryStore.h"
#include "unzip32/unzip32.h"

#include <windows.h>

#include <cstdlib>

namespace settings {

static_assert(NameCodePage::kAutomatic == UZ_NAMES_AUTOMATIC, "the stored values are the library's");
static_assert(NameCodePage::kAsWindows == UZ_NAMES_AS_WINDOWS, "the stored values are the library's");

namespace {

const char kSubKey[] = "Extract";
const char kValueName[] = "Name Code Page";

// The legacy pages archives were written in: the OEM pages of DOS and Windows' consoles, then the
// Windows (ANSI) pages, named after the script or region they serve.
struct ListedPage {
    unsigned page;
    const char* name;
};
const ListedPage kPages[] = {
    {437, "United States (DOS)"},
    {737, "Greek (DOS)"},
    {775, "Baltic (DOS)"},
    {850, "Western European (DOS)"},
    {852, "Central European (DOS)"},
    {855, "Cyrillic, IBM (DOS)"},
    {857, "Turkish (DOS)"},
    {862, "Hebrew (DOS)"},
    {866, "Cyrillic (DOS)"},
    {874, "Thai"},
    {932, "Japanese (Shift-JIS)"},
    {936, "Chinese Simplified (GBK)"},
    {949, "Korean"},
    {950, "Chinese Traditional (Big5)"},
    {1250, "Central European (Windows)"},
    {1251, "Cyrillic (Windows)"},
    {1252, "Western European (Windows)"},
    {1253, "Greek (Windows)"},
    {1254, "Turkish (Windows)"},
    {1255, "Hebrew (Windows)"},
    {1256, "Arabic (Windows)"},
    {1257, "Baltic (Windows)"},
    {1258, "Vietnamese (Windows)"},
};

const char* ListedName(unsigned page)
{
    for (const ListedPage& entry : kPages)
        if (entry.page == page)
            return entry.name;
    return nullptr;
}

}  // namespace

std::vector<NameCodePage::Choice> NameCodePage::Choices()
{
    std::vector<Choice> choices;
    choices.push_back({kAutomatic, texts::kNamesAutomatic});
    choices.push_back(
        {kAsWindows, texts::kNamesAsWindowsBefore + PageName(UserOemPage()) + texts::kNamesAsWindowsAfter});
    for (const ListedPage& entry : kPages)
        choices.push_back({entry.page, std::to_string(entry.page) + texts::kNamesPageDash + entry.name});
    return choices;
}

bool NameCodePage::IsKnown(unsigned value)
{
    return value == kAutomatic || value == kAsWindows || ListedName(value) != nullptr;
}

unsigned NameCodePage::UserOemPage()
{
    wchar_t number[8] = {};
    if (::GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, LOCALE_IDEFAULTCODEPAGE, number, 8) == 0)
        return 437;
    const unsigned long page = std::wcstoul(number, nullptr, 10);
    return page != 0 ? static_cast<unsigned>(page) : 437;
}

std::string NameCodePage::PageName(unsigned page)
{
    const std::string number = std::to_string(page);
    if (const char* name = ListedName(page))
        return number + " " + name;
    CPINFOEXW info {};
    if (::GetCPInfoExW(page, 0, &info) && info.CodePageName[0] != L'\0')
        return number + " " + fw::Narrow(info.CodePageName);
    return number;
}

unsigned NameCodePage::FromText(const std::string& text)
{
    if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos)
        return kAutomatic;
    const unsigned value = static_cast<unsigned>(std::strtoul(text.c_str(), nullptr, 10));
    return IsKnown(value) ? value : kAutomatic;
}

unsigned NameCodePage::Read()
{
    return FromText(RegistryStore().ReadString(kSubKey, kValueName));
}

void NameCodePage::Write(unsigned value)
{
    RegistryStore().WriteNumber(kSubKey, kValueName, static_cast<int>(value));
}

}  // namespace settings
