#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "rtp/rtp.h"
#include "rtp/tests/rtp_test_util.h"

namespace sipline {
namespace {

using rtp_test::free_port_pair;
using rtp_test::make_rtp;
using rtp_test::rtp_packet_fields;
using rtp_test::udp_socket;

struct endpoint {
    int32_t context = -1;
    uint16_t port = 0;
    int socket = -1;
    endpoint() {
        EXPECT_EQ(RTPCreate(&context), RTP_OK);
        port = free_port_pair();
        EXPECT_EQ(RTPSessionSetReceiveAddr(context, "127.0.0.1", port), RTP_OK);
        EXPECT_EQ(RTPOpenConnection(context), RTP_OK);
        EXPECT_EQ(RTPSessionGetRTPSocket(context, &socket), RTP_OK);
        int size = 1 << 20;
        setsockopt(socket, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    }
    ~endpoint() { RTPDestroy(context); }
};

// The media bridge's pattern: a sending thread, a receiving thread and a third thread reading
// the member table, all serialised by one mutex.
TEST(Concurrency, ThreadsSerialisedByAMutexShareAContext) {
    endpoint a, b;
    ASSERT_EQ(RTPSessionAddSendAddr(a.context, "127.0.0.1", b.port, 0), RTP_OK);
    ASSERT_EQ(RTPSessionAddSendAddr(b.context, "127.0.0.1", a.port, 0), RTP_OK);
    std::mutex rtp_mutex;
    constexpr int frames = 150;
    std::atomic<bool> done{false};
    std::thread sender([&] {
        const char frame[33] = {};
        for (int i = 0; i < frames; ++i) {
            std::lock_guard lock(rtp_mutex);
            EXPECT_EQ(RTPSend(b.context, 160, 0, 3, frame, sizeof frame), RTP_OK);
            EXPECT_EQ(RTPSend(a.context, 160, 0, 3, frame, sizeof frame), RTP_OK);
        }
    });
    std::thread reader([&] {
        while (!done.load()) {
            std::lock_guard lock(rtp_mutex);
            int32_t member = -1;
            if (RTPMostRecentRTPPerson(b.context, &member) == RTP_OK) {
                rtp_report_t report{};
                RTPSenderInfoGetFracLost(b.context, member, &report);
            }
        }
    });
    int received = 0;
    while (received < frames && rtp_test::readable(b.socket)) {
        std::lock_guard lock(rtp_mutex);
        char buffer[256];
        int32_t length = sizeof buffer;
        EXPECT_EQ(RTPReceive(b.context, b.socket, buffer, &length), RTP_OK);
        ++received;
    }
    sender.join();
    done.store(true);
    reader.join();
    EXPECT_EQ(received, frames);
}

// Without the caller's lock, calls that overlap on one context are refused by its busy flags
// instead of racing on its records.
TEST(Concurrency, OverlappingCallsWithoutALockAreRefused) {
    endpoint a;
    udp_socket sink(free_port_pair());
    ASSERT_EQ(RTPSessionAddSendAddr(a.context, "127.0.0.1", sink.port(), 0), RTP_OK);
    udp_socket source;
    constexpr int count = 150;  // few enough to fit the socket's receive buffer
    std::thread feeder([&] {
        for (int i = 0; i < count; ++i) {
            rtp_packet_fields s;
            s.sequence = static_cast<uint16_t>(i);
            s.ssrc = 0x77;
            source.send_to(make_rtp(s), a.port);
        }
    });
    std::atomic<int> refused{0};
    std::thread sender([&] {
        const char frame[33] = {};
        for (int i = 0; i < count; ++i) {
            rtperror r = RTPSend(a.context, 160, 0, 3, frame, sizeof frame);
            EXPECT_TRUE(r == RTP_OK || r == RTP_CANT_CALL_FUNCTION) << RTPStrError(r);
            refused += r == RTP_CANT_CALL_FUNCTION;
        }
    });
    int received = 0;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (received < count && std::chrono::steady_clock::now() < deadline) {
        if (!rtp_test::readable(a.socket, 50)) {
            continue;
        }
        char buffer[256];
        int32_t length = sizeof buffer;
        rtperror r = RTPReceive(a.context, a.socket, buffer, &length);
        EXPECT_TRUE(r == RTP_OK || r == RTP_CANT_CALL_FUNCTION) << RTPStrError(r);
        received += r == RTP_OK;
        refused += r == RTP_CANT_CALL_FUNCTION;
    }
    feeder.join();
    sender.join();
    EXPECT_EQ(received, count) << refused.load() << " calls refused";
}

}  // namespace
}  // namespace sipline
