// The caller's SDP body, as the INVITE handler reads it.
#include <cstddef>
#include <cstdint>
#include <string>

#include "sip/uas/gateway.h"
#include "sip/uas/sdp.h"

namespace {

std::atomic<uint16_t> port;
std::atomic<uint8_t> ttl;
char address[sipline::RTP_DEST_ADDRESS_SIZE];

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static bool registered = [] {
        sipline::sip_gateway_t gateway{};
        gateway.RTPDestAddress = address;
        gateway.RTPDestPort = &port;
        gateway.RTPDestTTL = &ttl;
        sipline::SipGatewayRegister(&gateway);
        return true;
    }();
    (void)registered;
    std::string body(reinterpret_cast<const char *>(data), size);
    sipline::parseSDP(body.c_str());
    return 0;
}
