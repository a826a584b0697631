#pragma once
#include <string>
#include <vector>

namespace settings {

// The code page that member names stored without Unicode are read in, as the user chose it on the
// General page and as it is stored in "Extract"\"Name Code Page": automatic (the library picks the
// page per archive), as Windows (the OEM page of the user's locale) or one of the listed pages.
class NameCodePage {
public:
    // The values the library takes (UZ_NAMES_AUTOMATIC, UZ_NAMES_AS_WINDOWS); others are pages.
    static constexpr unsigned kAutomatic = 0;
    static constexpr unsigned kAsWindows = 1;

    // One entry of the drop-down: the stored value and its text.
    struct Choice {
        unsigned value;
        std::string text;
    };

    // Automatic, as Windows, then the listed pages in ascending order.
    static std::vector<Choice> Choices();
    // True for kAutomatic, kAsWindows and the listed pages.
    static bool IsKnown(unsigned value);
    // The OEM code page of the user's locale; GetOEMCP answers 65001 in a program that runs in
    // UTF-8, so the locale is asked. 437 when it cannot tell.
    static unsigned UserOemPage();
    // "866 Cyrillic (DOS)"; for a page outside the list, what Windows calls it, or the number alone.
    static std::string PageName(unsigned page);

    // The stored choice; a missing value, a value of another type, text that is not a number and
    // an unknown page all read as kAutomatic.
    static unsigned Read();
    static void Write(unsigned value);
    static unsigned FromText(const std::string& text);
};

}  // namespace settings
