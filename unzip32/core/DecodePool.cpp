#include "unzip32/core/DecodePool.h"

#include "unzip32/core/MemberInput.h"
#include "unzip32/core/WholeMember.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace unzip {

namespace {

// Read and write in large pieces: under Wine every file-system call is expensive.
const size_t kInputChunk = 1 << 20;
const size_t kOutputChunk = 1 << 20;

// The least room in a file's buffer that output is decoded into (less goes through `output`).
const size_t kLeastRoom = 64u << 10;

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
    // A file written behind sums the output on the thread that writes it.
    const bool summed = out != nullptr && out->SumsCrc();
    uint64_t produced = 0;
    bool finished = false;
    while (!finished) {
        // Decoded straight into the file's own buffer where it offers enough of one.
        uint8_t* buffer = output.data();
        size_t capacity = output.size();
        size_t offered = 0;
        uint8_t* const offer = out != nullptr ? out->Room(offered) : nullptr;
        if (offer != nullptr && offered >= kLeastRoom) {
            buffer = offer;
            capacity = offered;
        }
        // Never ask for more than the member may still produce (plus one byte to notice excess).
        const uint64_t remaining = entry.size - produced;
        const size_t room = remaining < capacity ? static_cast<size_t>(remaining) + 1 : capacity;
        const uint8_t* piece = buffer;
        size_t got = 0;
        const Status decoded = decoder->Decode(buffer, room, piece, got, finished);
        if (decoded != Status::Ok) {
            detail = decoder->Detail();
            return decoded;
        }
        if (got > remaining)
            return Status::SizeMismatch;
        if (got == 0 && !finished)
            return Status::Internal;  // a decoder that neither produces nor ends
        if (!summed)
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
    return summed ? out->Crc(crc) : Status::Ok;
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
        // Deflated members of known sizes in one call.
        bool taken = false;
        const Status whole =
            DecodeWholeDeflated(source, entry, dataStart, length, memoryLimit, out, input, output, progress, taken);
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

// Members of at least this size that a worker decodes have their output written behind.
const uint64_t kWriteBehindFrom = 16u << 20;

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

}  // namespace

void ServiceSchedule::Start()
{
    step_ = 0;
    told_ = milliseconds_ != nullptr ? milliseconds_() : 0;
}

ServiceSchedule::Due ServiceSchedule::Check(uint64_t produced)
{
    Due due;
    const uint64_t now = milliseconds_ != nullptr ? milliseconds_() : 0;
    due.stepped = produced >= step_ + kServiceStep;
    due.timed = milliseconds_ != nullptr && now - told_ >= kServiceInterval;
    if (due.stepped)
        step_ = produced - produced % kServiceStep;
    if (due.stepped || due.timed)
        told_ = now;
    return due;
}

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

// Output of a large member that a worker decodes, written behind its decoding: the worker fills
// one buffer while the calling thread writes the one before, so that the decoding and Wine's
// costly writes share the two cores instead of taking turns on one. Errors of a write come back
// at the next Write or at Commit.
class WriteBehind : public OutputFile {
public:
    WriteBehind(std::unique_ptr<OutputFile> file, DecodePool& pool) : file_(std::move(file)), pool_(pool) { }
    ~WriteBehind() override;
    Status Write(const uint8_t* data, size_t count) override;
    uint8_t* Room(size_t& capacity) override;
    bool SumsCrc() const override { return true; }
    Status Crc(uint32_t& crc) override;
    Status Commit(const Entry& entry) override;
    void Abandon() override;

    // Each buffer holds this much output; two per member under way. Larger buffers cost more than
    // the fewer writes save: 4 MiB ones made one 100 MB Zstandard member take 0.25 s instead of
    // 0.15 s under Wine (pages taken afresh, and output that has left the cache before it is
    // written); 256 KiB ones were no faster than 1 MiB.
    static const size_t kPiece = 1u << 20;

private:
    friend class DecodePool;
    Status Hand();
    Status Flush();

    std::unique_ptr<OutputFile> file_;
    DecodePool& pool_;
    std::unique_ptr<uint8_t[]> buffers_[2];
    int filling_ = 0;  // the buffer the worker fills
    size_t filled_ = 0;
    // Guarded by the pool's lock:
    int queued_ = 0;              // buffers handed and not yet written (at most 2)
    Status status_ = Status::Ok;  // the first write that failed
    // Of the buffers written, in their order; only the writing thread touches it until Settle.
    uint32_t crc_ = 0;
};

DecodePool::DecodePool(Source& source, unsigned threads, WorkerThreads* workers, const DecoderHelpers& helpers,
    const std::atomic<bool>& stop, uint64_t (*milliseconds)())
    : source_(source),
      workers_(workers),
      threads_(workers != nullptr ? threads : 0),
      helpers_(helpers),
      stop_(stop),
      milliseconds_(milliseconds)
{
}

DecodePool::~DecodePool()
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

bool DecodePool::Submit(Slot* slot)
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

void DecodePool::WaitFor(Slot* slot, const std::function<void()>& progressed)
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

void DecodePool::WriteHanded()
{
    if (started_ == 0)
        return;
    Held held(*workers_);
    while (WriteOne()) { }
}

bool DecodePool::IsDone(Slot* slot)
{
    if (started_ == 0)
        return slot->done;
    Held held(*workers_);
    return slot->done;
}

Status DecodePool::Hand(WriteBehind& file, int buffer, size_t size)
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

Status DecodePool::Settle(WriteBehind& file)
{
    Held held(*workers_);
    while (file.queued_ > 0)
        workers_->Wait(WorkerThreads::Written);
    return file.status_;
}

bool DecodePool::WritesBehind(const Entry& entry)
{
    return entry.size >= kWriteBehindFrom && entry.actualMethod != 0;
}

bool DecodePool::WriteOne()
{
    if (writes_.empty())
        return false;
    const HandedWrite write = writes_.front();
    writes_.pop_front();
    WriteBehind& file = *write.file;
    Status written = Status::Ok;
    if (file.status_ == Status::Ok) {
        Released released(*workers_);
        const uint8_t* const data = file.buffers_[write.buffer].get();
        file.crc_ = Crc32(file.crc_, data, write.size);  // while the buffer is on its way into the cache anyway
        try {
            written = file.file_->Write(data, write.size);
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

void DecodePool::Work(void* pool)
{
    static_cast<DecodePool*>(pool)->Work();
}

void DecodePool::Work()
{
    std::vector<uint8_t> input;
    std::vector<uint8_t> output;
    Slot* current = nullptr;
    ServiceSchedule schedule(milliseconds_);
    // Publishes the progress and wakes the calling thread whenever Service is due, which asks it.
    const Progress progress = [&](uint64_t produced) {
        if (stop_.load() || abandoned_.load())
            return false;
        current->produced.store(produced);
        const ServiceSchedule::Due due = schedule.Check(produced);
        if (due.stepped || due.timed) {
            if (due.timed)
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
        schedule.Start();
        if (slot->file && WritesBehind(*slot->entry))
            slot->file = std::make_unique<WriteBehind>(std::move(slot->file), *this);
        RunSlot(source_, *slot, helpers_, input, output, progress);
        workers_->Lock();
        slot->done = true;
        workers_->Raise(WorkerThreads::WorkDone, true);
    }
}

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

// The rest of the buffer being filled (the one before may still be being written).
uint8_t* WriteBehind::Room(size_t& capacity)
{
    if (!buffers_[filling_])
        buffers_[filling_].reset(new uint8_t[kPiece]);
    capacity = kPiece - filled_;
    return buffers_[filling_].get() + filled_;
}

Status WriteBehind::Write(const uint8_t* data, size_t count)
{
    if (buffers_[filling_] && data == buffers_[filling_].get() + filled_ && count <= kPiece - filled_) {
        // Decoded in place, into Room.
        filled_ += count;
        return filled_ == kPiece ? Hand() : Status::Ok;
    }
    while (count > 0) {
        if (!buffers_[filling_])
            buffers_[filling_].reset(new uint8_t[kPiece]);
        const size_t piece = std::min(count, kPiece - filled_);
        std::memmove(buffers_[filling_].get() + filled_, data, piece);  // may lie in Room
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

// Hands what is left and waits until everything handed is written: the first failed write, if
// any, stays the file's status.
Status WriteBehind::Flush()
{
    if (filled_ > 0)
        Hand();
    return pool_.Settle(*this);
}

Status WriteBehind::Crc(uint32_t& crc)
{
    const Status status = Flush();
    crc = crc_;
    return status;
}

Status WriteBehind::Commit(const Entry& entry)
{
    Status status = Flush();
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

}  // namespace unzip
