#include "unzip32/core/SequenceExtractor.h"

#include "unzip32/core/DecodePool.h"
#include "unzip32/core/OutputNames.h"
#include "unzip32/core/SafePath.h"

#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <memory>
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

// What the writer may hold of content not yet written, and how many members may wait for it to
// report (each with its file open).
const size_t kQueuedBytes = 32u << 20;
const size_t kQueuedMembers = 64;
// The worker is woken for a batch of steps rather than for each: under Wine every wake-up goes
// through its server and costs more than writing a small file. Whoever waits for the worker
// wakes it first.
const size_t kBatchSteps = 32;
const size_t kBatchBytes = 4u << 20;

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

// One member's outcome, reported in the archive's order once it is known.
struct Outcome {
    std::string shown;
    Status status = Status::Ok;
    std::string detail;       // for a problem, where the status's own text is not enough
    std::string doneLine;     // for success (may be empty)
    bool counted = false;     // success that counts as an extracted member
    std::string renamedLine;  // for success: the line telling the new name of a renamed file (else empty)
    bool keptBoth = false;    // renamed beside what was under the name before the run
    // A file the writer handles: its result once `finished`.
    std::unique_ptr<OutputFile> file;
    Entry entry;
    Status written = Status::Ok;
    bool finished = true;
};

// Writes the members' files on a worker thread while the calling thread reads and decodes the
// next ones: the content is queued (at most kQueuedBytes) and written, then each file is committed
// or abandoned, in the order given. Content the reader lends is written from where it lies and
// given back; any other is copied. Without a thread every step is done at once on the calling
// thread. Only OutputFile's calls and the reader's Give are made on the worker.
class FileWriter {
public:
    FileWriter(ArchiveReader& reader, WorkerThreads* workers, bool wanted) : reader_(reader), workers_(workers)
    {
        if (workers_ != nullptr && wanted)
            threaded_ = workers_->Start(Work, this);
    }
    // Whatever was queued is still done (a complete member's commit among it); then the thread
    // ends.
    ~FileWriter()
    {
        if (!threaded_)
            return;
        workers_->Lock();
        closing_ = true;
        workers_->Raise(WorkerThreads::WorkQueued, true);
        workers_->Unlock();
        workers_->JoinAll();
    }
    FileWriter(const FileWriter&) = delete;
    FileWriter& operator=(const FileWriter&) = delete;

    // The next piece of the outcome's file.
    void Write(Outcome& outcome, const uint8_t* data, size_t size)
    {
        if (!threaded_) {
            if (outcome.written == Status::Ok)
                outcome.written = outcome.file->Write(data, size);
            return;
        }
        Step step;
        step.outcome = &outcome;
        step.kind = Step::Write;
        step.size = size;
        workers_->Lock();
        // Full: the worker writes half of it before the calling thread goes on.
        if (queuedBytes_ > 0 && queuedBytes_ + size > kQueuedBytes)
            while (queuedBytes_ > kQueuedBytes / 2)
                AwaitWorker(nullptr, kQueuedBytes / 2);
        step.kept = reader_.Keep(data, size);
        if (step.kept != 0) {
            step.lent = data;
        } else if (!spare_.empty()) {
            step.data = std::move(spare_.back());
            spare_.pop_back();
            spareBytes_ -= step.data.capacity();
        }
        queuedBytes_ += size;
        workers_->Unlock();
        if (step.kept == 0)
            step.data.assign(data, data + size);  // copied without the lock
        Queue(std::move(step));
    }

    // The file is complete and checked (commit) or not (abandon).
    void Finish(Outcome& outcome, bool commit)
    {
        if (!threaded_) {
            if (commit && outcome.written == Status::Ok)
                outcome.written = outcome.file->Commit(outcome.entry);
            else
                outcome.file->Abandon();
            return;
        }
        Step step;
        step.outcome = &outcome;
        step.kind = commit ? Step::Commit : Step::Abandon;
        Queue(std::move(step));
    }

    // Whether the writer is done with the outcome; waits for it when asked to.
    bool Finished(Outcome& outcome, bool wait)
    {
        if (!threaded_)
            return true;
        workers_->Lock();
        while (wait && !outcome.finished)
            AwaitWorker(&outcome, 0);
        const bool finished = outcome.finished;
        workers_->Unlock();
        return finished;
    }

    // Whether writing the outcome's file has failed already, as far as the calling thread can tell
    // (on the worker's thread this shows only when the file is finished).
    bool Failed(const Outcome& outcome) const { return !threaded_ && outcome.written != Status::Ok; }

    // A file is under way on the writer from its first piece to its end.
    void Begin(Outcome& outcome) { outcome.finished = !threaded_; }

private:
    struct Step {
        enum Kind { Write, Commit, Abandon };
        Outcome* outcome = nullptr;
        Kind kind = Write;
        size_t kept = 0;                // the reader's token for `lent`,
        const uint8_t* lent = nullptr;  // given back once written,
        std::vector<uint8_t> data;      // else a copy
        size_t size = 0;
    };

    void Queue(Step&& step)
    {
        workers_->Lock();
        steps_.push_back(std::move(step));
        if (workerIdle_ && (steps_.size() >= kBatchSteps || queuedBytes_ >= kBatchBytes))
            workers_->Raise(WorkerThreads::WorkQueued, false);
        workers_->Unlock();
    }

    // With the lock held: waits until the worker has finished `outcome`, or brought what it holds
    // down to `bytes`, waking it first when it is idle.
    void AwaitWorker(const Outcome* outcome, size_t bytes)
    {
        if (workerIdle_ && !steps_.empty())
            workers_->Raise(WorkerThreads::WorkQueued, false);
        awaited_ = outcome;
        awaitedBytes_ = bytes;
        callerWaits_ = true;
        workers_->Wait(WorkerThreads::Written);
        callerWaits_ = false;
    }

    static void Work(void* writer) { static_cast<FileWriter*>(writer)->Work(); }

    void Work()
    {
        workers_->Lock();
        for (;;) {
            while (steps_.empty() && !closing_) {
                workerIdle_ = true;
                workers_->Wait(WorkerThreads::WorkQueued);
                workerIdle_ = false;
            }
            if (steps_.empty())
                break;
            Step step = std::move(steps_.front());
            steps_.pop_front();
            workers_->Unlock();
            Outcome& outcome = *step.outcome;
            // Only this thread touches the outcome's file and result until it is finished.
            if (step.kind == Step::Write) {
                if (outcome.written == Status::Ok)
                    outcome.written = outcome.file->Write(step.kept != 0 ? step.lent : step.data.data(), step.size);
                if (step.kept != 0)
                    reader_.Give(step.kept);
            } else if (step.kind == Step::Commit && outcome.written == Status::Ok) {
                outcome.written = outcome.file->Commit(outcome.entry);
            } else {
                outcome.file->Abandon();
            }
            workers_->Lock();
            if (step.kind == Step::Write) {
                queuedBytes_ -= step.size;
                // Copies' memory is kept for reuse, up to the queue's bound: under Wine a large
                // block freed and allocated again costs its pages' faults each time.
                if (step.data.capacity() > 0 && spareBytes_ + step.data.capacity() <= kQueuedBytes) {
                    spareBytes_ += step.data.capacity();
                    step.data.clear();
                    spare_.push_back(std::move(step.data));
                }
            } else {
                outcome.finished = true;
            }
            if (callerWaits_ && (awaited_ != nullptr ? awaited_->finished : queuedBytes_ <= awaitedBytes_))
                workers_->Raise(WorkerThreads::Written, true);
        }
        workers_->Unlock();
    }

    ArchiveReader& reader_;
    WorkerThreads* workers_;
    bool threaded_ = false;
    // Under the lock.
    std::deque<Step> steps_;
    std::vector<std::vector<uint8_t>> spare_;
    size_t queuedBytes_ = 0;
    size_t spareBytes_ = 0;
    bool closing_ = false;
    bool workerIdle_ = false;
    bool callerWaits_ = false;
    const Outcome* awaited_ = nullptr;  // what the calling thread waits for (none: bytes)
    size_t awaitedBytes_ = 0;
};

}  // namespace

void ExtractSequence(ArchiveReader& reader, Host& host, const ExtractOptions& options, ExtractReport& report)
{
    std::vector<uint8_t> buffer;
    // The files written (or tested) so far, by their members' safe paths, for hard links to them.
    std::map<std::string, Written> written;
    std::map<std::string, uint64_t> listedSizes;  // when listing: each file's size, for the hard links to it
    // The files this run creates: a member never replaces one of them.
    OutputNames names(host);
    uint64_t decoded = 0;  // bytes of the members' own data
    uint64_t copied = 0;   // bytes written again for hard links
    ServiceSchedule schedule(options.milliseconds);
    bool stop = false;
    bool any = false;

    // Service for each member, and while the reader decodes data only to pass it over (the members
    // before the one wanted in a solid block can take long): there it is asked about the member it
    // was asked about last, so that progress stays where it was.
    std::string servedName;
    uint64_t servedSize = 0;
    auto service = [&](const std::string& shown, uint64_t size) {
        servedName = shown;
        servedSize = size;
        return host.Service(shown, size);
    };
    ServiceSchedule passing(options.milliseconds);
    passing.Start();
    const std::function<bool(uint64_t)> watch = [&](uint64_t bytes) {
        const ServiceSchedule::Due due = passing.Check(bytes);
        if ((due.stepped || due.timed) && host.Service(servedName, servedSize))
            stop = true;
        return stop;
    };
    struct Watching {
        ArchiveReader& reader;
        ~Watching() { reader.SetWatch(nullptr); }
    } watching {reader};
    reader.SetWatch(&watch);

    // Outcomes not reported yet, oldest first; the writer goes before them when the run ends or
    // unwinds, finishing what it holds.
    std::deque<std::unique_ptr<Outcome>> outcomes;
    FileWriter writer(reader, options.workers, options.threads > 0 && !options.testOnly && !options.listOnly);
    // The reader's own threads end before the writer waits for all of the run's threads.
    struct Closing {
        ArchiveReader& reader;
        ~Closing() { reader.Close(); }
    } closing {reader};

    // Reports the outcomes whose files are done, in order; all of them when `all`.
    auto flush = [&](bool all) {
        while (!outcomes.empty()) {
            Outcome& outcome = *outcomes.front();
            if (!writer.Finished(outcome, all))
                break;
            const Status status = outcome.status != Status::Ok ? outcome.status : outcome.written;
            if (status == Status::Stopped) {
                // the member a stop cut short: neither done nor a problem
            } else if (status != Status::Ok) {
                CountProblem(report, status);
                if (options.quiet < 2)
                    host.Print("skipping: " + outcome.shown + " (" +
                        (outcome.status != Status::Ok && !outcome.detail.empty() ? outcome.detail
                                                                                 : std::string(ErrorString(status))) +
                        ")\n");
            } else {
                ReportDone(
                    host, options, report, outcome.counted, outcome.doneLine, outcome.renamedLine, outcome.keptBoth);
            }
            outcomes.pop_front();
        }
    };
    auto add = [&](const std::string& shown) -> Outcome& {
        outcomes.push_back(std::unique_ptr<Outcome>(new Outcome));
        outcomes.back()->shown = shown;
        return *outcomes.back();
    };
    auto problem = [&](const std::string& shown, Status status, const std::string& detail) {
        Outcome& outcome = add(shown);
        outcome.status = status;
        outcome.detail = detail;
    };
    auto done = [&](const std::string& shown, const std::string& line) {
        Outcome& outcome = add(shown);
        outcome.counted = true;
        if (!line.empty())
            outcome.doneLine = line + shown + "\n";
    };

    // The member read last, complete as far as its own data tells. A stream's check may still
    // follow it (gzip's trailer, xz's index): it is committed only once the reader has moved past
    // it without fault, and abandoned when the next step fails, taking the failure.
    Outcome* settling = nullptr;
    Written settlingFile;
    std::string settlingKey;  // its member's safe path
    auto settle = [&](Status next, const std::string& detail) {
        if (settling == nullptr)
            return false;
        Outcome& outcome = *settling;
        settling = nullptr;
        if (next != Status::Ok) {
            outcome.status = next;
            outcome.detail = detail;
        } else {
            decoded += settlingFile.size;
            written[settlingKey] = settlingFile;
        }
        if (outcome.file != nullptr)
            writer.Finish(outcome, next == Status::Ok);
        return true;
    };

    while (!stop) {
        Entry entry;
        bool end = false;
        const Status next = reader.Next(entry, end);
        if (next == Status::Stopped) {
            // The member read last is not known to be whole until the reader is past it.
            settle(next, std::string());
            stop = true;
            break;
        }
        if (next != Status::Ok) {
            const std::string detail = reader.Detail().empty() ? ErrorString(next) : reader.Detail();
            // The member read last fails with it. Without one, where nothing could be read the
            // archive itself failed; later on, the members read stay and the rest counts as damaged.
            const bool blamed = settle(next, detail);
            flush(true);
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
        flush(false);
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
        if (service(shown, entry.size)) {
            stop = true;
            break;
        }
        ++report.matched;
        report.totalSize += entry.size;
        report.totalCompressed += entry.compressedSize;
        if (options.listOnly) {
            // A hard link stores no data: it is listed with the size of the file it copies, which
            // is what its extraction writes.
            if (entry.link == LinkKind::Hard && entry.size == 0) {
                auto target = listedSizes.find(TargetKey(entry.linkTarget));
                if (target != listedSizes.end()) {
                    entry.size = target->second;
                    report.totalSize += entry.size;
                }
            }
            if (entry.link != LinkKind::Symbolic && !entry.IsDirectory())
                listedSizes[TargetKey(entry.name)] = entry.size;
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
                done(shown, "   creating: ");
            } else {
                done(shown, std::string());
            }
            continue;
        }

        if (!options.testOnly && parts.size() > 1) {
            const Status made = host.CreateFolder(std::vector<std::string>(parts.begin(), parts.end() - 1));
            if (made != Status::Ok) {
                problem(shown, made, made == Status::PathBlocked ? "" : ErrorString(made));
                continue;
            }
        }
        // Links name the member as it is stored, whatever name its file got.
        const std::string key = JoinParts(parts);
        const bool renamed = !options.testOnly && names.Choose(parts);
        bool keptBoth = false;
        if (!renamed && !options.testOnly) {
            const Status kept = names.Existing(parts, options.existing, keptBoth);
            if (kept != Status::Ok) {
                problem(shown, kept, std::string());
                continue;
            }
        }
        // Where the file went, when not under its own name.
        auto tellName = [&](Outcome& outcome) {
            if (renamed || keptBoth) {
                outcome.renamedLine = RenamedLine(host, shown, parts, keptBoth);
                outcome.keptBoth = keptBoth;
            }
        };

        // A hard link without data of its own is a copy of the member written before under its
        // target's name: the files under way are written first.
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
                flush(true);
                const Status made = host.CopyOutput(from.parts, parts, entry);
                if (made == Status::Stopped) {
                    problem(shown, made, std::string());
                    stop = true;
                    continue;
                }
                if (made != Status::Ok) {
                    problem(shown, made, made == Status::PathBlocked ? "a folder stands where the file should be" : "");
                    continue;
                }
                names.Take(parts);
            }
            // The copy is output as any member's: it counts in the size the run writes.
            copied += from.size;
            report.totalSize += from.size;
            written[key] = Written {parts, from.size};
            done(shown, options.testOnly ? "    testing: " : "    linking: ");
            tellName(*outcomes.back());
            continue;
        }

        // Room for more open files among those the writer holds: half of them are finished first.
        if (outcomes.size() >= kQueuedMembers) {
            writer.Finished(*outcomes[kQueuedMembers / 2], true);
            flush(false);
        }
        std::unique_ptr<OutputFile> file;
        if (!options.testOnly) {
            const Status made = host.CreateOutput(parts, entry, file);
            if (made != Status::Ok) {
                problem(shown, made, made == Status::PathBlocked ? "a folder stands where the file should be" : "");
                continue;
            }
            names.Take(parts);
        }
        Outcome& outcome = add(shown);
        outcome.counted = true;
        tellName(outcome);
        outcome.doneLine = (options.testOnly ? "    testing: " : "  inflating: ") + shown + "\n";
        if (file != nullptr) {
            outcome.file = std::move(file);
            outcome.entry = entry;
            writer.Begin(outcome);
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
                if (outcome.file != nullptr) {
                    writer.Write(outcome, data != nullptr ? data : buffer.data(), size);
                    if (writer.Failed(outcome)) {
                        status = outcome.written;
                        break;
                    }
                }
            }
            if (finished)
                break;
            const ServiceSchedule::Due due = schedule.Check(produced);
            if ((due.stepped || due.timed) && service(shown, entry.size)) {
                stop = true;
                status = Status::Stopped;
                break;
            }
        }
        if (status != Status::Ok) {
            outcome.status = status;
            outcome.detail = detail;
            if (outcome.file != nullptr)
                writer.Finish(outcome, false);
            continue;
        }
        settling = &outcome;
        settlingFile = Written {parts, produced};
        settlingKey = key;
    }
    flush(true);
    report.stopped = stop;
}

}  // namespace unzip
