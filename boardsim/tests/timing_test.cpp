// The board keeps real time: one block every block/8 ms, for play and for record alike.
#include <atomic>
#include <thread>

#include "boardsim/tests/board_fixture.h"

namespace sipline::testing {
namespace {

using BoardTiming = BoardTest;
using std::chrono::steady_clock;

TEST_F(BoardTiming, PlayAndRecordMoveFiftyBlocksASecondWithinTwoPercent) {
    int32_t play = open_channel(1);
    int32_t record = open_channel(3);
    connect_call(play);
    stream_t out = tuvo_create_buffer(32, 160);
    stream_t in = tuvo_create_buffer(32, 160);
    ASSERT_EQ(dx_play(play, nullptr, HANGUP_LIST, &MULAW_8K, EV_ASYNC), 0);
    ASSERT_EQ(tuvo_start_play(play, out), 0);
    ASSERT_EQ(dx_rec(record, nullptr, HANGUP_LIST, &MULAW_8K, RECORD_MODE), 0);
    ASSERT_EQ(tuvo_start_record(record, in), 0);

    std::atomic<bool> done{false};
    std::atomic<int64_t> recorded{0};
    std::thread feeder([&] {
        while (!done) {
            if (uint8_t *block = tuvo_next_free_block(out)) {
                std::memset(block, 0x55, 160);
                tuvo_commit_block(out, 160);
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
            while (tuvo_next_recorded_block(in) != nullptr) {
                tuvo_release_block(in, 0xFFFF);
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
    dx_stop_io(play, 0);
    dx_stop_io(record, 0);
}

}  // namespace
}  // namespace sipline::testing
