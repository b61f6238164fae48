#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "boardsim/tests/board_fixture.h"
#include "dsp/caller_id.h"
#include "dsp/g711.h"
#include "dsp/tone_cadence.h"

namespace sipline::testing {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

class ExchangeTest : public BoardTest {
  protected:
    // Records channel 3 (on-hook or not) for at most `limit`, handing each block to `take`
    // until it returns true; true when it did.
    template <typename Take>
    static bool record_until(milliseconds limit, Take take) {
        int32_t record = open_channel(3);
        stream_t in = tuvo_create_buffer(32, 160);
        EXPECT_EQ(dx_rec(record, nullptr, HANGUP_LIST, &MULAW_8K, RECORD_MODE), 0);
        EXPECT_EQ(tuvo_start_record(record, in), 0);
        const auto end = Clock::now() + limit;
        bool done = false;
        std::vector<int16_t> linear(160);
        while (!done && Clock::now() < end) {
            const uint8_t *block = tuvo_next_recorded_block(in);
            if (block == nullptr) {
                std::this_thread::sleep_for(milliseconds(10));
                continue;
            }
            for (size_t i = 0; i < linear.size(); ++i) {
                linear[i] = dsp::ulaw_to_linear(block[i]);
            }
            tuvo_release_block(in, 0xFFFF);
            done = take(linear.data(), static_cast<int>(linear.size()));
        }
        dx_stop_io(record, 0);
        tuvo_free_buffer(in);
        return done;
    }
};

TEST_F(ExchangeTest, RingsKeepTheCadenceUntilTheCallerGivesUp) {
    setenv("BOARDSIM_RING", "200/300", 1);
    int32_t line = open_channel(1);
    const auto start = Clock::now();
    ASSERT_EQ(boardsim_command("ring rings=3"), "OK ringing");
    std::vector<long> at;
    for (event_seen e = next_event(1500); e.type != -1; e = next_event(1500)) {
        EXPECT_EQ(e.type, TDX_CST);
        EXPECT_EQ(e.device, line);
        at.push_back(std::chrono::duration_cast<milliseconds>(Clock::now() - start).count());
    }
    ASSERT_EQ(at.size(), 3u) << "three rings, then the caller gave up";
    EXPECT_LT(at[0], 100) << "the first ring is reported at once";
    EXPECT_NEAR(at[1], 500, 100);
    EXPECT_NEAR(at[2], 1000, 100);
    EXPECT_EQ(status_of("line"), "idle");
    EXPECT_EQ(status_of("rings"), "3");
}

TEST_F(ExchangeTest, AnAnsweredRingStopsRinging) {
    setenv("BOARDSIM_RING", "100/200", 1);
    int32_t line = open_channel(1);
    ASSERT_EQ(boardsim_command("ring 5551234"), "OK ringing");
    EXPECT_EQ(next_event().type, TDX_CST);
    ASSERT_EQ(dx_sethook(line, DX_OFFHOOK, EV_SYNC), 0);
    EXPECT_EQ(status_of("line"), "connected");
    EXPECT_EQ(next_event(700).type, -1) << "no ring after the answer";
}

TEST_F(ExchangeTest, TheIdentityArrivesOnTheLineInEachStandard) {
    for (const char *standard : {"bell", "v23", "dtmf"}) {
        setenv("BOARDSIM_CID", standard, 1);
        open_channel(1);
        ASSERT_EQ(boardsim_command("ring 5551234 \"Ada Lovelace\""), "OK ringing") << standard;
        dsp::CallerIdReceiver rx(std::string_view(standard) == "bell" ? dsp::CallerIdStandard::bell
                                 : std::string_view(standard) == "v23"
                                     ? dsp::CallerIdStandard::v23
                                     : dsp::CallerIdStandard::dtmf);
        EXPECT_TRUE(record_until(milliseconds(5000), [&](const int16_t *s, int n) {
            rx.feed(s, n);
            return rx.identity(nullptr);
        })) << standard;
        dsp::CallerId id;
        rx.identity(&id);
        EXPECT_EQ(id.number, "5551234") << standard;
        boardsim_shutdown();
    }
}

TEST_F(ExchangeTest, ADamagedIdentityIsNotReadAsOne) {
    setenv("BOARDSIM_CID", "bell", 1);
    setenv("BOARDSIM_RING", "300/1500", 1);
    open_channel(1);
    ASSERT_EQ(boardsim_command("ring 5551234 \"Ada Lovelace\" badsum"), "OK ringing");
    dsp::CallerIdReceiver rx(dsp::CallerIdStandard::bell);
    EXPECT_FALSE(record_until(milliseconds(2500), [&](const int16_t *s, int n) {
        rx.feed(s, n);
        return rx.identity(nullptr);
    }));
}

TEST_F(ExchangeTest, TheFarPartysHangUpCanBeATone) {
    setenv("BOARDSIM_DISCONNECT", "tone:480+620/500/500", 1);
    int32_t line = open_channel(1);
    connect_call(line);
    EXPECT_EQ(boardsim_command("hangup"), "OK hung up");
    EXPECT_EQ(status_of("line"), "connected") << "the loop stays up";
    EXPECT_EQ(status_of("far_party"), "gone");
    dsp::DisconnectToneDetector detector({{480, 620, 500, 500}});
    const auto start = Clock::now();
    EXPECT_TRUE(record_until(milliseconds(4000), [&](const int16_t *s, int n) {
        detector.feed(s, n);
        return detector.detected();
    }));
    EXPECT_LT(Clock::now() - start, milliseconds(2800));
    EXPECT_EQ(boardsim_command("hangup"), "OK hung up");
    EXPECT_EQ(status_of("line"), "idle") << "a second hang-up drops the loop";
}

TEST_F(ExchangeTest, RingCommandsAreRead) {
    EXPECT_EQ(boardsim_command("ring 555x"),
              "ERR ring takes a number (or private, unavailable), a quoted name, rings=N, badsum");
    EXPECT_EQ(boardsim_command("ring 5551234 \"Ada"),
              "ERR a quoted name follows a number and ends with a quote");
    EXPECT_EQ(boardsim_command("ring \"Ada\""),
              "ERR a quoted name follows a number and ends with a quote");
    EXPECT_EQ(boardsim_command("ring 1 \"" + std::string(201, 'n') + "\""), "ERR name too long");
    EXPECT_EQ(boardsim_command("ring private rings=0"), "ERR rings=N takes 1 to 100");
    EXPECT_EQ(boardsim_command("ring private rings=2"), "ERR no channel is ready for rings");
}

}  // namespace
}  // namespace sipline::testing
