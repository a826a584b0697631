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
    std::map<std::string, std::vector<std::string>> written;
    ServiceSchedule schedule(options.milliseconds);
    bool stop = false;
    bool any = false;

    auto problem = [&](const std::string& shown, Status status, const std::string& detail) {
        CountProblem(report, status);
        if (options.quiet < 2)
            host.Print("skipping: " + shown + " (" + (detail.empty() ? ErrorString(status) : detail) + ")\n");
    };

    // The member read last, complete as far as its own data tells. A stream's check may still
    // follow it (gzip's trailer, xz's index): it is committed only once the reader has moved past
    // it without fault, and abandoned when the next step fails.
    struct Settling {
        bool active = false;
        std::unique_ptr<OutputFile> file;
        Entry entry;
        std::vector<std::string> parts;
        std::string shown;
    } settling;
    auto settle = [&](Status next, const std::string& detail) {
        if (!settling.active)
            return false;
        settling.active = false;
        Status status = next;
        if (settling.file != nullptr) {
            if (status == Status::Ok)
                status = settling.file->Commit(settling.entry);
            else
                settling.file->Abandon();
            settling.file.reset();
        }
        if (status != Status::Ok) {
            problem(settling.shown, status, next != Status::Ok ? detail : std::string());
            return true;
        }
        written[JoinParts(settling.parts)] = settling.parts;
        ++report.extracted;
        if (options.quiet == 0)
            host.Print((options.testOnly ? "    testing: " : "  inflating: ") + settling.shown + "\n");
        return true;
    };

    while (!stop) {
        Entry entry;
        bool end = false;
        const Status next = reader.Next(entry, end);
        if (next != Status::Ok) {
            const std::string detail = reader.Detail().empty() ? ErrorString(next) : reader.Detail();
            // The member read last fails with it. Without one, where nothing could be read the
            // archive itself failed; later on, the members read stay and the rest counts as damaged.
            const bool blamed = settle(next, detail);
            if (!blamed && !any) {
                report.archiveStatus = next;
                report.archiveDetail = reader.Detail();
            } else if (!blamed) {
                CountProblem(report, next);
            }
            if (options.quiet < 2)
                host.Print("error: " + detail + "\n");
            break;
        }
        settle(Status::Ok, std::string());
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
            if (!options.testOnly) {
                const Status copied = host.CopyOutput(target->second, parts, entry);
                if (copied != Status::Ok) {
                    problem(shown, copied, copied == Status::PathBlocked ? "a folder stands where the file should be" : "");
                    continue;
                }
            }
            written[JoinParts(parts)] = parts;
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
        if (status != Status::Ok && file != nullptr)
            file->Abandon();
        if (status == Status::Stopped)
            break;
        if (status != Status::Ok) {
            problem(shown, status, detail);
            continue;
        }
        settling.active = true;
        settling.file = std::move(file);
        settling.entry = entry;
        settling.parts = parts;
        settling.shown = shown;
    }
    report.stopped = stop;
}

}  // namespace unzip
