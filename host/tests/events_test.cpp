#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "host/host.h"

namespace sipline {
namespace {

using namespace std::chrono_literals;

struct Event {
    HANDLE h;
    explicit Event(bool initial = false, const char *name = nullptr)
        : h(CreateEvent(initial, name)) {}
    ~Event() { CloseHandle(h); }
};

// Starts `n` threads that each wait on `handles` and record the result; returns once all are
// inside the wait, which the caller cannot observe directly, so it gives them time to get there.
struct Waiters {
    std::vector<std::thread> threads;
    std::vector<std::atomic<uint32_t>> results;
    std::atomic<int> started{0};
    Waiters(int n, std::vector<HANDLE> handles, uint32_t limit) : results(n) {
        for (auto &r : results)
            r = 12345;
        for (int i = 0; i < n; i++) {
            threads.emplace_back([this, i, handles, limit] {
                started++;
                results[i] = WaitForMultipleObjects(static_cast<uint32_t>(handles.size()),
                                                    handles.data(), false, limit);
            });
        }
        while (started < n)
            std::this_thread::yield();
        std::this_thread::sleep_for(50ms);
    }
    void join() {
        for (auto &t : threads)
            t.join();
    }
};

TEST(Events, SetStaysSignalledUntilReset) {
    Event e;
    EXPECT_EQ(WaitForSingleObject(e.h, 0), WAIT_TIMEOUT);
    ASSERT_TRUE(SetEvent(e.h));
    EXPECT_EQ(WaitForSingleObject(e.h, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(e.h, 0), WAIT_OBJECT_0) << "manual reset: a wait must not clear";
    ASSERT_TRUE(ResetEvent(e.h));
    EXPECT_EQ(WaitForSingleObject(e.h, 0), WAIT_TIMEOUT);
}

TEST(Events, InitiallySignalled) {
    Event e(true);
    EXPECT_EQ(WaitForSingleObject(e.h, 0), WAIT_OBJECT_0);
}

TEST(Events, TimedWaitTimesOutAfterItsLimit) {
    Event e;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(WaitForSingleObject(e.h, 100), WAIT_TIMEOUT);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 100ms);
}

TEST(Events, PulseWakesEveryCurrentWaiterAndLeavesEventUnsignalled) {
    Event e;
    Waiters w(3, {e.h}, INFINITE);
    ASSERT_TRUE(PulseEvent(e.h));
    w.join();
    for (auto &r : w.results)
        EXPECT_EQ(r, WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(e.h, 0), WAIT_TIMEOUT) << "a pulse must not be stored";
}

TEST(Events, PulseWithoutWaitersIsLost) {
    Event e;
    ASSERT_TRUE(PulseEvent(e.h));
    EXPECT_EQ(WaitForSingleObject(e.h, 50), WAIT_TIMEOUT);
}

TEST(Events, PulseOfSignalledEventResetsIt) {
    Event e(true);
    ASSERT_TRUE(PulseEvent(e.h));
    EXPECT_EQ(WaitForSingleObject(e.h, 0), WAIT_TIMEOUT);
}

TEST(Events, PulseDoesNotWakeWaitersOfLaterWaits) {
    Event e;
    {
        Waiters first(1, {e.h}, INFINITE);
        PulseEvent(e.h);
        first.join();
    }
    Waiters late(1, {e.h}, 200);
    late.join();
    EXPECT_EQ(late.results[0], WAIT_TIMEOUT);
}

TEST(Events, NamedEventsAreSharedByName) {
    Event created(false, "dxxxB1C3TUVOEvent-test");
    HANDLE opened = OpenEvent("dxxxB1C3TUVOEvent-test");
    ASSERT_NE(opened, nullptr);
    SetEvent(created.h);
    EXPECT_EQ(WaitForSingleObject(opened, 0), WAIT_OBJECT_0);
    HANDLE again = CreateEvent(false, "dxxxB1C3TUVOEvent-test");
    EXPECT_EQ(again, created.h) << "creating an existing name opens it";
    EXPECT_EQ(WaitForSingleObject(again, 0), WAIT_OBJECT_0) << "state kept on reopen";
    CloseHandle(again);
    CloseHandle(opened);
    EXPECT_EQ(OpenEvent("no-such-event"), nullptr);
}

TEST(Events, NameIsForgottenWhenLastHandleCloses) {
    HANDLE e = CreateEvent(false, "short-lived");
    CloseHandle(e);
    EXPECT_EQ(OpenEvent("short-lived"), nullptr);
}

TEST(WaitForSeveral, ReportsLowestSignalledIndex) {
    Event a, b, c;
    HANDLE list[] = {a.h, b.h, c.h};
    SetEvent(c.h);
    EXPECT_EQ(WaitForMultipleObjects(3, list, false, 0), WAIT_OBJECT_0 + 2);
    SetEvent(b.h);
    EXPECT_EQ(WaitForMultipleObjects(3, list, false, 0), WAIT_OBJECT_0 + 1);
}

TEST(WaitForSeveral, PulseOfSecondHandleWakesWithItsIndex) {
    Event stream, shutdown;
    Waiters w(2, {stream.h, shutdown.h}, INFINITE);
    PulseEvent(shutdown.h);
    w.join();
    for (auto &r : w.results)
        EXPECT_EQ(r, WAIT_OBJECT_0 + 1);
}

TEST(WaitForSeveral, TimesOutWhenNoneSignalled) {
    Event a, b;
    HANDLE list[] = {a.h, b.h};
    EXPECT_EQ(WaitForMultipleObjects(2, list, false, 30), WAIT_TIMEOUT);
}

TEST(WaitForSeveral, WaitAllNeedsEveryHandle) {
    Event a, b;
    HANDLE list[] = {a.h, b.h};
    SetEvent(a.h);
    EXPECT_EQ(WaitForMultipleObjects(2, list, true, 30), WAIT_TIMEOUT);
    SetEvent(b.h);
    EXPECT_EQ(WaitForMultipleObjects(2, list, true, 0), WAIT_OBJECT_0);
}

TEST(WaitForSeveral, BadArgumentsFail) {
    Event a;
    HANDLE list[] = {a.h, nullptr};
    EXPECT_EQ(WaitForMultipleObjects(2, list, false, 0), WAIT_FAILED);
    EXPECT_EQ(WaitForMultipleObjects(0, list, false, 0), WAIT_FAILED);
    EXPECT_EQ(WaitForSingleObject(nullptr, 0), WAIT_FAILED);
    std::vector<HANDLE> many(MAXIMUM_WAIT_OBJECTS + 1, a.h);
    EXPECT_EQ(WaitForMultipleObjects(MAXIMUM_WAIT_OBJECTS + 1, many.data(), false, 0), WAIT_FAILED);
}

TEST(WaitForSeveral, ManyPulsesNeverLoseAWaiter) {
    // The end of every call is a pulse seen by a thread in a wait over two handles: a waiter
    // that is inside its wait must see each pulse, however the threads interleave.
    Event ev;
    std::atomic<bool> stop{false};
    std::atomic<int> inside{0};
    std::atomic<int> woken{0};
    std::thread waiter([&] {
        Event other;
        HANDLE list[] = {other.h, ev.h};
        while (!stop) {
            inside = 1;
            if (WaitForMultipleObjects(2, list, false, 2000) == WAIT_OBJECT_0 + 1)
                woken++;
        }
    });
    for (int i = 0; i < 50; i++) {
        while (inside == 0)
            std::this_thread::yield();
        std::this_thread::sleep_for(2ms);
        inside = 0;
        int before = woken;
        PulseEvent(ev.h);
        while (woken == before)
            std::this_thread::yield();
    }
    stop = true;
    SetEvent(ev.h);
    waiter.join();
    EXPECT_GE(woken, 50);
}

}  // namespace
}  // namespace sipline
