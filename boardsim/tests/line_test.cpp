#include <atomic>
#include <set>
#include <thread>

#include "boardsim/tests/board_fixture.h"
#include "boardsim/wav.h"

namespace sipline::testing {
namespace {

using LineTest = BoardTest;
using std::chrono::milliseconds;
using std::chrono::steady_clock;

uint32_t le32(const std::vector<uint8_t> &b, size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

TEST_F(LineTest, PoundEndsAPromptAndStaysForDigitCollection) {
    write_file("long.vox", std::vector<uint8_t>(3 * 8000, 0x55));
    ASSERT_EQ(chdir(dir_.c_str()), 0);
    int32_t line = open_channel(1);
    connect_call(line);
    std::thread party([] {
        std::this_thread::sleep_for(milliseconds(300));
        EXPECT_EQ(boardsim_command("digits 12#"), "OK pressed 12#");
    });
    auto start = steady_clock::now();
    EXPECT_EQ(dx_play_prompt(line, "long.vox", POUND_LIST, 0), 0);
    auto took = steady_clock::now() - start;
    party.join();
    EXPECT_LT(took, milliseconds(2500)) << "the # did not end the prompt";
    EXPECT_EQ(dx_termination_mask(line), TM_DIGIT);
    EXPECT_EQ(status_of("prompts"), "long.vox");
    char digits[DX_MAX_DIGITS + 1];
    ASSERT_EQ(dx_getdig(line, POUND_LIST, digits, EV_ASYNC), 0);
    EXPECT_EQ(next_event().type, EV_DIGITS_DONE);
    EXPECT_STREQ(digits, "12#");
}

TEST_F(LineTest, APromptPlaysToItsEndInRealTime) {
    write_file("short.vox", std::vector<uint8_t>(1600, 0x33));  // 200 ms
    ASSERT_EQ(chdir(dir_.c_str()), 0);
    setenv("BOARDSIM_CAPTURE", path("heard.wav").c_str(), 1);
    int32_t line = open_channel(1);
    connect_call(line);
    termination_t nothing[1] = {};
    auto start = steady_clock::now();
    EXPECT_EQ(dx_play_prompt(line, "short.vox", nothing, 0), 0);
    EXPECT_GE(steady_clock::now() - start, milliseconds(150));
    EXPECT_EQ(dx_termination_mask(line), TM_END_OF_DATA);
    EXPECT_EQ(status_of("played"), "1600");
    std::vector<uint8_t> heard = read_all(path("heard.wav"));
    ASSERT_EQ(heard.size(), CAPTURE_HEADER + 1600);
    EXPECT_EQ(heard.back(), 0x33);
}

TEST_F(LineTest, AMissingPromptFails) {
    ASSERT_EQ(chdir(dir_.c_str()), 0);
    int32_t line = open_channel(1);
    EXPECT_EQ(dx_play_prompt(line, "absent.vox", POUND_LIST, 0), -1);
    EXPECT_EQ(srl_last_error_code(line), EDX_NOFILE);
    EXPECT_NE(std::string(srl_last_error_text(line)).find("absent.vox"), std::string::npos);
}

TEST_F(LineTest, TheFarPartyHangingUpEndsPlayAndRecord) {
    call_io io;
    ASSERT_NO_FATAL_FAILURE(start_play_and_record(io));
    std::this_thread::sleep_for(milliseconds(100));
    EXPECT_EQ(boardsim_command("hangup"), "OK hung up");
    event_seen first = next_event();
    event_seen second = next_event();
    EXPECT_EQ(first.type + second.type, TDX_PLAY + TDX_RECORD);
    EXPECT_EQ(dx_termination_mask(io.play), TM_HANGUP);
    EXPECT_EQ(dx_termination_mask(io.record), TM_HANGUP);
    EXPECT_EQ(status_of("line"), "idle");
    EXPECT_EQ(status_of("hook"), "off") << "the gateway's side has not hung up";
    tuvo_free_buffer(io.out);
    tuvo_free_buffer(io.in);
}

TEST_F(LineTest, AListWithoutHangupKeepsPlaying) {
    int32_t play = open_channel(1);
    connect_call(play);
    termination_t digits_only[1] = {{TERM_LAST, TERM_ON_MAX_DIGITS, 200, 0, 0, 0, nullptr}};
    ASSERT_EQ(dx_play(play, nullptr, digits_only, &MULAW_8K, EV_ASYNC), 0);
    boardsim_command("hangup");
    EXPECT_EQ(next_event(200).type, -1);
    EXPECT_EQ(dx_stop_io(play, 0), 0);
    EXPECT_EQ(next_event().type, TDX_PLAY);
}

TEST_F(LineTest, TheFarPartyHangsUpByItselfWhenTold) {
    setenv("BOARDSIM_HANGUP_AFTER", "0.3", 1);
    int32_t play = open_channel(1);
    connect_call(play);
    ASSERT_EQ(dx_play(play, nullptr, HANGUP_LIST, &MULAW_8K, EV_ASYNC), 0);
    event_seen e = next_event(3000);
    EXPECT_EQ(e.type, TDX_PLAY);
    EXPECT_EQ(dx_termination_mask(play), TM_HANGUP);
    EXPECT_EQ(status_of("line"), "idle");
}

TEST_F(LineTest, TheCaptureIsAValidWavWhileItGrows) {
    setenv("BOARDSIM_CAPTURE", path("heard.wav").c_str(), 1);
    int32_t play = open_channel(1);
    connect_call(play);
    stream_t out = tuvo_create_buffer(32, 160);
    ASSERT_EQ(dx_play(play, nullptr, HANGUP_LIST, &MULAW_8K, EV_ASYNC), 0);
    tuvo_empty_buffer(out);
    for (int n = 0; n < 20; ++n) {
        uint8_t *block = tuvo_next_free_block(out);
        ASSERT_NE(block, nullptr);
        std::memset(block, n < 2 ? 0xFF : 0x55, 160);
        tuvo_commit_block(out, 160);
    }
    ASSERT_EQ(tuvo_start_play(play, out), 0);
    for (int look = 0; look < 5; ++look) {
        std::this_thread::sleep_for(milliseconds(60));
        std::vector<uint8_t> heard = read_all(path("heard.wav"));
        ASSERT_GE(heard.size(), CAPTURE_HEADER);
        EXPECT_EQ(std::string(heard.begin(), heard.begin() + 4), "RIFF");
        EXPECT_LE(le32(heard, 4), heard.size() - 8);
        EXPECT_EQ(le32(heard, 54), le32(heard, 4) - (CAPTURE_HEADER - 8));
        EXPECT_LE(le32(heard, 54), heard.size() - CAPTURE_HEADER);
    }
    dx_stop_io(play, 0);
    next_event();
    boardsim_shutdown();
    std::vector<uint8_t> heard = read_all(path("heard.wav"));
    ASSERT_EQ(le32(heard, 54), heard.size() - CAPTURE_HEADER) << "complete after the end";
    ASSERT_GE(heard.size(), CAPTURE_HEADER + 3 * 160);
    EXPECT_EQ(heard[CAPTURE_HEADER], 0xFF);
    EXPECT_EQ(heard[CAPTURE_HEADER + 2 * 160], 0x55);
}

TEST_F(LineTest, TheFarPartySaysItsWav) {
    std::vector<uint8_t> wav = {'R', 'I', 'F',  'F',  0,   0,   0,    0,    'W', 'A', 'V',
                                'E', 'f', 'm',  't',  ' ', 16,  0,    0,    0,   1,   0,
                                1,   0,   0x40, 0x1F, 0,   0,   0x80, 0x3E, 0,   0,   2,
                                0,   16,  0,    'd',  'a', 't', 'a',  8,    0,   0,   0};
    for (int i = 0; i < 4; ++i) {
        wav.push_back(0x00);  // 0x1000 (4096), little-endian
        wav.push_back(0x10);
    }
    write_file("say.wav", wav);
    setenv("BOARDSIM_SAY", path("say.wav").c_str(), 1);
    int32_t record = open_channel(3);
    connect_call(record);
    stream_t in = tuvo_create_buffer(32, 160);
    ASSERT_EQ(dx_rec(record, nullptr, HANGUP_LIST, &MULAW_8K, RECORD_MODE), 0);
    ASSERT_EQ(tuvo_start_record(record, in), 0);
    HANDLE ready = OpenEvent("dxxxB1C3TUVOEvent");
    ASSERT_EQ(WaitForSingleObject(ready, 1000), WAIT_OBJECT_0);
    uint8_t *block = tuvo_next_recorded_block(in);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(block[0], boardsim::linear_to_mulaw(4096));
    EXPECT_EQ(block[159], boardsim::linear_to_mulaw(4096));
    EXPECT_EQ(tuvo_release_block(in, 0xFFFF), 0);
    CloseHandle(ready);
    dx_stop_io(record, 0);
    tuvo_free_buffer(in);
}

TEST_F(LineTest, UnusableSettingsAreReportedAndDefaulted) {
    setenv("BOARDSIM_SAY", path("missing.wav").c_str(), 1);
    setenv("BOARDSIM_CAPTURE", path("no/such/folder/heard.wav").c_str(), 1);
    setenv("BOARDSIM_HANGUP_AFTER", "soon", 1);
    ::testing::internal::CaptureStderr();
    int32_t line = open_channel(1);
    std::string complaints = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(complaints.find("BOARDSIM_SAY"), std::string::npos) << complaints;
    EXPECT_NE(complaints.find("BOARDSIM_CAPTURE"), std::string::npos) << complaints;
    EXPECT_NE(complaints.find("BOARDSIM_HANGUP_AFTER"), std::string::npos) << complaints;
    connect_call(line);
    EXPECT_EQ(status_of("line"), "connected");
}

TEST_F(LineTest, StreamBuffersHoldTheirBlocksAndSurviveBeingFreed) {
    stream_t buffer = tuvo_create_buffer(32, 160);
    ASSERT_NE(buffer, nullptr);
    for (int n = 0; n < 32; ++n) {
        ASSERT_NE(tuvo_next_free_block(buffer), nullptr) << n;
        ASSERT_EQ(tuvo_commit_block(buffer, 160), 0);
    }
    EXPECT_EQ(tuvo_next_free_block(buffer), nullptr) << "32 blocks hold";
    EXPECT_EQ(tuvo_commit_block(buffer, 160), -1);
    tuvo_empty_buffer(buffer);
    EXPECT_NE(tuvo_next_free_block(buffer), nullptr);
    EXPECT_EQ(tuvo_next_recorded_block(buffer), nullptr);
    EXPECT_EQ(tuvo_release_block(buffer, 0xFFFF), -1);
    tuvo_free_buffer(buffer);
    EXPECT_EQ(tuvo_next_free_block(buffer), nullptr);
    EXPECT_EQ(tuvo_commit_block(buffer, 160), -1);
    EXPECT_EQ(tuvo_create_buffer(0, 160), nullptr);
    EXPECT_EQ(tuvo_create_buffer(32, 0), nullptr);
    EXPECT_EQ(tuvo_next_free_block(nullptr), nullptr);
}

TEST_F(LineTest, ACallAfterCallRunOfBuffersKeepsAHandfulOfShells) {
    // The gateway makes two buffers a call and frees them a call later.
    std::set<stream_t> handles;
    stream_t previous[2] = {nullptr, nullptr};
    for (int call = 0; call < 100; ++call) {
        for (stream_t &held : previous) {
            tuvo_free_buffer(held);
            held = tuvo_create_buffer(32, 160);
            ASSERT_NE(held, nullptr);
            ASSERT_NE(tuvo_next_free_block(held), nullptr) << "a reused shell is a whole buffer";
            handles.insert(held);
        }
    }
    EXPECT_LE(handles.size(), 12u) << "freed shells are used again";
    stream_t freed = previous[0];
    tuvo_free_buffer(freed);
    tuvo_free_buffer(freed);
    EXPECT_EQ(tuvo_next_free_block(freed), nullptr) << "freeing twice is harmless";
    tuvo_free_buffer(previous[1]);
}

}  // namespace
}  // namespace sipline::testing
