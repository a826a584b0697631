#include "unzip32/core/DecodePool.h"

#include "tests/support/ZipBuilder.h"
#include "unzip32/core/MemberLocation.h"
#include "unzip32/core/MemoryHost.h"
#include "unzip32/core/StdWorkerThreads.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <stdexcept>
#include <string>
#include <thread>

namespace {

using unzip::Slot;
using unzip::Status;

// Standard threads that count what the pool asks of them.
class CountedThreads : public unzip::StdWorkerThreads {
public:
    bool Start(void (*run)(void*), void* context) override
    {
        ++started;
        return StdWorkerThreads::Start(run, context);
    }
    void JoinAll() override
    {
        ++joins;
        StdWorkerThreads::JoinAll();
    }
    int started = 0;
    int joins = 0;
};

// The archive's members as slots ready to decode into the host, in directory order, and a pool for them.
struct Members {
    Members(const std::string& bytes, unzip::MemoryHost& host) : source(bytes.data(), bytes.size())
    {
        EXPECT_EQ(Status::Ok, unzip::ReadDirectory(source, directory));
        const unzip::RecordLimits limits(directory);
        for (const unzip::Entry& entry : directory.entries) {
            const unzip::DataSpan span = unzip::LocateData(source, entry, limits);
            slots.emplace_back();
            Slot& slot = slots.back();
            slot.entry = &entry;
            slot.dataStart = span.start;
            slot.dataLength = span.length;
            slot.decode = true;
            EXPECT_EQ(Status::Ok, host.CreateOutput({entry.name}, entry, slot.file));
        }
    }
    unzip::DecodePool Pool(unsigned count, CountedThreads& threads)
    {
        return unzip::DecodePool(source, count, &threads, unzip::DecoderHelpers(), stop, nullptr);
    }
    unzip::MemorySource source;
    unzip::Directory directory;
    std::deque<Slot> slots;
    std::atomic<bool> stop {false};
};

// Members large and small, two of them damaged and three written behind their decoding (one decoded
// in one piece and copied, two streamed straight into the buffers being written): each comes back
// with its own result and output, on no more threads than asked, every one of them joined. A caller
// that throws while output is handed and not written (its worker waits for the caller to write it)
// and members are queued still ends every worker.
TEST(DecodePool, MembersComeBackWithTheirResults_EveryWorkerEnds)
{
    ziptest::Member behind {"behind.bin", ziptest::Text(17u << 20)};
    behind.rawPacked = ziptest::Deflate(behind.data, 1);
    ziptest::Archive archive;
    archive.members.push_back(behind);
    ziptest::Member streamed = behind;
    streamed.name = "streamed.bin";
    archive.members.push_back(streamed);
    for (int i = 0; i < 5; ++i)
        archive.members.push_back({"m" + std::to_string(i), ziptest::Text(300000, static_cast<uint32_t>(i))});
    archive.members[4].declaredCrc = 7;
    ziptest::Member wrongSum = streamed;  // its CRC-32 is summed as its buffers are written
    wrongSum.name = "wrong-sum.bin";
    wrongSum.declaredCrc = 7;
    archive.members.push_back(wrongSum);
    const std::string bytes = archive.Build();

    unzip::MemoryHost host;
    Members members(bytes, host);
    members.slots[1].memoryLimit = 16u << 20;  // too little to decode it in one piece
    members.slots[7].memoryLimit = 16u << 20;
    CountedThreads threads;
    {
        unzip::DecodePool pool = members.Pool(2, threads);
        for (Slot& slot : members.slots)
            ASSERT_TRUE(pool.Submit(&slot));
        for (Slot& slot : members.slots)
            pool.WaitFor(&slot, [] {});
    }
    EXPECT_LE(threads.started, 2);
    EXPECT_EQ(1, threads.joins);
    for (size_t i = 0; i < members.slots.size(); ++i)
        EXPECT_EQ(i == 4 || i == 7 ? Status::CrcMismatch : Status::Ok, members.slots[i].status) << i;
    EXPECT_TRUE(behind.data == host.files["behind.bin"]) << "written behind in order";
    EXPECT_TRUE(behind.data == host.files["streamed.bin"]) << "decoded into the buffers written behind";
    EXPECT_EQ(0u, host.files.count("m2")) << "the damaged member's file is abandoned";
    EXPECT_EQ(0u, host.files.count("wrong-sum.bin"));

    unzip::MemoryHost unwound;
    Members again(bytes, unwound);
    CountedThreads one;
    try {
        unzip::DecodePool pool = again.Pool(1, one);
        for (Slot& slot : again.slots)
            ASSERT_TRUE(pool.Submit(&slot));
        pool.WaitFor(&again.slots.front(), [] {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));  // more output is handed meanwhile
            throw std::runtime_error("stop");
        });
    } catch (const std::runtime_error&) {
    }
    EXPECT_EQ(1, one.joins);
    EXPECT_TRUE(unwound.files.empty()) << "the member under way is abandoned, the queued ones never begin";
}

}  // namespace
