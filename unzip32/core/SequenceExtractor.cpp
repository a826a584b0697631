#include "unzip32/core/SequenceExtractor.h"

#include "unzip32/core/DecodePool.h"
#include "unzip32/core/SafePath.h"

#include <map>
#include <new>
#include <vector>

namespace unzip {

namespace {

// The piece the reader is asked for at a time.
const size_t kPiece = 1u << 20;

// Hard links are copies of data decoded before: together they may write at most this many times
// the bytes the members' own data decoded to (about what deflate can make of its input), so that a
// small archive of links to one big member cannot fill a disk.
const uint64_t kLinkCopyFactor = 1024;

// A file written (or tested) in this run, for the hard links to it.
struct Written {
    std::vector<std::string> parts;
    uint64_t size = 0;
};

std::string JoinParts(const std::vector<std::string>& parts)
{
    std::string joined;
    for (const std::string& part : parts) {
        if (!joined.empty())
            joined += '/';
        joined += part;
    }
    return joined;
}

// The safe path a link's target names, as the member it points at would have been written.
std::string TargetKey(const std::string& target)
{
    SafeName safe = MakeSafe(target);
    return safe.refused ? std::string() : JoinParts(safe.parts);
}

}  // namespace

void ExtractSequence(ArchiveReader& reader, Host& host, const ExtractOptions& options, ExtractReport& report)
{
    std::vector<uint8_t> buffer;
    // The files written (or tested) so far, by their safe path, for hard links to them.
    std::map<std::string, Written> written;
    uint64_t decoded = 0;  // bytes of the members' own data
    uint64_t copied = 0;   // bytes written again for hard links
    ServiceSchedule schedule(options.milliseconds);
    bool stop = false;
    bool any = false;

    auto problem = [&](const std::string& shown, Status status, const std::string& detail) {
        CountProblem(report, status);
        if (options.quiet < 2)
            host.Print("skipping: " + shown + " (" + (detail.empty() ? ErrorString(status) : detail) + ")\n");
    };

    while (!stop) {
        Entry entry;
        bool end = false;
        const Status next = reader.Next(entry, end);
        if (next != Status::Ok) {
            // Nothing could be read: the archive itself failed. Later on, the members read stay
            // and the rest counts as damaged.
            if (!any) {
                report.archiveStatus = next;
                report.archiveDetail = reader.Detail();
            } else {
                CountProblem(report, next);
            }
            if (options.quiet < 2)
                host.Print(std::string("error: ") + (reader.Detail().empty() ? ErrorString(next) : reader.Detail()) +
                    "\n");
            break;
        }
        if (end)
            break;
        any = true;
        ++report.members;

        const std::string shown = host.DisplayName(entry);
        if (!options.include.empty() && !Matches(options.include, shown, options.ignoreCase, options.utf8Names))
            continue;
        if (Matches(options.exclude, shown, options.ignoreCase, options.utf8Names)) {
            ++report.excluded;
            continue;
        }
        if (host.Service(shown, entry.size)) {
            stop = true;
            break;
        }
        ++report.matched;
        report.totalSize += entry.size;
        report.totalCompressed += entry.compressedSize;
        if (options.listOnly) {
            host.Member(entry, shown, CompressionFactor(entry.size, entry.compressedSize));
            continue;
        }

        const bool folder = entry.IsDirectory();
        if (entry.link == LinkKind::Symbolic) {
            problem(shown, Status::UnsupportedMethod, "symbolic link, not created");
            continue;
        }
        SafeName safe = MakeSafe(entry.name);
        if (safe.refused) {
            problem(shown, Status::UnsafeName, "unsafe name: " + safe.reason);
            continue;
        }
        std::vector<std::string>& parts = safe.parts;
        if (!options.keepFolders && !parts.empty())
            parts.erase(parts.begin(), parts.end() - 1);
        if (parts.empty()) {
            if (!folder)
                problem(shown, Status::UnsafeName, "unsafe name: empty");
            continue;
        }
        if (folder) {
            if (!options.testOnly && options.keepFolders) {
                const Status made = host.CreateFolder(parts);
                if (made != Status::Ok) {
                    problem(shown, made, "");
                    continue;
                }
                if (options.quiet == 0)
                    host.Print("   creating: " + shown + "\n");
            }
            ++report.extracted;
            continue;
        }

        if (!options.testOnly && parts.size() > 1) {
            const Status made = host.CreateFolder(std::vector<std::string>(parts.begin(), parts.end() - 1));
            if (made != Status::Ok) {
                problem(shown, made, made == Status::PathBlocked ? "" : ErrorString(made));
                continue;
            }
        }

        // A hard link without data of its own is a copy of the member written before under its
        // target's name.
        if (entry.link == LinkKind::Hard && entry.size == 0) {
            auto target = written.find(TargetKey(entry.linkTarget));
            if (target == written.end()) {
                problem(shown, Status::UnsupportedMethod, "hard link to a file not extracted");
                continue;
            }
            const Written from = target->second;
            if (from.size > kLinkCopyFactor * decoded - copied) {
                problem(shown, Status::Overlapping, "hard links copy more than the archive holds");
                continue;
            }
            if (!options.testOnly) {
                const Status made = host.CopyOutput(from.parts, parts, entry);
                if (made != Status::Ok) {
                    problem(shown, made, made == Status::PathBlocked ? "a folder stands where the file should be" : "");
                    continue;
                }
            }
            // The copy is output as any member's: it counts in the size the run writes.
            copied += from.size;
            report.totalSize += from.size;
            written[JoinParts(parts)] = Written {parts, from.size};
            ++report.extracted;
            if (options.quiet == 0)
                host.Print((options.testOnly ? "    testing: " : "    linking: ") + shown + "\n");
            continue;
        }

        std::unique_ptr<OutputFile> file;
        if (!options.testOnly) {
            const Status made = host.CreateOutput(parts, entry, file);
            if (made != Status::Ok) {
                problem(shown, made, made == Status::PathBlocked ? "a folder stands where the file should be" : "");
                continue;
            }
        }
        if (buffer.empty())
            buffer.resize(kPiece);
        Status status = Status::Ok;
        std::string detail;
        uint64_t produced = 0;
        schedule.Start();
        for (;;) {
            const uint8_t* data = nullptr;
            size_t size = 0;
            bool finished = false;
            status = reader.Read(buffer.data(), buffer.size(), data, size, finished);
            if (status != Status::Ok) {
                detail = reader.Detail();
                break;
            }
            if (size > 0) {
                produced += size;
                if (file != nullptr) {
                    status = file->Write(data != nullptr ? data : buffer.data(), size);
                    if (status != Status::Ok)
                        break;
                }
            }
            if (finished)
                break;
            const ServiceSchedule::Due due = schedule.Check(produced);
            if ((due.stepped || due.timed) && host.Service(shown, entry.size)) {
                stop = true;
                status = Status::Stopped;
                break;
            }
        }
        if (status == Status::Ok && file != nullptr)
            status = file->Commit(entry);
        else if (file != nullptr)
            file->Abandon();
        if (status == Status::Stopped)
            break;
        if (status != Status::Ok) {
            problem(shown, status, detail);
            continue;
        }
        decoded += produced;
        written[JoinParts(parts)] = Written {parts, produced};
        ++report.extracted;
        if (options.quiet == 0)
            host.Print((options.testOnly ? "    testing: " : "  inflating: ") + shown + "\n");
    }
    report.stopped = stop;
}

}  // namespace unzip
