// The caller's SDP body, as the INVITE handler reads it (offer/answer, the answer to the
// gateway's own offer, and the older reader), and the same bytes as an INFO body.
#include <cstddef>
#include <cstdint>
#include <string>

#include <cstdlib>

#include "sip/sdp/offer_answer.h"
#include "sip/uas/dtmf_info.h"
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
    const int8_t alaw_first[] = {sipline::SDP_CODEC_PCMA, sipline::SDP_CODEC_GSM};
    for (const sipline::sdp_local_t &local : {sipline::sdp_local_t{"192.0.2.1", 10000, nullptr, 0},
                                               sipline::sdp_local_t{"192.0.2.1", 10000, alaw_first, 2}}) {
        sipline::media_description_t media = sipline::MediaDescriptionEmpty();
        char *answer = nullptr;
        if (sipline::SdpAnswerOffer(body.c_str(), &local, &media, &answer) == 200) {
            // The answer is itself a description the gateway can read back.
            sipline::media_description_t again = sipline::MediaDescriptionEmpty();
            if (sipline::SdpReadAnswer(answer, &local, &again) != 0) {
                std::abort();
            }
            std::free(answer);
        }
        sipline::SdpReadAnswer(body.c_str(), &local, &media);
    }
    char key = 0;
    int32_t ms = 0;
    sipline::DtmfInfoRead("application/dtmf-relay", body.c_str(), &key, &ms);
    sipline::DtmfInfoRead("application/dtmf", body.c_str(), &key, &ms);
    return 0;
}
