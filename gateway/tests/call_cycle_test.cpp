#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "gateway/call_cycle.h"
#include "gateway/channels.h"
#include "gateway/sip_side.h"
#include "gateway/tests/gateway_fixture.h"

namespace sipline {
namespace {

using testing::status_of;

// Ends the running call cycle as the call state machine does at the end of a call.
void end_call(int32_t line) {
    CallLoopRunning = 0;
    srl_post_event(line, EV_WAKEUP, 0, nullptr, 0);
}

using CallCycle = testing::GatewayTest;

TEST_F(CallCycle, EachCallEndsOnHookWithFreshChannelsAndAudioThreads) {
    sip_side::Connect(nullptr);
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    OpenBoard();
    int32_t line = Channels[LINE_CHANNEL].device;
    CallLoopRunning = 1;
    // The line is off-hook during the call; the cycle's end puts it back.
    ASSERT_EQ(dx_sethook(line, DX_OFFHOOK, EV_SYNC), 0);
    LocalPort = 8190;
    std::thread cycles(RunCallCycles);

    end_call(line);
    // InitGlobals sets the flag again, and the next cycle follows.
    for (int i = 0; i < 300 && CallLoopRunning == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(CallLoopRunning, 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(status_of("hook"), "on");

    QuitRequested = 1;
    end_call(line);
    cycles.join();
    std::fflush(stdout);
    std::string out = ::testing::internal::GetCapturedStdout();
    std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(LocalPort, 10000);
    EXPECT_EQ(Channels[LINE_CHANNEL].device, line) << "reopened";
    EXPECT_EQ(Channels[LINE_CHANNEL].io_list[0].type, TERM_LAST) << "later calls' I/O list";
    EXPECT_EQ(MediaStop, 1) << "the last pair was dismissed";
    const std::string pair = "Creating InTh\nCreating OutTh\n";
    size_t first = out.find(pair);
    ASSERT_NE(first, std::string::npos) << out;
    EXPECT_NE(out.find("Initing globals\nGlobals inited\n" + pair, first), std::string::npos)
        << "a new pair for the next call:\n"
        << out;
    EXPECT_NE(err.find("Setting channels onhook\nSet onhook\n"), std::string::npos) << err;
    EXPECT_EQ(err.find("did not end"), std::string::npos) << "every unused pair ended:\n" << err;
    EXPECT_EQ(AudioThreads[0], nullptr);
    EXPECT_EQ(AudioThreads[1], nullptr);
    EXPECT_EQ(status_of("opened"), "dxxxB1,dxxxB1C1,dxxxB1C3");

    EXPECT_NE(CurrentRequest.load(), nullptr) << "a fresh record for the next call";
    sip_side::DropCurrentRequest();
    QuitRequested = 0;
    MediaStop = 0;
}

}  // namespace
}  // namespace sipline
