#include "gateway/sdp_offer.h"

#include <string_view>

#include "media/bridge_state.h"
#include "support/dstring.h"

namespace sipline {

namespace {

// The offer names the port the media bridge receives on.
constexpr std::string_view kMediaLine = "m=audio 10000 RTP/AVP 0 3\r\n";

constexpr int port_of(std::string_view media_line) {
    int port = 0;
    for (char c : media_line.substr(media_line.find(' ') + 1)) {
        if (c < '0' || c > '9') {
            break;
        }
        port = port * 10 + (c - '0');
    }
    return port;
}

static_assert(port_of(kMediaLine) == RTP_PORT, "the SDP offer's m= line must name RTP_PORT");

}  // namespace

char *BuildSdpOffer(const char *address) {
    dstring_t offer;
    dstring_init(&offer);
    // RFC 4566 section 5: a "t=" line is required and a line ends right after its value;
    // softphones refuse an offer without the one or with white space before the end.
    dstring_printf(&offer,
                   "v=0\r\no=MARVA 123123453 123453 IN IP4 %s\r\ns=Telephone call\r\n"
                   "c=IN IP4 %s\r\nt=0 0\r\n%.*s",
                   address, address, static_cast<int>(kMediaLine.size()), kMediaLine.data());
    return dstring_value(&offer);
}

}  // namespace sipline
