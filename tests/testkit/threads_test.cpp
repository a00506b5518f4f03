// testkit::Thread runs its body on a thread of its own and waits for it
// when joined or when the owner goes; googletest's notification holds every
// thread started on it until it is given, and none after.
#include <gtest/gtest.h>

#include "testkit.h"

namespace {

using testkit::Thread;

LONG read(LONG& value)
{
    return InterlockedCompareExchange(&value, 0, 0);
}

TEST(TestkitThread, RunsTheBodyElsewhereAndJoinWaitsForIt)
{
    HANDLE go = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(go, nullptr);
    DWORD ran_on = 0;
    LONG done = 0;
    Thread thread([&] {
        WaitForSingleObject(go, INFINITE);
        ran_on = GetCurrentThreadId();
        Sleep(50);
        InterlockedExchange(&done, 1);
    });
    Sleep(50);
    EXPECT_EQ(read(done), 0);
    SetEvent(go);
    thread.join();
    EXPECT_EQ(read(done), 1);
    EXPECT_NE(ran_on, 0u);
    EXPECT_NE(ran_on, GetCurrentThreadId());
    thread.join();  // once joined, a second join has nothing to wait for
    CloseHandle(go);
}

TEST(TestkitThread, OwnerGoingWaitsForTheBody)
{
    LONG done = 0;
    {
        Thread thread([&] {
            Sleep(100);
            InterlockedExchange(&done, 1);
        });
    }
    EXPECT_EQ(read(done), 1);
}

void raise(LONG* flag)
{
    InterlockedExchange(flag, 1);
}

// A notification that released only one waiter, or none, leaves a thread
// waiting, and the test ends at CTest's time limit.
TEST(GoogletestNotification, HoldsEveryThreadUntilGivenThenNone)
{
    using testing::internal::Notification;
    using testing::internal::ThreadWithParam;
    LONG first = 0, second = 0;
    Notification start;
    ThreadWithParam<LONG*> a(&raise, &first, &start);
    ThreadWithParam<LONG*> b(&raise, &second, &start);
    Sleep(100);
    EXPECT_EQ(read(first), 0);
    EXPECT_EQ(read(second), 0);
    start.Notify();
    a.Join();
    b.Join();
    EXPECT_EQ(read(first), 1);
    EXPECT_EQ(read(second), 1);

    LONG late = 0;
    ThreadWithParam<LONG*> c(&raise, &late, &start);
    c.Join();
    EXPECT_EQ(read(late), 1);
}

}  // namespace
