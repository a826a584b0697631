#pragma once
#include "unzip32/core/NameCodec.h"

#include <cstdint>
#include <deque>
#include <string>

namespace unzip {

struct Entry;

// Settles a name stored as UTF-8: general-purpose bit 11, or valid UTF-8 with bytes above 0x7F
// from a Unix or macOS host. Then entry.name is the stored bytes and nameIsUtf8 is set; otherwise
// the name is a legacy one, left empty until DecodeLegacyNames reads it. The Unicode path extra
// (0x7075) may still settle a legacy name when its CRC matches.
void DecodeName(Entry& entry);
// The code page the archive's legacy names are read in, once all of them are known: the user's
// OEM page (kNamePageAsWindows), the page that makes them most plausible (kNamePageAutomatic,
// judged on at most kDetectionSample bytes of names), or the page given. CP437 without a codec.
unsigned LegacyNamePage(const std::deque<Entry>& entries, const NameCodec* codec, unsigned namePage);
// Reads every unsettled legacy name in `page`; a name that has no form there is read as CP437,
// which decodes every byte, so that no member is lost. Returns the bytes the legacy names now hold.
size_t DecodeLegacyNames(std::deque<Entry>& entries, const NameCodec* codec, unsigned page);
// How much of the archive's names the automatic choice reads: enough to judge them, bounded so
// that a huge directory costs neither much memory nor much time.
constexpr size_t kDetectionSample = 1u << 20;
// Appends the UTF-8 form of a Unicode code point (up to 0x10FFFF).
void AppendUtf8(std::string& out, uint32_t code);
std::string Cp437ToUtf8(const std::string& bytes);
bool IsValidUtf8(const std::string& text);
uint32_t Crc32(const std::string& bytes);

}  // namespace unzip
