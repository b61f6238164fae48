#include "media/call_link.h"

#include <arpa/inet.h>

#include <cstring>

#include "media/bridge_state.h"
#include "media/session.h"

namespace sipline {

bool MediaRemoteHangup() {
    const sip_gateway_t *door = SipGateway();
    // Set here or by the SIP side's BYE thread, whichever comes first; the other does nothing.
    if (door->HangupSignalled != nullptr && door->HangupSignalled->exchange(1) != 0) {
        return false;
    }
    if (door->CallState != nullptr) {
        *door->CallState = ST_CLEANUP;
    }
    CloseMediaSession("hangup");
    MediaStop = 1;
    if (door->PostEvent != nullptr) {
        door->PostEvent(door->context, EV_REMOTE_HANGUP);
    }
    return true;
}

bool ByeFromPeer(const char *packet, int32_t packet_bytes, bool audio_heard, uint32_t audio_ssrc,
                 const sockaddr_in &from, const in_addr &peer) {
    if (!audio_heard) {
        return from.sin_family == AF_INET && from.sin_addr.s_addr == peer.s_addr &&
               peer.s_addr != INADDR_ANY;
    }
    const int32_t count = static_cast<uint8_t>(packet[0]) >> 3;
    for (int32_t i = 0; i < count && 8 + 4 * i <= packet_bytes; ++i) {
        uint32_t ssrc;
        std::memcpy(&ssrc, packet + 4 + 4 * i, sizeof ssrc);
        if (ntohl(ssrc) == audio_ssrc) {
            return true;
        }
    }
    return false;
}

bool RtcpFromPeer(const char *packet, int32_t bytes, uint32_t audio_ssrc, const sockaddr_in &from,
                  const in_addr &peer) {
    if (bytes < 8 || from.sin_family != AF_INET || peer.s_addr == INADDR_ANY ||
        from.sin_addr.s_addr != peer.s_addr) {
        return false;
    }
    const auto type = static_cast<uint8_t>(packet[1]);
    uint32_t ssrc;
    std::memcpy(&ssrc, packet + 4, sizeof ssrc);
    return (type == 200 || type == 201) && ssrc == audio_ssrc;
}

}  // namespace sipline
