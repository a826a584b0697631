#include "unzip32/core/Extractor.h"

#include "unzip32/core/ByteReader.h"
#include "unzip32/core/Decoder.h"
#include "unzip32/core/EncryptedMember.h"
#include "unzip32/core/Mask.h"
#include "unzip32/core/SafePath.h"
#include "unzip32/core/WholeMember.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <deque>
#include <functional>
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
    uint64_t length = 0;  // bytes of member data to read
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
        prefix_ = directory.prefix;
    }
    // The offset at which a record may also be looked for when it is not where the shifted
    // offsets put it: some writers leave out of the offsets the bytes they write ahead of the
    // first record's neighbours (a data descriptor the directory does not mention), which then
    // looks like bytes in front of the archive. Only the first record may be read unshifted:
    // nothing lies between it and the start of the file.
    bool UnshiftedOffset(uint64_t offset, uint64_t& unshifted) const
    {
        if (prefix_ == 0 || offsets_.empty() || offset != offsets_.front() || offset < prefix_)
            return false;
        unshifted = offset - prefix_;
        return true;
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
    uint64_t prefix_ = 0;
};

// A local record with flag bit 3 leaves its CRC and sizes to a data descriptor after the data:
// with or without its signature, with 32- or 64-bit sizes. For a stored member nothing but the
// sizes tells where its data ends, so the descriptor must stand right behind the data the
// directory describes, before the next record, and agree with the directory; otherwise the two
// disagree about what the member holds. (A deflate stream ends by itself and the CRC settles it.)
bool DescriptorAgrees(Source& source, const Entry& entry, uint64_t at, uint64_t limit)
{
    const uint32_t kDescriptorSignature = 0x08074b50;
    uint8_t bytes[24] = {};
    const size_t available = at < limit ? static_cast<size_t>(std::min<uint64_t>(sizeof bytes, limit - at)) : 0;
    if (available < 12 || !source.Read(at, bytes, available))
        return false;
    auto agrees = [&](size_t pos, bool wide) {
        if (pos + (wide ? 20u : 12u) > available)
            return false;
        ByteReader r(bytes + pos, available - pos);
        if (r.U32() != entry.crc)
            return false;
        const uint64_t compressed = wide ? r.U64() : r.U32();
        const uint64_t size = wide ? r.U64() : r.U32();
        return compressed == entry.compressedSize && size == entry.size;
    };
    const bool signature = ByteReader(bytes, available).U32() == kDescriptorSignature;
    return (signature && (agrees(4, false) || agrees(4, true))) || agrees(0, false) || agrees(0, true);
}

DataSpan LocateData(Source& source, const Entry& entry, const RecordLimits& limits)
{
    DataSpan span;
    uint8_t header[kLocalSize];
    if (entry.shortZip64) {
        // Its real sizes or offset are unknown: reading it would use the wrong ones.
        span.status = Status::Inconsistent;
        return span;
    }
    if (entry.localOffset >= limits.NextAfter(entry.localOffset)) {
        // A record at or past the directory.
        span.status = Status::Inconsistent;
        return span;
    }
    if (!source.Read(entry.localOffset, header, kLocalSize)) {
        span.status = Status::Truncated;
        return span;
    }
    uint64_t recordOffset = entry.localOffset;
    if (ByteReader(header, kLocalSize).U32() != kLocalSignature) {
        uint64_t unshifted = 0;
        if (!limits.UnshiftedOffset(entry.localOffset, unshifted) || !source.Read(unshifted, header, kLocalSize) ||
            ByteReader(header, kLocalSize).U32() != kLocalSignature) {
            span.status = Status::Inconsistent;
            return span;
        }
        recordOffset = unshifted;
    }
    ByteReader r(header, kLocalSize);
    r.Skip(6);
    const uint16_t localFlags = r.U16();
    r.Skip(18);
    uint16_t nameLength = r.U16();
    uint16_t extraLength = r.U16();
    span.start = recordOffset + kLocalSize + nameLength + extraLength;
    if (limits.IsShared(entry.localOffset)) {
        span.status = Status::Overlapping;
        return span;
    }
    span.length = entry.compressedSize;
    const uint64_t limit = limits.NextAfter(entry.localOffset);
    if (span.start > limit || span.length > limit - span.start) {
        const bool pastEnd = span.length > source.Size() || span.start > source.Size() - span.length;
        span.status = pastEnd ? Status::Truncated : Status::Overlapping;
        return span;
    }
    if ((localFlags & 0x0008) != 0 && entry.actualMethod == 0 &&
        !DescriptorAgrees(source, entry, span.start + span.length, limit))
        span.status = Status::Inconsistent;
    return span;
}

// Streams the member's data to `out` through the decoder of its method, checking the exact size
// and computing the CRC; `progress` hears of every piece.
Status DecodeStream(const Entry& entry, MemberInput& data, uint64_t memoryLimit, const DecoderHelpers& helpers,
    OutputFile* out, std::vector<uint8_t>& output, uint32_t& crc, std::string& detail, const Progress& progress)
{
    std::unique_ptr<Decoder> decoder;
    const Status created = CreateDecoder(entry, data, memoryLimit, decoder, detail, helpers);
    if (created != Status::Ok)
        return created;
    crc = 0;
    uint64_t produced = 0;
    bool finished = false;
    while (!finished) {
        // Never ask for more than the member may still produce (plus one byte to notice excess).
        const uint64_t remaining = entry.size - produced;
        const size_t room = remaining < output.size() ? static_cast<size_t>(remaining) + 1 : output.size();
        const uint8_t* piece = output.data();
        size_t got = 0;
        const Status decoded = decoder->Decode(output.data(), room, piece, got, finished);
        if (decoded != Status::Ok) {
            detail = decoder->Detail();
            return decoded;
        }
        if (got > remaining)
            return Status::SizeMismatch;
        if (got == 0 && !finished)
            return Status::Internal;  // a decoder that neither produces nor ends
        crc = Crc32(crc, piece, got);
        produced += got;
        if (out != nullptr && got > 0) {
            const Status written = out->Write(piece, got);
            if (written != Status::Ok)
                return written;
        }
        if (!progress(produced))
            return Status::Stopped;
    }
    if (produced != entry.size)
        return Status::SizeMismatch;
    return Status::Ok;
}

// Streams one member's data from the archive to `out` (null: decode and check only) through its
// decryption (null for a plain member) and the decoder of its method, which may take
// `memoryLimit` for its dictionary, window or model, checking the exact size, the CRC and for
// WinZip AES the authentication code. Never produces more than the declared size. `detail` says
// more about a refusal or failure where the decoder knows more.
Status DecodeMember(Source& source, const Entry& entry, uint64_t dataStart, uint64_t length, uint64_t memoryLimit,
    const DecoderHelpers& helpers, Decryption* decryption, OutputFile* out, std::vector<uint8_t>& input,
    std::vector<uint8_t>& output, std::string& detail, const Progress& progress)
{
    if (!progress(0))
        return Status::Stopped;
    if (decryption == nullptr) {
        // Deflated members of known sizes in one call, stored ones straight from the archive's view.
        bool taken = false;
        Status whole =
            DecodeWholeDeflated(source, entry, dataStart, length, memoryLimit, out, input, output, progress, taken);
        if (!taken)
            whole = CopyStoredInPlace(source, entry, dataStart, length, out, progress, taken);
        if (taken)
            return whole;
    }
    MemberInput data(source, dataStart, length, input);
    data.SetDecryption(decryption);
    uint32_t crc = 0;
    const Status decoded = DecodeStream(entry, data, memoryLimit, helpers, out, output, crc, detail, progress);
    const bool damaged = decoded == Status::DataError || decoded == Status::SizeMismatch;
    if (decryption != nullptr && (decoded == Status::Ok || damaged)) {
        // The authentication code covers all of the encrypted data, also what the decoder left;
        // where it fails, it says best what went wrong.
        if (!data.Drain())
            return Status::Truncated;
        const Status checked = decryption->Finish(source);
        if (checked != Status::Ok) {
            detail.clear();
            return checked;
        }
    }
    if (decoded != Status::Ok)
        return decoded;
    // AE-2 stores no CRC: its authentication code is the member's only check.
    const bool hasCrc = !(entry.aes && entry.aesVersion == 2);
    if (hasCrc && crc != entry.crc)
        return Status::CrcMismatch;
    return Status::Ok;
}

// Asks for an encrypted member's password until one passes the check of its encryption header,
// at most kPasswordAsks times. Ok with the decryption and `span` narrowed to the encrypted content;
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
        const Status tried = member.Try(password, decryption);
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
    case Status::Stopped: break;
    default: ++report.writeFailures; break;
    }
}

// One member on its way through the run: either settled when it was examined (listed, skipped,
// a folder made), or a file to decode. Slots are reported strictly in directory order.
struct Slot {
    std::string shown;
    Status status = Status::Ok;
    std::string detail;    // for a problem: what went wrong
    std::string doneLine;  // for success: the line to print (may be empty)
    bool counted = false;  // success that counts as an extracted member

    // Decoding work (only for files).
    const Entry* entry = nullptr;
    uint64_t dataStart = 0;
    uint64_t dataLength = 0;
    uint64_t memoryLimit = kDecoderMemoryLimit;  // for the decoder's dictionary, window or model
    std::unique_ptr<Decryption> decryption;      // for an encrypted member: its keys, checked already
    std::unique_ptr<OutputFile> file;
    bool decode = false;
    bool done = true;

    // Bytes produced so far, published by the thread that decodes it; the calling thread asks
    // Service again for each further kServiceStep of them, and after each kServiceInterval of
    // decoding that the decoding thread reports.
    std::atomic<uint64_t> produced {0};
    std::atomic<bool> serviceDue {false};
    uint64_t signalled = 0;  // decoding thread only
    uint64_t lastTold = 0;   // decoding thread only: when it last reported (milliseconds)
    uint64_t serviced = 0;   // calling thread only
};

// Decodes one file slot: streams the data, then commits or abandons the output.
void RunSlot(Source& source, Slot& slot, const DecoderHelpers& helpers, std::vector<uint8_t>& input,
    std::vector<uint8_t>& output, const Progress& progress)
{
    Status decoded;
    try {
        // Buffers grow to what the members need, up to their fixed size: small members cost little.
        const Entry& entry = *slot.entry;
        // A deflated member decoded in one piece leaves the buffers at its size; a member of
        // another method gets them back to their streaming size, as its decoder takes memory of
        // its own.
        if (entry.actualMethod != 8 && (input.size() > kInputChunk || output.size() > kOutputChunk)) {
            std::vector<uint8_t>().swap(input);
            std::vector<uint8_t>().swap(output);
        }
        const size_t wantInput =
            static_cast<size_t>(std::min<uint64_t>(kInputChunk, std::max<uint64_t>(slot.dataLength, 1)));
        const size_t wantOutput = static_cast<size_t>(entry.size < kOutputChunk ? entry.size + 1 : kOutputChunk);
        if (input.size() < wantInput)
            input.resize(wantInput);
        if (output.size() < wantOutput)
            output.resize(wantOutput);
        decoded = DecodeMember(source, entry, slot.dataStart, slot.dataLength, slot.memoryLimit, helpers,
            slot.decryption.get(), slot.file.get(), input, output, slot.detail, progress);
        if (decoded == Status::Ok && slot.file)
            decoded = slot.file->Commit(*slot.entry);
    } catch (const std::bad_alloc&) {
        decoded = Status::OutOfMemory;
    }
    if (decoded != Status::Ok && slot.file)
        slot.file->Abandon();
    slot.file.reset();
    slot.decryption.reset();  // the keys go as soon as they are no longer needed
    slot.status = decoded;
    if (decoded != Status::Ok && slot.detail.empty())
        slot.detail = ErrorString(decoded);
}

// Members of at least this size that a worker decodes have their output written behind.
const uint64_t kWriteBehindFrom = 16u << 20;

class DecodePool;

// Output of a large member that a worker decodes, written behind its decoding: the worker fills
// one buffer while the calling thread writes the one before, so that the decoding and Wine's
// costly writes share the two cores instead of taking turns on one. Errors of a write come back
// at the next Write or at Commit.
class WriteBehind : public OutputFile {
public:
    WriteBehind(std::unique_ptr<OutputFile> file, DecodePool& pool) : file_(std::move(file)), pool_(pool) { }
    ~WriteBehind() override;
    Status Write(const uint8_t* data, size_t count) override;
    Status Commit(const Entry& entry) override;
    void Abandon() override;

    // Each buffer holds this much output; two per member under way.
    static const size_t kPiece = 4u << 20;

private:
    friend class DecodePool;
    Status Hand();

    std::unique_ptr<OutputFile> file_;
    DecodePool& pool_;
    std::unique_ptr<uint8_t[]> buffers_[2];
    int filling_ = 0;  // the buffer the worker fills
    size_t filled_ = 0;
    // Guarded by the pool's lock:
    int queued_ = 0;              // buffers handed and not yet written (at most 2)
    Status status_ = Status::Ok;  // the first write that failed
};

// Worker threads that decode file slots while the calling thread examines the next members and
// reports finished ones: the caller's callbacks are only ever made on the calling thread. Each
// worker owns its buffers, so memory is bounded by the worker count, not by the archive. The
// calling thread also writes the output handed to it by WriteBehind, whenever it waits.
class DecodePool {
public:
    DecodePool(Source& source, unsigned threads, WorkerThreads* workers, const DecoderHelpers& helpers,
        const std::atomic<bool>& stop, uint64_t (*milliseconds)())
        : source_(source),
          workers_(workers),
          threads_(workers != nullptr ? threads : 0),
          helpers_(helpers),
          stop_(stop),
          milliseconds_(milliseconds)
    {
    }
    // The pool owns its stop. At the end of a run nothing is left; when the run unwinds (an
    // exception on the calling thread), slots not begun are dropped, the members under way stop at
    // their next piece, and the output they handed is dropped unwritten: a worker waiting for it to
    // be written would otherwise wait for ever, as nobody writes it any more.
    ~DecodePool()
    {
        if (started_ == 0)
            return;
        {
            Held held(*workers_);
            stopping_ = true;
            abandoned_ = true;
            queue_.clear();
            for (const HandedWrite& write : writes_) {
                if (write.file->status_ == Status::Ok)
                    write.file->status_ = Status::Stopped;
                --write.file->queued_;
            }
            writes_.clear();
            workers_->Raise(WorkerThreads::WorkQueued, true);
            workers_->Raise(WorkerThreads::Written, true);
        }
        workers_->JoinAll();
    }

    // False when no thread could be started: the caller then decodes the slot itself.
    bool Submit(Slot* slot)
    {
        if (threads_ == 0)
            return false;
        Held held(*workers_);
        if (started_ < threads_ && queue_.size() >= idle_) {
            if (workers_->Start(&DecodePool::Work, this))
                ++started_;
            else if (started_ == 0)
                return false;
        }
        queue_.push_back(slot);
        slot->done = false;
        workers_->Raise(WorkerThreads::WorkQueued, false);
        return true;
    }

    // Waits for the slot, writing handed output meanwhile; each time a worker tells of progress,
    // `progressed` runs without the lock.
    void WaitFor(Slot* slot, const std::function<void()>& progressed)
    {
        if (started_ == 0)
            return;  // nothing was handed out
        Held held(*workers_);
        while (!slot->done) {
            // Service is asked between the writes too: a stop must not wait for them.
            if (!WriteOne())
                workers_->Wait(WorkerThreads::WorkDone);
            if (!slot->done) {
                Released released(*workers_);
                progressed();
            }
        }
    }

    // Writes what was handed so far, without waiting for more.
    void WriteHanded()
    {
        if (started_ == 0)
            return;
        Held held(*workers_);
        while (WriteOne()) { }
    }

    bool IsDone(Slot* slot)
    {
        if (started_ == 0)
            return slot->done;
        Held held(*workers_);
        return slot->done;
    }

    // On the worker, for WriteBehind: queues the buffer for the calling thread, then waits until
    // the other one is free again.
    Status Hand(WriteBehind& file, int buffer, size_t size)
    {
        Held held(*workers_);
        if (stopping_) {
            // Nobody writes any more: the member ends here.
            if (file.status_ == Status::Ok)
                file.status_ = Status::Stopped;
            return file.status_;
        }
        writes_.push_back({&file, buffer, size});
        ++file.queued_;
        workers_->Raise(WorkerThreads::WorkDone, true);
        while (file.queued_ > 1)
            workers_->Wait(WorkerThreads::Written);
        return file.status_;
    }
    // On the worker: waits until everything handed for the file is written.
    Status Settle(WriteBehind& file)
    {
        Held held(*workers_);
        while (file.queued_ > 0)
            workers_->Wait(WorkerThreads::Written);
        return file.status_;
    }

private:
    struct Held {
        explicit Held(WorkerThreads& threads) : threads(threads) { threads.Lock(); }
        ~Held() { threads.Unlock(); }
        WorkerThreads& threads;
    };
    // Gives the lock up for a call that may throw, and takes it again however the call ends.
    struct Released {
        explicit Released(WorkerThreads& threads) : threads(threads) { threads.Unlock(); }
        ~Released() { threads.Lock(); }
        WorkerThreads& threads;
    };
    struct HandedWrite {
        WriteBehind* file;
        int buffer;
        size_t size;
    };

    // A member whose decoding takes long enough for its writes to run beside it, worth the copy
    // into the write-behind buffers (a stored member's copy is its writing).
    static bool WritesBehind(const Entry& entry) { return entry.size >= kWriteBehindFrom && entry.actualMethod != 0; }

    // With the lock held: writes the oldest handed buffer (without the lock). False when none is.
    bool WriteOne()
    {
        if (writes_.empty())
            return false;
        const HandedWrite write = writes_.front();
        writes_.pop_front();
        WriteBehind& file = *write.file;
        Status written = Status::Ok;
        if (file.status_ == Status::Ok) {
            Released released(*workers_);
            try {
                written = file.file_->Write(file.buffers_[write.buffer].get(), write.size);
            } catch (const std::bad_alloc&) {
                written = Status::OutOfMemory;  // the worker's write: it fails the member, not the run
            }
        }
        if (file.status_ == Status::Ok)
            file.status_ = written;
        --file.queued_;
        workers_->Raise(WorkerThreads::Written, true);
        return true;
    }

    static void Work(void* pool) { static_cast<DecodePool*>(pool)->Work(); }
    void Work()
    {
        std::vector<uint8_t> input;
        std::vector<uint8_t> output;
        Slot* current = nullptr;
        // Publishes the progress and wakes the calling thread at each step, which asks Service.
        const Progress progress = [&](uint64_t produced) {
            if (stop_.load() || abandoned_.load())
                return false;
            current->produced.store(produced);
            const uint64_t now = milliseconds_ != nullptr ? milliseconds_() : 0;
            const bool due = milliseconds_ != nullptr && now - current->lastTold >= kServiceInterval;
            if (produced >= current->signalled + kServiceStep || due) {
                if (produced >= current->signalled + kServiceStep)
                    current->signalled = produced - produced % kServiceStep;
                current->lastTold = now;
                if (due)
                    current->serviceDue = true;
                Held wake(*workers_);
                workers_->Raise(WorkerThreads::WorkDone, true);
            }
            return true;
        };
        Held held(*workers_);
        for (;;) {
            ++idle_;
            while (!stopping_ && queue_.empty())
                workers_->Wait(WorkerThreads::WorkQueued);
            --idle_;
            if (queue_.empty())
                return;
            Slot* slot = queue_.front();
            queue_.pop_front();
            workers_->Unlock();
            current = slot;
            current->lastTold = milliseconds_ != nullptr ? milliseconds_() : 0;
            if (slot->file && WritesBehind(*slot->entry))
                slot->file = std::make_unique<WriteBehind>(std::move(slot->file), *this);
            RunSlot(source_, *slot, helpers_, input, output, progress);
            workers_->Lock();
            slot->done = true;
            workers_->Raise(WorkerThreads::WorkDone, true);
        }
    }

    Source& source_;
    WorkerThreads* workers_;
    unsigned threads_;
    DecoderHelpers helpers_;
    unsigned started_ = 0;  // changed by the calling thread only
    std::deque<Slot*> queue_;
    std::deque<HandedWrite> writes_;
    size_t idle_ = 0;
    bool stopping_ = false;
    std::atomic<bool> abandoned_ {false};  // the run unwinds: members under way end
    const std::atomic<bool>& stop_;
    uint64_t (*milliseconds_)();
};

WriteBehind::~WriteBehind()
{
    if (file_)
        Abandon();
}

Status WriteBehind::Hand()
{
    const Status status = pool_.Hand(*this, filling_, filled_);
    filling_ ^= 1;
    filled_ = 0;
    return status;
}

Status WriteBehind::Write(const uint8_t* data, size_t count)
{
    while (count > 0) {
        if (!buffers_[filling_])
            buffers_[filling_].reset(new uint8_t[kPiece]);
        const size_t piece = std::min(count, kPiece - filled_);
        std::memcpy(buffers_[filling_].get() + filled_, data, piece);
        filled_ += piece;
        data += piece;
        count -= piece;
        if (filled_ == kPiece) {
            const Status handed = Hand();
            if (handed != Status::Ok)
                return handed;
        }
    }
    return Status::Ok;
}

Status WriteBehind::Commit(const Entry& entry)
{
    if (filled_ > 0)
        Hand();
    // The first failed write, if any, stays the file's status.
    Status status = pool_.Settle(*this);
    if (status != Status::Ok)
        return status;
    status = file_->Commit(entry);
    if (status == Status::Ok)
        file_.reset();  // done: nothing to abandon any more
    return status;
}

void WriteBehind::Abandon()
{
    pool_.Settle(*this);
    if (file_) {
        file_->Abandon();
        file_.reset();
    }
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

unsigned CompressionFactor(uint64_t size, uint64_t compressedSize)
{
    if (size == 0 || compressedSize >= size)
        return 0;
    if (size < (1ull << 56))
        return static_cast<unsigned>(((size - compressedSize) * 100) / size);
    return static_cast<unsigned>((size - compressedSize) / (size / 100));  // no overflow for huge declared sizes
}

ExtractReport Extract(Source& source, Host& host, const ExtractOptions& options)
{
    ExtractReport report;
    Directory directory;
    Status read;
    try {
        read = ReadDirectory(source, directory);
    } catch (const std::bad_alloc&) {
        read = Status::OutOfMemory;
    }
    if (read != Status::Ok) {
        report.archiveStatus = read;
        if (options.quiet < 2)
            host.Print(std::string("error: ") + ErrorString(read) + "\n");
        return report;
    }
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

    // Service for the members that workers are writing, once per step of each and whenever the
    // worker tells that the interval has passed.
    auto serviceWorkers = [&]() {
        for (const std::unique_ptr<Slot>& slot : pending) {
            const uint64_t produced = slot->produced.load();
            const bool stepped = produced >= slot->serviced + kServiceStep;
            const bool due = slot->serviceDue.exchange(false);
            if (slot->decode && !stop.load() && (stepped || due)) {
                if (stepped)
                    slot->serviced = produced - produced % kServiceStep;
                if (host.Service(slot->shown, slot->entry->size))
                    stop = true;
            }
        }
    };
    // A member decoded on the calling thread asks Service itself, by step and by time alike.
    Slot* inlineSlot = nullptr;
    uint64_t inlineServiced = 0;
    const Progress inlineProgress = [&](uint64_t produced) {
        if (stop.load())
            return false;
        const uint64_t now = options.milliseconds != nullptr ? options.milliseconds() : 0;
        if (produced == 0)
            inlineServiced = now;  // the member starts
        const bool stepped = produced >= inlineSlot->serviced + kServiceStep;
        if (stepped || (options.milliseconds != nullptr && now - inlineServiced >= kServiceInterval)) {
            if (stepped)
                inlineSlot->serviced = produced - produced % kServiceStep;
            inlineServiced = now;
            if (host.Service(inlineSlot->shown, inlineSlot->entry->size))
                stop = true;
        }
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
        if (slot.counted)
            ++report.extracted;
        if (options.quiet == 0 && !slot.doneLine.empty())
            host.Print(slot.doneLine);
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
            if (span.status != Status::Ok) {
                refuse(span.status, ErrorString(span.status));
            } else if (entry.size > kLargestFile) {
                refuse(Status::Inconsistent, "declared size larger than any file");
            } else if (entry.IsEncrypted()) {
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
    return report;
}

}  // namespace unzip
