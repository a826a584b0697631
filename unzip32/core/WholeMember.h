#pragma once
#include "unzip32/core/Directory.h"
#include "unzip32/core/Extractor.h"
#include "unzip32/core/Source.h"
#include "unzip32/core/Status.h"

#include <cstdint>
#include <functional>
#include <vector>

namespace unzip {

// Told the bytes a member has produced so far, before its first piece and after each one; false
// stops the member with Status::Stopped.
using Progress = std::function<bool(uint64_t produced)>;

// Decodes a deflated member in one call instead of streaming it, when its compressed data and
// content together fit `memoryLimit` (`input` grown to hold the data, `output` the content). Sets
// `taken` when it handled the member (whatever the outcome); otherwise nothing has been read or
// written and the member is streamed. Checks the exact size and the CRC before a byte is written,
// so a member longer or shorter than declared writes nothing.
Status DecodeWholeDeflated(Source& source, const Entry& entry, uint64_t dataStart, uint64_t length,
    uint64_t memoryLimit, OutputFile* out, std::vector<uint8_t>& input, std::vector<uint8_t>& output,
    const Progress& progress, bool& taken);

// CRC-32 of `count` bytes, continuing `crc` (0 to start).
uint32_t Crc32(uint32_t crc, const uint8_t* data, size_t count);

}  // namespace unzip
