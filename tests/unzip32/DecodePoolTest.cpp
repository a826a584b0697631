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
#include <utility>

namespace {

using unzip::Slot;
using unzip::Status;

// Standard threads that count what the pool asks of them; Start can be refused.
class CountedThreads : public unzip::StdWorkerThreads {
public:
    bool Start(void (*run)(void*), void* context) override
    {
        started += refuse ? 0 : 1;
        return !refuse && StdWorkerThreads::Start(run, context);
    }
    void JoinAll() override
    {
        ++joins;
        StdWorkerThreads::JoinAll();
    }
    bool refuse = false;
    int started = 0;
    int joins = 0;
};

// The archive's members as slots ready to decode into the host, in directory order.
struct Members {
    Members(std::string archive, unzip::MemoryHost& host)
        : bytes(std::move(archive)), source(bytes.data(), bytes.size())
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
    std::string bytes;
    unzip::MemorySource source;
    unzip::Directory directory;
    std::deque<Slot> slots;
};

// Members large and small, one of them damaged and one written behind its decoding: each comes back
// with its own result and output, on no more threads than asked, all of them ended with the pool.
TEST(DecodePool, QueuedMembersAreAllDecodedAndEveryWorkerEnds)
{
    ziptest::Member behind {"behind.bin", ziptest::Text(17u << 20)};
    behind.rawPacked = ziptest::Deflate(behind.data, 1);
    ziptest::Archive archive;
    archive.members.push_back(behind);
    for (int i = 0; i < 5; ++i)
        archive.members.push_back({"m" + std::to_string(i), ziptest::Text(300000, static_cast<uint32_t>(i))});
    archive.members[3].declaredCrc = 7;
    unzip::MemoryHost host;
    Members members(archive.Build(), host);
    CountedThreads threads;
    {
        std::atomic<bool> stop {false};
        unzip::DecodePool pool(members.source, 2, &threads, unzip::DecoderHelpers(), stop, nullptr);
        for (Slot& slot : members.slots)
            ASSERT_TRUE(pool.Submit(&slot));
        for (Slot& slot : members.slots)
            pool.WaitFor(&slot, [] {});
    }
    EXPECT_LE(threads.started, 2);
    EXPECT_EQ(1, threads.joins);
    for (size_t i = 0; i < members.slots.size(); ++i)
        EXPECT_EQ(i == 3 ? Status::CrcMismatch : Status::Ok, members.slots[i].status) << i;
    EXPECT_TRUE(behind.data == host.files["behind.bin"]) << "written behind in order";
    EXPECT_EQ(ziptest::Text(300000, 4), host.files["m4"]);
    EXPECT_EQ(0u, host.files.count("m2")) << "the damaged member's file is abandoned";

    // No thread at all: the caller is told to decode the member itself.
    threads.refuse = true;
    std::atomic<bool> stop {false};
    unzip::DecodePool refused(members.source, 2, &threads, unzip::DecoderHelpers(), stop, nullptr);
    EXPECT_FALSE(refused.Submit(&members.slots[1]));
}

// A caller that throws while a member is written behind, with output handed and not written (its
// worker waits for the caller to write it) and members queued: the pool's end still ends every worker.
TEST(DecodePool, ACallerThatThrowsWhileWaiting_EndsEveryWorker)
{
    ziptest::Archive archive;
    archive.AddZeros("behind.bin", 24u << 20);
    for (int i = 0; i < 4; ++i)
        archive.AddZeros("later" + std::to_string(i), 1u << 20);
    unzip::MemoryHost host;
    Members members(archive.Build(), host);
    CountedThreads threads;
    try {
        std::atomic<bool> stop {false};
        unzip::DecodePool pool(members.source, 1, &threads, unzip::DecoderHelpers(), stop, nullptr);
        for (Slot& slot : members.slots)
            ASSERT_TRUE(pool.Submit(&slot));
        pool.WaitFor(&members.slots.front(), [] {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));  // more output is handed meanwhile
            throw std::runtime_error("stop");
        });
        ADD_FAILURE() << "the member was decoded before the caller heard of its progress";
    } catch (const std::runtime_error&) {
    }
    EXPECT_EQ(1, threads.joins);
    EXPECT_TRUE(host.files.empty()) << "the member under way is abandoned, the queued ones never begin";
}

}  // namespace
