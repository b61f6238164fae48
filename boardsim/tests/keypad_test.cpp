#include <thread>

#include "boardsim/tests/board_fixture.h"
#include "dsp/dtmf.h"
#include "dsp/g711.h"

namespace sipline::testing {
namespace {

using KeypadTest = BoardTest;
using std::chrono::milliseconds;
using std::chrono::steady_clock;

constexpr int BLOCK = 160;

// Records on channel 3 of a connected call until `want` keys went down in what the gateway
// records (or `limit` passes), and returns the keys a DTMF detector found there.
std::string keys_recorded(int32_t record, size_t want, milliseconds limit) {
    stream_t in = tuvo_create_buffer(32, BLOCK);
    EXPECT_EQ(dx_rec(record, nullptr, HANGUP_LIST, &MULAW_8K, RECORD_MODE), 0);
    EXPECT_EQ(tuvo_start_record(record, in), 0);
    HANDLE ready = OpenEvent("dxxxB1C3TUVOEvent");
    std::string keys;
    dsp::DtmfDetector detector([&](char key, bool down) {
        if (down) {
            keys += key;
        }
    });
    auto until = steady_clock::now() + limit;
    // A little more after the last key, so that a key counted twice would show.
    auto settle = until;
    while (steady_clock::now() < std::min(until, settle)) {
        WaitForSingleObject(ready, 100);
        while (uint8_t *block = tuvo_next_recorded_block(in)) {
            int16_t linear[BLOCK];
            for (int i = 0; i < BLOCK; ++i) {
                linear[i] = dsp::ulaw_to_linear(block[i]);
            }
            tuvo_release_block(in, 0xFFFF);
            detector.feed(linear, BLOCK);
        }
        if (keys.size() >= want && settle == until) {
            settle = steady_clock::now() + milliseconds(300);
        }
    }
    CloseHandle(ready);
    dx_stop_io(record, 0);
    next_event();
    tuvo_free_buffer(in);
    return keys;
}

TEST_F(KeypadTest, PressedKeysReachTheRecordedStreamAsDtmf) {
    int32_t record = open_channel(3);
    connect_call(record);
    EXPECT_EQ(boardsim_command("press 1590*#AD"), "OK pressing 1590*#AD");
    EXPECT_EQ(keys_recorded(record, 8, milliseconds(4000)), "1590*#AD");
    EXPECT_EQ(status_of("heard_digits"), "") << "the far party hears nothing of its own keys";
}

TEST_F(KeypadTest, KeysPressedBeforeTheLastOnesEndFollowThemInOrder) {
    int32_t record = open_channel(3);
    connect_call(record);
    EXPECT_EQ(boardsim_command("press 22"), "OK pressing 22");
    EXPECT_EQ(boardsim_command("press 3"), "OK pressing 3");
    EXPECT_EQ(keys_recorded(record, 3, milliseconds(3000)), "223")
        << "the same key twice is two presses";
}

TEST_F(KeypadTest, PressingNeedsACallAndHasALimit) {
    int32_t line = open_channel(1);
    EXPECT_EQ(boardsim_command("press 5"), "ERR no call on the line");
    EXPECT_EQ(boardsim_command("ring"), "OK ringing");
    EXPECT_EQ(boardsim_command("press 5"), "ERR no call on the line") << "while ringing";
    EXPECT_EQ(next_event().type, TDX_CST);
    ASSERT_EQ(dx_sethook(line, DX_OFFHOOK, EV_SYNC), 0);
    ASSERT_EQ(status_of("line"), "connected");
    std::string many(64, '7');
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(boardsim_command("press " + many), "OK pressing " + many) << i;
    }
    EXPECT_EQ(boardsim_command("press 7"), "ERR too many keys waiting to be pressed");
    EXPECT_EQ(boardsim_command("press 7x").rfind("ERR not a key", 0), 0u);
    EXPECT_EQ(boardsim_command("hangup"), "OK hung up");
    EXPECT_EQ(boardsim_command("press 7"), "ERR no call on the line");
}

// `keys` as a person keys them (100 ms on, 100 ms off), mu-law, in whole blocks.
std::vector<uint8_t> keyed(const std::string &keys) {
    std::vector<uint8_t> out(BLOCK, 0xFF);
    dsp::DtmfTone tone;
    for (char key : keys) {
        EXPECT_TRUE(tone.start(key, 100, -10));
        int16_t linear[BLOCK];
        while (tone.generate(linear, BLOCK) == BLOCK) {
            for (int16_t s : linear) {
                out.push_back(dsp::linear_to_ulaw(s));
            }
        }
        out.insert(out.end(), 800, 0xFF);
    }
    out.resize((out.size() + BLOCK - 1) / BLOCK * BLOCK, 0xFF);
    return out;
}

std::string heard_after(const std::string &want, milliseconds limit) {
    auto until = steady_clock::now() + limit;
    while (status_of("heard_digits") != want && steady_clock::now() < until) {
        std::this_thread::sleep_for(milliseconds(20));
    }
    std::this_thread::sleep_for(milliseconds(200));  // a key counted twice would show now
    return status_of("heard_digits");
}

TEST_F(KeypadTest, TheFarPartyHearsEachKeyPlayedOnce) {
    int32_t play = open_channel(1);
    connect_call(play);
    std::vector<uint8_t> audio = keyed("37*D");
    stream_t out = tuvo_create_buffer(static_cast<int32_t>(audio.size() / BLOCK), BLOCK);
    ASSERT_EQ(dx_play(play, nullptr, HANGUP_LIST, &MULAW_8K, EV_ASYNC), 0);
    for (size_t at = 0; at < audio.size(); at += BLOCK) {
        uint8_t *block = tuvo_next_free_block(out);
        ASSERT_NE(block, nullptr);
        std::memcpy(block, audio.data() + at, BLOCK);
        tuvo_commit_block(out, BLOCK);
    }
    ASSERT_EQ(tuvo_start_play(play, out), 0);
    EXPECT_EQ(heard_after("37*D", milliseconds(3000)), "37*D");
    EXPECT_EQ(boardsim_command("status").rfind(" heard_digits=37*D"),
              boardsim_command("status").size() - 18)
        << "heard_digits closes the status line";

    // A new call starts with nothing heard.
    dx_stop_io(play, 0);
    next_event();
    EXPECT_EQ(boardsim_command("hangup"), "OK hung up");
    EXPECT_EQ(status_of("heard_digits"), "37*D") << "kept until the next call";
    dial_params_t quick{0, 0};
    ASSERT_EQ(dx_dial(play, "5551234", &quick, EV_ASYNC), 0);
    ASSERT_EQ(next_event().type, EV_DIAL_DONE);
    EXPECT_EQ(status_of("heard_digits"), "");
    tuvo_free_buffer(out);
}

TEST_F(KeypadTest, TheFarPartyHearsKeysInAPrompt) {
    std::vector<uint8_t> audio = keyed("9#");
    write_file("keys.vox", audio);
    ASSERT_EQ(chdir(dir_.c_str()), 0);
    int32_t line = open_channel(1);
    connect_call(line);
    termination_t nothing[1] = {};
    EXPECT_EQ(dx_play_prompt(line, "keys.vox", nothing, 0), 0);
    EXPECT_EQ(heard_after("9#", milliseconds(1000)), "9#");
}

}  // namespace
}  // namespace sipline::testing
