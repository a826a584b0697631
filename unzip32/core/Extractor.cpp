#include "unzip32/core/Extractor.h"

#include "unzip32/core/ByteReader.h"
#include "unzip32/core/Mask.h"
#include "unzip32/core/SafePath.h"

#include <zlib.h>

#include <algorithm>
#include <new>

namespace unzip {

namespace {

const uint32_t kLocalSignature = 0x04034b50;
const size_t kLocalSize = 30;
// Read and write in large pieces: under Wine every file-system call is expensive.
const size_t kInputChunk = 1 << 20;
const size_t kOutputChunk = 1 << 20;

// Where each member's data lies, checked against its local record and its neighbours.
struct DataSpan {
    Status status = Status::Ok;
    uint64_t start = 0;
};

// The start of the record that follows each local record (the next one by offset, or the
// directory): a member's data must end before it, so no two members can share bytes.
class RecordLimits {
public:
    explicit RecordLimits(const Directory& directory)
    {
        offsets_.reserve(directory.entries.size());
        for (const Entry& entry : directory.entries)
            offsets_.push_back(entry.localOffset);
        std::sort(offsets_.begin(), offsets_.end());
        end_ = directory.directoryStart;
    }
    bool IsShared(uint64_t offset) const
    {
        auto range = std::equal_range(offsets_.begin(), offsets_.end(), offset);
        return range.second - range.first > 1;
    }
    uint64_t NextAfter(uint64_t offset) const
    {
        auto next = std::upper_bound(offsets_.begin(), offsets_.end(), offset);
        return next != offsets_.end() ? std::min(*next, end_) : end_;
    }

private:
    std::vector<uint64_t> offsets_;
    uint64_t end_ = 0;
};

DataSpan LocateData(Source& source, const Entry& entry, const RecordLimits& limits)
{
    DataSpan span;
    uint8_t header[kLocalSize];
    if (entry.localOffset >= limits.NextAfter(entry.localOffset)) {
        // A record at or past the directory.
        span.status = Status::Inconsistent;
        return span;
    }
    if (!source.Read(entry.localOffset, header, kLocalSize)) {
        span.status = Status::Truncated;
        return span;
    }
    ByteReader r(header, kLocalSize);
    if (r.U32() != kLocalSignature) {
        span.status = Status::Inconsistent;
        return span;
    }
    r.Skip(22);
    uint16_t nameLength = r.U16();
    uint16_t extraLength = r.U16();
    if (nameLength != entry.rawName.size()) {
        span.status = Status::Inconsistent;
        return span;
    }
    std::string localName(nameLength, '\0');
    if (nameLength > 0 && !source.Read(entry.localOffset + kLocalSize, &localName[0], nameLength)) {
        span.status = Status::Truncated;
        return span;
    }
    if (localName != entry.rawName) {
        span.status = Status::Inconsistent;
        return span;
    }
    span.start = entry.localOffset + kLocalSize + nameLength + extraLength;
    if (limits.IsShared(entry.localOffset)) {
        span.status = Status::Overlapping;
        return span;
    }
    const uint64_t limit = limits.NextAfter(entry.localOffset);
    if (span.start > limit || entry.compressedSize > limit - span.start) {
        const bool pastEnd = entry.compressedSize > source.Size() || span.start > source.Size() - entry.compressedSize;
        span.status = pastEnd ? Status::Truncated : Status::Overlapping;
        return span;
    }
    return span;
}

// Streams one member's data from the archive to `out` (null: decode and check only), checking the
// exact size and the CRC. Never produces more than the declared size.
Status DecodeMember(Source& source, const Entry& entry, uint64_t dataStart, OutputFile* out,
                    std::vector<uint8_t>& input, std::vector<uint8_t>& output)
{
    uint32_t crc = static_cast<uint32_t>(crc32(0L, Z_NULL, 0));
    uint64_t produced = 0;
    uint64_t consumed = 0;

    auto emit = [&](const uint8_t* data, size_t count) -> Status {
        crc = static_cast<uint32_t>(crc32(crc, data, static_cast<uInt>(count)));
        produced += count;
        if (out != nullptr)
            return out->Write(data, count);
        return Status::Ok;
    };

    if (entry.actualMethod == 0) {
        if (entry.compressedSize != entry.size)
            return Status::SizeMismatch;
        while (consumed < entry.compressedSize) {
            size_t piece = static_cast<size_t>(std::min<uint64_t>(input.size(), entry.compressedSize - consumed));
            if (!source.Read(dataStart + consumed, input.data(), piece))
                return Status::Truncated;
            consumed += piece;
            Status written = emit(input.data(), piece);
            if (written != Status::Ok)
                return written;
        }
    } else {
        z_stream stream{};
        if (inflateInit2(&stream, -MAX_WBITS) != Z_OK)
            return Status::OutOfMemory;
        Status result = Status::Ok;
        bool finished = false;
        while (!finished) {
            if (stream.avail_in == 0) {
                if (consumed >= entry.compressedSize) {
                    result = Status::DataError;  // the data ends before the stream does
                    break;
                }
                size_t piece = static_cast<size_t>(std::min<uint64_t>(input.size(), entry.compressedSize - consumed));
                if (!source.Read(dataStart + consumed, input.data(), piece)) {
                    result = Status::Truncated;
                    break;
                }
                consumed += piece;
                stream.next_in = input.data();
                stream.avail_in = static_cast<uInt>(piece);
            }
            // Never ask for more than the member may still produce (plus one byte to notice excess).
            uint64_t allowed = entry.size - produced + 1;
            stream.next_out = output.data();
            stream.avail_out = static_cast<uInt>(std::min<uint64_t>(output.size(), allowed));
            int code = inflate(&stream, Z_NO_FLUSH);
            size_t got = static_cast<size_t>(stream.next_out - output.data());
            if (produced + got > entry.size) {
                result = Status::SizeMismatch;
                break;
            }
            if (got > 0) {
                Status written = emit(output.data(), got);
                if (written != Status::Ok) {
                    result = written;
                    break;
                }
            }
            if (code == Z_STREAM_END) {
                finished = true;
            } else if (code == Z_BUF_ERROR) {
                // No progress possible: more input is needed (handled above) or the stream is cut.
                if (stream.avail_in != 0 || consumed >= entry.compressedSize) {
                    result = Status::DataError;
                    break;
                }
            } else if (code == Z_MEM_ERROR) {
                result = Status::OutOfMemory;
                break;
            } else if (code != Z_OK) {
                result = Status::DataError;
                break;
            }
        }
        inflateEnd(&stream);
        if (result != Status::Ok)
            return result;
    }
    if (produced != entry.size)
        return Status::SizeMismatch;
    if (crc != entry.crc)
        return Status::CrcMismatch;
    return Status::Ok;
}

bool Matches(const std::vector<std::string>& masks, const std::string& name, bool ignoreCase)
{
    for (const std::string& mask : masks)
        if (MatchMask(mask, name, ignoreCase))
            return true;
    return false;
}

void CountProblem(ExtractReport& report, Status status)
{
    switch (status) {
    case Status::CrcMismatch:
    case Status::SizeMismatch:
    case Status::DataError:
    case Status::Inconsistent:
    case Status::Truncated:
    case Status::ReadFailure:
        ++report.damaged;
        break;
    case Status::Overlapping: ++report.overlapping; break;
    case Status::DiskFull: ++report.diskFull; break;
    case Status::OutOfMemory: ++report.outOfMemory; break;
    case Status::UnsafeName: ++report.skippedUnsafe; break;
    case Status::UnsupportedMethod: ++report.skippedUnsupported; break;
    case Status::Encrypted: ++report.skippedEncrypted; break;
    default: ++report.writeFailures; break;
    }
}

}  // namespace

unsigned CompressionFactor(uint64_t size, uint64_t compressedSize)
{
    if (size == 0 || compressedSize >= size)
        return 0;
    return static_cast<unsigned>(((size - compressedSize) * 100) / size);
}

ExtractReport Extract(Source& source, Host& host, const ExtractOptions& options)
{
    ExtractReport report;
    Directory directory;
    Status read = ReadDirectory(source, directory);
    if (read != Status::Ok) {
        report.archiveStatus = read;
        if (options.quiet < 2)
            host.Print(std::string("error: ") + ErrorString(read) + "\n");
        return report;
    }
    if (options.showComment && !directory.comment.empty() && options.quiet < 2)
        host.Print(directory.comment + "\n");

    auto problem = [&](const std::string& name, Status status, const std::string& detail) {
        CountProblem(report, status);
        if (options.quiet < 2)
            host.Print("skipping: " + name + " (" + detail + ")\n");
    };

    std::vector<uint8_t> input;
    std::vector<uint8_t> output;
    const RecordLimits limits(directory);
    report.members = static_cast<int>(directory.entries.size());

    for (const Entry& entry : directory.entries) {
        const std::string shown = host.DisplayName(entry);
        if (!options.include.empty() && !Matches(options.include, shown, options.ignoreCase))
            continue;
        if (Matches(options.exclude, shown, options.ignoreCase)) {
            ++report.excluded;
            continue;
        }
        ++report.matched;
        report.totalSize += entry.size;
        report.totalCompressed += entry.compressedSize;

        if (options.listOnly) {
            host.Member(entry, shown, CompressionFactor(entry.size, entry.compressedSize));
            continue;
        }
        if (entry.IsEncrypted()) {
            problem(shown, Status::Encrypted, "encrypted");
            continue;
        }
        const bool folder = entry.IsDirectory();
        if (!folder && entry.actualMethod != 0 && entry.actualMethod != 8) {
            problem(shown, Status::UnsupportedMethod, std::string("unsupported method ") + MethodName(entry.actualMethod));
            continue;
        }
        SafeName safe = MakeSafe(entry.name);
        if (safe.refused) {
            problem(shown, Status::UnsafeName, "unsafe name: " + safe.reason);
            continue;
        }
        std::vector<std::string> parts = safe.parts;
        if (!options.keepFolders) {
            if (folder)
                continue;
            parts.erase(parts.begin(), parts.end() - 1);
        }

        if (folder) {
            if (options.testOnly)
                continue;
            Status made = host.CreateFolder(parts);
            if (made != Status::Ok)
                problem(shown, made, ErrorString(made));
            else if (options.quiet == 0)
                host.Print("   creating: " + shown + "\n");
            continue;
        }

        DataSpan span = LocateData(source, entry, limits);
        if (span.status != Status::Ok) {
            problem(shown, span.status, ErrorString(span.status));
            continue;
        }
        if (input.empty()) {
            try {
                input.resize(kInputChunk);
                output.resize(kOutputChunk);
            } catch (const std::bad_alloc&) {
                report.archiveStatus = Status::OutOfMemory;
                return report;
            }
        }

        std::unique_ptr<OutputFile> file;
        if (!options.testOnly) {
            if (parts.size() > 1) {
                std::vector<std::string> parent(parts.begin(), parts.end() - 1);
                Status made = host.CreateFolder(parent);
                if (made != Status::Ok) {
                    problem(shown, made, ErrorString(made));
                    continue;
                }
            }
            Status created = host.CreateOutput(parts, entry, file);
            if (created != Status::Ok) {
                problem(shown, created, ErrorString(created));
                continue;
            }
        }
        Status decoded = DecodeMember(source, entry, span.start, file.get(), input, output);
        if (decoded == Status::Ok && file)
            decoded = file->Commit(entry);
        if (decoded != Status::Ok) {
            if (file)
                file->Abandon();
            problem(shown, decoded, ErrorString(decoded));
            continue;
        }
        ++report.extracted;
        if (options.quiet == 0)
            host.Print((options.testOnly ? "    testing: " : (entry.actualMethod == 0 ? " extracting: " : "  inflating: ")) +
                       shown + "\n");
    }
    return report;
}

}  // namespace unzip
