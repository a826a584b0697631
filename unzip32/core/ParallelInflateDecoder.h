#pragma once
#include "unzip32/core/BlockInflater.h"
#include "unzip32/core/Decoder.h"
#include "unzip32/core/WorkerThreads.h"

#include <atomic>
#include <deque>
#include <memory>
#include <vector>

namespace unzip {

// Methods 8 and 9 (deflate, Deflate64) on several cores. The member's data is cut into chunks at
// byte offsets. A helper thread looks for the first place in its chunk where a block may start,
// decodes from there with the window in front not yet known (its bytes stand in as markers) up to
// the first block start at or past the next chunk's offset, and tries the next place when the data
// turns out not to decode. The decoding thread takes the chunks in order: where a chunk's decoding
// started exactly where the one before ended, it is the stream's own, and its markers are resolved
// from the output before it; otherwise (a block start found by chance, a chunk with no start found,
// more output than a chunk may keep) the decoding thread decodes that chunk itself from where the
// one before ended. Anything this decoder does not take as valid data goes on with the one-stream
// decoder from the member's start, the bytes already handed out skipped, so the outcome is always
// exactly that of the one-stream decoder.
class ParallelInflateDecoder : public Decoder {
public:
    // The memory a helper's output of one chunk may take (items of the part with markers, then
    // bytes); a chunk that gives more is decoded again by the decoding thread. Chunks are cut to
    // give about kChunkOutput bytes each.
    static constexpr size_t kKeptOutput = 3u << 20;
    static constexpr size_t kChunkOutput = 1u << 20;

    // `threads` starts the helper threads (`helpers` of them). `chunk` fixes the chunks' size in
    // bytes of compressed data (0: from the compression ratio seen so far).
    ParallelInflateDecoder(const Entry& entry, MemberInput& input, bool deflate64, WorkerThreads& threads,
        unsigned helpers, size_t chunk = 0);
    ~ParallelInflateDecoder() override;
    Status Decode(uint8_t* buffer, size_t capacity, const uint8_t*& data, size_t& size, bool& finished) override;
    uint64_t StreamEnd() const override { return redo_.Active() ? redo_.StreamEnd() : (pos_ + 7) / 8; }

    // The output handed out from chunks the helpers decoded (for tests and measurements).
    uint64_t HelpedOutput() const { return helped_; }

    // The memory it takes with `helpers` helper threads at most.
    static uint64_t Memory(unsigned helpers);
    // The most helpers that fit `memoryLimit`, out of `available`.
    static unsigned HelpersWithin(uint64_t memoryLimit, unsigned available);

private:
    // A buffer that grows without clearing what it adds, and keeps what it holds; reused from chunk
    // to chunk.
    struct Room {
        std::unique_ptr<uint8_t[]> bytes;
        size_t size = 0;
        uint8_t* Get() const { return bytes.get(); }
        void Ensure(size_t need);
    };

    struct Job {
        enum State { Queued, Taken, Decoded, Failed };
        uint64_t from = 0;  // the chunk's compressed bytes [from, to) in the member's data
        uint64_t to = 0;
        Room data;          // from `from`, with some of the data after `to`, padded
        size_t dataSize = 0;
        bool dataEnded = false;  // holds the rest of the member's data
        State state = Queued;
        bool own = false;  // the decoding thread's, from where the stream stands
        // Its decoding: where it started and ended (bit positions in the member's data), and its
        // output: items with markers (16- or 32-bit, after the window's markers), then from
        // `bytesAt` bytes (after a copy of the window), in one buffer.
        uint64_t startBit = 0;
        uint64_t endBit = 0;
        bool streamEnded = false;
        Room output;
        size_t itemCount = 0;
        size_t bytesAt = 0;
        size_t byteCount = 0;
        size_t handed = 0;  // output handed out so far
    };

    static uint64_t ReadAhead(unsigned helpers);

    // Cutting and reading.
    bool ReadMore();
    void Append(const uint8_t* bytes, size_t count);
    void DropBefore(uint64_t offset);
    void PopFront();
    bool CutNext();

    // The helpers' side.
    Job* FirstQueued();  // with the lock held
    static void Help(void* decoder);
    void Help();
    void DecodeNextOrWait(WorkerThreads::Signal signal);  // with the lock held
    Job::State DecodeJob(Job& job);
    template <typename T>
    BlockInflater::Result DecodeFrom(Job& job, BlockInflater& inflater, uint64_t bit);
    void StartHelpers();
    void StopHelpers();

    // The decoding thread's side.
    bool Usable(const Job& job) const;
    void StartOwn(uint64_t stopByte);
    Status StepOwn(uint8_t* buffer, size_t capacity, const uint8_t*& data, size_t& size);
    template <typename T>
    void Resolve(const Job& job, uint8_t* to, size_t from, size_t count) const;
    void Handed(const uint8_t* data, size_t size);
    void ChunkDone(uint64_t endBit, bool streamEnded);
    Status Fallback(uint8_t* buffer, size_t capacity, const uint8_t*& data, size_t& size, bool& finished);

    const Entry& entry_;
    MemberInput& input_;
    bool deflate64_;
    size_t window_;  // 32 or 64 KiB
    WorkerThreads& threads_;
    unsigned helpers_;
    size_t fixedChunk_;
    unsigned ownEvery_;  // with few helpers, every this many chunks one is this thread's (0: none)

    // The member's data read so far and not yet dropped: bytes [base_, base_ + dataSize_), padded.
    std::vector<uint8_t> data_;
    size_t dataSize_ = 0;
    uint64_t base_ = 0;
    bool inputEnded_ = false;
    uint64_t nextCut_ = 0;
    bool cutEnded_ = false;
    uint64_t cut_ = 0;          // chunks cut so far
    unsigned helperJobs_ = 0;   // of them, the helpers' ones not yet done with

    // Shared with the helpers, under the threads' lock.
    std::deque<std::unique_ptr<Job>> jobs_;
    std::vector<std::unique_ptr<Job>> spare_;  // done with, their buffers kept (this thread only)
    bool helpersStarted_ = false;
    unsigned running_ = 0;
    std::atomic<bool> quit_ {false};

    // Where the stream stands: the bit where the next chunk starts, and the output so far.
    uint64_t pos_ = 0;
    bool streamEnded_ = false;
    uint64_t handed_ = 0;
    uint64_t helped_ = 0;
    std::vector<uint8_t> last_;      // the last `window_` bytes handed out (all of them while fewer)
    std::vector<uint8_t> resolve_;   // the byte each item of the chunk being handed out stands for
    bool handing_ = false;           // the front job is being handed out

    // A chunk decoded by this thread itself.
    BlockInflater own_;
    bool ownActive_ = false;
    uint64_t ownStop_ = 0;  // bit (in the member's data)
    std::vector<uint8_t> ownBuffer_;
    size_t ownPos_ = 0;
    size_t ownHanded_ = 0;
    size_t ownFloor_ = 0;
    bool ownDone_ = false;

    // After anything unexpected: the one-stream decoder from the start, skipping what was handed out.
    DecoderRedo redo_;
};

}  // namespace unzip
