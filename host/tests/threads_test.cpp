#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "host/host.h"

namespace sipline {
namespace {

using namespace std::chrono_literals;

std::atomic<int> runs{0};

uint32_t count_run(void *argument) {
    runs++;
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(argument));
}

uint32_t wait_on_event(void *argument) {
    WaitForSingleObject(static_cast<HANDLE>(argument), INFINITE);
    return 9;
}

TEST(Threads, SuspendedThreadRunsOnlyAfterResume) {
    runs = 0;
    HANDLE t = CreateThread(count_run, reinterpret_cast<void *>(uintptr_t{42}), CREATE_SUSPENDED);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(WaitForSingleObject(t, 100), WAIT_TIMEOUT);
    EXPECT_EQ(runs, 0);
    EXPECT_TRUE(SetThreadPriority(t, 2));
    EXPECT_EQ(ResumeThread(t), 1);
    EXPECT_EQ(WaitForSingleObject(t, 5000), WAIT_OBJECT_0);
    EXPECT_EQ(runs, 1);
    uint32_t code = 0;
    EXPECT_TRUE(GetExitCodeThread(t, &code));
    EXPECT_EQ(code, 42u);
    EXPECT_EQ(ResumeThread(t), 0);
    CloseHandle(t);
}

TEST(Threads, WaitForEitherOfTwoThreads) {
    HANDLE gate = CreateEvent(false, nullptr);
    HANDLE slow = CreateThread(wait_on_event, gate, 0);
    HANDLE fast = CreateThread(count_run, nullptr, 0);
    HANDLE both[] = {slow, fast};
    EXPECT_EQ(WaitForMultipleObjects(2, both, false, 5000), WAIT_OBJECT_0 + 1);
    uint32_t code = 0;
    EXPECT_FALSE(GetExitCodeThread(slow, &code)) << "still running";
    SetEvent(gate);
    EXPECT_EQ(WaitForSingleObject(slow, 5000), WAIT_OBJECT_0);
    EXPECT_TRUE(GetExitCodeThread(slow, &code));
    EXPECT_EQ(code, 9u);
    CloseHandle(slow);
    CloseHandle(fast);
    CloseHandle(gate);
}

TEST(Threads, HandleMayBeClosedWhileRunning) {
    HANDLE gate = CreateEvent(false, nullptr);
    HANDLE t = CreateThread(wait_on_event, gate, 0);
    ASSERT_NE(t, nullptr);
    EXPECT_TRUE(CloseHandle(t));
    SetEvent(gate);
    std::this_thread::sleep_for(50ms);
    CloseHandle(gate);
}

TEST(Threads, NullRoutineFails) {
    EXPECT_EQ(CreateThread(nullptr, nullptr, 0), nullptr);
}

TEST(Mutexes, TimedWaitGivesUpWhileAnotherThreadOwns) {
    HANDLE m = CreateMutex(false);
    ASSERT_EQ(WaitForSingleObject(m, 0), WAIT_OBJECT_0);
    std::atomic<uint32_t> result{0};
    std::thread other([&] { result = WaitForSingleObject(m, 100); });
    other.join();
    EXPECT_EQ(result, WAIT_TIMEOUT);
    ASSERT_TRUE(ReleaseMutex(m));
    std::thread after([&] {
        result = WaitForSingleObject(m, 1000);
        ReleaseMutex(m);
    });
    after.join();
    EXPECT_EQ(result, WAIT_OBJECT_0);
    CloseHandle(m);
}

TEST(Mutexes, RecursiveForTheOwner) {
    HANDLE m = CreateMutex(true);
    EXPECT_EQ(WaitForSingleObject(m, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(ReleaseMutex(m));
    EXPECT_TRUE(ReleaseMutex(m));
    EXPECT_FALSE(ReleaseMutex(m)) << "not owned any more";
    CloseHandle(m);
}

TEST(Mutexes, OnlyTheOwnerReleases) {
    HANDLE m = CreateMutex(true);
    std::atomic<bool> released{true};
    std::thread other([&] { released = ReleaseMutex(m); });
    other.join();
    EXPECT_FALSE(released);
    EXPECT_TRUE(ReleaseMutex(m));
    CloseHandle(m);
}

TEST(Mutexes, ExcludeEachOther) {
    HANDLE m = CreateMutex(false);
    int counter = 0;
    auto work = [&] {
        for (int i = 0; i < 2000; i++) {
            ASSERT_EQ(WaitForSingleObject(m, 1000), WAIT_OBJECT_0);
            counter++;
            ReleaseMutex(m);
        }
    };
    std::thread a(work), b(work);
    a.join();
    b.join();
    EXPECT_EQ(counter, 4000);
    CloseHandle(m);
}

TEST(Winsock, StartsWithNothingToDo) {
    EXPECT_EQ(StartWinsock(), 0);
}

}  // namespace
}  // namespace sipline

namespace sipline {
namespace {

uint32_t wait_for_ever(void *argument) {
    WaitForSingleObject(static_cast<HANDLE>(argument), INFINITE);
    return 0;
}

TEST(ProcessExit, NotHeldUpByAThreadInAWait) {
    EXPECT_EXIT(
        {
            HANDLE never = CreateEvent(false, nullptr);
            CreateThread(wait_for_ever, never, 0);
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace sipline
