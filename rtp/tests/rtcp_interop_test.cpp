// A context and GStreamer's rtpbin exchange RTP and RTCP on loopback for about 20 s; tshark,
// capturing meanwhile, reads the context's compounds independently.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/select.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "rtp/rtp.h"

extern char **environ;

namespace sipline {

// The application's scheduler: this test runs every deadline itself from its receive loop.
namespace {
struct Pending {
    int32_t context;
    rtp_event_t *event;
    double due;
};
std::multimap<double, Pending> pending;

double Seconds(const timeval &t) {
    return t.tv_sec + t.tv_usec / 1e6;
}
double Now() {
    timeval now;
    gettimeofday(&now, nullptr);
    return Seconds(now);
}
}  // namespace

void ScheduleRTPEvent(int32_t context, rtp_event_t *event, const timeval *due) {
    double at = Seconds(*due);
    pending.emplace(at, Pending{context, event, at});
}

namespace {

struct MemberEvent {
    int32_t member, event;
    std::string extra;
};
std::vector<MemberEvent> events;

void OnMemberEvent(int32_t, int32_t member, int32_t event, const char *extra) {
    events.push_back({member, event, extra ? extra : ""});
}

bool HaveProgram(const char *name) {
    std::string command = std::string("command -v ") + name + " >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

pid_t Spawn(const std::vector<std::string> &args, const std::string &log) {
    std::vector<char *> argv;
    for (const std::string &arg : args) {
        argv.push_back(const_cast<char *>(arg.c_str()));
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
        pid = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

void Stop(pid_t pid, int signal) {
    if (pid <= 0) {
        return;
    }
    kill(pid, signal);
    for (int i = 0; i < 50; i++) {
        if (waitpid(pid, nullptr, WNOHANG) == pid) {
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

std::string Capture(const std::string &command) {
    std::string out;
    if (FILE *pipe = popen(command.c_str(), "r")) {
        char buf[4096];
        std::size_t n;
        while ((n = fread(buf, 1, sizeof buf, pipe)) > 0) {
            out.append(buf, n);
        }
        pclose(pipe);
    }
    return out;
}

void RunDue(int32_t context) {
    while (!pending.empty() && pending.begin()->first <= Now()) {
        Pending p = pending.begin()->second;
        pending.erase(pending.begin());
        RTPExecute(p.context, p.event);
    }
    (void)context;
}

struct Peer {
    int32_t member = -1;
    std::string cname;
    uint32_t ntp_sec = 0, packets = 0;
};

Peer FindPeer(int32_t context) {
    Peer peer;
    rtp_member_iterator_t it;
    int32_t member;
    for (rtperror e = RTPFirstMember(context, &it, &member); e == 0;
         e = RTPNextMember(context, &it, &member)) {
        if (member == 0) {
            continue;
        }
        const char *cname = nullptr;
        if (RTPMemberInfoGetSDES(context, member, RTP_SDES_CNAME, &cname) != 0 || !*cname) {
            continue;
        }
        peer.member = member;
        peer.cname = cname;
        uint32_t frac;
        RTPMemberInfoGetNTP(context, member, &peer.ntp_sec, &frac);
        RTPMemberInfoGetPktCount(context, member, &peer.packets);
    }
    return peer;
}

TEST(RtcpInterop, ContextAndRtpbinExchangeReportsAndByes) {
    if (!HaveProgram("gst-launch-1.0") || !HaveProgram("tshark")) {
        GTEST_SKIP() << "gst-launch-1.0 or tshark missing";
    }
    // Ports apart from 10000 and from other tests running at the same time.
    const int ours = 42000 + (getpid() % 500) * 4;
    const int theirs = ours + 2;
    char dir_template[] = "/tmp/rtcp_interop_XXXXXX";
    ASSERT_NE(mkdtemp(dir_template), nullptr);
    const std::string dir = dir_template;
    const std::string pcap = dir + "/rtcp.pcap";

    pid_t tshark = Spawn(
        {"tshark", "-i", "lo", "-w", pcap, "-f",
         "udp port " + std::to_string(theirs + 1) + " or udp port " + std::to_string(ours + 1)},
        dir + "/tshark.log");
    ASSERT_GT(tshark, 0);
    for (int i = 0;
         i < 100 && Capture("cat " + dir + "/tshark.log").find("Capturing") == std::string::npos;
         i++) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }

    // 750 GSM frames of 20 ms: rtpbin says BYE on its end of stream after 15 s.
    std::string o = std::to_string(ours), t = std::to_string(theirs);
    pid_t gst =
        Spawn({"gst-launch-1.0",
               "-q",
               "rtpbin",
               "name=rb",
               "audiotestsrc",
               "is-live=true",
               "num-buffers=750",
               "samplesperbuffer=160",
               "!",
               "audio/x-raw,rate=8000,channels=1",
               "!",
               "gsmenc",
               "!",
               "rtpgsmpay",
               "!",
               "rb.send_rtp_sink_0",
               "rb.send_rtp_src_0",
               "!",
               "udpsink",
               "host=127.0.0.1",
               "port=" + o,
               "sync=false",
               "async=false",
               "rb.send_rtcp_src_0",
               "!",
               "udpsink",
               "host=127.0.0.1",
               "port=" + std::to_string(ours + 1),
               "sync=false",
               "async=false",
               "udpsrc",
               "port=" + std::to_string(theirs + 1),
               "!",
               "rb.recv_rtcp_sink_0",
               "udpsrc",
               "port=" + t,
               "caps=application/x-rtp,media=audio,clock-rate=8000,encoding-name=GSM,payload=3",
               "!",
               "rb.recv_rtp_sink_0",
               "rb.",
               "!",
               "rtpgsmdepay",
               "!",
               "fakesink",
               "async=false"},
              dir + "/gst.log");
    ASSERT_GT(gst, 0);

    int32_t context = -1;
    ASSERT_EQ(RTPCreate(&context), 0);
    ASSERT_EQ(RTPSetMemberEventCallback(context, OnMemberEvent), 0);
    ASSERT_EQ(RTPSessionSetReceiveAddr(context, "127.0.0.1", static_cast<uint16_t>(ours)), 0);
    ASSERT_EQ(RTPSessionAddSendAddr(context, "127.0.0.1", static_cast<uint16_t>(theirs), 0), 0);
    ASSERT_EQ(RTPMemberInfoSetSDES(context, 0, RTP_SDES_CNAME, "gateway@127.0.0.1"), 0);
    ASSERT_EQ(RTPMemberInfoSetSDES(context, 0, RTP_SDES_NAME, "sipline interop"), 0);
    ASSERT_EQ(RTPOpenConnection(context), 0);
    int rtp_socket = -1, rtcp_socket = -1;
    ASSERT_EQ(RTPSessionGetRTPSocket(context, &rtp_socket), 0);
    ASSERT_EQ(RTPSessionGetRTCPSocket(context, &rtcp_socket), 0);

    const double start = Now();
    double next_frame = start;
    Peer seen;
    int sent = 0;
    uint8_t frame[33] = {0xD0};
    // About 20 s: rtpbin says BYE some 15 s after it starts; a slow start only stretches this.
    auto bye_seen = [&] {
        for (const MemberEvent &e : events) {
            if (e.event == RTP_EVENT_BYE) {
                return true;
            }
        }
        return false;
    };
    while (Now() - start < 45.0 && !(Now() - start >= 19.0 && bye_seen())) {
        if (Now() >= next_frame) {
            // Until rtpbin's socket is up the kernel refuses the datagrams.
            sent += RTPSend(context, 160, 0, 3, frame, sizeof frame) == 0;
            next_frame += 0.02;
        }
        RunDue(context);
        fd_set set;
        FD_ZERO(&set);
        FD_SET(rtp_socket, &set);
        FD_SET(rtcp_socket, &set);
        timeval wait{0, 5000};
        ::timeval tv{wait.tv_sec, wait.tv_usec};
        if (select(std::max(rtp_socket, rtcp_socket) + 1, &set, nullptr, nullptr, &tv) > 0) {
            for (int s : {rtp_socket, rtcp_socket}) {
                if (FD_ISSET(s, &set)) {
                    char buf[2048];
                    int32_t length = sizeof buf;
                    RTPReceive(context, s, buf, &length);
                }
            }
        }
        Peer now = FindPeer(context);
        if (now.member >= 0 && now.ntp_sec != 0) {
            seen = now;
        }
    }
    ASSERT_EQ(RTPCloseConnection(context, "hangup"), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    Stop(gst, SIGINT);
    Stop(tshark, SIGINT);
    ASSERT_EQ(RTPDestroy(context), 0);
    // Reports still pending fail on the destroyed context, which frees them.
    for (auto &[due, p] : pending) {
        RTPExecute(p.context, p.event);
    }
    pending.clear();

    EXPECT_GT(sent, 500) << "RTP frames sent";
    EXPECT_GE(seen.member, 1) << "the member table never held rtpbin with CNAME and SR data";
    EXPECT_FALSE(seen.cname.empty());
    EXPECT_NE(seen.packets, 0u) << "SR packet count";
    bool bye = false;
    for (const MemberEvent &e : events) {
        bye |= e.event == RTP_EVENT_BYE && e.member == seen.member;
    }
    EXPECT_TRUE(bye) << "rtpbin's BYE raised no member event 4";

    // The context's compounds, as tshark reads them.
    std::string decode = "tshark -r " + pcap + " -d udp.port==" + std::to_string(theirs + 1) +
                         ",rtcp -Y 'udp.dstport==" + std::to_string(theirs + 1) +
                         "' -T fields -e rtcp.pt -e rtcp.sdes.type -e rtcp.sdes.text "
                         "-e rtcp.ssrc.identifier -e rtcp.bye_reason_not_padded -e _ws.expert "
                         "2>&1";
    std::string fields = Capture(decode);
    std::printf("%s", fields.c_str());
    EXPECT_NE(fields.find("200"), std::string::npos) << "no SR:\n" << fields;
    EXPECT_NE(fields.find("gateway@127.0.0.1"), std::string::npos) << fields;
    EXPECT_NE(fields.find("sipline interop"), std::string::npos) << fields;
    EXPECT_NE(fields.find(",203\t"), std::string::npos) << "no report + BYE compound:\n" << fields;
    EXPECT_NE(fields.find("hangup"), std::string::npos) << fields;
    std::string verbose =
        Capture("tshark -r " + pcap + " -d udp.port==" + std::to_string(theirs + 1) +
                ",rtcp -V -Y 'udp.dstport==" + std::to_string(theirs + 1) + "' 2>&1");
    EXPECT_EQ(verbose.find("Malformed"), std::string::npos) << verbose;
    EXPECT_EQ(verbose.find("Expert Info (Warn"), std::string::npos) << verbose;
    Capture("rm -rf " + dir);
}

}  // namespace
}  // namespace sipline
