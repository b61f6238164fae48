// The board keeps real time: one block every block/8 ms, for play and for record alike.
#include <atomic>
#include <thread>

#include "boardsim/tests/board_fixture.h"

namespace sipline::testing {
namespace {

using BoardTiming = BoardTest;
using std::chrono::steady_clock;

TEST_F(BoardTiming, PlayAndRecordMoveFiftyBlocksASecondWithinTwoPercent) {
    call_io io;
    ASSERT_NO_FATAL_FAILURE(start_play_and_record(io));

    std::atomic<bool> done{false};
    std::atomic<int64_t> recorded{0};
    std::thread feeder([&] {
        while (!done) {
            if (uint8_t *block = tuvo_next_free_block(io.out)) {
                std::memset(block, 0x55, 160);
                tuvo_commit_block(io.out, 160);
            } else {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        }
    });
    std::thread drainer([&] {
        HANDLE ready = OpenEvent("dxxxB1C3TUVOEvent");
        while (!done) {
            if (WaitForSingleObject(ready, 100) != WAIT_OBJECT_0) {
                continue;
            }
            while (tuvo_next_recorded_block(io.in) != nullptr) {
                tuvo_release_block(io.in, 0xFFFF);
                ++recorded;
            }
        }
        CloseHandle(ready);
    });

    std::this_thread::sleep_for(std::chrono::milliseconds(500));  // let the buffer fill
    auto start = steady_clock::now();
    int64_t played_start = std::stoll(status_of("played"));
    int64_t recorded_start = recorded;
    std::string underruns_start = status_of("underruns");
    std::string overruns_start = status_of("overruns");
    std::this_thread::sleep_for(std::chrono::seconds(10));
    double seconds = std::chrono::duration<double>(steady_clock::now() - start).count();
    int64_t played_blocks = (std::stoll(status_of("played")) - played_start) / 160;
    int64_t recorded_blocks = recorded - recorded_start;
    done = true;
    feeder.join();
    drainer.join();

    double expected = 50.0 * seconds;
    EXPECT_NEAR(played_blocks, expected, expected * 0.02) << "play, over " << seconds << " s";
    EXPECT_NEAR(recorded_blocks, expected, expected * 0.02) << "record, over " << seconds << " s";
    EXPECT_EQ(status_of("underruns"), underruns_start) << "the feeder kept up";
    EXPECT_EQ(status_of("overruns"), overruns_start) << "the drainer kept up";
    dx_stop_io(io.play, 0);
    dx_stop_io(io.record, 0);
}

}  // namespace
}  // namespace sipline::testing
