#include "media/session.h"

#include <unistd.h>

#include <cstdio>
#include <mutex>

#include "media/bridge_state.h"
#include "media/call_figures.h"
#include "media/report_limit.h"
#include "media/schedule_internal.h"
#include "media/session_internal.h"
#include "rtp/rtp.h"
#include "sip/uas/call_lock.h"
#include "sip/uas/request.h"

namespace sipline {

std::atomic<int32_t> RtpContext{0};

namespace {

constexpr const char *GATEWAY_NAME = "sip-marva Gateway";
constexpr int32_t CNAME_SIZE = 256;
constexpr size_t HOST_NAME_SIZE = 50;
// The SSRC's low four bits are free, every other bit is drawn (RTPSessionSetSSRCBits).
constexpr uint32_t SSRC_FIXED = 0;
constexpr uint32_t SSRC_FIXED_MASK = 0xFFFFFFF0;
constexpr int32_t kMicrosecondsPerSample = 125;
// Not an engine code: the host name could not be read (already reported by perror).
constexpr rtperror HOST_NAME_FAILED = -1;

// Written with RtpMutex held (setup_connection, CloseMediaSession); read by any thread.
std::atomic<bool> session_open{false};
std::atomic<uint64_t> session_serial{0};

// Holds RtpMutex for the main thread's set-up (the schedule thread may be running a deadline
// of an earlier session); recursive, so a caller that holds it already may call again.
struct rtp_lock {
    rtp_lock() : held(RtpMutex != nullptr && WaitForSingleObject(RtpMutex, INFINITE) == 0) {}
    ~rtp_lock() {
        if (held) {
            ReleaseMutex(RtpMutex);
        }
    }
    rtp_lock(const rtp_lock &) = delete;
    rtp_lock &operator=(const rtp_lock &) = delete;
    bool held;
};

bool failed(rtperror error) {
    if (error == RTP_OK) {
        return false;
    }
    std::fprintf(stderr, "%s\n", RTPStrError(error));
    return true;
}

rtperror open_session(int32_t context) {
    const uint8_t ttl = RTPDestTTL;
    // RTP and RTCP leave from the ports they arrive at, 10000 and 10001, so that a NAT in front
    // of the caller lets them back.
    rtperror e = RTPSessionSetSymmetric(context, 1);
    if (e != RTP_OK) {
        return e;
    }
    e = RTPSessionAddSendAddr(context, RTPDestAddress, RTPDestPort, ttl);
    if (e != RTP_OK) {
        return e;
    }
    if (ttl == 0) {
        e = RTPSessionSetReceiveAddr(context, LocalAddress, LocalPort);
        std::printf("Setting receive address to: %s/%d\n",
                    LocalAddress != nullptr ? LocalAddress : "(null)", LocalPort);
    } else {
        e = RTPSessionSetReceiveAddr(context, RTPDestAddress, RTPDestPort);
        std::printf("Setting receive address to send address\n");
    }
    if (e != RTP_OK) {
        return e;
    }
    char host[HOST_NAME_SIZE + 1] = "";
    if (gethostname(host, HOST_NAME_SIZE) != 0) {
        std::perror("gethostname");
        return HOST_NAME_FAILED;
    }
    char cname[CNAME_SIZE];
    MediaCname(cname, sizeof cname);
    if ((e = RTPMemberInfoSetSDES(context, 0, RTP_SDES_CNAME, cname)) != RTP_OK ||
        (e = RTPSessionSetSSRCBits(context, SSRC_FIXED, SSRC_FIXED_MASK)) != RTP_OK ||
        (e = RTPMemberInfoSetSDES(context, 0, RTP_SDES_NAME, GATEWAY_NAME)) != RTP_OK ||
        (e = RTPOpenConnection(context)) != RTP_OK ||
        (e = RTPSessionSetSendErrorCallback(context, SendErrorHandler)) != RTP_OK) {
        return e;
    }
    // Dynamic payload types of the call run on the 8 kHz clock of all its formats (jitter).
    const media_description_t &media = CallMedia;
    for (int32_t pt : {int32_t{media.payload_type[SDP_CODEC_PCMU]}, int32_t{media.payload_type[SDP_CODEC_PCMA]},
                       int32_t{media.payload_type[SDP_CODEC_GSM]}, int32_t{media.event_payload_type}}) {
        if (pt >= 0 && (e = RTPSessionSetRTPStampRate(context, pt, kMicrosecondsPerSample)) != RTP_OK) {
            return e;
        }
    }
    return RTP_OK;
}

}  // namespace

bool MediaSessionOpen() {
    return session_open;
}

uint64_t MediaSessionSerial() {
    return session_serial;
}

void MediaCname(char *text, int32_t size) {
    const sip_gateway_t *door = SipGateway();
    const char *own_host = door->HostName != nullptr ? door->HostName : "localhost";
    std::unique_lock lock = CallLock();
    const request_t *call =
        door->CurrentRequest != nullptr ? door->CurrentRequest->load() : nullptr;
    const char *user = call != nullptr ? call->to.uri.user : nullptr;
    const char *host = call != nullptr ? call->to.uri.host : nullptr;
    if (user != nullptr && *user != '\0') {
        std::snprintf(text, static_cast<size_t>(size), "%s@%s", user,
                      host != nullptr && *host != '\0' ? host : own_host);
    } else {
        std::snprintf(text, static_cast<size_t>(size), "%s", own_host);
    }
}

void SendErrorHandler(int32_t context, const char *address, int32_t port, int32_t ttl) {
    // Called for every datagram that fails (a peer gone away fails each one): once a second.
    static std::mutex limit_mutex;
    static once_a_second limit;
    std::unique_lock guard(limit_mutex);
    if (!limit.due()) {
        return;
    }
    std::printf("Send error: %d, %s, %d, %d\n", context, address, port, ttl);
}

int setup_connection() {
    rtp_lock lock;
    if (session_open) {
        CloseMediaSession("hangup");
    }
    if (RTPDestTTL == 0) {
        std::printf("Setting up the RTP connection to %s x/%d x / %d\n", RTPDestAddress,
                    static_cast<int>(RTPDestPort), 0);
    } else {
        std::printf("Setting up the Multicast RTP connection to %s/%d, port: %d\n", RTPDestAddress,
                    static_cast<int>(RTPDestTTL), static_cast<int>(RTPDestPort));
    }
    int32_t context = 0;
    if (failed(RTPCreate(&context))) {
        return -1;
    }
    std::printf("Created RTP Session %d\n", context);
    rtperror e = open_session(context);
    if (e != RTP_OK) {
        if (e != HOST_NAME_FAILED) {
            std::fprintf(stderr, "%s\n", RTPStrError(e));
        }
        // A half-made session is not kept: every failed call would otherwise hold a context
        // (and perhaps its sockets) for the life of the process.
        RTPCloseConnection(context, nullptr);
        RTPDestroy(context);
        ScheduleDiscardContext(context);
        return -1;
    }
    MediaFiguresReset();
    RtpContext = context;
    session_open = true;
    ++session_serial;
    std::printf("Exiting setup_connection\n");
    return 0;
}

int CloseMediaSession(const char *reason) {
    rtp_lock lock;
    if (!session_open) {
        return 0;
    }
    const int32_t context = RtpContext;
    failed(RTPCloseConnection(context, reason));
    failed(RTPDestroy(context));
    session_open = false;
    ++session_serial;
    RtpContext = 0;
    ScheduleDiscardContext(context);
    return 0;
}

}  // namespace sipline
