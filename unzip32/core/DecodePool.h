#pragma once
#include "unzip32/core/Decoder.h"
#include "unzip32/core/Decryption.h"
#include "unzip32/core/Extractor.h"
#include "unzip32/core/WholeMember.h"
#include "unzip32/core/WorkerThreads.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace unzip {

// When the host's Service is due for a member being decoded: each time its output passes a
// further kServiceStep bytes and, with a clock, once kServiceInterval has gone by since the
// member started or Service was last due. Kept by one thread.
class ServiceSchedule {
public:
    explicit ServiceSchedule(uint64_t (*milliseconds)() = nullptr) : milliseconds_(milliseconds) { }
    struct Due {
        bool stepped = false;
        bool timed = false;
    };
    // The member starts: the steps and the interval count from here.
    void Start();
    // After a piece of output, `produced` bytes in all: why Service is due, if it is.
    Due Check(uint64_t produced);

private:
    uint64_t (*milliseconds_)();
    uint64_t step_ = 0;  // the output at the last step passed
    uint64_t told_ = 0;  // when Service was last due (milliseconds)
};

// One member on its way through the run: either settled when it was examined (listed, skipped,
// a folder made), or a file to decode. Slots are reported strictly in directory order.
struct Slot {
    std::string shown;
    Status status = Status::Ok;
    std::string detail;    // for a problem: what went wrong
    std::string doneLine;  // for success: the line to print (may be empty)
    bool counted = false;  // success that counts as an extracted member
    std::string renamedLine;  // for success: the line telling the new name of a renamed file (else empty)
    bool keptBoth = false;    // renamed because the name was in the target before the run, not taken in it

    // Decoding work (only for files).
    const Entry* entry = nullptr;
    uint64_t dataStart = 0;
    uint64_t dataLength = 0;
    uint64_t memoryLimit = kDecoderMemoryLimit;  // for the decoder's dictionary, window or model
    std::unique_ptr<Decryption> decryption;      // for an encrypted member: its keys, checked already
    std::unique_ptr<OutputFile> file;
    bool decode = false;
    bool done = true;

    // Bytes produced so far, published by the worker that decodes it; the calling thread asks
    // Service again for each further kServiceStep of them, and after each kServiceInterval of
    // decoding that the worker reports.
    std::atomic<uint64_t> produced {0};
    std::atomic<bool> serviceDue {false};
    ServiceSchedule serviced;  // calling thread only, by step
};

// Decodes one file slot: streams the data, then commits or abandons the output.
void RunSlot(Source& source, Slot& slot, const DecoderHelpers& helpers, std::vector<uint8_t>& input,
    std::vector<uint8_t>& output, const Progress& progress);

class WriteBehind;

// Worker threads that decode file slots while the calling thread examines the next members and
// reports finished ones: the caller's callbacks are only ever made on the calling thread. Each
// worker owns its buffers, so memory is bounded by the worker count, not by the archive. The
// calling thread also writes the output handed to it by WriteBehind, whenever it waits.
class DecodePool {
public:
    DecodePool(Source& source, unsigned threads, WorkerThreads* workers, const DecoderHelpers& helpers,
        const std::atomic<bool>& stop, uint64_t (*milliseconds)());
    // The pool owns its stop. At the end of a run nothing is left; when the run unwinds (an
    // exception on the calling thread), slots not begun are dropped, the members under way stop at
    // their next piece, and the output they handed is dropped unwritten: a worker waiting for it to
    // be written would otherwise wait for ever, as nobody writes it any more.
    ~DecodePool();

    // False when no thread could be started: the caller then decodes the slot itself.
    bool Submit(Slot* slot);

    // Waits for the slot, writing handed output meanwhile; each time a worker tells of progress,
    // `progressed` runs without the lock.
    void WaitFor(Slot* slot, const std::function<void()>& progressed);

    // Writes what was handed so far, without waiting for more.
    void WriteHanded();

    bool IsDone(Slot* slot);

    // On the worker, for WriteBehind: queues the buffer for the calling thread, then waits until
    // the other one is free again.
    Status Hand(WriteBehind& file, int buffer, size_t size);
    // On the worker: waits until everything handed for the file is written.
    Status Settle(WriteBehind& file);

private:
    struct HandedWrite {
        WriteBehind* file;
        int buffer;
        size_t size;
    };

    // A member whose decoding takes long enough for its writes to run beside it, worth the copy
    // into the write-behind buffers (a stored member's copy is its writing).
    static bool WritesBehind(const Entry& entry);

    // With the lock held: writes the oldest handed buffer (without the lock). False when none is.
    bool WriteOne();

    static void Work(void* pool);
    void Work();

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

}  // namespace unzip
