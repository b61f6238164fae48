// Until the media bridge is built the session is only a flag: the call state machine can open
// and close it and tell whether it is open, and no audio moves.
#include <cstdio>

#include "media/session.h"

namespace sipline {
namespace {

std::atomic<bool> session_open{false};

}  // namespace

std::atomic<int32_t> RtpContext{0};

bool MediaSessionOpen() {
    return session_open;
}

int setup_connection() {
    std::printf("setup_connection (placeholder: no RTP session is made yet)\n");
    session_open = true;
    return 0;
}

int CloseMediaSession(const char *) {
    session_open = false;
    RtpContext = 0;
    return 0;
}

}  // namespace sipline
