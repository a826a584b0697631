#include "unzip32/core/NameDecoder.h"

#include "unzip32/core/Directory.h"
#include "unzip32/core/NameDetection.h"

#include <zlib.h>

#include <vector>

namespace unzip {

namespace {

// CP437 characters 0x80..0xFF as Unicode code points.
const uint16_t kCp437High[128] = {
    0x00C7,
    0x00FC,
    0x00E9,
    0x00E2,
    0x00E4,
    0x00E0,
    0x00E5,
    0x00E7,
    0x00EA,
    0x00EB,
    0x00E8,
    0x00EF,
    0x00EE,
    0x00EC,
    0x00C4,
    0x00C5,
    0x00C9,
    0x00E6,
    0x00C6,
    0x00F4,
    0x00F6,
    0x00F2,
    0x00FB,
    0x00F9,
    0x00FF,
    0x00D6,
    0x00DC,
    0x00A2,
    0x00A3,
    0x00A5,
    0x20A7,
    0x0192,
    0x00E1,
    0x00ED,
    0x00F3,
    0x00FA,
    0x00F1,
    0x00D1,
    0x00AA,
    0x00BA,
    0x00BF,
    0x2310,
    0x00AC,
    0x00BD,
    0x00BC,
    0x00A1,
    0x00AB,
    0x00BB,
    0x2591,
    0x2592,
    0x2593,
    0x2502,
    0x2524,
    0x2561,
    0x2562,
    0x2556,
    0x2555,
    0x2563,
    0x2551,
    0x2557,
    0x255D,
    0x255C,
    0x255B,
    0x2510,
    0x2514,
    0x2534,
    0x252C,
    0x251C,
    0x2500,
    0x253C,
    0x255E,
    0x255F,
    0x255A,
    0x2554,
    0x2569,
    0x2566,
    0x2560,
    0x2550,
    0x256C,
    0x2567,
    0x2568,
    0x2564,
    0x2565,
    0x2559,
    0x2558,
    0x2552,
    0x2553,
    0x256B,
    0x256A,
    0x2518,
    0x250C,
    0x2588,
    0x2584,
    0x258C,
    0x2590,
    0x2580,
    0x03B1,
    0x00DF,
    0x0393,
    0x03C0,
    0x03A3,
    0x03C3,
    0x00B5,
    0x03C4,
    0x03A6,
    0x0398,
    0x03A9,
    0x03B4,
    0x221E,
    0x03C6,
    0x03B5,
    0x2229,
    0x2261,
    0x00B1,
    0x2265,
    0x2264,
    0x2320,
    0x2321,
    0x00F7,
    0x2248,
    0x00B0,
    0x2219,
    0x00B7,
    0x221A,
    0x207F,
    0x00B2,
    0x25A0,
    0x00A0,
};

bool HasHighBytes(const std::string& bytes)
{
    for (char c : bytes)
        if (static_cast<unsigned char>(c) >= 0x80)
            return true;
    return false;
}

}  // namespace

void AppendUtf8(std::string& out, uint32_t code)
{
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

std::string Cp437ToUtf8(const std::string& bytes)
{
    std::string out;
    out.reserve(bytes.size());
    for (char ch : bytes) {
        const unsigned char c = static_cast<unsigned char>(ch);
        AppendUtf8(out, c < 0x80 ? c : kCp437High[c - 0x80]);
    }
    return out;
}

bool IsValidUtf8(const std::string& text)
{
    size_t i = 0;
    while (i < text.size()) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        size_t extra;
        uint32_t code;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            extra = 1;
            code = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            extra = 2;
            code = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            extra = 3;
            code = c & 0x07;
        } else {
            return false;
        }
        if (text.size() - i <= extra)
            return false;
        for (size_t k = 1; k <= extra; ++k) {
            unsigned char next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80)
                return false;
            code = (code << 6) | (next & 0x3F);
        }
        // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
        if ((extra == 1 && code < 0x80) || (extra == 2 && code < 0x800) || (extra == 3 && code < 0x10000) ||
            code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return false;
        i += extra + 1;
    }
    return true;
}

uint32_t Crc32(const std::string& bytes)
{
    return static_cast<uint32_t>(
        crc32(0L, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size())));
}

void DecodeName(Entry& entry)
{
    const unsigned host = entry.versionMadeBy >> 8;
    const bool flagged = (entry.flags & 0x0800) != 0;
    const bool unixHost = host == 3 || host == 19;
    if ((flagged || (unixHost && HasHighBytes(entry.rawName))) && IsValidUtf8(entry.rawName)) {
        entry.name = entry.rawName;
        entry.nameIsUtf8 = true;
        return;
    }
    entry.name.clear();
    entry.nameIsUtf8 = false;
}

unsigned LegacyNamePage(const std::deque<Entry>& entries, const NameCodec* codec, unsigned namePage)
{
    if (codec == nullptr)
        return 437;
    if (namePage == kNamePageAsWindows)
        return codec->OemPage();
    if (namePage != kNamePageAutomatic)
        return namePage;
    // Pure ASCII names read alike in every page: only the others are evidence.
    std::vector<std::string> sample;
    size_t sampled = 0;
    for (const Entry& entry : entries) {
        if (entry.nameIsUtf8 || !HasHighBytes(entry.rawName))
            continue;
        if (sampled + entry.rawName.size() > kDetectionSample)
            break;
        sampled += entry.rawName.size();
        sample.push_back(entry.rawName);
    }
    if (sample.empty())
        return codec->OemPage();
    return DetectNamePage(sample, *codec, codec->OemPage());
}

size_t DecodeLegacyNames(std::deque<Entry>& entries, const NameCodec* codec, unsigned page)
{
    size_t bytes = 0;
    for (Entry& entry : entries) {
        if (entry.nameIsUtf8)
            continue;
        if (!HasHighBytes(entry.rawName))
            entry.name = entry.rawName;
        else if (page == 437 || codec == nullptr || !codec->ToUtf8(page, entry.rawName, entry.name) ||
            !IsValidUtf8(entry.name))
            entry.name = Cp437ToUtf8(entry.rawName);
        bytes += entry.name.size();
    }
    return bytes;
}

}  // namespace unzip
