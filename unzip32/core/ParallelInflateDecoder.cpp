#include "unzip32/core/ParallelInflateDecoder.h"

#include "unzip32/core/StreamInflateDecoder.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace unzip {

namespace {

using Result = BlockInflater::Result;

const size_t kPadding = BlockInflater::kPadding;
const size_t kSlack = BlockInflater::kSlack;
// Data after a chunk's end that its helper gets with it, for the block that runs over the end.
const size_t kOverlap = 256u << 10;
// The bits searched for a block start between two looks at whether to quit.
const uint64_t kScanSpan = 1u << 16;
// Chunk sizes (compressed) when they follow the compression ratio.
const size_t kSmallestChunk = 64u << 10;
const size_t kLargestChunk = 1u << 20;
const size_t kFirstChunk = 256u << 10;
// The output the decoding thread decodes at a time into its own buffer.
const size_t kOwnPiece = 1u << 20;
// The least room for bytes that makes it worth switching a chunk's output from items to bytes.
const size_t kLeastBytes = 256u << 10;

}  // namespace

ParallelInflateDecoder::ParallelInflateDecoder(const Entry& entry, MemberInput& input, bool deflate64,
    WorkerThreads& threads, unsigned helpers, size_t chunk)
    : entry_(entry),
      input_(input),
      deflate64_(deflate64),
      window_(deflate64 ? 64u << 10 : 32u << 10),
      threads_(threads),
      helpers_(helpers),
      fixedChunk_(chunk),
      ownEvery_(helpers >= 1 && helpers <= 2 ? helpers + 1 : 0),
      own_(deflate64)
{
    // In one block from the start: grown by doubling, it would copy into memory taken afresh at
    // every step.
    data_.reserve(static_cast<size_t>(ReadAhead(helpers)) + kPadding);
}

ParallelInflateDecoder::~ParallelInflateDecoder()
{
    StopHelpers();
}

// The data read ahead for the helpers' chunks under way and for this thread's chunks between them.
uint64_t ParallelInflateDecoder::ReadAhead(unsigned helpers)
{
    const uint64_t chunks = helpers + 2;
    const uint64_t own = helpers >= 1 && helpers <= 2 ? chunks / helpers + 1 : 1;
    return (chunks + own) * kLargestChunk + kOverlap;
}

uint64_t ParallelInflateDecoder::Memory(unsigned helpers)
{
    // The helpers' chunks under way (output, and their data), the data read ahead, this thread's
    // buffer.
    const uint64_t chunks = helpers + 2;
    return chunks * (kKeptOutput + kLargestChunk + kOverlap) + ReadAhead(helpers) + 2 * kOwnPiece;
}

unsigned ParallelInflateDecoder::HelpersWithin(uint64_t memoryLimit, unsigned available)
{
    unsigned helpers = available;
    while (helpers > 0 && Memory(helpers) > memoryLimit)
        --helpers;
    return helpers;
}

// Appends the next piece of the member's data; false at its end (or when it cannot be read: the
// input says so).
bool ParallelInflateDecoder::ReadMore()
{
    if (inputEnded_)
        return false;
    if (input_.available == 0 && !input_.Fill()) {
        inputEnded_ = true;
        return false;
    }
    Append(input_.next, input_.available);
    input_.next += input_.available;
    input_.available = 0;
    return true;
}

void ParallelInflateDecoder::Append(const uint8_t* bytes, size_t count)
{
    data_.resize(dataSize_ + count + kPadding);
    std::memcpy(data_.data() + dataSize_, bytes, count);
    dataSize_ += count;
    std::memset(data_.data() + dataSize_, 0, kPadding);
}

void ParallelInflateDecoder::Room::Ensure(size_t need)
{
    if (need <= size)
        return;
    std::unique_ptr<uint8_t[]> grown(new uint8_t[need]);
    if (size > 0)
        std::memcpy(grown.get(), bytes.get(), size);
    bytes = std::move(grown);
    size = need;
}

// Drops the data before `offset`, once that is at least half of what is kept (moving the rest
// down less often).
void ParallelInflateDecoder::DropBefore(uint64_t offset)
{
    if (offset <= base_ || offset - base_ < dataSize_ / 2)
        return;
    const size_t drop = static_cast<size_t>(std::min<uint64_t>(offset - base_, dataSize_));
    data_.erase(data_.begin(), data_.begin() + static_cast<std::ptrdiff_t>(drop));
    dataSize_ -= drop;
    base_ += drop;
}

// Cuts the next chunk and queues it; false once the data has been cut to its end.
bool ParallelInflateDecoder::CutNext()
{
    if (cutEnded_)
        return false;
    size_t chunk = fixedChunk_;
    if (chunk == 0) {
        chunk = kFirstChunk;
        const uint64_t read = pos_ / 8;
        if (handed_ > 0 && read > 0) {
            const double ratio = static_cast<double>(handed_) / static_cast<double>(read);
            chunk = static_cast<size_t>(std::min<double>(kLargestChunk, std::max<double>(kSmallestChunk, kChunkOutput / ratio)));
        }
    }
    while (!inputEnded_ && base_ + dataSize_ < nextCut_ + chunk + kOverlap)
        ReadMore();
    const uint64_t end = base_ + dataSize_;
    if (nextCut_ >= end) {
        cutEnded_ = true;
        return false;
    }
    // The first chunk is this thread's: it is where the stream starts. With one or two helpers, so
    // is every chunk after theirs: this thread decodes it as bytes, with its window known once the
    // chunks before are handed out, which costs less than decoding with markers and resolving them.
    // With more helpers, resolving their chunks keeps this thread busy enough. Its job holds no
    // buffers.
    const bool own = nextCut_ == 0 || (ownEvery_ > 0 && cut_ % ownEvery_ == 0);
    ++cut_;
    std::unique_ptr<Job> job;
    if (own || spare_.empty()) {
        job.reset(new Job);
    } else {
        job = std::move(spare_.back());
        spare_.pop_back();
        job->state = Job::Queued;
        job->itemCount = job->byteCount = job->bytesAt = job->handed = 0;
    }
    job->from = nextCut_;
    job->to = std::min<uint64_t>(nextCut_ + chunk, end);
    job->own = own;
    if (own) {
        job->state = Job::Failed;
    } else {
        ++helperJobs_;
        const uint64_t copyEnd = std::min<uint64_t>(job->to + kOverlap, end);
        job->dataSize = static_cast<size_t>(copyEnd - job->from);
        job->data.Ensure(std::max<size_t>(job->dataSize, kLargestChunk + kOverlap) + kPadding);  // once
        std::memcpy(job->data.Get(), data_.data() + (job->from - base_), job->dataSize);
        std::memset(job->data.Get() + job->dataSize, 0, kPadding);
        job->dataEnded = inputEnded_ && copyEnd == end;
    }
    nextCut_ = job->to;
    if (inputEnded_ && nextCut_ == end)
        cutEnded_ = true;
    const bool queued = job->state == Job::Queued;
    threads_.Lock();
    jobs_.push_back(std::move(job));
    threads_.Raise(WorkerThreads::BlockQueued, true);
    threads_.Unlock();
    if (queued && !helpersStarted_)
        StartHelpers();
    return true;
}

ParallelInflateDecoder::Job* ParallelInflateDecoder::FirstQueued()
{
    for (const std::unique_ptr<Job>& job : jobs_)
        if (job->state == Job::Queued)
            return job.get();
    return nullptr;
}

void ParallelInflateDecoder::Help(void* decoder)
{
    static_cast<ParallelInflateDecoder*>(decoder)->Help();
}

// A helper thread: decodes the oldest chunk nobody has taken, until told to quit.
void ParallelInflateDecoder::Help()
{
    // The decoder may be gone as soon as the lock is given up for the last time.
    WorkerThreads& threads = threads_;
    threads.Lock();
    while (!quit_.load())
        DecodeNextOrWait(WorkerThreads::BlockQueued);
    --running_;
    threads.Raise(WorkerThreads::BlockDone, true);
    threads.Unlock();
}

// With the lock held: decodes the oldest chunk nobody has taken (without the lock), or waits for
// the signal when there is none.
void ParallelInflateDecoder::DecodeNextOrWait(WorkerThreads::Signal signal)
{
    Job* job = FirstQueued();
    if (job == nullptr) {
        threads_.Wait(signal);
        return;
    }
    job->state = Job::Taken;
    threads_.Unlock();
    Job::State state = Job::Failed;
    try {
        state = DecodeJob(*job);
    } catch (const std::bad_alloc&) {
        state = Job::Failed;
    }
    threads_.Lock();
    job->state = state;
    threads_.Raise(WorkerThreads::BlockDone, true);
}

// Looks for the first place in the chunk from which the data decodes up to the first block start
// at or past the chunk's end (or the stream's end).
ParallelInflateDecoder::Job::State ParallelInflateDecoder::DecodeJob(Job& job)
{
    std::unique_ptr<BlockInflater> inflater(new BlockInflater(deflate64_));
    const uint64_t end = (job.to - job.from) * 8;
    uint64_t bit = 0;
    while (bit < end) {
        if (quit_.load())
            return Job::Failed;
        const uint64_t spanEnd = std::min(end, bit + kScanSpan);
        bit = BlockInflater::NextBlockStart(job.data.Get(), bit, spanEnd, deflate64_);
        if (bit == spanEnd)
            continue;
        const Result result = deflate64_ ? DecodeFrom<uint32_t>(job, *inflater, bit)
                                         : DecodeFrom<uint16_t>(job, *inflater, bit);
        if (result == Result::Boundary || result == Result::End) {
            job.startBit = job.from * 8 + bit;
            job.endBit = job.from * 8 + inflater->Bit();
            job.streamEnded = result == Result::End;
            return Job::Decoded;
        }
        // Data that does not decode from here: no block starts here. Anything else (more output
        // than a chunk keeps, a block running past the data it got, quitting) ends the search.
        if (result != Result::Bad)
            return Job::Failed;
        ++bit;
    }
    return Job::Failed;
}

// Decodes the chunk from `bit` with the window's bytes as markers; once the last window's worth of
// output holds none, the rest is decoded as bytes.
template <typename T>
Result ParallelInflateDecoder::DecodeFrom(Job& job, BlockInflater& inflater, uint64_t bit)
{
    const size_t window = window_;
    const uint64_t stopBit = (job.to - job.from) * 8;
    const uint8_t* data = job.data.Get();
    inflater.Reset(bit);
    // The room for items, and once they end, for bytes: all a chunk may keep, taken once. Grown
    // step by step, each step would copy into memory taken afresh and pay its page faults again.
    job.output.Ensure(kKeptOutput);
    const size_t capacity = kKeptOutput / sizeof(T) - window - kSlack;
    T* items = reinterpret_cast<T*>(job.output.Get());
    for (size_t i = 0; i < window; ++i)
        items[i] = static_cast<T>(256 + i);
    size_t pos = window;
    bool bytes = false;
    size_t bytesAt = 0;
    size_t bytePos = window;
    size_t byteCapacity = 0;
    for (;;) {
        const Result result = bytes
            ? inflater.Run<uint8_t>(data, job.dataSize, job.dataEnded, job.output.Get() + bytesAt, bytePos,
                  window + byteCapacity, 0, stopBit, true)
            : inflater.Run<T>(data, job.dataSize, job.dataEnded, items, pos, window + capacity, 0, stopBit, true);
        switch (result) {
        case Result::BlockEnd:
            if (quit_.load())
                return Result::Starved;
            if (!bytes && pos >= 2 * window && pos * sizeof(T) + 8 + window + kSlack + kLeastBytes <= kKeptOutput &&
                std::all_of(items + pos - window, items + pos, [](T item) { return item < 256; })) {
                bytes = true;
                bytesAt = (pos * sizeof(T) + 7) / 8 * 8;
                byteCapacity = kKeptOutput - bytesAt - window - kSlack;
                std::copy(items + pos - window, items + pos, job.output.Get() + bytesAt);
            }
            break;
        case Result::Boundary:
        case Result::End:
            job.itemCount = pos - window;
            job.bytesAt = bytesAt;
            job.byteCount = bytes ? bytePos - window : 0;
            return result;
        default: return result;
        }
    }
}

// Starts the helpers with the first queued chunk (a thread that cannot be started is done without).
void ParallelInflateDecoder::StartHelpers()
{
    helpersStarted_ = true;
    for (unsigned i = 0; i < helpers_; ++i) {
        threads_.Lock();
        ++running_;
        threads_.Unlock();
        if (!threads_.Start(&ParallelInflateDecoder::Help, this)) {
            threads_.Lock();
            --running_;
            threads_.Unlock();
            return;
        }
    }
}

void ParallelInflateDecoder::StopHelpers()
{
    threads_.Lock();
    quit_ = true;
    threads_.Raise(WorkerThreads::BlockQueued, true);
    while (running_ > 0)
        threads_.Wait(WorkerThreads::BlockDone);
    jobs_.clear();
    threads_.Unlock();
}

// A chunk decoded from exactly where the stream stands is the stream's own. Its markers need the
// window in front of it whole.
bool ParallelInflateDecoder::Usable(const Job& job) const
{
    return job.state == Job::Decoded && job.startBit == pos_ && handed_ >= window_;
}

// This thread decodes the next chunk itself, from where the stream stands up to the first block
// start at or past `stopByte`, with the output before it as the window.
void ParallelInflateDecoder::StartOwn(uint64_t stopByte)
{
    const size_t window = window_;
    ownStop_ = stopByte * 8;
    own_.Reset(pos_ - base_ * 8);
    ownBuffer_.resize(window + kOwnPiece + kSlack);
    std::copy(last_.begin(), last_.end(), ownBuffer_.begin() + static_cast<std::ptrdiff_t>(window - last_.size()));
    ownFloor_ = window - last_.size();
    ownPos_ = window;
    ownHanded_ = window;
    ownDone_ = false;
    ownActive_ = true;
}

// The next piece of this thread's own chunk (`size` 0 once the chunk is done), or DataError for
// data it does not take as valid.
Status ParallelInflateDecoder::StepOwn(uint8_t* buffer, size_t capacity, const uint8_t*& data, size_t& size)
{
    (void)buffer;
    const size_t window = window_;
    bool streamEnded = false;
    for (;;) {
        if (ownHanded_ < ownPos_) {
            size = std::min(capacity, ownPos_ - ownHanded_);
            data = ownBuffer_.data() + ownHanded_;
            ownHanded_ += size;
            Handed(data, size);
            return Status::Ok;
        }
        if (ownDone_) {
            ownActive_ = false;
            size = 0;
            return Status::Ok;
        }
        const size_t limit = window + kOwnPiece;
        if (ownPos_ == limit) {
            std::memmove(ownBuffer_.data(), ownBuffer_.data() + ownPos_ - window, window);
            ownFloor_ -= std::min(ownFloor_, ownPos_ - window);
            ownPos_ = window;
            ownHanded_ = window;
        }
        const Result result = own_.Run<uint8_t>(data_.data(), dataSize_, inputEnded_, ownBuffer_.data(), ownPos_,
            limit, ownFloor_, ownStop_ - base_ * 8, false);
        switch (result) {
        case Result::Full: break;
        case Result::Starved: {
            // A block that runs on past the chunks cut so far: chunks are cut from here on, and the
            // data behind is dropped, so that a long block does not pile up.
            const uint64_t at = base_ + own_.Bit() / 8;
            nextCut_ = std::max(nextCut_, at);
            const uint64_t before = base_;
            DropBefore(std::min(at, nextCut_));
            own_.Rebase(static_cast<size_t>(base_ - before));
            ReadMore();
            break;
        }
        case Result::End: streamEnded = true; /* fall through */
        case Result::Boundary:
            ownDone_ = true;
            // Where the stream stands once the output before this point is handed out.
            pos_ = base_ * 8 + own_.Bit();
            streamEnded_ = streamEnded;
            break;
        default: return Status::DataError;
        }
    }
}

template <typename T>
void ParallelInflateDecoder::Resolve(const Job& job, uint8_t* to, size_t from, size_t count) const
{
    const T* items = reinterpret_cast<const T*>(job.output.Get()) + window_ + from;
    const uint8_t* values = resolve_.data();
    for (size_t i = 0; i < count; ++i)
        to[i] = values[items[i]];
}

// Keeps the last window's worth of output.
void ParallelInflateDecoder::Handed(const uint8_t* data, size_t size)
{
    handed_ += size;
    if (size >= window_) {
        last_.assign(data + size - window_, data + size);
        return;
    }
    const size_t over = last_.size() + size > window_ ? last_.size() + size - window_ : 0;
    last_.erase(last_.begin(), last_.begin() + static_cast<std::ptrdiff_t>(over));
    last_.insert(last_.end(), data, data + size);
}

// Drops the oldest chunk, keeping its buffers for a chunk to come.
void ParallelInflateDecoder::PopFront()
{
    threads_.Lock();
    std::unique_ptr<Job> job = std::move(jobs_.front());
    jobs_.pop_front();
    threads_.Unlock();
    if (!job->own) {
        --helperJobs_;
        spare_.push_back(std::move(job));
    }
}

void ParallelInflateDecoder::ChunkDone(uint64_t endBit, bool streamEnded)
{
    pos_ = endBit;
    streamEnded_ = streamEnded;
    DropBefore(std::min<uint64_t>(pos_ / 8, nextCut_));
}

Status ParallelInflateDecoder::Decode(
    uint8_t* buffer, size_t capacity, const uint8_t*& data, size_t& size, bool& finished)
{
    if (redo_.Active())
        return Fallback(buffer, capacity, data, size, finished);
    data = buffer;
    size = 0;
    for (;;) {
        if (ownActive_) {
            const Status stepped = StepOwn(buffer, capacity, data, size);
            if (stepped != Status::Ok)
                return Fallback(buffer, capacity, data, size, finished);
            if (size > 0)
                return Status::Ok;
            ChunkDone(pos_, streamEnded_);
            continue;
        }
        if (handing_) {
            Job& job = *jobs_.front();
            if (job.handed < job.itemCount + job.byteCount) {
                if (job.handed < job.itemCount) {
                    size = std::min(capacity, job.itemCount - job.handed);
                    if (deflate64_)
                        Resolve<uint32_t>(job, buffer, job.handed, size);
                    else
                        Resolve<uint16_t>(job, buffer, job.handed, size);
                    data = buffer;
                } else {
                    const size_t at = job.handed - job.itemCount;
                    size = std::min(capacity, job.byteCount - at);
                    data = job.output.Get() + job.bytesAt + window_ + at;
                }
                job.handed += size;
                helped_ += size;
                Handed(data, size);
                return Status::Ok;
            }
            handing_ = false;
            ChunkDone(job.endBit, job.streamEnded);
            PopFront();
            continue;
        }
        if (streamEnded_) {
            StopHelpers();
            finished = true;
            return Status::Ok;
        }
        // Keep the helpers busy: as many of their chunks cut as there are threads, and one more.
        while (helperJobs_ < helpers_ + 2 && CutNext()) { }
        if (jobs_.empty())
            return Fallback(buffer, capacity, data, size, finished);  // the data ends before the stream

        // Until the oldest chunk is done, this thread decodes the oldest one nobody has taken.
        Job& front = *jobs_.front();
        threads_.Lock();
        while (front.state == Job::Queued || front.state == Job::Taken)
            DecodeNextOrWait(WorkerThreads::BlockDone);
        threads_.Unlock();
        const bool skipped = pos_ >= front.to * 8;  // a block ran over all of the chunk
        if (!skipped && Usable(front)) {
            // What each item stands for: a byte, or a byte of the window.
            resolve_.resize(256 + window_);
            for (size_t i = 0; i < 256; ++i)
                resolve_[i] = static_cast<uint8_t>(i);
            std::copy(last_.begin(), last_.end(), resolve_.begin() + 256);
            handing_ = true;
            continue;
        }
        const uint64_t stop = front.to;
        PopFront();
        if (!skipped)
            StartOwn(stop);
    }
}

// The one-stream decoder from the start of the data, skipping what was handed out already.
Status ParallelInflateDecoder::Fallback(
    uint8_t* buffer, size_t capacity, const uint8_t*& data, size_t& size, bool& finished)
{
    if (!redo_.Active()) {
        StopHelpers();
        handing_ = false;
        ownActive_ = false;
        std::vector<uint8_t>().swap(data_);
        const Status started = RedoInflate(redo_, entry_, input_, deflate64_, handed_);
        if (started != Status::Ok)
            return started;
    }
    return redo_.Decode(buffer, capacity, data, size, finished, detail_);
}

}  // namespace unzip
