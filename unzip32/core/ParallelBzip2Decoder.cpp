#include "unzip32/core/ParallelBzip2Decoder.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>

namespace unzip {

namespace {

const uint64_t kBlockSignature = 0x314159265359ull;
const uint64_t kEndSignature = 0x177245385090ull;
const uint64_t kSignatureMask = 0xFFFFFFFFFFFFull;
// libbz2's tables for a 900 kB block (four bytes an entry, and its state).
const uint64_t kTables = 3700000;
// The compressed data of one block as its own stream: about 1 MB for data that does not compress.
const uint64_t kBlockStream = 1u << 20;
// The data read ahead of the cuts: a piece of the input and the open block.
const uint64_t kWindow = 2u << 20;
// Before each of libbz2's tables: its size, for keeping it when it is given back.
const size_t kTablesHeader = 16;

// For each byte value: which of the 16 signature placements (bit s for the block signature, bit
// 8 + s for the end signature, the signature starting s bits into byte p) have that value at byte
// p + 1, and at byte p + 2. Both bytes lie wholly inside either signature wherever it starts in
// byte p, so a position is looked at closely only when both agree. Made by the compiler: a table
// made at run time would need a guard, which the library's runtime does not link.
struct SignatureBytes {
    uint16_t second[256];
    uint16_t third[256];
};

constexpr SignatureBytes MakeSignatureBytes()
{
    SignatureBytes table {};
    for (unsigned s = 0; s < 8; ++s) {
        table.second[(kBlockSignature >> (32 + s)) & 0xFF] |= static_cast<uint16_t>(1u << s);
        table.third[(kBlockSignature >> (24 + s)) & 0xFF] |= static_cast<uint16_t>(1u << s);
        table.second[(kEndSignature >> (32 + s)) & 0xFF] |= static_cast<uint16_t>(1u << (8 + s));
        table.third[(kEndSignature >> (24 + s)) & 0xFF] |= static_cast<uint16_t>(1u << (8 + s));
    }
    return table;
}

constexpr SignatureBytes kSignatureBytes = MakeSignatureBytes();

// Writes bits into a zeroed buffer, most significant bit first.
class BitWriter {
public:
    BitWriter(uint8_t* bytes, size_t bit) : bytes_(bytes), bit_(bit) { }
    void Put(uint64_t value, unsigned count)
    {
        while (count > 0) {
            --count;
            if ((value >> count) & 1)
                bytes_[bit_ / 8] |= static_cast<uint8_t>(0x80u >> (bit_ % 8));
            ++bit_;
        }
    }
    size_t Bit() const { return bit_; }

private:
    uint8_t* bytes_;
    size_t bit_;
};

}  // namespace

ParallelBzip2Decoder::ParallelBzip2Decoder(
    MemberInput& input, WorkerThreads& threads, unsigned helpers, size_t largestBlock)
    : input_(input), threads_(threads), helpers_(helpers), largestBlock_(largestBlock)
{
    // Reserved: keeping a job or tables never allocates.
    spare_.reserve(helpers + 2);
    keptTables_.reserve(TablesLimit());
    keptBlocks_.reserve(helpers + 1);
}

ParallelBzip2Decoder::~ParallelBzip2Decoder()
{
    StopHelpers();
    if (againStarted_)
        BZ2_bzDecompressEnd(&again_);
    for (const auto& tables : keptTables_)
        std::free(tables.second);
}

// libbz2's allocation of its state and tables for a block's stream: one kept from an earlier block
// when one of that size is there. Those in use and those kept are never more than two for each
// thread (what they use at once): where a new one is needed, one kept of another size goes first.
void* ParallelBzip2Decoder::TakeTables(void* opaque, int items, int size)
{
    ParallelBzip2Decoder& decoder = *static_cast<ParallelBzip2Decoder*>(opaque);
    if (items <= 0 || size <= 0 || static_cast<uint64_t>(items) * static_cast<uint64_t>(size) > (1ull << 31))
        return nullptr;
    const size_t bytes = static_cast<size_t>(items) * static_cast<size_t>(size);
    std::vector<std::pair<size_t, void*>>& kept = decoder.keptTables_;
    void* dropped = nullptr;
    decoder.threads_.Lock();
    for (auto tables = kept.begin(); tables != kept.end(); ++tables) {
        if (tables->first == bytes) {
            void* block = tables->second;
            kept.erase(tables);
            ++decoder.tablesInUse_;
            decoder.threads_.Unlock();
            return static_cast<uint8_t*>(block) + kTablesHeader;
        }
    }
    if (!kept.empty() && decoder.tablesInUse_ + kept.size() >= decoder.TablesLimit()) {
        dropped = kept.front().second;
        kept.erase(kept.begin());
    }
    ++decoder.tablesInUse_;
    decoder.threads_.Unlock();
    std::free(dropped);
    void* block = std::malloc(bytes + kTablesHeader);
    if (block == nullptr) {
        decoder.threads_.Lock();
        --decoder.tablesInUse_;
        decoder.threads_.Unlock();
        return nullptr;
    }
    std::memcpy(block, &bytes, sizeof bytes);
    return static_cast<uint8_t*>(block) + kTablesHeader;
}

void ParallelBzip2Decoder::GiveTables(void* opaque, void* tables)
{
    if (tables == nullptr)
        return;
    ParallelBzip2Decoder& decoder = *static_cast<ParallelBzip2Decoder*>(opaque);
    void* block = static_cast<uint8_t*>(tables) - kTablesHeader;
    size_t bytes = 0;
    std::memcpy(&bytes, block, sizeof bytes);
    decoder.threads_.Lock();
    --decoder.tablesInUse_;
    const bool keep = decoder.keptTables_.size() < decoder.TablesLimit();
    if (keep)
        decoder.keptTables_.emplace_back(bytes, block);
    decoder.threads_.Unlock();
    if (!keep)
        std::free(block);
}

uint64_t ParallelBzip2Decoder::Memory(unsigned helpers)
{
    return (helpers + 1) * (kTables + Bzip2Block::kMemory) + (helpers + 2) * (kKeptOutput + kBlockStream) + kWindow;
}

unsigned ParallelBzip2Decoder::HelpersWithin(uint64_t memoryLimit, unsigned available)
{
    unsigned helpers = available;
    while (helpers > 0 && Memory(helpers) > memoryLimit)
        --helpers;
    return helpers;
}

// Appends the next piece of the member's data to the window; false at its end (or when it cannot
// be read: the input says so).
bool ParallelBzip2Decoder::ReadMore()
{
    if (inputEnded_)
        return false;
    if (input_.available == 0 && !input_.Fill()) {
        inputEnded_ = true;
        return false;
    }
    window_.insert(window_.end(), input_.next, input_.next + input_.available);
    input_.next += input_.available;
    input_.available = 0;
    return true;
}

bool ParallelBzip2Decoder::Available(size_t bytes)
{
    while (window_.size() < bytes)
        if (!ReadMore())
            return false;
    return true;
}

uint32_t ParallelBzip2Decoder::BitsAt(size_t bit, unsigned count) const
{
    uint32_t value = 0;
    for (unsigned i = 0; i < count; ++i, ++bit)
        value = (value << 1) | ((window_[bit / 8] >> (7 - bit % 8)) & 1);
    return value;
}

// The first block or end signature that starts at `fromBit` or later and within the largest block
// after it. False when there is none before that, or before the data ends.
bool ParallelBzip2Decoder::NextHit(size_t fromBit, size_t& hit, bool& endOfStream)
{
    const SignatureBytes& table = kSignatureBytes;
    const size_t lastByte = fromBit / 8 + largestBlock_;
    // Tells whether a signature starts in byte p (bytes past the data read as zeros).
    auto test = [&](size_t p, unsigned candidates) {
        uint64_t word = 0;
        for (size_t i = 0; i < 8; ++i)
            word = (word << 8) | (p + i < window_.size() ? window_[p + i] : 0);
        for (unsigned s = 0; s < 8; ++s) {
            const size_t bit = p * 8 + s;
            if (bit < fromBit || bit + 48 > window_.size() * 8)
                continue;
            const uint64_t bits = (word >> (16 - s)) & kSignatureMask;
            if (((candidates >> s) & 1) != 0 && bits == kBlockSignature) {
                hit = bit;
                endOfStream = false;
                return true;
            }
            if (((candidates >> (8 + s)) & 1) != 0 && bits == kEndSignature) {
                hit = bit;
                endOfStream = true;
                return true;
            }
        }
        return false;
    };
    size_t p = fromBit / 8;
    for (;;) {
        const uint8_t* bytes = window_.data();
        const size_t end = std::min(window_.size() >= 8 ? window_.size() - 7 : 0, lastByte + 1);
        for (; p < end; ++p) {
            const unsigned candidates = table.second[bytes[p + 1]] & table.third[bytes[p + 2]];
            if (candidates != 0 && test(p, candidates))
                return true;
        }
        if (p > lastByte || !ReadMore())
            break;
    }
    // The last bytes of the data.
    for (; p < window_.size() && p <= lastByte; ++p)
        if (test(p, 0xFFFF))
            return true;
    return false;
}

// A block from `fromBit` (its signature) to `toBit` as a stream of its own: the stream header,
// the block's bits from a byte boundary on, and the end signature with the block's CRC as the
// stream's combined CRC (which it is for a stream of one block).
void ParallelBzip2Decoder::MakeJob(size_t fromBit, size_t toBit, uint32_t blockCrc, std::unique_ptr<Job>& job)
{
    if (spare_.empty()) {
        job.reset(new Job);
    } else {
        job = std::move(spare_.back());
        spare_.pop_back();
        job->output.clear();
        job->whole = false;
        job->state = Job::Queued;
        job->handed = 0;
    }
    std::vector<uint8_t>& stream = job->stream;
    const size_t bits = toBit - fromBit;
    stream.assign(4 + (bits + 80 + 7) / 8, 0);
    stream[0] = 'B';
    stream[1] = 'Z';
    stream[2] = 'h';
    stream[3] = static_cast<uint8_t>(level_);
    const uint8_t* from = window_.data() + fromBit / 8;
    const unsigned shift = fromBit % 8;
    const size_t whole = bits / 8;
    uint8_t* to = stream.data() + 4;
    if (shift == 0) {
        std::memcpy(to, from, whole);
    } else {
        for (size_t i = 0; i < whole; ++i)
            to[i] = static_cast<uint8_t>((from[i] << shift) | (from[i + 1] >> (8 - shift)));
    }
    BitWriter writer(stream.data(), (4 + whole) * 8);
    writer.Put(BitsAt(fromBit + whole * 8, bits % 8), bits % 8);
    writer.Put(kEndSignature, 48);
    writer.Put(blockCrc, 32);
    stream.resize((writer.Bit() + 7) / 8);
}

// Cuts the next block from the data: true with the block in `job`, or with none once the data's
// streams have ended; false when the data does not cut as a bzip2 member should.
bool ParallelBzip2Decoder::Cut(std::unique_ptr<Job>& job)
{
    // What lies before the open block (or the next thing expected) is done with.
    const size_t drop = at_ / 8;
    if (drop > 0) {
        window_.erase(window_.begin(), window_.begin() + static_cast<std::ptrdiff_t>(drop));
        at_ -= drop * 8;
        scanFrom_ -= std::min(scanFrom_, drop * 8);
    }
    for (;;) {
        switch (stage_) {
        case Header: {
            const size_t byte = at_ / 8;
            if (!Available(byte + 4))
                return false;
            const uint8_t* header = window_.data() + byte;
            if (header[0] != 'B' || header[1] != 'Z' || header[2] != 'h' || header[3] < '1' || header[3] > '9')
                return false;
            level_ = static_cast<char>(header[3]);
            at_ += 32;
            scanFrom_ = at_;
            blockOpen_ = false;
            combinedCrc_ = 0;
            stage_ = Blocks;
            break;
        }
        case Blocks: {
            size_t hit = 0;
            bool endOfStream = false;
            if (!NextHit(scanFrom_, hit, endOfStream))
                return false;
            // A stream starts with a signature; a block is followed by the next, with its CRC.
            if ((!blockOpen_ && hit != at_) || !Available((hit + 80 + 7) / 8))
                return false;
            const uint32_t crc = BitsAt(hit + 48, 32);
            if (blockOpen_)
                MakeJob(at_, hit, BitsAt(at_ + 48, 32), job);
            if (endOfStream) {
                if (crc != combinedCrc_)
                    return false;
                at_ = (hit + 80 + 7) / 8 * 8;
                scanFrom_ = at_;
                blockOpen_ = false;
                stage_ = AfterStream;
            } else {
                combinedCrc_ = ((combinedCrc_ << 1) | (combinedCrc_ >> 31)) ^ crc;
                at_ = hit;
                scanFrom_ = hit + 80;
                blockOpen_ = true;
            }
            if (job)
                return true;
            break;
        }
        case AfterStream: {
            // Another stream follows when the data goes on with its signature; other bytes are
            // trailing bytes, as for the one-stream decoder.
            const size_t byte = at_ / 8;
            Available(byte + 3);
            if (input_.Failed())
                return false;
            if (window_.size() >= byte + 3 && std::memcmp(window_.data() + byte, "BZh", 3) == 0) {
                stage_ = Header;
                break;
            }
            stage_ = Ended;
            return true;
        }
        case Ended: return true;
        }
    }
}

ParallelBzip2Decoder::Job* ParallelBzip2Decoder::FirstQueued()
{
    for (const std::unique_ptr<Job>& job : jobs_)
        if (job->state == Job::Queued)
            return job.get();
    return nullptr;
}

void ParallelBzip2Decoder::Help(void* decoder)
{
    static_cast<ParallelBzip2Decoder*>(decoder)->Help();
}

// A helper thread: decodes the oldest block nobody has taken, until told to quit.
void ParallelBzip2Decoder::Help()
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

// With the lock held: decodes the oldest block nobody has taken (without the lock), or waits for
// the signal when there is none. The helpers wait for queued blocks, the decoder for decoded ones;
// every raise of these signals is a raise for all, so each waiter tests its own condition again.
void ParallelBzip2Decoder::DecodeNextOrWait(WorkerThreads::Signal signal)
{
    Job* job = FirstQueued();
    if (job == nullptr) {
        threads_.Wait(signal);
        return;
    }
    job->state = Job::Taken;
    threads_.Unlock();
    const Job::State state = DecodeJob(*job);
    threads_.Lock();
    job->state = state;
    threads_.Raise(WorkerThreads::BlockDone, true);
}

// Decodes one block (a job the calling thread has taken), keeping up to kKeptOutput bytes of its
// output. Decoded when its stream ended, its CRC checked.
ParallelBzip2Decoder::Job::State ParallelBzip2Decoder::DecodeJob(Job& job)
{
    if (DecodeFast(job))
        return Job::Decoded;
    bool decoded = false;
    bool whole = true;
    bz_stream stream {};
    stream.bzalloc = TakeTables;
    stream.bzfree = GiveTables;
    stream.opaque = this;
    if (BZ2_bzDecompressInit(&stream, 0, 0) == BZ_OK) {
        try {
            job.output.resize(kKeptOutput);
            std::vector<uint8_t> spill;
            stream.next_in = reinterpret_cast<char*>(job.stream.data());
            stream.avail_in = static_cast<unsigned>(job.stream.size());
            size_t kept = 0;
            while (!quit_.load()) {
                const bool keeping = kept < kKeptOutput;
                if (!keeping && spill.empty())
                    spill.resize(1u << 16);
                uint8_t* out = keeping ? job.output.data() + kept : spill.data();
                const size_t room = keeping ? kKeptOutput - kept : spill.size();
                stream.next_out = reinterpret_cast<char*>(out);
                stream.avail_out = static_cast<unsigned>(room);
                const int code = BZ2_bzDecompress(&stream);
                const size_t got = room - stream.avail_out;
                if (keeping)
                    kept += got;
                else if (got > 0)
                    whole = false;
                if (code == BZ_STREAM_END) {
                    decoded = stream.avail_in == 0;
                    break;
                }
                if (code != BZ_OK || (got == 0 && stream.avail_in == 0))
                    break;  // damaged, or the block ends before its stream does
            }
            job.output.resize(kept);
        } catch (const std::bad_alloc&) {
            decoded = false;
        }
        BZ2_bzDecompressEnd(&stream);
    }
    job.whole = whole;
    return decoded ? Job::Decoded : Job::Failed;
}

// Decodes the job's block with a Bzip2Block (one kept from an earlier block, or a new one): true
// when its whole output is in the job, checked.
bool ParallelBzip2Decoder::DecodeFast(Job& job)
{
    std::unique_ptr<Bzip2Block> block;
    threads_.Lock();
    if (!keptBlocks_.empty()) {
        block = std::move(keptBlocks_.back());
        keptBlocks_.pop_back();
    }
    threads_.Unlock();
    bool decoded = false;
    try {
        if (block == nullptr)
            block.reset(new Bzip2Block);
        job.output.resize(kKeptOutput);
        size_t produced = 0;
        decoded = block->Decode(job.stream.data(), job.stream.size(), job.output.data(), kKeptOutput, produced);
        job.output.resize(decoded ? produced : 0);
    } catch (const std::bad_alloc&) {
        decoded = false;
    }
    job.whole = decoded;
    if (block != nullptr) {
        threads_.Lock();
        keptBlocks_.push_back(std::move(block));  // reserved: never allocates
        threads_.Unlock();
    }
    return decoded;
}

// Starts the helpers with the first block (a thread that cannot be started is done without).
void ParallelBzip2Decoder::StartHelpers()
{
    helpersStarted_ = true;
    for (unsigned i = 0; i < helpers_; ++i) {
        threads_.Lock();
        ++running_;
        threads_.Unlock();
        if (!threads_.Start(&ParallelBzip2Decoder::Help, this)) {
            threads_.Lock();
            --running_;
            threads_.Unlock();
            return;
        }
    }
}

// Drops the oldest block once its output has been handed out, keeping its buffers.
void ParallelBzip2Decoder::PopFront()
{
    threads_.Lock();
    std::unique_ptr<Job> job = std::move(jobs_.front());
    jobs_.pop_front();
    threads_.Unlock();
    if (spare_.size() < helpers_ + 2)
        spare_.push_back(std::move(job));
}

void ParallelBzip2Decoder::StopHelpers()
{
    threads_.Lock();
    quit_ = true;
    threads_.Raise(WorkerThreads::BlockQueued, true);
    while (running_ > 0)
        threads_.Wait(WorkerThreads::BlockDone);
    jobs_.clear();
    threads_.Unlock();
}

Status ParallelBzip2Decoder::Decode(
    uint8_t* buffer, size_t capacity, const uint8_t*& data, size_t& size, bool& finished)
{
    if (redo_.Active())
        return Fallback(buffer, capacity, data, size, finished);
    data = buffer;
    size = 0;
    capacity = std::min<size_t>(capacity, UINT_MAX);
    for (;;) {
        if (againStarted_) {
            // A block whose output did not fit: checked already, decoded again as it is handed out.
            again_.next_out = reinterpret_cast<char*>(buffer);
            again_.avail_out = static_cast<unsigned>(capacity);
            const int code = BZ2_bzDecompress(&again_);
            size = capacity - again_.avail_out;
            if (code == BZ_STREAM_END) {
                BZ2_bzDecompressEnd(&again_);
                againStarted_ = false;
                PopFront();
            } else if (code != BZ_OK || size == 0) {
                unexpected_ = true;
                size = 0;
                return Fallback(buffer, capacity, data, size, finished);
            }
            if (size > 0) {
                handed_ += size;
                return Status::Ok;
            }
            continue;
        }

        // Keep the helpers busy: as many blocks cut as there are threads, and one more.
        while (!unexpected_ && stage_ != Ended && jobs_.size() < helpers_ + 2) {
            std::unique_ptr<Job> job;
            if (!Cut(job)) {
                unexpected_ = true;
                break;
            }
            if (!job)
                break;
            threads_.Lock();
            jobs_.push_back(std::move(job));
            threads_.Raise(WorkerThreads::BlockQueued, true);
            threads_.Unlock();
            if (!helpersStarted_)
                StartHelpers();
        }
        if (jobs_.empty()) {
            if (unexpected_)
                return Fallback(buffer, capacity, data, size, finished);
            finished = true;
            return Status::Ok;
        }

        // Until the oldest block is decoded, this thread decodes the oldest one nobody has taken.
        Job& front = *jobs_.front();
        threads_.Lock();
        while (front.state == Job::Queued || front.state == Job::Taken)
            DecodeNextOrWait(WorkerThreads::BlockDone);
        const bool failed = front.state == Job::Failed;
        threads_.Unlock();
        if (failed) {
            unexpected_ = true;
            return Fallback(buffer, capacity, data, size, finished);
        }
        if (!front.whole && front.handed == 0) {
            again_ = bz_stream();
            if (BZ2_bzDecompressInit(&again_, 0, 0) != BZ_OK)
                return Status::OutOfMemory;
            againStarted_ = true;
            again_.next_in = reinterpret_cast<char*>(front.stream.data());
            again_.avail_in = static_cast<unsigned>(front.stream.size());
            continue;
        }
        const size_t left = front.output.size() - front.handed;
        if (left == 0) {
            PopFront();
            continue;
        }
        size = std::min(left, capacity);
        data = front.output.data() + front.handed;
        front.handed += size;
        handed_ += size;
        return Status::Ok;
    }
}

// The one-stream decoder from the start of the data, skipping what was handed out already.
Status ParallelBzip2Decoder::Fallback(
    uint8_t* buffer, size_t capacity, const uint8_t*& data, size_t& size, bool& finished)
{
    if (!redo_.Active()) {
        StopHelpers();
        if (againStarted_) {
            BZ2_bzDecompressEnd(&again_);
            againStarted_ = false;
        }
        MemberInput& again = redo_.Restart(input_);
        const Status started = redo_.Start(new Bzip2Decoder(again), handed_);
        if (started != Status::Ok)
            return started;
    }
    return redo_.Decode(buffer, capacity, data, size, finished, detail_);
}

}  // namespace unzip
