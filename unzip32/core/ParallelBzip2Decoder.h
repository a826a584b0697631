#pragma once
#include "unzip32/core/Bzip2Block.h"
#include "unzip32/core/Bzip2Decoder.h"
#include "unzip32/core/WorkerThreads.h"

#include <bzlib.h>

#include <atomic>
#include <deque>
#include <memory>
#include <utility>
#include <vector>

namespace unzip {

// Method 12 on several cores. A bzip2 block does not depend on the blocks before it, so the
// member's data is cut at the block signatures (found bit by bit), each block is made a stream of
// its own and decoded on the helper threads or on the decoding thread itself, and the output is
// handed out in order. A block is decoded by Bzip2Block, and by libbz2 where that one leaves it
// (a damaged, randomised or very long block). A block's output is handed out only once its CRC
// is checked, and each stream's combined CRC is checked against its blocks'. A signature can also occur
// by chance inside a block's data; a cut there fails to decode. On that, or on anything else this
// reader does not expect (a truncated or damaged stream), the member goes on with the one-stream
// decoder from its start, the bytes already handed out skipped, so the outcome is exactly that of
// the one-stream decoder.
class ParallelBzip2Decoder : public Decoder {
public:
    // The output of one block that is kept to be handed out later; a block that gives more (long
    // runs of one byte) is checked whole, then decoded again while it is handed out.
    static const size_t kKeptOutput = 3u << 19;
    // Compressed data longer than this between two signatures is no block (a block of 900 kB
    // takes at most about 2.3 MB even when it does not compress).
    static const size_t kLargestBlock = 4u << 20;

    // `threads` starts the helper threads (`helpers` of them); `largestBlock` is for tests.
    ParallelBzip2Decoder(
        MemberInput& input, WorkerThreads& threads, unsigned helpers, size_t largestBlock = kLargestBlock);
    ~ParallelBzip2Decoder() override;
    Status Decode(uint8_t* buffer, size_t capacity, const uint8_t*& data, size_t& size, bool& finished) override;

    // The memory it takes with `helpers` helper threads: libbz2's tables for each thread, and the
    // blocks under way.
    static uint64_t Memory(unsigned helpers);
    // The most helpers that fit `memoryLimit`, out of `available`.
    static unsigned HelpersWithin(uint64_t memoryLimit, unsigned available);

private:
    struct Job {
        enum State { Queued, Taken, Decoded, Failed };
        std::vector<uint8_t> stream;  // the block as a stream of its own
        std::vector<uint8_t> output;  // its output, up to kKeptOutput bytes
        bool whole = false;           // the output holds all of the block's output
        State state = Queued;
        size_t handed = 0;  // output handed out so far
    };

    // Cutting the member's data into blocks.
    bool ReadMore();
    bool Available(size_t bytes);
    bool NextHit(size_t fromBit, size_t& hit, bool& endOfStream);
    uint32_t BitsAt(size_t bit, unsigned count) const;
    bool Cut(std::unique_ptr<Job>& job);
    void MakeJob(size_t fromBit, size_t toBit, uint32_t blockCrc, std::unique_ptr<Job>& job);

    // Decoding.
    Job* FirstQueued();  // with the lock held
    static void Help(void* decoder);
    void Help();
    void DecodeNextOrWait(WorkerThreads::Signal signal);  // with the lock held
    Job::State DecodeJob(Job& job);
    bool DecodeFast(Job& job);
    static void* TakeTables(void* decoder, int items, int size);
    static void GiveTables(void* decoder, void* tables);
    void StartHelpers();
    void PopFront();
    void StopHelpers();
    Status Fallback(uint8_t* buffer, size_t capacity, const uint8_t*& data, size_t& size, bool& finished);

    MemberInput& input_;
    WorkerThreads& threads_;
    unsigned helpers_;
    size_t largestBlock_;

    // The data not yet cut (bit positions count from its first byte).
    std::vector<uint8_t> window_;
    bool inputEnded_ = false;
    enum Stage { Header, Blocks, AfterStream, Ended } stage_ = Header;
    size_t at_ = 0;  // Header, AfterStream: the byte where it starts; Blocks: the open block's bit
    bool blockOpen_ = false;
    size_t scanFrom_ = 0;  // bit from which the next signature is looked for
    char level_ = '9';
    uint32_t combinedCrc_ = 0;
    bool unexpected_ = false;  // the data does not cut as expected

    // Blocks handed out, their buffers kept for blocks to come (this thread only).
    std::vector<std::unique_ptr<Job>> spare_;

    // Shared with the helpers, under the threads' lock.
    std::deque<std::unique_ptr<Job>> jobs_;
    // libbz2's tables given back by the blocks decoded, for the next blocks: taken afresh for every
    // block, memory costs its page faults every time. At most what the threads use at once.
    std::vector<std::pair<size_t, void*>> keptTables_;
    size_t tablesInUse_ = 0;
    size_t TablesLimit() const { return 2 * (helpers_ + 1); }  // a state and tables for each thread
    // The fast block decoders not in use, one for each thread at most.
    std::vector<std::unique_ptr<Bzip2Block>> keptBlocks_;
    bool helpersStarted_ = false;
    unsigned running_ = 0;            // helpers started and not yet ended
    std::atomic<bool> quit_ {false};  // also read by a decoding thread without the lock

    // The output of a block that did not fit kKeptOutput, decoded again as it is handed out.
    bz_stream again_ {};
    bool againStarted_ = false;

    uint64_t handed_ = 0;  // bytes handed out
    // After anything unexpected: the one-stream decoder from the start, skipping what was handed out.
    DecoderRedo redo_;
};

}  // namespace unzip
