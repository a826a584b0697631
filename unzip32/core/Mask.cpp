#include "unzip32/core/Mask.h"

#include <cctype>

namespace unzip {

namespace {

bool SameCharacter(char a, char b, bool ignoreCase)
{
    if (a == '\\')
        a = '/';
    if (b == '\\')
        b = '/';
    if (ignoreCase) {
        a = static_cast<char>(std::tolower(static_cast<unsigned char>(a)));
        b = static_cast<char>(std::tolower(static_cast<unsigned char>(b)));
    }
    return a == b;
}

// The bytes of the character at `at`: one, or in UTF-8 a lead byte with its continuation bytes.
size_t CharacterLength(const std::string& text, size_t at, bool utf8)
{
    size_t length = 1;
    if (utf8) {
        while (at + length < text.size() && (static_cast<unsigned char>(text[at + length]) & 0xC0) == 0x80 &&
            (static_cast<unsigned char>(text[at]) & 0xC0) == 0xC0 && length < 4)
            ++length;
    }
    return length;
}

}  // namespace

// Iterative matching with one back-tracking point per star: linear in practice, never exponential.
bool MatchMask(const std::string& mask, const std::string& name, bool ignoreCase, bool utf8)
{
    size_t m = 0, n = 0;
    size_t starMask = std::string::npos, starName = 0;
    while (n < name.size()) {
        if (m < mask.size() && mask[m] == '*') {
            starMask = m++;
            starName = n;
        } else if (m < mask.size() && mask[m] == '?') {
            ++m;
            n += CharacterLength(name, n, utf8);
        } else if (m < mask.size() && SameCharacter(mask[m], name[n], ignoreCase)) {
            ++m;
            ++n;
        } else if (starMask != std::string::npos) {
            m = starMask + 1;
            starName += CharacterLength(name, starName, utf8);
            n = starName;
        } else {
            return false;
        }
    }
    while (m < mask.size() && mask[m] == '*')
        ++m;
    return m == mask.size();
}

}  // namespace unzip
