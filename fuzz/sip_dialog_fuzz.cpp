// What the user-agent server reads from a request inside a call: the top Via's rport (and the
// Via it answers with), and Session-Expires, Min-SE and Supported of an INVITE or UPDATE; and
// from the answers to the gateway's own requests, Session-Expires, a 422's Min-SE and Allow, and
// where their top Via says the gateway was seen.
#include <netinet/in.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz/parsed_message.h"
#include "sip/uas/refresh_client.h"
#include "sip/uas/rport.h"
#include "sip/uas/session_timer.h"
#include "support/error.h"

using namespace sipline;

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    ErrorInit(nullptr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string value(reinterpret_cast<const char *>(data), size);
    value = value.c_str();
    ViaAsksRport(value.c_str());
    sockaddr_in source{};
    source.sin_family = AF_INET;
    source.sin_port = htons(40000);
    free(ViaWithReceived(value.c_str(), &source));
    sockaddr_in seen{};
    if (ViaReceivedAt(value.c_str(), &seen) == 1 && seen.sin_family != AF_INET) {
        std::abort();
    }

    std::string text = "UPDATE sip:a@b SIP/2.0\r\nSession-Expires: " + value + "\r\nx: " + value +
                       "\r\nSupported: " + value + "\r\nMin-SE: " + value + "\r\n\r\n";
    parsed_message parsed(text);
    session_timer_t timer{};
    const int status = SessionTimerRead(&parsed.message, &timer);
    if ((status != 0 && status != 422) || timer.interval < 0 ||
        timer.interval > SESSION_EXPIRES_MOST ||
        (timer.interval > 0 && timer.interval < SESSION_MIN_SE)) {
        std::abort();
    }

    std::string answer = "SIP/2.0 200 OK\r\nSession-Expires: " + value + "\r\nMin-SE: " + value +
                         "\r\nAllow: " + value + "\r\n\r\n";
    parsed_message answered(answer);
    const int read = SessionTimerReadAnswer(&answered.message, &timer);
    if ((read != 0 && read != -1) || (read == -1 && timer.interval != 0) ||
        (timer.interval != 0 &&
         (timer.interval < SESSION_MIN_SE || timer.interval > SESSION_EXPIRES_MOST)) ||
        SessionTimerMinSe(&answered.message) < -1) {
        std::abort();
    }
    RefreshPeerAllowsUpdate(&answered.message);
    return 0;
}
