#include "unzip32/core/SafePath.h"

#include <cctype>

namespace unzip {

namespace {

bool IsDeviceName(const std::string& component)
{
    std::string base = component.substr(0, component.find('.'));
    while (!base.empty() && (base.back() == ' '))
        base.pop_back();
    std::string upper;
    for (char c : base)
        upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (upper == "CON" || upper == "PRN" || upper == "AUX" || upper == "NUL" || upper == "CONIN$" || upper == "CONOUT$")
        return true;
    if (upper.size() == 4 && (upper.compare(0, 3, "COM") == 0 || upper.compare(0, 3, "LPT") == 0) && upper[3] >= '0' &&
        upper[3] <= '9')
        return true;
    // COM¹²³ and LPT¹²³ (superscript digits, UTF-8 C2 B9 / C2 B2 / C2 B3) are devices too.
    if (upper.size() == 5 && (upper.compare(0, 3, "COM") == 0 || upper.compare(0, 3, "LPT") == 0) &&
        static_cast<unsigned char>(upper[3]) == 0xC2 &&
        (static_cast<unsigned char>(upper[4]) == 0xB9 || static_cast<unsigned char>(upper[4]) == 0xB2 ||
            static_cast<unsigned char>(upper[4]) == 0xB3))
        return true;
    return false;
}

bool IsInvalidCharacter(unsigned char c)
{
    return c < 0x20 || c == 0x7F || c == '<' || c == '>' || c == ':' || c == '"' || c == '|' || c == '?' || c == '*';
}

}  // namespace

SafeName MakeSafe(const std::string& name)
{
    SafeName result;
    if (name.empty()) {
        result.refused = true;
        result.reason = "empty name";
        return result;
    }
    if (name[0] == '/' || name[0] == '\\') {
        result.refused = true;
        result.reason = "absolute path";
        return result;
    }
    if (name.size() >= 2 && name[1] == ':' && std::isalpha(static_cast<unsigned char>(name[0]))) {
        result.refused = true;
        result.reason = "drive letter";
        return result;
    }
    // Every C interface would cut the name at a NUL: what the caller is shown would not be what is made.
    if (name.find('\0') != std::string::npos) {
        result.refused = true;
        result.reason = "NUL character in the name";
        return result;
    }
    size_t start = 0;
    while (start <= name.size()) {
        size_t stop = name.find_first_of("/\\", start);
        if (stop == std::string::npos)
            stop = name.size();
        std::string component = name.substr(start, stop - start);
        start = stop + 1;
        if (component.empty() || component == ".") {
            if (!component.empty())
                result.changed = true;
            continue;
        }
        if (component == "..") {
            result.refused = true;
            result.reason = "parent folder component";
            return result;
        }
        std::string safe;
        for (char ch : component) {
            const unsigned char c = static_cast<unsigned char>(ch);
            if (IsInvalidCharacter(c)) {
                safe += '_';
                result.changed = true;
            } else {
                safe += static_cast<char>(c);
            }
        }
        // Windows drops trailing dots and spaces, so "a." and "a" would be the same file.
        while (!safe.empty() && (safe.back() == '.' || safe.back() == ' ')) {
            safe.pop_back();
            result.changed = true;
        }
        if (safe.empty()) {
            result.refused = true;
            result.reason = "name made only of dots or spaces";
            return result;
        }
        if (IsDeviceName(safe)) {
            safe = "_" + safe;
            result.changed = true;
        }
        result.parts.push_back(safe);
    }
    if (result.parts.empty()) {
        result.refused = true;
        result.reason = "empty name";
    }
    return result;
}

}  // namespace unzip
