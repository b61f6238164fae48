#include "gateway/sdp_offer.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "gateway/directory.h"
#include "gateway/globals.h"
#include "media/bridge_state.h"
#include "sip/sdp/offer_answer.h"
#include "sip/uas/gateway.h"

namespace sipline {

char *BuildSdpOffer(const char *address) {
    const sdp_local_t local{address, RTP_PORT, GatewayCodecs, GatewayCodecCount};
    return SdpBuildOffer(&local);
}

std::string CurrentSdpOffer() {
    std::string offer = SdpOffer != nullptr ? SdpOffer : "";
    if (const char *seen = SipLearnedAddress();
        seen != nullptr && !DirectoryEntryOffers() &&
        std::strcmp(SipAdvertisedAddress(SipGateway()), seen) == 0) {
        char *built = BuildSdpOffer(seen);
        offer = built;
        std::free(built);
    }
    return offer;
}

bool TakeSdpAnswer(const char *body) {
    const sdp_local_t local{AdvertisedAddress, RTP_PORT, GatewayCodecs, GatewayCodecCount};
    media_description_t media = MediaDescriptionEmpty();
    if (SdpReadAnswer(body, &local, &media) != 0) {
        std::printf("The answer agrees no codec\n");
        return false;
    }
    CallMedia = media;
    std::snprintf(RTPDestAddress, RTP_DEST_ADDRESS_SIZE, "%s", media.address);
    RTPDestPort = media.port;
    RTPDestTTL = media.ttl;
    std::printf("Answer taken: %s sent to %s:%d, telephone-event %d\n",
                SdpCodecName(media.send_codec), media.address, media.port,
                media.event_payload_type);
    return true;
}

}  // namespace sipline
