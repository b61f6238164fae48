// Call variables for tests of the SIP side, registered as the gateway.
#pragma once

#include <atomic>
#include <vector>

#include "sip/uas/gateway.h"

namespace sipline::testing {

struct call_variables {
    std::atomic<int32_t> CallState{ST_WTRING};
    std::atomic<request_t *> CurrentRequest{nullptr};
    std::atomic<uint8_t> HangupSignalled{0};
    char DialString[DIAL_STRING_SIZE] = "";
    char RTPDestAddress[RTP_DEST_ADDRESS_SIZE] = "";
    std::atomic<uint16_t> RTPDestPort{0};
    std::atomic<uint8_t> RTPDestTTL{0};

    // The gateway record over these variables and the test host's names; the caller adds how
    // events are posted.
    sip_gateway_t record() {
        sip_gateway_t g{};
        g.CallState = &CallState;
        g.CurrentRequest = &CurrentRequest;
        g.HangupSignalled = &HangupSignalled;
        g.DialString = DialString;
        g.RTPDestAddress = RTPDestAddress;
        g.RTPDestPort = &RTPDestPort;
        g.RTPDestTTL = &RTPDestTTL;
        g.HostName = "gw.sipline.test";
        g.HostShortName = "gw";
        g.HostAddress = "127.0.0.1";
        return g;
    }
};

// Keeps the events posted, on the posting thread, for tests that call the SIP side directly.
struct fake_gateway : call_variables {
    std::vector<int32_t> events;

    void install() {
        sip_gateway_t g = record();
        g.PostEvent = [](void *context, int32_t type) {
            static_cast<fake_gateway *>(context)->events.push_back(type);
        };
        g.context = this;
        SipGatewayRegister(&g);
    }
};

}  // namespace sipline::testing
