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

}  // namespace

// Iterative matching with one back-tracking point per star: linear in practice, never exponential.
bool MatchMask(const std::string& mask, const std::string& name, bool ignoreCase)
{
    size_t m = 0, n = 0;
    size_t starMask = std::string::npos, starName = 0;
    while (n < name.size()) {
        if (m < mask.size() && mask[m] == '*') {
            starMask = m++;
            starName = n;
        } else if (m < mask.size() && (mask[m] == '?' || SameCharacter(mask[m], name[n], ignoreCase))) {
            ++m;
            ++n;
        } else if (starMask != std::string::npos) {
            m = starMask + 1;
            n = ++starName;
        } else {
            return false;
        }
    }
    while (m < mask.size() && mask[m] == '*')
        ++m;
    return m == mask.size();
}

}  // namespace unzip
