#include "unzip32/dll/Win32Threads.h"

#include <gtest/gtest.h>

namespace {

using unzip::WorkerThreads;

const unsigned kTurns = 20000;

// Three threads take turns, each waiting on one signal for its own turn (a kind of its own), and
// whoever ends a turn wakes all. A thread that starts to wait just after a raise must not take the
// wake of one waiting at that moment, which would sleep through its turn while the others wait for
// it. Turns that stop passing for seconds are such a lost wake: the threads are then told to quit.
TEST(Win32WorkerThreads, RaiseForAllReachesEveryWaiterOfEveryKind)
{
    struct Table {
        unzip::Win32WorkerThreads threads;
        unsigned turn = 0, turns = 0;
        bool quit = false;
    } table;
    struct Seat {
        Table* table;
        unsigned number;
    } seats[] = {{&table, 0}, {&table, 1}, {&table, 2}};
    for (Seat& seat : seats)
        EXPECT_TRUE(table.threads.Start(
            [](void* context) {
                const Seat& seat = *static_cast<Seat*>(context);
                Table& t = *seat.table;
                t.threads.Lock();
                while (!t.quit && t.turns < kTurns) {
                    if (t.turn != seat.number) {
                        t.threads.Wait(WorkerThreads::BlockDone);
                        continue;
                    }
                    t.turn = (t.turn + 1) % 3;
                    ++t.turns;
                    t.threads.Raise(WorkerThreads::BlockDone, true);
                }
                t.threads.Unlock();
            },
            &seat));
    unsigned seen = 0;
    DWORD since = ::GetTickCount();
    for (bool stalled = false; !stalled && seen < kTurns;) {
        ::Sleep(20);
        table.threads.Lock();
        stalled = table.turns == seen && ::GetTickCount() - since > 5000;
        table.quit = stalled;
        if (stalled)
            table.threads.Raise(WorkerThreads::BlockDone, true);
        if (table.turns != seen) {
            seen = table.turns;
            since = ::GetTickCount();
        }
        table.threads.Unlock();
    }
    table.threads.JoinAll();
    EXPECT_EQ(kTurns, seen) << "no turn passed after turn " << seen;
}

}  // namespace
