#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "gateway/call_internal.h"
#include "gateway/channels.h"
#include "gateway/directory.h"
#include "gateway/line_tones.h"
#include "gateway/process_event.h"
#include "gateway/sip_side.h"
#include "gateway/tests/gateway_fixture.h"
#include "media/session.h"
#include "media/threads.h"
#include "sip/uas/request.h"
#include "sip/uas/status.h"
#include "sip/uas/transport.h"

namespace sipline {
namespace {

using testing::next_event;
using testing::status_of;

// The records of a call are released by the threads that answer its last messages (an ACK is
// handled on a thread of its own), which may still be finishing when the state machine is done.
// Not counting the idle record that the end of a call leaves for the next one.
int32_t live_records_after_the_call() {
    auto count = [] { return RequestLiveCount() - (CurrentRequest.load() != nullptr ? 1 : 0); };
    for (int i = 0; i < 100 && count() != 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return count();
}

// The far end of the SIP side on loopback: keeps every message the gateway sends it,
// acknowledges each final answer to the INVITE and answers each BYE as a caller would.
class SipPeer {
  public:
    SipPeer() {
        fd_ = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd_, reinterpret_cast<sockaddr *>(&a), sizeof a);
        socklen_t length = sizeof a;
        ::getsockname(fd_, reinterpret_cast<sockaddr *>(&a), &length);
        address_ = a;
        send_fd_ = ::socket(AF_INET, SOCK_DGRAM, 0);
        reader_ = std::thread([this] { read(); });
    }
    ~SipPeer() {
        stop_ = true;
        reader_.join();
        ::close(fd_);
        ::close(send_fd_);
    }
    int port() const { return ntohs(address_.sin_port); }

    // A request of the call `id` from this peer to number@gw, as the listener would hand it on.
    void send(const std::string &method, int cseq, const std::string &body = "") {
        std::string text =
            method + " sip:" + number +
            "@gw SIP/2.0\r\nVia: SIP/2.0/UDP 127.0.0.1:" + std::to_string(port()) +
            ";branch=z9hG4bK-t\r\nFrom: <sip:tester@127.0.0.1>;tag=1\r\nTo: <sip:" + number +
            "@gw>\r\nCall-ID: " + call_id + "\r\nCSeq: " + std::to_string(cseq) + " " +
            (method == "ACK" ? "ACK" : method) +
            "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
        std::vector<char> buffer(text.begin(), text.end());
        buffer.push_back('\0');
        DatagramProcess(buffer.data(), static_cast<int32_t>(text.size()), send_fd_, &address_);
    }
    void invite() {
        send("INVITE", 1,
             "v=0\r\no=- 1 1 IN IP4 127.0.0.1\r\ns=-\r\nc=IN IP4 127.0.0.1\r\nt=0 0\r\n"
             "m=audio 4000 RTP/AVP 0\r\n");
    }
    // The first lines of what arrived, in order.
    std::vector<std::string> first_lines() {
        std::lock_guard lock(mutex_);
        std::vector<std::string> lines;
        for (const std::string &m : got_) {
            lines.push_back(m.substr(0, m.find("\r\n")));
        }
        return lines;
    }
    // The same, a final answer sent again before its ACK arrived counted once.
    std::vector<std::string> distinct_lines() {
        std::vector<std::string> lines = first_lines();
        lines.erase(std::unique(lines.begin(), lines.end()), lines.end());
        return lines;
    }
    // Waits up to 3 s until `count` messages have arrived.
    bool wait_for_count(size_t count) {
        for (int i = 0; i < 300 && first_lines().size() < count; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return first_lines().size() >= count;
    }
    // Waits up to 3 s for a message whose first line begins with `start`.
    bool wait_for(const std::string &start) {
        for (int i = 0; i < 300; ++i) {
            for (const std::string &line : first_lines()) {
                if (line.rfind(start, 0) == 0) {
                    return true;
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

    std::string number = "5551234";
    std::string call_id = "unit-1@127.0.0.1";
    std::atomic<bool> acknowledge{true};

  private:
    void read() {
        while (!stop_) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0) {
                continue;
            }
            char piece[4096];
            ssize_t n = ::recv(fd_, piece, sizeof piece, 0);
            if (n <= 0) {
                continue;
            }
            std::string message(piece, static_cast<size_t>(n));
            bool final_to_invite = message.rfind("SIP/2.0 1", 0) != 0 &&
                                   message.rfind("SIP/2.0", 0) == 0 &&
                                   message.find("INVITE\r\n") != std::string::npos;
            {
                std::lock_guard lock(mutex_);
                got_.push_back(message);
            }
            if (final_to_invite && acknowledge) {
                send("ACK", 1);
            }
            if (message.rfind("BYE ", 0) == 0) {
                answer(message, "200 OK");
            }
        }
    }

    // A response to `request` with its Via, From, To, Call-ID and CSeq lines.
    void answer(const std::string &request, const std::string &status) {
        std::string text = "SIP/2.0 " + status + "\r\n";
        size_t at = request.find("\r\n") + 2;
        for (size_t end; (end = request.find("\r\n", at)) != std::string::npos && end > at;
             at = end + 2) {
            std::string line = request.substr(at, end - at);
            for (const char *name : {"Via:", "From:", "To:", "Call-ID:", "CSeq:"}) {
                if (line.rfind(name, 0) == 0) {
                    text += line + "\r\n";
                }
            }
        }
        text += "Content-Length: 0\r\n\r\n";
        std::vector<char> buffer(text.begin(), text.end());
        buffer.push_back('\0');
        DatagramProcess(buffer.data(), static_cast<int32_t>(text.size()), send_fd_, &address_);
    }

    int fd_ = -1;
    int send_fd_ = -1;
    sockaddr_in address_{};
    std::atomic<bool> stop_{false};
    std::thread reader_;
    std::mutex mutex_;
    std::vector<std::string> got_;
};

class ProcessEventTest : public testing::GatewayTest {
  protected:
    void SetUp() override {
        GatewayTest::SetUp();
        // Made once, as start-up does: the media threads and the state machine share it.
        if (RtpMutex == nullptr) {
            RtpMutex = CreateMutex(false);
        }
        ASSERT_EQ(chdir(dir_.c_str()), 0);
        write_file("enter.vox", std::vector<uint8_t>(800, 0xFF));
        write_file("notfound.vox", std::vector<uint8_t>(800, 0xFF));
        std::strcpy(HostShortName, "gw");
        std::strcpy(HostName, "gw.test");
        std::strcpy(HostAddress, "127.0.0.1");
        ::testing::internal::CaptureStdout();
        ::testing::internal::CaptureStderr();
        sip_side::Connect(nullptr);
        OpenBoard();
        sip_side::NewCurrentRequest();
        line_ = Channels[LINE_CHANNEL].device;
        CallState = ST_WTRING;
        CallLoopRunning = 1;
        MediaStop = 0;
        HangupSignalled = 0;
        CallProgress = {};
        static char offer[] = "v=0\r\n";
        SdpOffer = offer;
        AudioThreads[0] = CreateThread(InTh, nullptr, CREATE_SUSPENDED);
        AudioThreads[1] = CreateThread(OutTh, nullptr, CREATE_SUSPENDED);
    }
    void TearDown() override {
        MediaStop = 1;
        for (HANDLE &thread : AudioThreads) {
            ResumeThread(thread);
            WaitForSingleObject(thread, 2000);
            CloseHandle(thread);
            thread = nullptr;
        }
        if (MediaSessionOpen()) {
            CloseMediaSession("test");
        }
        sip_side::DropCurrentRequest();
        std::fflush(stdout);
        out_ = ::testing::internal::GetCapturedStdout();
        err_ = ::testing::internal::GetCapturedStderr();
        if (HasFailure()) {
            // The failure messages went to the captured output, with what the gateway said.
            std::fprintf(stderr, "%s\n--- stderr\n%s", out_.c_str(), err_.c_str());
        }
        CallLoopRunning = 1;
        MediaStop = 0;
        GatewayTest::TearDown();
    }
    // Takes board events into ProcessEvent until the state is `wanted` (up to 5 s).
    bool run_until(int32_t wanted) {
        for (int i = 0; i < 50 && CallState != wanted; ++i) {
            testing::event_seen e = next_event(100);
            if (e.type >= 0) {
                ProcessEvent(e.device, e.type, &e.code);
            }
        }
        return CallState == wanted;
    }
    int feed(int32_t type, uint16_t code) { return ProcessEvent(line_, type, &code); }
    // What the gateway wrote to standard output and error since the last look.
    std::string said() {
        std::fflush(stdout);
        std::fflush(stderr);
        std::string text = ::testing::internal::GetCapturedStdout();
        text += ::testing::internal::GetCapturedStderr();
        ::testing::internal::CaptureStdout();
        ::testing::internal::CaptureStderr();
        return text;
    }

    int32_t line_ = -1;
    std::string out_, err_;
};

struct ring_row {
    int32_t state;
    int32_t next;
    const char *said;  // on standard output, or "Unhandled" on standard error
};

TEST_F(ProcessEventTest, ARingInEachStateIsTakenOnlyWhereTheMachineWaitsForOne) {
    const ring_row rows[] = {
        {ST_WTRING, ST_RXOFFHK, "ST_WTRING\n"},
        {ST_RXOFFHK, ST_RXOFFHK, "Unhandled"},
        {ST_RXGETDTMFS, ST_RXGETDTMFS, "Unhandled"},
        {ST_TXOFFHK, ST_TXOFFHK, "Unhandled"},
        {ST_TXDIAL, ST_TXDIAL, "Unhandled"},
        {ST_CONNECTING, ST_CONNECTING, "Unhandled"},
        {ST_CLEANUP, ST_CLEANUP, "TDX_CST, just exiting\n"},
        {ST_SIPINV, ST_TXOFFHK, "Set off-hook\n"},
    };
    said();
    for (const ring_row &row : rows) {
        CallState = row.state;
        feed(TDX_CST, CST_RINGS);
        std::string text = said();
        EXPECT_EQ(CallState, row.next) << "ring in state " << row.state;
        EXPECT_NE(text.find(row.said), std::string::npos) << "ring in state " << row.state << ":\n"
                                                          << text;
        dx_sethook(line_, DX_ONHOOK, EV_SYNC);
        while (next_event(100).type >= 0) {
        }
    }
}

TEST_F(ProcessEventTest, AHookEventWithCodeZeroChangesNothing) {
    for (int32_t state : {ST_RXOFFHK, ST_TXOFFHK}) {
        CallState = state;
        feed(EV_HOOK_DONE, 0);
        EXPECT_EQ(CallState, state);
    }
    EXPECT_NE(said().find("Unhandled\nUnhandled\n"), std::string::npos);
}

TEST_F(ProcessEventTest, TheFirstStoppedIoAfterARemoteHangUpEndsTheCallAndALateOneIsUnhandled) {
    CallState = ST_IODONE;
    ProcessEvent(Channels[RECORD_CHANNEL].device, TDX_RECORD, nullptr);
    EXPECT_EQ(Channels[RECORD_CHANNEL].io_done, 1);
    EXPECT_EQ(CallState, ST_CYCLEEND);
    EXPECT_EQ(CallLoopRunning, 0);
    EXPECT_EQ(CurrentRequest.load()->call_id, nullptr) << "an idle record, no call";
    feed(TDX_PLAY, 0);
    EXPECT_EQ(CallState, ST_CYCLEEND);
    std::string text = said();
    EXPECT_NE(text.find("dxxxB1C3:2 TDX_RECORD Term mask = 0x"), std::string::npos) << text;
    EXPECT_NE(text.find("IODONE fininshed\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Unhandled"), std::string::npos) << text;
}

TEST_F(ProcessEventTest, TheEndOfAFailedSipMediaSetUpLeavesTheGatewayIdle) {
    ASSERT_EQ(dx_sethook(line_, DX_OFFHOOK, EV_SYNC), 0);
    CallState = ST_SIPCLEANUP;
    feed(EV_WAKEUP, 0);
    EXPECT_EQ(CallState, ST_CYCLEEND);
    EXPECT_EQ(CallLoopRunning, 0) << "the next cycle serves the next INVITE";
    EXPECT_EQ(CurrentRequest.load()->call_id, nullptr) << "an idle record, no call";
    EXPECT_EQ(status_of("hook"), "on");
}

struct directory_row {
    const char *dial;
    int result;
    uint16_t port;
    const char *body_start;  // null: SdpOffer unchanged
};

TEST(Directory, KnowsThreeNumbersOfThreeCharacters) {
    static char built[] = "built";
    const directory_row rows[] = {
        {"100", 0, 8188, "v=0\r\no=sipline"},
        {"101", 0, 8190, nullptr},
        {"102", 0, 8188, "v=0\no=sipline"},
        {"10", -1, 0, nullptr},
        {"1000", -1, 0, nullptr},
        {"9999", -1, 0, nullptr},
        {"", -1, 0, nullptr},
        {"abc", -1, 0, nullptr},
    };
    for (const directory_row &row : rows) {
        SdpOffer = built;
        RTPDestPort = 0;
        LocalPort = RTP_PORT;
        EXPECT_EQ(LookupNumber(row.dial), row.result) << row.dial;
        EXPECT_EQ(RTPDestPort, row.port) << row.dial;
        EXPECT_EQ(LocalPort, row.result == 0 ? row.port : RTP_PORT) << row.dial;
        if (row.body_start == nullptr) {
            EXPECT_STREQ(SdpOffer, "built") << row.dial;
        } else {
            EXPECT_EQ(std::string(SdpOffer).rfind(row.body_start, 0), 0u) << row.dial;
            EXPECT_NE(std::string(SdpOffer).find("m=audio 8188 RTP/AVP 0 3 8 101\r\n"),
                      std::string::npos)
                << "the offer names the gateway's formats and telephone-event";
        }
        ForgetDirectoryEntry();
        EXPECT_STREQ(SdpOffer, "built") << "the offer comes back after " << row.dial;
    }
    EXPECT_STREQ(RTPDestAddress, "127.0.0.1");
    LocalPort = RTP_PORT;
}

TEST_F(ProcessEventTest, ALineCallToAnEntryGetsItsMediaAndEndsWhenTheLineHangsUp) {
    ASSERT_EQ(boardsim_command("ring"), "OK ringing");
    ASSERT_TRUE(run_until(ST_RXGETDTMFS));
    EXPECT_EQ(boardsim_command("digits 101#"), "OK pressed 101#");
    ASSERT_TRUE(run_until(ST_CLEANUP)) << "the media set-up is followed by the media";
    EXPECT_TRUE(MediaSessionOpen());
    EXPECT_EQ(LocalPort, 8190);
    EXPECT_STREQ(DialString, "101");
    EXPECT_EQ(boardsim_command("hangup"), "OK hung up");
    for (int i = 0; i < 30 && CallLoopRunning == 1; ++i) {
        testing::event_seen e = next_event(100);
        if (e.type >= 0) {
            ProcessEvent(e.device, e.type, &e.code);
        }
    }
    EXPECT_EQ(CallLoopRunning, 0);
    EXPECT_EQ(CallState, ST_CYCLEEND);
    EXPECT_FALSE(MediaSessionOpen());
    EXPECT_EQ(WaitForSingleObject(AudioThreads[0], 0) == WAIT_OBJECT_0 ||
                  WaitForSingleObject(AudioThreads[1], 0) == WAIT_OBJECT_0,
              true);
}

TEST(Directory, EntriesWithAUriAreCalledAndTheOneWithoutNeverCallsAnEarlierOnesUri) {
    const struct {
        const char *dial;
        const char *uri;
    } rows[] = {
        {"100", "sip:100@127.0.0.1:5062"}, {"101", nullptr}, {"102", "sip:102@127.0.0.1:5062"}};
    for (const auto &row : rows) {
        ASSERT_EQ(LookupNumber(row.dial), 0);
        if (row.uri == nullptr) {
            EXPECT_EQ(DestinationUri, nullptr) << row.dial;
        } else {
            EXPECT_STREQ(DestinationUri, row.uri) << row.dial;
        }
        ForgetDirectoryEntry();
        EXPECT_EQ(DestinationUri, nullptr) << "forgotten after " << row.dial;
    }
    LocalPort = RTP_PORT;
}

// Zero crossings of the mu-law samples, as a frequency over the piece.
double tone_hz(const std::vector<uint8_t> &samples) {
    int crossings = 0;
    for (size_t i = 1; i < samples.size(); ++i) {
        // Bit 7 of a mu-law code is the sample's sign (set for positive samples).
        crossings += ((samples[i] ^ samples[i - 1]) & 0x80) != 0 ? 1 : 0;
    }
    return crossings / 2.0 / (static_cast<double>(samples.size()) / 8000);
}

TEST(LineTones, RingbackAndBusyAre425HzInTheirCadences) {
    struct row {
        line_tone_t tone;
        int64_t at_ms;
        bool sounds;
    };
    const row rows[] = {
        {line_tone_t::ringback, 0, true},     {line_tone_t::ringback, 900, true},
        {line_tone_t::ringback, 1000, false}, {line_tone_t::ringback, 4900, false},
        {line_tone_t::ringback, 5000, true},  {line_tone_t::busy, 0, true},
        {line_tone_t::busy, 500, false},      {line_tone_t::busy, 1000, true},
    };
    for (const row &r : rows) {
        std::vector<uint8_t> piece(800);  // 100 ms
        LineToneFill(r.tone, r.at_ms * 8, piece.data(), static_cast<int32_t>(piece.size()));
        bool silent = std::all_of(piece.begin(), piece.end(), [](uint8_t c) { return c == 0xFF; });
        EXPECT_EQ(!silent, r.sounds) << r.at_ms;
        if (r.sounds) {
            EXPECT_NEAR(tone_hz(piece), LINE_TONE_HZ, 15) << r.at_ms;
        }
    }
}

TEST_F(ProcessEventTest, ALineCallWhoseInviteCannotGoOutPutsTheLineOnHook) {
    // No SIP listener runs here, so the INVITE has no socket to go out from.
    ASSERT_EQ(boardsim_command("ring"), "OK ringing");
    ASSERT_TRUE(run_until(ST_RXGETDTMFS));
    EXPECT_EQ(boardsim_command("digits 100#"), "OK pressed 100#");
    ASSERT_TRUE(run_until(ST_WTRING));
    EXPECT_EQ(status_of("hook"), "on");
    EXPECT_EQ(CurrentRequest.load()->call_id, nullptr) << "no call record was published";
    EXPECT_EQ(DestinationUri, nullptr);
}

TEST_F(ProcessEventTest, ARefusedLineCallPlaysTheBusyToneThenEndsOnHook) {
    ASSERT_EQ(dx_sethook(line_, DX_OFFHOOK, EV_SYNC), 0);
    ASSERT_EQ(StartPlaying(LINE_CHANNEL), 0);
    CallProgress.streams_started = true;
    CallState = ST_LINEREFUSED;
    feed(EV_CALL_PROGRESS, 0);
    EXPECT_NE(said().find("busy tone"), std::string::npos);
    EXPECT_EQ(CallState, ST_LINEREFUSED);
    EXPECT_GT(EventTimeLimitMs(), 0) << "the tone plays for a while";
    ProcessTimeLimit();
    EXPECT_EQ(CallState, ST_CYCLEEND);
    EXPECT_EQ(CallLoopRunning, 0);
    EXPECT_NE(said().find("Line call refused"), std::string::npos);
}

TEST_F(ProcessEventTest, AStateReachedAgainAfterACallHasItsWholeLimit) {
    // The busy tone's 3 s is the shortest limit; one call waits in it, goes through the
    // connected and idle states (limits of their own), and the next call comes back to it.
    CallState = ST_LINEREFUSED;
    EXPECT_GT(EventTimeLimitMs(), 2900);
    CallState = ST_CLEANUP;
    EventTimeLimitMs();
    CallState = ST_WTRING;
    EventTimeLimitMs();
    std::this_thread::sleep_for(std::chrono::milliseconds(3100));
    CallState = ST_LINEREFUSED;
    EXPECT_GT(EventTimeLimitMs(), 2900) << "the limit ran down from the call before";
    CallState = ST_WTRING;
}

TEST_F(ProcessEventTest, AProgressEventAfterTheCallIsConnectedChangesNothing) {
    CallState = ST_CLEANUP;
    feed(EV_CALL_PROGRESS, 0);
    EXPECT_EQ(CallState, ST_CLEANUP) << "not taken for the line's hang-up";
    EXPECT_EQ(CallLoopRunning, 1);
}

TEST_F(ProcessEventTest, ANumberFromTheLineThatIsNotFoundOrDoesNotFitHearsNotFound) {
    for (const char *keys : {"9999#", "12345678901234567890123456789012345#", "#"}) {
        ASSERT_EQ(boardsim_command("ring"), "OK ringing") << keys;
        ASSERT_TRUE(run_until(ST_RXGETDTMFS)) << keys;
        boardsim_command(std::string("digits ") + keys);
        ASSERT_TRUE(run_until(ST_WTRING)) << keys;
        EXPECT_EQ(status_of("hook"), "on") << keys;
        EXPECT_EQ(CallLoopRunning, 1);
        while (next_event(100).type >= 0) {
        }
    }
    EXPECT_EQ(status_of("prompts"),
              "enter.vox,notfound.vox,enter.vox,notfound.vox,enter.vox,notfound.vox");
    EXPECT_FALSE(MediaSessionOpen());
}

TEST_F(ProcessEventTest, NoDigitsInTimeEndsTheCollectionOnHook) {
    ASSERT_EQ(boardsim_command("ring"), "OK ringing");
    ASSERT_TRUE(run_until(ST_RXGETDTMFS));
    EXPECT_GT(EventTimeLimitMs(), 0);
    ProcessTimeLimit();
    EXPECT_EQ(CallState, ST_WTRING);
    EXPECT_EQ(status_of("hook"), "on");
}

TEST_F(ProcessEventTest, ACancelBeforeThe200IsAnswered487AndNoByeFollows) {
    SipPeer peer;
    peer.invite();
    ASSERT_TRUE(run_until(ST_TXDIAL));
    peer.send("CANCEL", 1);
    ASSERT_TRUE(peer.wait_for("SIP/2.0 200"));
    for (int i = 0; i < 30 && CallLoopRunning == 1; ++i) {
        testing::event_seen e = next_event(100);
        if (e.type >= 0) {
            ProcessEvent(e.device, e.type, &e.code);
        }
    }
    EXPECT_EQ(CallLoopRunning, 0);
    EXPECT_EQ(CallState, ST_CYCLEEND);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    std::vector<std::string> want = {"SIP/2.0 100 Trying", "SIP/2.0 200 OK",
                                     "SIP/2.0 487 Request Terminated"};
    EXPECT_EQ(peer.distinct_lines(), want);
    EXPECT_EQ(live_records_after_the_call(), 0) << "every record of the call was released";
}

TEST_F(ProcessEventTest, TheLineHangingUpWhileDialledGivesTheCaller480) {
    SipPeer peer;
    peer.invite();
    ASSERT_TRUE(run_until(ST_TXDIAL));
    EXPECT_EQ(boardsim_command("hangup"), "OK hung up");
    EXPECT_EQ(next_event(1500).type, -1) << "the board reports no end of dialling";
    ProcessTimeLimit();
    EXPECT_EQ(CallLoopRunning, 0);
    EXPECT_EQ(CallState, ST_CYCLEEND);
    std::vector<std::string> want = {"SIP/2.0 100 Trying", "SIP/2.0 480 Temporarily unavailable"};
    EXPECT_EQ(peer.distinct_lines(), want);
    EXPECT_EQ(live_records_after_the_call(), 0) << "every record of the call was released";
}

TEST_F(ProcessEventTest, ACallersByeEndsTheCallThroughIoDoneAndASecondByeChangesNothing) {
    SipPeer peer;
    peer.invite();
    ASSERT_TRUE(run_until(ST_CLEANUP));
    EXPECT_EQ(status_of("line"), "connected");
    EXPECT_EQ(status_of("dialled"), "5551234");
    // Both BYEs are answered while the call lasts; only then does the machine take its events.
    size_t before = peer.first_lines().size();
    peer.send("BYE", 2);
    ASSERT_TRUE(peer.wait_for_count(before + 1));
    peer.send("BYE", 3);
    ASSERT_TRUE(peer.wait_for_count(before + 2));
    ASSERT_TRUE(run_until(ST_IODONE));
    ASSERT_TRUE(run_until(ST_CYCLEEND));
    EXPECT_EQ(CallLoopRunning, 0);
    EXPECT_FALSE(MediaSessionOpen());
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    int remote_hangups = 0;
    for (testing::event_seen e = next_event(200); e.type >= 0; e = next_event(200)) {
        remote_hangups += e.type == EV_REMOTE_HANGUP ? 1 : 0;
    }
    EXPECT_EQ(remote_hangups, 0) << "the second BYE posted nothing";
    EXPECT_EQ(live_records_after_the_call(), 0) << "every record of the call was released";
    std::vector<std::string> lines = peer.first_lines();
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[0], "SIP/2.0 100 Trying");
    EXPECT_EQ(lines[1], "SIP/2.0 200 OK");
    EXPECT_EQ(lines.back(), "SIP/2.0 200 OK");
}

TEST_F(ProcessEventTest, TheLineHangingUpBeforeTheAckEndsTheCallWithABye) {
    SipPeer peer;
    peer.acknowledge = false;
    peer.invite();
    ASSERT_TRUE(run_until(ST_TXDIAL));
    std::thread line([&peer] {
        if (peer.wait_for("SIP/2.0 200")) {
            boardsim_command("hangup");
            peer.send("ACK", 1);
        }
    });
    ASSERT_TRUE(run_until(ST_CLEANUP));
    line.join();
    for (int i = 0; i < 30 && CallLoopRunning == 1; ++i) {
        testing::event_seen e = next_event(100);
        if (e.type >= 0) {
            ProcessEvent(e.device, e.type, &e.code);
        }
    }
    EXPECT_EQ(CallLoopRunning, 0) << "play and record on a dead line end at once";
    EXPECT_EQ(CallState, ST_CYCLEEND);
    EXPECT_TRUE(peer.wait_for("BYE sip:5551234@gw SIP/2.0"));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(live_records_after_the_call(), 0) << "every record of the call was released";
}

TEST_F(ProcessEventTest, AnInviteBetweenTheEndOfACallAndTheNextCycleIsRefused503) {
    SipPeer peer;
    CallState = ST_IODONE;
    ProcessEvent(Channels[RECORD_CHANNEL].device, TDX_RECORD, nullptr);
    ASSERT_EQ(CallLoopRunning, 0);
    peer.call_id = "between-calls@127.0.0.1";
    peer.invite();
    ASSERT_TRUE(peer.wait_for("SIP/2.0 503")) << "the INVITE was taken and would be lost";
    std::vector<std::string> want = {"SIP/2.0 503 Service Unavailable"};
    EXPECT_EQ(peer.distinct_lines(), want);
    EXPECT_EQ(CallState, ST_CYCLEEND);
    EXPECT_EQ(CurrentRequest.load()->call_id, nullptr);
}

}  // namespace
}  // namespace sipline
