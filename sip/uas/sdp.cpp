#include "sip/uas/sdp.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "sip/uas/gateway.h"

namespace sipline {

namespace {

constexpr size_t kWordMax = 255;

bool line_end(char c) {
    return c == '\r' || c == '\n' || c == '\0';
}

// The words of one line only: a short line must not borrow words from the next one.
std::string this_line(const char *text) {
    size_t n = 0;
    while (!line_end(text[n])) {
        n++;
    }
    return std::string(text, n);
}

bool begins(const char *text, const char *prefix) {
    return strncmp(text, prefix, strlen(prefix)) == 0;
}

struct three_words_t {
    char first[kWordMax + 1] = "";
    char second[kWordMax + 1] = "";
    char third[kWordMax + 1] = "";
    int count = 0;  // as sscanf counts them
};

// SDP lines the gateway reads ("c=", "m=") start with three words; each is cut at kWordMax.
three_words_t three_words(const char *line) {
    three_words_t w;
    std::string text = this_line(line);
    w.count = sscanf(text.c_str(), "%255s %255s %255s", w.first, w.second, w.third);
    return w;
}

}  // namespace

int sdpGetDestAddress(char *line) {
    const sip_gateway_t *gateway = SipGateway();
    printf("ParseSDP: contact: %s\n", line);
    int ttl = 0;
    for (char *p = line; !line_end(*p); p++) {
        if (*p == '/') {
            *p = '\0';
            ttl = atoi(p + 1);
            printf("TTL found: %d\n", ttl);
            break;
        }
    }
    if (gateway->RTPDestTTL != nullptr) {
        gateway->RTPDestTTL->store(static_cast<uint8_t>(ttl));
    }
    auto [network, type, address, words] = three_words(line);
    if (words < 3 || !begins(network, "IN") || !begins(type, "IP4")) {
        return 0;
    }
    if (gateway->RTPDestAddress != nullptr) {
        snprintf(gateway->RTPDestAddress, RTP_DEST_ADDRESS_SIZE, "%s", address);
    }
    printf("sdpGetDestAddress: RTPDestAddress: %s/%d\n", address, ttl);
    return words;
}

int sdpGetDestPort(const char *line, uint16_t *port) {
    auto [media, field, transport, words] = three_words(line);
    if (words < 3 || !begins(media, "audio") || !begins(transport, "RTP/AVP")) {
        *port = 0;
        return 0;
    }
    int value = 0;
    int count = 0;
    int read = sscanf(field, "%d/%d", &value, &count);
    if (read < 2) {
        read = sscanf(field, "%d", &value);
    }
    if (read < 1) {
        read = 0;
        value = 0;
    }
    *port = static_cast<uint16_t>(value);
    printf("sdpGetDestPort: RTPDestPort %d\n", value);
    return read;
}

int parseSDP(const char *body) {
    const sip_gateway_t *gateway = SipGateway();
    printf("Entering parseSDP\n");
    // A writable copy: reading a connection line cuts it at its "/".
    std::string text = body != nullptr ? body : "";
    char *p = text.data();
    while (*p != '\0') {
        // Found first: reading a connection line may write a NUL inside it.
        char *end = p;
        while (!line_end(*end)) {
            end++;
        }
        if (strncmp(p, "c=", 2) == 0) {
            sdpGetDestAddress(p + 2);
        } else if (strncmp(p, "m=", 2) == 0) {
            uint16_t port = 0;
            sdpGetDestPort(p + 2, &port);
            if (gateway->RTPDestPort != nullptr) {
                gateway->RTPDestPort->store(port);
            }
        }
        p = end;
        while (*p == '\r' || *p == '\n') {
            p++;
        }
    }
    printf("Exiting parseSDP\n");
    return 0;
}

}  // namespace sipline
