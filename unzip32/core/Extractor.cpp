#include "unzip32/core/Extractor.h"

#include "unzip32/core/ArchiveReader.h"
#include "unzip32/core/ConcatenatedSource.h"
#include "unzip32/core/DecodePool.h"
#include "unzip32/core/Decoder.h"
#include "unzip32/core/EncryptedMember.h"
#include "unzip32/core/Mask.h"
#include "unzip32/core/MemberLocation.h"
#include "unzip32/core/OutputNames.h"
#include "unzip32/core/SafePath.h"
#include "unzip32/core/Salvage.h"
#include "unzip32/core/SequenceExtractor.h"

#include <algorithm>
#include <atomic>
#include <deque>
#include <memory>
#include <new>

namespace unzip {

namespace {

// Tries a typed password (UTF-8 from the caller) as it is, then, when the check rejects it, in the
// forms older writers stored it: the ANSI and then the OEM page of the user's locale. Only a
// password beyond ASCII has other forms, and a form that equals one already tried is not tried again.
Status TryPassword(const EncryptedMember& member, const Secret& password, const NameCodec* codec,
    std::unique_ptr<Decryption>& decryption)
{
    Status tried = member.Try(password, decryption);
    const uint8_t* typed = password.Data();
    if (tried != Status::Encrypted || codec == nullptr ||
        std::none_of(typed, typed + password.Size(), [](uint8_t c) { return c >= 0x80; }))
        return tried;
    std::string text(reinterpret_cast<const char*>(typed), password.Size());
    std::string ansi;
    std::string oem;
    const bool haveAnsi = codec->FromUtf8(codec->AnsiPage(), text, ansi) && ansi != text;
    const bool haveOem = codec->FromUtf8(codec->OemPage(), text, oem) && oem != text && !(haveAnsi && oem == ansi);
    for (const std::string* form : {haveAnsi ? &ansi : nullptr, haveOem ? &oem : nullptr}) {
        if (form == nullptr || tried != Status::Encrypted)
            continue;
        Secret secret;
        secret.Assign(form->data(), form->size());
        tried = member.Try(secret, decryption);
    }
    for (std::string* copy : {&text, &ansi, &oem})
        Wipe(&(*copy)[0], copy->size());
    return tried;
}

// Asks for an encrypted member's password until one passes the check of its encryption header,
// at most kPasswordAsks times; each answer is tried in all its forms (TryPassword), so one prompt
// covers them. Ok with the decryption and `span` narrowed to the encrypted content;
// Encrypted when no password was given or none passed; another status (and `detail`) when the
// member cannot be decrypted at all. Without a password a member is skipped as encrypted whatever
// its data holds, as it always was; an encryption not decoded here is refused without asking.
Status OpenEncrypted(Source& source, Host& host, const Entry& entry, const std::string& shown, DataSpan& span,
    std::unique_ptr<Decryption>& decryption, std::string& detail)
{
    EncryptedMember member;
    const Status read = member.Read(source, entry, span.start, span.length, host.Cryptography(), detail);
    if (read == Status::UnsupportedMethod)
        return read;
    for (int ask = 0; ask < kPasswordAsks; ++ask) {
        Secret password;
        if (!host.Password(shown, password)) {
            detail = ErrorString(Status::Encrypted);
            return Status::Encrypted;
        }
        if (read != Status::Ok) {
            detail = ErrorString(read);
            return read;
        }
        const Status tried = TryPassword(member, password, host.Names(), decryption);
        if (tried == Status::Ok) {
            span.start = member.DataStart();
            span.length = member.DataLength();
            return Status::Ok;
        }
        if (tried != Status::Encrypted) {
            detail = tried == Status::UnsupportedMethod ? "AES encryption is not available" : ErrorString(tried);
            return tried;
        }
    }
    detail = "encrypted member, wrong password";
    return Status::Encrypted;
}

// No file system holds a file larger than this (file positions are signed 64-bit numbers): a
// member that declares more is damaged.
const uint64_t kLargestFile = (uint64_t(1) << 63) - 1;

// How many members may be under way at once: bounds open files and queued work.
const size_t kMaxInFlight = 32;

// Members smaller than this are decoded on the calling thread: handing one to a worker and
// learning that it is done takes several waits and wake-ups, which under Wine each go through
// its server and cost more than inflating and writing a small file.
const uint64_t kWorthAWorker = 256u << 10;

}  // namespace

bool Matches(const std::vector<std::string>& masks, const std::string& name, bool ignoreCase, bool utf8)
{
    for (const std::string& mask : masks)
        if (MatchMask(mask, name, ignoreCase, utf8))
            return true;
    return false;
}

void CountProblem(ExtractReport& report, Status status)
{
    switch (status) {
    case Status::CrcMismatch:
    case Status::SizeMismatch:
    case Status::DataError:
    case Status::BadAuthentication:
    case Status::Inconsistent:
    case Status::Truncated:
    case Status::ReadFailure: ++report.damaged; break;
    case Status::Overlapping: ++report.overlapping; break;
    case Status::DiskFull: ++report.diskFull; break;
    case Status::OutOfMemory: ++report.outOfMemory; break;
    case Status::UnsafeName: ++report.skippedUnsafe; break;
    case Status::UnsupportedMethod: ++report.skippedUnsupported; break;
    case Status::Encrypted: ++report.skippedEncrypted; break;
    case Status::PathBlocked: ++report.skippedBlocked; break;
    case Status::Exists: ++report.skippedExisting; break;
    case Status::Stopped: break;
    default: ++report.writeFailures; break;
    }
}

unsigned CompressionFactor(uint64_t size, uint64_t compressedSize)
{
    if (size == 0 || compressedSize >= size)
        return 0;
    if (size < (1ull << 56))
        return static_cast<unsigned>(((size - compressedSize) * 100) / size);
    return static_cast<unsigned>((size - compressedSize) / (size / 100));  // no overflow for huge declared sizes
}

namespace {

void ExtractZip(Source& source, const Directory& directory, Host& host, const ExtractOptions& options,
    ExtractReport& report)
{
    if (options.showComment && !directory.comment.empty() && options.quiet < 2)
        host.Print(directory.comment + "\n");

    const RecordLimits limits(directory);
    report.members = static_cast<int>(directory.entries.size());
    std::vector<uint8_t> input;
    std::vector<uint8_t> output;
    // The pool goes first when the run ends (or unwinds): its workers may still hold queued slots.
    std::deque<std::unique_ptr<Slot>> pending;
    std::atomic<bool> stop {false};
    // A member's decoder may start helpers of its own, one fewer than the pool's threads: the pool's
    // thread that decodes the member is busy with it too.
    DecoderHelpers helpers;
    helpers.threads = options.workers;
    helpers.count = options.threads > 1 ? options.threads - 1 : 0;
    DecodePool pool(source, options.threads, options.workers, helpers, stop, options.milliseconds);
    // The files this run creates: a member never replaces one of them.
    OutputNames names(host);

    // Service for the members that workers are writing, once per step of each and whenever the
    // worker tells that the interval has passed.
    auto serviceWorkers = [&]() {
        for (const std::unique_ptr<Slot>& slot : pending) {
            const bool due = slot->serviceDue.exchange(false);
            if (slot->decode && !stop.load() && (slot->serviced.Check(slot->produced.load()).stepped || due) &&
                host.Service(slot->shown, slot->entry->size))
                stop = true;
        }
    };
    // A member decoded on the calling thread asks Service itself, by step and by time alike.
    Slot* inlineSlot = nullptr;
    ServiceSchedule inlineSchedule(options.milliseconds);
    const Progress inlineProgress = [&](uint64_t produced) {
        if (stop.load())
            return false;
        if (produced == 0)
            inlineSchedule.Start();  // the member starts
        const ServiceSchedule::Due due = inlineSchedule.Check(produced);
        if ((due.stepped || due.timed) && host.Service(inlineSlot->shown, inlineSlot->entry->size))
            stop = true;
        return !stop.load();
    };

    // Reports the oldest member once it is settled.
    auto settle = [&](Slot& slot) {
        if (slot.status != Status::Ok) {
            CountProblem(report, slot.status);
            if (options.quiet < 2)
                host.Print("skipping: " + slot.shown + " (" + slot.detail + ")\n");
            return;
        }
        ReportDone(host, options, report, slot.counted, slot.doneLine, slot.renamedLine, slot.keptBoth);
    };
    auto drain = [&](size_t keep) {
        pool.WriteHanded();
        while (!pending.empty()) {
            Slot* front = pending.front().get();
            if (pending.size() <= keep && !pool.IsDone(front))
                break;
            pool.WaitFor(front, serviceWorkers);
            settle(*front);
            pending.pop_front();
        }
    };

    for (const Entry& entry : directory.entries) {
        const std::string shown = host.DisplayName(entry);
        if (!options.include.empty() && !Matches(options.include, shown, options.ignoreCase, options.utf8Names))
            continue;
        if (Matches(options.exclude, shown, options.ignoreCase, options.utf8Names)) {
            ++report.excluded;
            continue;
        }
        serviceWorkers();
        if (stop.load() || host.Service(shown, entry.size)) {
            stop = true;
            break;
        }
        ++report.matched;
        report.totalSize += entry.size;
        report.totalCompressed += entry.compressedSize;

        if (options.listOnly) {
            host.Member(entry, shown, CompressionFactor(entry.size, entry.compressedSize));
            report.listedFiles += entry.IsDirectory() ? 0 : 1;
            continue;
        }

        auto slot = std::make_unique<Slot>();
        slot->shown = shown;
        auto refuse = [&](Status status, const std::string& detail) {
            slot->status = status;
            slot->detail = detail;
        };
        const bool folder = entry.IsDirectory();
        SafeName safe;
        if (entry.IsStronglyEncrypted()) {
            refuse(Status::UnsupportedMethod,
                (entry.flags & 0x0040) != 0 ? "strong encryption is not supported"
                                            : "encrypted central directory is not supported");
        } else if (!folder && !IsSupportedMethod(entry.actualMethod)) {
            refuse(Status::UnsupportedMethod, std::string("unsupported method ") + MethodName(entry.actualMethod));
        } else {
            safe = MakeSafe(entry.name);
            if (safe.refused)
                refuse(Status::UnsafeName, "unsafe name: " + safe.reason);
        }
        std::vector<std::string>& parts = safe.parts;
        if (slot->status == Status::Ok && !options.keepFolders && !parts.empty())
            parts.erase(parts.begin(), parts.end() - 1);

        if (slot->status != Status::Ok) {
            // settled already
        } else if (folder) {
            if (!options.testOnly && options.keepFolders) {
                Status made = host.CreateFolder(parts);
                if (made != Status::Ok)
                    refuse(made, ErrorString(made));
                else
                    slot->doneLine = "   creating: " + shown + "\n";
            }
        } else {
            DataSpan span = LocateData(source, entry, limits);
            // The file's name is settled before a password is asked for: a member that is not to
            // replace what is there is skipped without one.
            bool renamed = false;
            bool keptBoth = false;
            if (span.status != Status::Ok) {
                refuse(span.status, ErrorString(span.status));
            } else if (entry.size > kLargestFile) {
                refuse(Status::Inconsistent, "declared size larger than any file");
            } else if (!options.testOnly) {
                renamed = names.Choose(parts);
                const Status kept = renamed ? Status::Ok : names.Existing(parts, options.existing, keptBoth);
                if (kept != Status::Ok)
                    refuse(kept, ErrorString(kept));
            }
            if (slot->status == Status::Ok && entry.IsEncrypted()) {
                std::string detail;
                const Status opened = OpenEncrypted(source, host, entry, shown, span, slot->decryption, detail);
                if (opened != Status::Ok)
                    refuse(opened, detail);
            }
            if (slot->status == Status::Ok && !options.testOnly) {
                Status made = Status::Ok;
                if (parts.size() > 1)
                    made = host.CreateFolder(std::vector<std::string>(parts.begin(), parts.end() - 1));
                if (made == Status::Ok) {
                    made = host.CreateOutput(parts, entry, slot->file);
                    if (made == Status::PathBlocked)
                        refuse(made, "a folder stands where the file should be");
                    if (made == Status::Ok) {
                        names.Take(parts);
                        if (renamed || keptBoth) {
                            slot->renamedLine = RenamedLine(host, shown, parts, keptBoth);
                            slot->keptBoth = keptBoth;
                        }
                    }
                }
                if (made != Status::Ok && slot->status == Status::Ok)
                    refuse(made, ErrorString(made));
            }
            if (slot->status == Status::Ok) {
                slot->entry = &entry;
                slot->dataStart = span.start;
                slot->dataLength = span.length;
                slot->decode = true;
                slot->counted = true;
                slot->doneLine = (options.testOnly ? "    testing: "
                                                   : (entry.actualMethod == 0 ? " extracting: " : "  inflating: ")) +
                    shown + "\n";
            }
        }

        // While others decode, each decoder has its share of the memory; a member that needs more
        // is decoded alone, once the members before it are done, with what it needs (up to the
        // bound: beyond it the decoder refuses the member).
        bool alone = false;
        if (slot->decode) {
            slot->memoryLimit =
                options.threads > 0 ? kSharedDecoderMemory / (options.threads + 1) : kDecoderMemoryLimit;
            const uint64_t needed =
                DecoderMemory(source, entry, slot->dataStart, slot->dataLength, slot->decryption.get());
            if (needed > slot->memoryLimit) {
                if (options.threads > 0)
                    drain(0);
                slot->memoryLimit = std::min(std::max(needed, kDecoderMemoryLimit), kLargestDecoderMemory);
                alone = true;
            }
        }
        const bool worthAWorker =
            slot->decode && std::max<uint64_t>(slot->dataLength, slot->entry->size) >= kWorthAWorker;
        if (slot->decode && (options.threads == 0 || !worthAWorker || !pool.Submit(slot.get()))) {
            inlineSlot = slot.get();
            RunSlot(source, *slot, helpers, input, output, inlineProgress);
        }
        pending.push_back(std::move(slot));
        // A member decoded alone is done before the next one starts.
        drain(alone ? 0 : kMaxInFlight);
    }
    drain(0);
    report.stopped = stop.load();
}

}  // namespace

ExtractReport Extract(Source& source, Host& host, const ExtractOptions& options)
{
    ExtractReport report;
    auto fail = [&](Status status, const std::string& detail) {
        report.archiveStatus = status;
        report.archiveDetail = detail;
        if (options.quiet < 2)
            host.Print(std::string("error: ") + (detail.empty() ? ErrorString(status) : detail.c_str()) + "\n");
    };
    // Numbered volumes (.7z.001, .zip.001, a splitter's .001) are the archive cut in pieces: they
    // are read as one, whatever the kind. RAR's volumes are the reader's to follow.
    VolumeSet* volumes = host.Volumes();
    std::unique_ptr<ConcatenatedSource> joined;
    if (volumes != nullptr && volumes->Naming() == VolumeNaming::Numbered) {
        joined = JoinVolumes(*volumes);
        if (joined == nullptr) {
            // A later volume was named; without the first, what it holds cannot be placed.
            fail(Status::MultiDisk, "the volume " + volumes->VolumeName(1) + " is missing");
            return report;
        }
    }
    Source& archive = joined != nullptr ? *joined : source;
    // Where the joined set ends before its archive does: the volume at fault.
    auto endsEarly = [&](Status status) {
        return joined != nullptr && (status == Status::Truncated || status == Status::NotAnArchive);
    };

    const ArchiveKind kind = DetectArchiveKind(archive);
    // The last disk of a spanned set starts anywhere in a member's data, with whatever signature.
    const bool spannedName = volumes != nullptr && volumes->Naming() == VolumeNaming::ZipSpanned;
    if (kind == ArchiveKind::Zip || kind == ArchiveKind::Unknown || spannedName) {
        Directory directory;
        Status read;
        std::string detail;
        std::unique_ptr<ConcatenatedSource> spanned;
        try {
            read = ReadDirectory(archive, directory, host.Names(), options.namePage);
            // A spanned set's .zip is its last disk: the others (.z01, .z02, ...) lie beside it.
            if (read == Status::MultiDisk && joined == nullptr) {
                if (spannedName) {
                    spanned = JoinVolumes(*volumes, &source);
                    read = ReadDirectory(*spanned, directory, host.Names(), options.namePage, spanned->Starts());
                    if (read == Status::MultiDisk)
                        detail = "the volume " + volumes->VolumeName(static_cast<unsigned>(spanned->Parts())) +
                            " is missing";
                } else if (!host.ArchiveFileName().empty()) {
                    detail = "the volume " + FirstSpannedDisk(host.ArchiveFileName()) + " is missing";
                }
            }
        } catch (const std::bad_alloc&) {
            read = Status::OutOfMemory;
        }
        if (read == Status::Ok) {
            ExtractZip(spanned != nullptr ? *spanned : archive, directory, host, options, report);
            return report;
        }
        // A damaged single archive (a download cut short, a directory overwritten): what its
        // local records prove.
        const bool damaged = read == Status::Truncated || read == Status::Inconsistent || read == Status::NotAnArchive;
        if (damaged && joined == nullptr && spanned == nullptr && !spannedName) {
            Status walked = Status::NotAnArchive;
            // Proving the members decodes all of them: Service is asked on the way, as for a member.
            ServiceSchedule schedule(options.milliseconds);
            schedule.Start();
            const Progress going = [&](uint64_t decoded) {
                const ServiceSchedule::Due due = schedule.Check(decoded);
                return !((due.stepped || due.timed) && host.Service(std::string(), 0));
            };
            try {
                walked = SalvageDirectory(archive, directory, host.Names(), options.namePage, going);
            } catch (const std::bad_alloc&) {
                walked = Status::OutOfMemory;
            }
            if (walked == Status::Stopped) {
                report.stopped = true;
                return report;
            }
            // Where no member could be proved, the archive fails as it did before the walk.
            if (walked == Status::Ok && !directory.entries.empty()) {
                report.archiveStatus = read;
                report.archiveDetail = ErrorString(read);
                report.salvaged = true;
                ExtractZip(archive, directory, host, options, report);
                report.recovered = options.listOnly ? report.listedFiles : report.extracted;
                if (options.quiet < 2 && !report.stopped)
                    host.Print("The archive is damaged: " + std::to_string(report.recovered) +
                        " of its files were recovered.\n");
                return report;
            }
        }
        // Without a signature of its own, an archive that is no ZIP may still be one libarchive
        // knows by its content (old tar, .lzma, cpio).
        if (kind == ArchiveKind::Zip || read != Status::NotAnArchive) {
            fail(read, kind == ArchiveKind::Zip && endsEarly(read) ? VolumeProblem(*volumes, *joined) : detail);
            return report;
        }
    }
    Status opened = Status::Ok;
    std::string detail;
    std::unique_ptr<ArchiveReader> reader;
    try {
        reader = OpenArchiveReader(kind, archive, host, options, opened, detail);
        if (reader == nullptr) {
            fail(opened, endsEarly(opened) && kind != ArchiveKind::Unknown ? VolumeProblem(*volumes, *joined) : detail);
            return report;
        }
        if (joined != nullptr)
            reader = NameVolumesOnFailure(std::move(reader), VolumeProblem(*volumes, *joined));
        ExtractSequence(*reader, host, options, report);
    } catch (const std::bad_alloc&) {
        if (reader == nullptr)
            fail(Status::OutOfMemory, "");
        else
            ++report.outOfMemory;
    }
    return report;
}

}  // namespace unzip
