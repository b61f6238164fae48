#include "media/media_update.h"

#include <arpa/inet.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "media/bridge_state.h"
#include "media/session.h"
#include "rtp/rtp.h"

namespace sipline {
namespace {

// Orders CallMedia between an update (request thread) and the audio threads' reads of it after
// they see the count change; the count is written after CallMedia under the lock.
std::mutex update_mutex;
std::atomic<uint64_t> updates{0};

// RtpMutex around the engine's send addresses; recursive for a holder that has it already.
struct rtp_hold {
    rtp_hold() : held(RtpMutex != nullptr && WaitForSingleObject(RtpMutex, INFINITE) == 0) {}
    ~rtp_hold() {
        if (held) {
            ReleaseMutex(RtpMutex);
        }
    }
    rtp_hold(const rtp_hold &) = delete;
    rtp_hold &operator=(const rtp_hold &) = delete;
    bool held;
};

}  // namespace

void MediaUpdate(const media_description_t &media) {
    {
        rtp_hold hold;
        const bool moved = std::strcmp(RTPDestAddress, media.address) != 0 ||
                           RTPDestPort != media.port || RTPDestTTL != media.ttl;
        if (moved && MediaSessionOpen()) {
            const int32_t context = RtpContext;
            RTPSessionRemoveSendAddr(context, RTPDestAddress, RTPDestPort, RTPDestTTL);
            const rtperror e = RTPSessionAddSendAddr(context, media.address, media.port, media.ttl);
            std::printf("Media move to %s:%d: %s\n", media.address, media.port, RTPStrError(e));
        }
        std::snprintf(RTPDestAddress, RTP_DEST_ADDRESS_SIZE, "%s", media.address);
        RTPDestPort = media.port;
        RTPDestTTL = media.ttl;
    }
    std::lock_guard lock(update_mutex);
    CallMedia = media;
    updates.fetch_add(1);
}

bool MediaLatch(int32_t context, const sockaddr_in &from) {
    char address[INET_ADDRSTRLEN] = "";
    inet_ntop(AF_INET, &from.sin_addr, address, sizeof address);
    const uint16_t port = ntohs(from.sin_port);
    // Only another address is a NAT's doing: a peer on the address its description named that
    // sends from another port (many do: SIPp, GStreamer) still wants its audio where it said.
    in_addr named{};
    if (port == 0 || RTPDestTTL != 0 || std::strcmp(address, RTPDestAddress) == 0 ||
        (inet_pton(AF_INET, RTPDestAddress, &named) == 1 && named.s_addr == from.sin_addr.s_addr)) {
        return false;
    }
    RTPSessionRemoveSendAddr(context, RTPDestAddress, RTPDestPort, RTPDestTTL);
    const rtperror e = RTPSessionAddSendAddr(context, address, port, 0);
    std::printf("RTP latched to %s:%d (the description said %s:%d): %s\n", address, port,
                RTPDestAddress, static_cast<int>(RTPDestPort), RTPStrError(e));
    std::snprintf(RTPDestAddress, RTP_DEST_ADDRESS_SIZE, "%s", address);
    RTPDestPort = port;
    return true;
}

bool MediaLatchRtcp(int32_t context, const sockaddr_in &from) {
    char address[INET_ADDRSTRLEN] = "";
    inet_ntop(AF_INET, &from.sin_addr, address, sizeof address);
    const uint16_t port = ntohs(from.sin_port);
    if (port == 0 || std::strcmp(address, RTPDestAddress) != 0 || port == RTPDestPort + 1) {
        return false;
    }
    const rtperror e = RTPSessionSetSendRTCPPort(context, RTPDestAddress, RTPDestPort, port);
    std::printf("RTCP latched to %s:%d (RTP goes to port %d): %s\n", address, port,
                static_cast<int>(RTPDestPort), RTPStrError(e));
    return e == RTP_OK;
}

uint64_t MediaUpdateCount() {
    return updates.load();
}

media_description_t MediaCurrent() {
    std::lock_guard lock(update_mutex);
    return CallMedia;
}

}  // namespace sipline
