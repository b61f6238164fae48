#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "gateway/channels.h"
#include "gateway/tests/gateway_fixture.h"

namespace sipline {
namespace {

using testing::CAPTURE_HEADER;
using testing::read_all;
using testing::status_of;

struct Entry {
    uint16_t type, condition, length, flags, data;
};

void expect_entry(const termination_t &t, Entry e, const char *what) {
    EXPECT_EQ(t.type, e.type) << what;
    EXPECT_EQ(t.condition, e.condition) << what;
    EXPECT_EQ(t.length, e.length) << what;
    EXPECT_EQ(t.flags, e.flags) << what;
    EXPECT_EQ(t.data, e.data) << what;
}

class ChannelsTest : public testing::GatewayTest {
  protected:
    // OpenBoard with what it wrote to standard output and standard error.
    void open_board() {
        ::testing::internal::CaptureStdout();
        ::testing::internal::CaptureStderr();
        OpenBoard();
        std::fflush(stdout);
        out_ = ::testing::internal::GetCapturedStdout();
        err_ = ::testing::internal::GetCapturedStderr();
    }

    std::string out_;
    std::string err_;
};

TEST_F(ChannelsTest, OpenBoardOpensChannelsOneAndThreeWithTheirLists) {
    open_board();
    EXPECT_EQ(FWBuffersize, 160);
    EXPECT_NE(out_.find("Size of Firmware Buffer for Record = 160\n"), std::string::npos) << out_;
    EXPECT_NE(out_.find("Board initialized\n"), std::string::npos) << out_;
    EXPECT_EQ(status_of("opened"), "dxxxB1,dxxxB1C1,dxxxB1C3") << "channel 2 is never opened";
    EXPECT_EQ(status_of("hook"), "on");
    for (int i : {1, 3}) {
        const channel_t &ch = Channels[i];
        std::string name = "dxxxB1C" + std::to_string(i);
        EXPECT_STREQ(ch.name, name.c_str());
        EXPECT_STREQ(srl_device_name(ch.device), name.c_str());
        // The first call's I/O list goes on to its second entry.
        expect_entry(ch.io_list[0], {1, 4, 0, 0x0B, 0}, "I/O 1 at OpenBoard");
        expect_entry(ch.io_list[1], {4, 6, 200, 0, 0}, "I/O 2 at OpenBoard");
        expect_entry(ch.digit_list[0], {4, 7, 0x1000, 1, 0}, "digit");
        expect_entry(ch.prompt_list[0], {0, 0, 0, 0, 0}, "prompt at OpenBoard");
        EXPECT_EQ(ch.io_done, 0);
        EXPECT_NE(ch.stream, nullptr);
        EXPECT_NE(StreamEvents[i], nullptr);
    }
    EXPECT_STREQ(Channels[2].name, "");
    EXPECT_EQ(LocalPort, 10000);
    EXPECT_EQ(std::count(std::begin(SilenceBlock), std::end(SilenceBlock), 0xFF), 768);
}

TEST_F(ChannelsTest, AnUnreadableFirmwareBufferSizeFallsBackTo768) {
    setenv("BOARDSIM_BLOCK", "fail", 1);
    open_board();
    EXPECT_EQ(FWBuffersize, 768);
    EXPECT_EQ(err_, "Default Size of Firmware Buffer for Record = 768\n");
    EXPECT_NE(out_.find("Board initialized\n"), std::string::npos);
}

TEST_F(ChannelsTest, InitGlobalsReopensWithLaterCallsLists) {
    open_board();
    dx_close_device(Channels[1].device);
    dx_close_device(Channels[3].device);
    CallLoopRunning = 0;
    MediaStop = 1;
    HangupSignalled = 1;
    LocalPort = 8188;
    InitGlobals();
    EXPECT_EQ(CallLoopRunning, 1);
    EXPECT_EQ(MediaStop, 0);
    EXPECT_EQ(HangupSignalled, 0);
    EXPECT_EQ(LocalPort, 10000);
    for (int i : {1, 3}) {
        const channel_t &ch = Channels[i];
        expect_entry(ch.io_list[0], {4, 4, 0, 0x0B, 0}, "I/O 1 at InitGlobals");
        expect_entry(ch.io_list[1], {4, 6, 200, 0, 0}, "I/O 2 at InitGlobals");
        expect_entry(ch.digit_list[0], {4, 7, 0x1000, 1, 0}, "digit");
        expect_entry(ch.prompt_list[0], {4, 4, 0, 0x0B, 0}, "prompt at InitGlobals");
        EXPECT_GE(ch.device, 0);
    }
    EXPECT_EQ(status_of("opened"), "dxxxB1,dxxxB1C1,dxxxB1C3");
}

TEST_F(ChannelsTest, PlayStartsWithTwoBlocksOfSilence) {
    std::string capture = path("heard.wav");
    setenv("BOARDSIM_CAPTURE", capture.c_str(), 1);
    open_board();
    int32_t line = Channels[1].device;
    ASSERT_EQ(dx_sethook(line, DX_OFFHOOK, EV_SYNC), 0);
    dial_params_t quick{0, 0};
    ASSERT_EQ(dx_dial(line, "1", &quick, EV_ASYNC), 0);
    ASSERT_EQ(srl_wait_event(2000), 0);
    ASSERT_EQ(srl_event_type(), EV_DIAL_DONE);

    ASSERT_EQ(StartPlaying(1), 0);
    // What the network sends comes after the silence, however soon it comes.
    for (int n = 0; n < 5; ++n) {
        uint8_t *block = tuvo_next_free_block(Channels[1].stream);
        ASSERT_NE(block, nullptr);
        std::memset(block, 0x2A, static_cast<size_t>(FWBuffersize));
        tuvo_commit_block(Channels[1].stream, FWBuffersize);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    dx_stop_io(line, 0);
    boardsim_shutdown();
    std::vector<uint8_t> heard = read_all(capture);
    ASSERT_GE(heard.size(), CAPTURE_HEADER + 3 * 160);
    for (size_t i = 0; i < 2 * 160; ++i) {
        ASSERT_EQ(heard[CAPTURE_HEADER + i], 0xFF) << "byte " << i;
    }
    EXPECT_EQ(heard[CAPTURE_HEADER + 2 * 160], 0x2A);
}

TEST_F(ChannelsTest, BlocksLongerThanTheSilenceKeptAtHandAreSilentToo) {
    std::string capture = path("heard.wav");
    setenv("BOARDSIM_CAPTURE", capture.c_str(), 1);
    open_board();
    // As if the board had reported 1024-byte blocks: the streams are made with that size.
    dx_close_device(Channels[1].device);
    dx_close_device(Channels[3].device);
    FWBuffersize = 1024;
    InitGlobals();
    int32_t line = Channels[1].device;
    ASSERT_EQ(dx_sethook(line, DX_OFFHOOK, EV_SYNC), 0);
    dial_params_t quick{0, 0};
    ASSERT_EQ(dx_dial(line, "1", &quick, EV_ASYNC), 0);
    ASSERT_EQ(srl_wait_event(2000), 0);
    ASSERT_EQ(StartPlaying(1), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // 128 ms a block
    dx_stop_io(line, 0);
    boardsim_shutdown();
    FWBuffersize = 160;
    std::vector<uint8_t> heard = read_all(capture);
    ASSERT_EQ(heard.size(), CAPTURE_HEADER + 2 * 1024);
    EXPECT_EQ(std::count(heard.begin() + CAPTURE_HEADER, heard.end(), 0xFF), 2 * 1024);
}

TEST_F(ChannelsTest, OtherThreadsPostToChannelOne) {
    open_board();
    std::thread sip_side([] { EXPECT_EQ(PostLineEvent(EV_REMOTE_HANGUP), 0); });
    sip_side.join();
    ASSERT_EQ(srl_wait_event(1000), 0);
    EXPECT_EQ(srl_event_type(), EV_REMOTE_HANGUP);
    EXPECT_EQ(srl_event_device(), Channels[1].device);
}

TEST_F(ChannelsTest, RecordingSignalsTheStreamEvent) {
    open_board();
    ::testing::internal::CaptureStdout();
    ASSERT_EQ(StartRecording(3), 0);
    std::fflush(stdout);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Exiting start Recording\n");
    EXPECT_EQ(WaitForSingleObject(StreamEvents[3], 1000), WAIT_OBJECT_0);
    EXPECT_NE(tuvo_next_recorded_block(Channels[3].stream), nullptr);
}

TEST_F(ChannelsTest, AFailedStartIsReportedWithTheBoardsError) {
    open_board();
    ASSERT_EQ(StartPlaying(1), 0);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(StartPlaying(1), -1);
    std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.rfind("ERROR: 3: dxxxB1C1: dx_play(): ", 0), 0u) << err;
    ASSERT_EQ(StartRecording(3), 0);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(StartRecording(3), -1);
    err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.rfind("ERROR: 3: dxxxB1C3: dx_rec: ", 0), 0u) << err;
}

}  // namespace
}  // namespace sipline
