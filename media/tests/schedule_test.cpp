// The RTCP schedule: ScheduleList's order, the schedule thread's sleep, and what the end of a
// call releases.
#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "media/bridge_state.h"
#include "media/schedule.h"
#include "media/schedule_internal.h"
#include "media/threads.h"
#include "support/system.h"

namespace sipline::testing {
namespace {

// Deadlines of the tests carry made-up events: numbers that are never dereferenced.
rtp_event_t *tag(uintptr_t n) {
    return reinterpret_cast<rtp_event_t *>(n);
}

struct ran_t {
    uintptr_t tag;
    double at;
};
std::mutex seen_mutex;
std::vector<ran_t> ran;
std::vector<uintptr_t> discarded;

rtperror record_run(int32_t, rtp_event_t *event) {
    std::lock_guard lock(seen_mutex);
    ran.push_back({reinterpret_cast<uintptr_t>(event), time_now()});
    return RTP_OK;
}
void record_discard(rtp_event_t *event) {
    std::lock_guard lock(seen_mutex);
    discarded.push_back(reinterpret_cast<uintptr_t>(event));
}

timeval at(double seconds) {
    timeval t{};
    t.tv_sec = static_cast<int32_t>(seconds);
    t.tv_usec = static_cast<int32_t>((seconds - t.tv_sec) * 1e6);
    return t;
}

class ScheduleTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (RtpMutex == nullptr) {
            RtpMutex = CreateMutex(false);
        }
        if (shdwnhandle == nullptr) {
            shdwnhandle = CreateEvent(false, nullptr);
            RescheduleEvent = CreateEvent(false, nullptr);
        }
        ScheduleSetHooks({record_run, record_discard});
        std::lock_guard lock(seen_mutex);
        ran.clear();
        discarded.clear();
    }
    void TearDown() override {
        stop_thread();
        ScheduleDiscardContext(7);
        ScheduleDiscardContext(8);
        ScheduleSetHooks({nullptr, nullptr});
    }

    void start_thread() { thread_ = CreateThread(RTPScheduleProc, nullptr, 0); }
    void stop_thread() {
        if (thread_ == nullptr) {
            return;
        }
        QuitRequested = 1;
        while (WaitForSingleObject(thread_, 10) != WAIT_OBJECT_0) {
            SetEvent(RescheduleEvent);
        }
        CloseHandle(thread_);
        thread_ = nullptr;
        QuitRequested = 0;
    }
    static std::vector<ran_t> runs() {
        std::lock_guard lock(seen_mutex);
        return ran;
    }
    static bool wait_runs(size_t n, int limit_ms = 2000) {
        for (int i = 0; i < limit_ms / 5; ++i) {
            if (runs().size() >= n) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }

    HANDLE thread_ = nullptr;
};

TEST_F(ScheduleTest, EntriesAreKeptInDueOrderAndEqualTimesInSchedulingOrder) {
    const double base = time_now() + 100;
    for (auto [due, n] : std::vector<std::pair<double, uintptr_t>>{{base + 3, 1},
                                                                   {base + 1, 2},
                                                                   {base + 2, 3},
                                                                   {base + 1, 4},
                                                                   {base + 3, 5},
                                                                   {base, 6}}) {
        timeval t = at(due);
        ScheduleRTPEvent(7, tag(n), &t);
    }
    std::vector<uintptr_t> order;
    {
        std::unique_lock lock = ScheduleLock();
        for (schedule_entry_t *e = ScheduleList; e != nullptr; e = e->next) {
            order.push_back(reinterpret_cast<uintptr_t>(e->event));
        }
    }
    EXPECT_EQ(order, (std::vector<uintptr_t>{6, 2, 4, 3, 1, 5}));
}

TEST_F(ScheduleTest, SleepLengthIsTheTimeToTheEarliestDeadline) {
    EXPECT_EQ(ScheduleSleepLength(time_now()), INFINITE) << "nothing pending: no limit";
    const double now = time_now();
    timeval later = at(now + 2.5);
    ScheduleRTPEvent(7, tag(1), &later);
    EXPECT_EQ(ScheduleSleepLength(now), 2500u);
    EXPECT_EQ(ScheduleSleepLength(now + 2.4995), 1u) << "rounded up, so that it is due on waking";
    timeval past = at(now - 1);
    ScheduleRTPEvent(7, tag(2), &past);
    EXPECT_EQ(ScheduleSleepLength(now), 0u) << "a deadline in the past: no sleep";
}

TEST_F(ScheduleTest, ADeadlineInThePastRunsAtOnce) {
    start_thread();
    const double scheduled = time_now();
    timeval past = at(scheduled - 5);
    ScheduleRTPEvent(7, tag(1), &past);
    ASSERT_TRUE(wait_runs(1));
    EXPECT_LT(runs()[0].at - scheduled, 0.05);
    EXPECT_EQ(ScheduleLength(), 0) << "the entry that ran is freed";
}

TEST_F(ScheduleTest, DeadlinesRunAtTheirTimeAndEqualOnesInSchedulingOrder) {
    start_thread();
    const double base = time_now() + 0.2;
    for (auto [due, n] : std::vector<std::pair<double, uintptr_t>>{
             {base + 0.1, 1}, {base, 2}, {base + 0.1, 3}, {base, 4}}) {
        timeval t = at(due);
        ScheduleRTPEvent(7, tag(n), &t);
    }
    ASSERT_TRUE(wait_runs(4));
    std::vector<ran_t> r = runs();
    std::vector<uintptr_t> order;
    for (const ran_t &x : r) {
        order.push_back(x.tag);
    }
    EXPECT_EQ(order, (std::vector<uintptr_t>{2, 4, 1, 3}));
    EXPECT_GE(r[0].at, base - 0.001) << "not early";
    EXPECT_LT(r[0].at, base + 0.03) << "not late";
    EXPECT_GE(r[2].at, base + 0.099);
    EXPECT_LT(r[2].at, base + 0.13);
}

TEST_F(ScheduleTest, AnEarlierDeadlineIsAnnouncedAndCutsTheSleepShort) {
    start_thread();
    const double now = time_now();
    timeval late = at(now + 30);
    ScheduleRTPEvent(7, tag(1), &late);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the thread sleeps for 30 s
    ::testing::internal::CaptureStdout();
    timeval soon = at(time_now() + 0.1);
    ScheduleRTPEvent(7, tag(2), &soon);
    timeval later_still = at(time_now() + 40);
    ScheduleRTPEvent(7, tag(3), &later_still);
    ASSERT_TRUE(wait_runs(1, 1000)) << "the earlier deadline ran within its time, not after 30 s";
    std::string printed = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(runs()[0].tag, 2u);
    EXPECT_EQ(printed.find("Inserting new or earlier\n"), 0u) << printed;
    EXPECT_EQ(printed.find("Inserting new or earlier", 1), std::string::npos)
        << "a later deadline is not announced: " << printed;
}

TEST_F(ScheduleTest, WithNothingPendingTheThreadSleepsUntilWoken) {
    start_thread();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_TRUE(runs().empty());
    timeval now = at(time_now());
    ScheduleRTPEvent(7, tag(1), &now);
    EXPECT_TRUE(wait_runs(1, 500)) << "an insertion into the empty list wakes the thread";
}

TEST_F(ScheduleTest, TheEndOfACallReleasesEveryDeadlineOfClosedSessions) {
    start_thread();
    const double later = time_now() + 60;
    for (uintptr_t n = 1; n <= 4; ++n) {
        timeval t = at(later + static_cast<double>(n));
        ScheduleRTPEvent(n % 2 == 0 ? 7 : 8, tag(n), &t);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    PulseEvent(shdwnhandle);
    for (int i = 0; i < 100 && ScheduleLength() != 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        PulseEvent(shdwnhandle);
    }
    EXPECT_EQ(ScheduleLength(), 0);
    std::lock_guard lock(seen_mutex);
    EXPECT_EQ(discarded.size(), 4u) << "each event is handed back to the engine to be freed";
}

TEST_F(ScheduleTest, ClosingASessionReleasesItsDeadlinesAndNoOther) {
    const double later = time_now() + 60;
    for (uintptr_t n = 1; n <= 4; ++n) {
        timeval t = at(later + static_cast<double>(n));
        ScheduleRTPEvent(n % 2 == 0 ? 7 : 8, tag(n), &t);
    }
    ScheduleDiscardContext(8);
    EXPECT_EQ(ScheduleLength(), 2);
    std::lock_guard lock(seen_mutex);
    EXPECT_EQ(discarded, (std::vector<uintptr_t>{3, 1}));
}

}  // namespace
}  // namespace sipline::testing
