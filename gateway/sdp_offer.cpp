#include "gateway/sdp_offer.h"

#include "support/dstring.h"

namespace sipline {

char *BuildSdpOffer(const char *address) {
    dstring_t offer;
    dstring_init(&offer);
    // The tab and space runs before the line ends are part of the offer peers have seen.
    dstring_printf(&offer,
                   "v=0\r\no=MARVA 123123453 123453 IN IP4 %s\t\t    \r\ns=Telephone call\t\t\t\r\n"
                   "c=IN IP4 %s\t\t\t\r\nm=audio 10000 RTP/AVP 0 3\r\n",
                   address, address);
    return dstring_value(&offer);
}

}  // namespace sipline
