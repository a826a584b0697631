#pragma once
#include <cstdint>
#include <string>

namespace unzip {

struct Entry;

// Sets entry.name (UTF-8) from entry.rawName: UTF-8 when general-purpose bit 11 is set (or, from
// Unix and macOS hosts, when the bytes are valid UTF-8), otherwise the OEM code page CP437.
// The Unicode path extra (0x7075) may replace it later when its CRC matches.
void DecodeName(Entry& entry);
std::string Cp437ToUtf8(const std::string& bytes);
bool IsValidUtf8(const std::string& text);
uint32_t Crc32(const std::string& bytes);

}  // namespace unzip
