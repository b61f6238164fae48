// A small program around the engine for the interop scripts: it receives RTP on a port, or
// sends GSM 06.10 frames of a tone, and prints what it saw or sent.
//
//   rtp_peer receive PORT COUNT SECONDS     exit 0 once COUNT packets of payload type 3 arrived
//   rtp_peer send HOST PORT COUNT           one frame every 20 ms
#include <gsm.h>
#include <poll.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "rtp/rtp.h"

namespace {

using namespace sipline;

int fail(const char *what, rtperror error) {
    std::fprintf(stderr, "%s: %s\n%s", what, RTPStrError(error), RTPLastErrorText());
    return 1;
}

int receive(uint16_t port, int count, int seconds) {
    int32_t context = -1;
    rtperror error = RTPCreate(&context);
    if (error == RTP_OK) {
        error = RTPSessionSetReceiveAddr(context, "127.0.0.1", port);
    }
    if (error == RTP_OK) {
        error = RTPOpenConnection(context);
    }
    if (error != RTP_OK) {
        return fail("open", error);
    }
    int rtp_socket = -1;
    RTPSessionGetRTPSocket(context, &rtp_socket);
    std::printf("listening %u\n", port);
    std::fflush(stdout);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    int received = 0;
    int32_t payload_bytes = 0;
    while (received < count && std::chrono::steady_clock::now() < deadline) {
        pollfd p{rtp_socket, POLLIN, 0};
        if (::poll(&p, 1, 100) != 1) {
            continue;
        }
        char buffer[1500];
        int32_t length = sizeof buffer;
        error = RTPReceive(context, rtp_socket, buffer, &length);
        if (error != RTP_OK) {
            std::printf("refused %s\n", RTPStrError(error));
            continue;
        }
        rtp_packet_info_t info{};
        RTPGetRTPPacketInfo(&info, buffer, length);
        std::printf("packet pt=%u seq=%u ts=%u ssrc=%u payload=%d\n", info.header->pt,
                    info.header->seq, info.header->ts, info.header->ssrc, info.payload_length);
        if (info.header->pt == 3 && info.payload_length % 33 == 0 &&
            (static_cast<uint8_t>(info.payload[0]) >> 4) == 0xD) {
            ++received;
            payload_bytes += info.payload_length;
        }
    }
    int32_t member = -1, state = -1, sender = -1;
    if (RTPMostRecentRTPPerson(context, &member) == RTP_OK) {
        RTPMemberInfoGetStatus(context, member, &state, &sender);
        rtp_report_t report{};
        RTPSenderInfoGetFracLost(context, member, &report);
        std::printf("member %d state=%d sender=%d lost=%u highest=%u\n", member, state, sender,
                    report.cumulative_lost, report.highest_sequence);
    }
    std::printf("received %d gsm packets, %d payload bytes\n", received, payload_bytes);
    RTPDestroy(context);
    return received >= count ? 0 : 1;
}

int send(const char *host, uint16_t port, int count) {
    int32_t context = -1;
    rtperror error = RTPCreate(&context);
    if (error == RTP_OK) {
        error = RTPSessionAddSendAddr(context, host, port, 0);
    }
    if (error == RTP_OK) {
        error = RTPSessionSetReceiveAddr(context, "127.0.0.1", 0);
    }
    if (error == RTP_OK) {
        error = RTPOpenConnection(context);
    }
    if (error != RTP_OK) {
        return fail("open", error);
    }
    gsm encoder = gsm_create();
    double phase = 0;
    for (int i = 0; i < count; ++i) {
        gsm_signal samples[160];
        for (auto &s : samples) {
            s = static_cast<gsm_signal>(8000 * std::sin(phase));
            phase += 2 * M_PI * 440 / 8000;
        }
        gsm_frame frame;
        gsm_encode(encoder, samples, frame);
        error = RTPSend(context, 160, i == 0, 3, frame, sizeof frame);
        if (error != RTP_OK) {
            return fail("send", error);
        }
        if (i == 0) {
            uint32_t ssrc = 0;
            RTPMemberInfoGetSSRC(context, 0, &ssrc);
            std::printf("sent ssrc=%u\n", ssrc);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    gsm_destroy(encoder);
    std::printf("sent %d\n", count);
    RTPDestroy(context);
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc == 5 && std::strcmp(argv[1], "receive") == 0) {
        return receive(static_cast<uint16_t>(std::atoi(argv[2])), std::atoi(argv[3]),
                       std::atoi(argv[4]));
    }
    if (argc == 5 && std::strcmp(argv[1], "send") == 0) {
        return send(argv[2], static_cast<uint16_t>(std::atoi(argv[3])), std::atoi(argv[4]));
    }
    std::fprintf(stderr, "usage: rtp_peer receive PORT COUNT SECONDS | send HOST PORT COUNT\n");
    return 2;
}
