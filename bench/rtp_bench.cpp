// Packets per second for 45-byte RTP packets (a 33-byte GSM frame) sent and received on
// loopback in one thread: a raw sendmsg/recvfrom loop (the machine's limit), the engine's
// RTPSend/RTPReceive, and oRTP doing the same, one packet in flight (lockstep) and in bursts of
// 32 sends then 32 receives; then the engine receiving from 10,000 SSRCs against one. Rates
// are per second of the thread's own CPU time (system calls included), so that neighbours on
// a shared machine lower no loop's figure; raw and engine rounds alternate.
#include <arpa/inet.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "rtp/rtp.h"

#ifdef SIPLINE_BENCH_ORTP
#include <ortp/ortp.h>
#endif

namespace {

using namespace sipline;
using clock_type = std::chrono::steady_clock;

constexpr int packets = 100000;
constexpr int rounds = 5;
constexpr int payload_size = 33;
constexpr int burst = 32;

double thread_seconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

sockaddr_in loopback(uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

int bound_socket(uint16_t port) {
    int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a = loopback(port);
    ::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
    int size = 4 << 20;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    return fd;
}

uint16_t port_of(int fd) {
    sockaddr_in a{};
    socklen_t length = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &length);
    return ntohs(a.sin_port);
}

// An even port pair free at the moment of the call.
uint16_t free_pair() {
    for (;;) {
        int probe = bound_socket(0);
        auto port = static_cast<uint16_t>(port_of(probe) & ~1);
        ::close(probe);
        int a = bound_socket(port), b = bound_socket(static_cast<uint16_t>(port + 1));
        bool ok = port_of(a) == port && port_of(b) == port + 1;
        ::close(a);
        ::close(b);
        if (ok) {
            return port;
        }
    }
}

// Best of several rounds, in packets per second; body(n) moves n packets.
double measure(const std::function<bool(int)> &body) {
    double best = 0;
    body(packets / 10);  // warm caches and tables
    for (int r = 0; r < rounds; ++r) {
        double start = thread_seconds();
        if (!body(packets)) {
            return 0;
        }
        double seconds = thread_seconds() - start;
        best = std::max(best, packets / seconds);
    }
    return best;
}

// One packet in flight (in_flight 1) or bursts: in_flight sends, then as many receives.
double raw_loop(int in_flight) {
    int receiver = bound_socket(0);
    int sender = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to = loopback(port_of(receiver));
    ::connect(sender, reinterpret_cast<sockaddr *>(&to), sizeof to);
    char header[12] = {static_cast<char>(0x80), 3};
    char payload[payload_size] = {static_cast<char>(0xD0)};
    double rate = measure([&](int n) {
        for (int i = 0; i < n; i += in_flight) {
            for (int k = 0; k < in_flight; ++k) {
                iovec iov[2] = {{header, sizeof header}, {payload, sizeof payload}};
                msghdr m{};
                m.msg_iov = iov;
                m.msg_iovlen = 2;
                if (::sendmsg(sender, &m, 0) != 45) {
                    return false;
                }
            }
            for (int k = 0; k < in_flight; ++k) {
                char buffer[1500];
                sockaddr_in from{};
                socklen_t from_length = sizeof from;
                if (::recvfrom(receiver, buffer, sizeof buffer, 0,
                               reinterpret_cast<sockaddr *>(&from), &from_length) != 45) {
                    return false;
                }
            }
        }
        return true;
    });
    ::close(sender);
    ::close(receiver);
    return rate;
}

struct engine_pair {
    int32_t sender = -1;
    int32_t receiver = -1;
    int socket = -1;
    uint16_t port = 0;
    engine_pair() {
        RTPCreate(&sender);
        RTPCreate(&receiver);
        port = free_pair();
        RTPSessionSetReceiveAddr(receiver, "127.0.0.1", port);
        RTPOpenConnection(receiver);
        RTPSessionGetRTPSocket(receiver, &socket);
        int size = 4 << 20;
        ::setsockopt(socket, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
        RTPSessionAddSendAddr(sender, "127.0.0.1", port, 0);
    }
    ~engine_pair() {
        RTPDestroy(sender);
        RTPDestroy(receiver);
    }
};

double engine_loop(int in_flight) {
    engine_pair pair;
    char payload[payload_size] = {static_cast<char>(0xD0)};
    return measure([&](int n) {
        for (int i = 0; i < n; i += in_flight) {
            for (int k = 0; k < in_flight; ++k) {
                if (RTPSend(pair.sender, 160, 0, 3, payload, payload_size) != RTP_OK) {
                    return false;
                }
            }
            for (int k = 0; k < in_flight; ++k) {
                char buffer[1500];
                int32_t length = sizeof buffer;
                if (RTPReceive(pair.receiver, pair.socket, buffer, &length) != RTP_OK ||
                    length != 45) {
                    return false;
                }
            }
        }
        return true;
    });
}

// The engine's receive side fed by a raw sender whose packets carry `sources` SSRCs in turn.
double engine_receive(uint32_t sources) {
    engine_pair pair;
    int sender = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to = loopback(pair.port);
    ::connect(sender, reinterpret_cast<sockaddr *>(&to), sizeof to);
    std::vector<uint16_t> sequence(sources, 0);
    char packet[45] = {static_cast<char>(0x80), 3};
    packet[12] = static_cast<char>(0xD0);
    uint32_t next = 0;
    auto body = [&](int n) {
        for (int i = 0; i < n; ++i) {
            uint32_t source = next++ % sources;
            uint32_t ssrc = htonl(0x10000 + source);
            uint16_t seq = htons(sequence[source]++);
            uint32_t ts = htonl(sequence[source] * 160u);
            std::memcpy(packet + 2, &seq, 2);
            std::memcpy(packet + 4, &ts, 4);
            std::memcpy(packet + 8, &ssrc, 4);
            if (::send(sender, packet, sizeof packet, 0) != 45) {
                return false;
            }
            char buffer[1500];
            int32_t length = sizeof buffer;
            if (RTPReceive(pair.receiver, pair.socket, buffer, &length) != RTP_OK) {
                return false;
            }
        }
        return true;
    };
    body(static_cast<int>(sources) * 2);  // every source known and confirmed before timing
    double rate = measure(body);
    ::close(sender);
    return rate;
}

#ifdef SIPLINE_BENCH_ORTP
double ortp_loop() {
    ortp_init();
    uint16_t port = free_pair();
    RtpSession *receiver = rtp_session_new(RTP_SESSION_RECVONLY);
    rtp_session_set_scheduling_mode(receiver, 0);
    rtp_session_set_blocking_mode(receiver, 0);
    rtp_session_enable_jitter_buffer(receiver, FALSE);
    rtp_session_enable_rtcp(receiver, FALSE);
    rtp_session_set_local_addr(receiver, "127.0.0.1", port, port + 1);
    rtp_session_set_payload_type(receiver, 3);
    RtpSession *sender = rtp_session_new(RTP_SESSION_SENDONLY);
    rtp_session_set_scheduling_mode(sender, 0);
    rtp_session_set_blocking_mode(sender, 0);
    rtp_session_enable_rtcp(sender, FALSE);
    rtp_session_set_remote_addr(sender, "127.0.0.1", port);
    rtp_session_set_payload_type(sender, 3);
    uint8_t payload[payload_size] = {0xD0};
    uint32_t ts = 0;
    int missing = 0;
    double rate = measure([&](int n) {
        for (int i = 0; i < n; ++i) {
            ts += 160;
            if (rtp_session_send_with_ts(sender, payload, payload_size, ts) < 0) {
                return false;
            }
            mblk_t *m = rtp_session_recvm_with_ts(receiver, ts);
            if (m == nullptr) {
                ++missing;
            } else {
                freemsg(m);
            }
        }
        return true;
    });
    if (missing > 0) {
        std::printf("  (oRTP returned no packet %d times)\n", missing);
    }
    rtp_session_destroy(sender);
    rtp_session_destroy(receiver);
    ortp_exit();
    return rate;
}
#endif

}  // namespace

int main(int argc, char **argv) {
    // "engine N" or "raw N": N packets of one loop alone, for callgrind.
    if (argc == 3) {
        std::string which = argv[1];
        int n = std::atoi(argv[2]);
        if (which == "raw") {
            raw_loop(1);
        }
        if (which == "engine") {
            engine_pair pair;
            char payload[payload_size] = {static_cast<char>(0xD0)};
            for (int i = 0; i < n; ++i) {
                RTPSend(pair.sender, 160, 0, 3, payload, payload_size);
                char buffer[1500];
                int32_t length = sizeof buffer;
                RTPReceive(pair.receiver, pair.socket, buffer, &length);
            }
        }
        return 0;
    }
    std::printf(
        "45-byte RTP packets (33-byte GSM payload), send + receive on loopback, one "
        "thread, best of %d rounds of %d packets, per CPU second\n",
        rounds, packets);
    // Alternating, so that both loops see the same machine.
    double raw = 0;
    double engine = 0;
    double raw_burst = 0;
    double engine_burst = 0;
    for (int turn = 0; turn < 3; ++turn) {
        raw = std::max(raw, raw_loop(1));
        engine = std::max(engine, engine_loop(1));
        raw_burst = std::max(raw_burst, raw_loop(burst));
        engine_burst = std::max(engine_burst, engine_loop(burst));
    }
    std::printf("  raw sendmsg/recvfrom      %10.0f packets/s\n", raw);
    std::printf("  RTPSend/RTPReceive        %10.0f packets/s  (%.3f of raw, goal >= 0.95)\n",
                engine, engine / raw);
    std::printf("bursts of %d sends then %d receives\n", burst, burst);
    std::printf("  raw sendmsg/recvfrom      %10.0f packets/s\n", raw_burst);
    std::printf("  RTPSend/RTPReceive        %10.0f packets/s  (%.3f of raw, goal >= 0.95)\n",
                engine_burst, engine_burst / raw_burst);
#ifdef SIPLINE_BENCH_ORTP
    double ortp = ortp_loop();
    std::printf(
        "  oRTP send/recvm_with_ts   %10.0f packets/s  (%.1f%% of raw; engine is %.2fx "
        "oRTP)\n",
        ortp, 100 * ortp / raw, engine / ortp);
#else
    std::printf("  oRTP                      not built (no pkg-config ortp)\n");
#endif
    std::printf("receiving with RTPReceive from a raw sender\n");
    double one = engine_receive(1);
    std::printf("  1 SSRC                    %10.0f packets/s\n", one);
    double many = engine_receive(10000);
    std::printf("  10,000 SSRCs              %10.0f packets/s  (%.2f of the 1-SSRC rate)\n", many,
                many / one);
    return 0;
}
