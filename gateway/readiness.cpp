#include "gateway/readiness.h"

#include <systemd/sd-daemon.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "gateway/globals.h"
#include "sip/uas/transport.h"

namespace sipline {
namespace {

// The listener binds within milliseconds; this only bounds a wait for a thread that hangs.
constexpr uint32_t LISTEN_WAIT_MS = 5000;
constexpr uint32_t LISTEN_POLL_MS = 10;

}  // namespace

void AnnounceReady(const char *listen, int port) {
    for (uint32_t waited = 0; SipListeningSocket() < 0; waited += LISTEN_POLL_MS) {
        // The listener's thread ends at once when its socket cannot be bound.
        if (WaitForSingleObject(ReceiveThread, LISTEN_POLL_MS) == WAIT_OBJECT_0 ||
            waited >= LISTEN_WAIT_MS) {
            std::fprintf(stderr, "sipline: can't listen for SIP on %s port %d\n", listen, port);
            std::exit(1);
        }
    }
    std::printf("Listening for SIP on %s port %d\n", listen, port);
    std::string state = "READY=1\nSTATUS=listening for SIP on " + std::string(listen) + " port " +
                        std::to_string(port);
    sd_notify(0, state.c_str());
}

}  // namespace sipline
