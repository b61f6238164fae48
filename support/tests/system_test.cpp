#include "support/system.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace sipline {
namespace {

using namespace std::chrono_literals;

TEST(Clock, MillisecondResolution) {
    timeval tv{};
    for (int i = 0; i < 20; i++) {
        gettimeofday(&tv, nullptr);
        EXPECT_EQ(tv.tv_usec % 1000, 0);
        EXPECT_LT(tv.tv_usec, 1000000);
    }
    double now = time_now();
    EXPECT_NEAR(now, static_cast<double>(std::time(nullptr)), 2.0);
}

std::atomic<int> ran{0};
void *mark(void *argument) {
    ran = *static_cast<int *>(argument);
    return nullptr;
}

TEST(Threads, CreateRunsDetached) {
    int value = 7;
    thread_t t{};
    ASSERT_EQ(thread_create(&t, nullptr, mark, &value), 0);
    EXPECT_NE(t, thread_t{});
    for (int i = 0; i < 500 && ran != 7; i++)
        std::this_thread::sleep_for(2ms);
    EXPECT_EQ(ran, 7);
}

struct Cond : ::testing::Test {
    cond_t cond{};
    HANDLE mutex = CreateMutex(false);
    void SetUp() override {
        cond_init(&cond);
        WaitForSingleObject(mutex, INFINITE);
    }
    void TearDown() override {
        ReleaseMutex(mutex);
        cond_release(&cond);
        CloseHandle(mutex);
    }
    timeval in(int seconds) {
        timeval t{};
        gettimeofday(&t, nullptr);
        t.tv_sec += seconds;
        return t;
    }
    bool mutex_held_by_me() {
        std::atomic<uint32_t> other{0};
        std::thread probe([&] {
            other = WaitForSingleObject(mutex, 0);
            if (other == WAIT_OBJECT_0)
                ReleaseMutex(mutex);
        });
        probe.join();
        return other == WAIT_TIMEOUT;
    }
};

TEST_F(Cond, StartsSignalledOnce) {
    timeval past = in(-5);
    EXPECT_EQ(cond_timedwait(&cond, &mutex, &past), 0);
    EXPECT_TRUE(mutex_held_by_me());
    EXPECT_EQ(cond_timedwait(&cond, &mutex, &past), COND_TIMEDOUT);
    EXPECT_TRUE(mutex_held_by_me());
}

TEST_F(Cond, StoresAtMostOneSignal) {
    timeval past = in(-1);
    cond_timedwait(&cond, &mutex, &past);
    cond_signal(&cond);
    cond_signal(&cond);
    EXPECT_EQ(cond_timedwait(&cond, &mutex, &past), 0);
    EXPECT_EQ(cond_timedwait(&cond, &mutex, &past), COND_TIMEDOUT);
}

TEST_F(Cond, WaitsToTheMillisecondNotToWholeSeconds) {
    timeval past = in(-1);
    cond_timedwait(&cond, &mutex, &past);
    // RFC 3261's first retransmission comes 500 ms after the first sending: a deadline 300 ms
    // away is waited for 300 ms, neither cut to 0 nor stretched to the next second.
    timeval soon{};
    gettimeofday(&soon, nullptr);
    soon.tv_usec += 300000;
    if (soon.tv_usec >= 1000000) {
        soon.tv_sec += 1;
        soon.tv_usec -= 1000000;
    }
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(cond_timedwait(&cond, &mutex, &soon), COND_TIMEDOUT);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 290ms);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 900ms);
}

TEST_F(Cond, WaitsASecondAndWakesOnSignal) {
    timeval past = in(-1);
    cond_timedwait(&cond, &mutex, &past);
    timeval later = in(1);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(cond_timedwait(&cond, &mutex, &later), COND_TIMEDOUT);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 950ms);

    timeval far = in(30);
    std::thread signaller([&] {
        // The waiter released the mutex: taking it proves it, then signal.
        WaitForSingleObject(mutex, INFINITE);
        cond_signal(&cond);
        ReleaseMutex(mutex);
    });
    start = std::chrono::steady_clock::now();
    EXPECT_EQ(cond_timedwait(&cond, &mutex, &far), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    EXPECT_TRUE(mutex_held_by_me());
    ReleaseMutex(mutex);
    signaller.join();
    WaitForSingleObject(mutex, INFINITE);
}

TEST_F(Cond, BroadcastReleasesEveryWaiterAndLeavesNoCount) {
    timeval past = in(-1);
    cond_timedwait(&cond, &mutex, &past);
    ReleaseMutex(mutex);
    std::atomic<int> woken{0};
    std::atomic<int> waiting{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 3; i++) {
        waiters.emplace_back([&] {
            WaitForSingleObject(mutex, INFINITE);
            timeval far = in(20);
            waiting++;
            if (cond_timedwait(&cond, &mutex, &far) == 0)
                woken++;
            ReleaseMutex(mutex);
        });
    }
    while (waiting < 3)
        std::this_thread::sleep_for(1ms);
    std::this_thread::sleep_for(100ms);
    cond_broadcast(&cond);
    for (auto &t : waiters)
        t.join();
    EXPECT_EQ(woken, 3);
    WaitForSingleObject(mutex, INFINITE);
    EXPECT_EQ(cond_timedwait(&cond, &mutex, &past), COND_TIMEDOUT) << "no count left behind";
}

TEST_F(Cond, BroadcastWithoutWaitersClearsTheInitialCount) {
    cond_broadcast(&cond);
    timeval past = in(-1);
    EXPECT_EQ(cond_timedwait(&cond, &mutex, &past), COND_TIMEDOUT);
}

TEST_F(Cond, SharedObjectOutlivesTheFirstOwner) {
    cond_t copy{};
    cond_share(&copy, &cond);
    cond_release(&cond);
    cond_signal(&copy);
    timeval past = in(-1);
    EXPECT_EQ(cond_timedwait(&copy, &mutex, &past), 0);
    cond_share(&cond, &copy);
    cond_release(&copy);
}

TEST(SystemLog, Discards) {
    openlog("orlo", 1, 24);
    syslog(3, "%s", "nowhere");
    closelog();
}

}  // namespace
}  // namespace sipline
