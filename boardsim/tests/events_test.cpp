#include <atomic>
#include <thread>

#include "boardsim/tests/board_fixture.h"

namespace sipline::testing {
namespace {

using EventsTest = BoardTest;

TEST_F(EventsTest, HookChangesEndWithTheirEventWhenAsynchronous) {
    int32_t line = open_channel(1);
    ASSERT_EQ(dx_sethook(line, DX_OFFHOOK, EV_ASYNC), 0);
    event_seen e = next_event();
    EXPECT_EQ(e.type, EV_HOOK_DONE);
    EXPECT_EQ(e.device, line);
    EXPECT_EQ(e.code, 1);
    EXPECT_EQ(status_of("hook"), "off");
    ASSERT_EQ(dx_sethook(line, DX_ONHOOK, EV_ASYNC), 0);
    e = next_event();
    EXPECT_EQ(e.type, EV_HOOK_DONE);
    EXPECT_EQ(e.code, 0);
    ASSERT_EQ(dx_sethook(line, DX_OFFHOOK, EV_SYNC), 0);
    EXPECT_EQ(next_event(200).type, -1) << "a synchronous hook change reports nothing";
    EXPECT_EQ(status_of("hook"), "off");
}

TEST_F(EventsTest, DiallingTakesItsTimeAndTheFarPartyAnswers) {
    int32_t line = open_channel(1);
    dial_params_t params;
    dx_reset_dial_parameters(&params);
    EXPECT_EQ(dx_dial(line, "123", &params, EV_ASYNC), -1) << "on-hook";
    EXPECT_EQ(srl_last_error_code(line), EDX_HOOK);
    ASSERT_EQ(dx_sethook(line, DX_OFFHOOK, EV_SYNC), 0);
    auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(dx_dial(line, "123", &params, EV_ASYNC), 0);
    EXPECT_EQ(status_of("line"), "dialling");
    event_seen e = next_event();
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(e.type, EV_DIAL_DONE);
    EXPECT_EQ(e.device, line);
    EXPECT_GE(took, std::chrono::milliseconds(params.pause_ms + 3 * params.digit_ms));
    EXPECT_EQ(status_of("line"), "connected");
    EXPECT_EQ(status_of("dialled"), "123");
    EXPECT_EQ(dx_dial(line, "9", &params, EV_ASYNC), -1) << "busy";
}

TEST_F(EventsTest, DigitCollectionEndsOnPound) {
    int32_t line = open_channel(1);
    connect_call(line);
    char digits[DX_MAX_DIGITS + 1] = "xxxx";
    ASSERT_EQ(dx_getdig(line, POUND_LIST, digits, EV_ASYNC), 0);
    EXPECT_EQ(boardsim_command("digits 10"), "OK pressed 10");
    EXPECT_EQ(next_event(200).type, -1) << "no # yet";
    EXPECT_EQ(boardsim_command("digits 0#9"), "OK pressed 0#9");
    event_seen e = next_event();
    EXPECT_EQ(e.type, EV_DIGITS_DONE);
    EXPECT_EQ(e.code, 4);
    EXPECT_STREQ(digits, "100#");
    EXPECT_EQ(dx_termination_mask(line), TM_DIGIT);
    // The 9 after the # waits for the next collection.
    ASSERT_EQ(dx_getdig(line, POUND_LIST, digits, EV_ASYNC), 0);
    EXPECT_EQ(boardsim_command("digits #"), "OK pressed #");
    EXPECT_EQ(next_event().type, EV_DIGITS_DONE);
    EXPECT_STREQ(digits, "9#");
}

TEST_F(EventsTest, DigitCollectionStopsAtItsMostDigits) {
    int32_t line = open_channel(1);
    connect_call(line);
    char digits[DX_MAX_DIGITS + 1];
    ASSERT_EQ(dx_getdig(line, POUND_LIST, digits, EV_ASYNC), 0);
    boardsim_command("digits " + std::string(40, '7'));
    event_seen e = next_event();
    EXPECT_EQ(e.type, EV_DIGITS_DONE);
    EXPECT_EQ(e.code, DX_MAX_DIGITS);
    EXPECT_EQ(std::string(digits), std::string(DX_MAX_DIGITS, '7'));
    EXPECT_EQ(dx_termination_mask(line), TM_MAX_DIGITS);
}

TEST_F(EventsTest, StoppedPlayAndRecordReportTheirEnd) {
    int32_t play = open_channel(1);
    int32_t record = open_channel(3);
    ASSERT_EQ(dx_play(play, nullptr, HANGUP_LIST, &MULAW_8K, EV_ASYNC), 0);
    ASSERT_EQ(dx_rec(record, nullptr, HANGUP_LIST, &MULAW_8K, RECORD_MODE), 0);
    EXPECT_EQ(dx_play(play, nullptr, HANGUP_LIST, &MULAW_8K, EV_ASYNC), -1) << "busy";
    EXPECT_EQ(srl_last_error_code(play), EDX_BUSY);
    ASSERT_EQ(dx_stop_io(play, 0), 0);
    event_seen e = next_event();
    EXPECT_EQ(e.type, TDX_PLAY);
    EXPECT_EQ(e.device, play);
    EXPECT_EQ(dx_termination_mask(play), TM_STOPPED);
    ASSERT_EQ(dx_stop_io(record, 0), 0);
    e = next_event();
    EXPECT_EQ(e.type, TDX_RECORD);
    EXPECT_EQ(e.device, record);
    EXPECT_EQ(dx_stop_io(record, 0), 0) << "nothing to stop";
    EXPECT_EQ(next_event(100).type, -1);
}

TEST_F(EventsTest, PlayAndRecordRefuseWhatTheBoardCannotDo) {
    int32_t play = open_channel(1);
    stream_format_t wav = {1, 1, 8000, 16};
    int file_list = 0;
    EXPECT_EQ(dx_play(play, nullptr, HANGUP_LIST, &wav, EV_ASYNC), -1);
    EXPECT_EQ(dx_play(play, &file_list, HANGUP_LIST, &MULAW_8K, EV_ASYNC), -1);
    EXPECT_EQ(dx_play(play, nullptr, HANGUP_LIST, &MULAW_8K, EV_SYNC), -1);
    EXPECT_EQ(dx_rec(play, nullptr, HANGUP_LIST, &MULAW_8K, EV_ASYNC), -1);
    EXPECT_EQ(dx_play(42, nullptr, HANGUP_LIST, &MULAW_8K, EV_ASYNC), -1);
    stream_t buffer = tuvo_create_buffer(4, 160);
    EXPECT_EQ(tuvo_start_play(play, buffer), -1) << "no play running";
    tuvo_free_buffer(buffer);
}

TEST_F(EventsTest, PostedEventsComeBackFromAnyThread) {
    int32_t line = open_channel(1);
    std::thread poster(
        [line] { EXPECT_EQ(srl_post_event(line, EV_REMOTE_HANGUP, 0, nullptr, 0), 0); });
    event_seen e = next_event();
    poster.join();
    EXPECT_EQ(e.type, EV_REMOTE_HANGUP);
    EXPECT_EQ(e.device, line);
    EXPECT_EQ(e.code, 0);
    EXPECT_EQ(srl_post_event(12345, EV_WAKEUP, 0, nullptr, 0), -1);
    EXPECT_EQ(next_event(50).type, -1) << "the wait's limit passes";
}

TEST_F(EventsTest, RingsAreReportedOnlyAfterTheChannelSetting) {
    int32_t line = dx_open_device("dxxxB1C1", 0);
    EXPECT_EQ(boardsim_command("ring"), "ERR no channel is ready for rings");
    dx_channel_setting(line, CHANNEL_SETTING_RINGS);
    EXPECT_EQ(boardsim_command("ring"), "OK ringing");
    event_seen e = next_event();
    EXPECT_EQ(e.type, TDX_CST);
    EXPECT_EQ(e.code, CST_RINGS);
    EXPECT_EQ(e.device, line);
    EXPECT_EQ(status_of("line"), "ringing");
    // Answering the ring connects the caller.
    ASSERT_EQ(dx_sethook(line, DX_OFFHOOK, EV_ASYNC), 0);
    EXPECT_EQ(next_event().type, EV_HOOK_DONE);
    EXPECT_EQ(status_of("line"), "connected");
}

}  // namespace
}  // namespace sipline::testing
