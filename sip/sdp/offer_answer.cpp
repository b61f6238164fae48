#include "sip/sdp/offer_answer.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace sipline {
namespace {

constexpr int32_t kAudioClock = 8000;
constexpr const char *kEventEncoding = "telephone-event";
// The codecs offered when none are configured: the two the gateway always had first.
constexpr int8_t kOfferOrder[] = {SDP_CODEC_PCMU, SDP_CODEC_GSM, SDP_CODEC_PCMA};

bool same_text(std::string_view a, std::string_view b) {
    return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

int32_t codec_of(const sdp_format_t &f) {
    const int32_t codec = SdpCodecByName(SdpFormatEncoding(f).c_str());
    const bool eight_khz = f.clock_rate == kAudioClock || (f.clock_rate == 0 && f.payload_type < 96);
    return eight_khz && f.channels == 1 ? codec : SDP_CODEC_NONE;
}

bool is_event(const sdp_format_t &f) {
    return same_text(f.encoding, kEventEncoding) && f.clock_rate == kAudioClock;
}

// RFC 4733 section 2.4.1: "0-15,66"; no list means events 0-15. Only the DTMF keys count.
uint16_t event_mask(std::string_view list) {
    if (list.empty()) {
        return SDP_DTMF_EVENTS;
    }
    uint32_t mask = 0;
    while (!list.empty()) {
        const size_t comma = list.find(',');
        std::string_view item = list.substr(0, comma);
        list.remove_prefix(comma == std::string_view::npos ? list.size() : comma + 1);
        const size_t dash = item.find('-');
        const std::string low_text(item.substr(0, dash));
        const std::string high_text(dash == std::string_view::npos ? low_text
                                                                   : std::string(item.substr(dash + 1)));
        char *end_low = nullptr;
        char *end_high = nullptr;
        const long low = std::strtol(low_text.c_str(), &end_low, 10);
        const long high = std::strtol(high_text.c_str(), &end_high, 10);
        if (low_text.empty() || high_text.empty() || *end_low != '\0' || *end_high != '\0' ||
            low < 0 || high < low || high > 255) {
            return 0;
        }
        for (long e = low; e <= high && e < 16; ++e) {
            mask |= 1U << e;
        }
    }
    return static_cast<uint16_t>(mask);
}

std::string event_list(uint16_t mask) {
    std::string text;
    for (int e = 0; e < 16;) {
        if ((mask & (1U << e)) == 0) {
            ++e;
            continue;
        }
        int last = e;
        while (last + 1 < 16 && (mask & (1U << (last + 1))) != 0) {
            ++last;
        }
        text += (text.empty() ? "" : ",") + std::to_string(e);
        if (last > e) {
            text += "-" + std::to_string(last);
        }
        e = last + 1;
    }
    return text;
}

bool takes(const sdp_local_t &local, int32_t codec) {
    if (local.codecs == nullptr || local.codec_count <= 0) {
        return codec != SDP_CODEC_NONE;
    }
    for (int32_t i = 0; i < local.codec_count; ++i) {
        if (local.codecs[i] == codec) {
            return true;
        }
    }
    return false;
}

// The codec the gateway sends among those agreed, listed in the other side's order.
int8_t send_codec(const sdp_local_t &local, const std::vector<int8_t> &agreed) {
    if (local.codecs == nullptr || local.codec_count <= 0) {
        // GSM first: the line's audio has always gone out in it, for its bandwidth.
        for (int8_t c : agreed) {
            if (c == SDP_CODEC_GSM) {
                return c;
            }
        }
        return agreed.front();
    }
    for (int32_t i = 0; i < local.codec_count; ++i) {
        for (int8_t c : agreed) {
            if (c == local.codecs[i]) {
                return c;
            }
        }
    }
    return agreed.front();
}

sdp_direction_t mirrored(sdp_direction_t d) {
    switch (d) {
        case SDP_SENDONLY:
            return SDP_RECVONLY;
        case SDP_RECVONLY:
            return SDP_SENDONLY;
        default:
            return d;
    }
}

const char *direction_name(sdp_direction_t d) {
    static constexpr const char *kNames[] = {"sendrecv", "sendonly", "recvonly", "inactive"};
    return kNames[d];
}

// What one audio stream of the other side agrees with the gateway, in its order and with its
// numbers: the formats listed, and *media filled. False when no codec is in common.
bool agree(const sdp_media_t &m, const sdp_local_t &local, media_description_t *media,
           std::vector<const sdp_format_t *> *listed) {
    if (m.malformed || m.port == 0 || m.media != "audio" || m.proto != "RTP/AVP" ||
        m.address.empty()) {
        return false;
    }
    media_description_t d = MediaDescriptionEmpty();
    std::vector<int8_t> agreed;
    for (const sdp_format_t &f : m.formats) {
        const int32_t codec = codec_of(f);
        if (codec != SDP_CODEC_NONE && takes(local, codec) && d.payload_type[codec] < 0) {
            d.payload_type[codec] = static_cast<int8_t>(f.payload_type);
            agreed.push_back(static_cast<int8_t>(codec));
            listed->push_back(&f);
        } else if (is_event(f) && d.event_payload_type < 0) {
            const uint16_t events = event_mask(f.parameters);
            if (events != 0) {
                d.event_payload_type = static_cast<int8_t>(f.payload_type);
                d.events = events;
                listed->push_back(&f);
            }
        }
    }
    if (agreed.empty()) {
        listed->clear();
        return false;
    }
    d.send_codec = send_codec(local, agreed);
    std::snprintf(d.address, sizeof d.address, "%s", m.address.c_str());
    d.ttl = m.ttl;
    d.port = static_cast<uint16_t>(m.port);
    d.direction = mirrored(m.direction);
    *media = d;
    return true;
}

constexpr uint32_t kFirstVersion = 123453;

void session_lines(std::string &text, const char *address, uint32_t version) {
    text += "v=0\r\no=MARVA 123123453 ";
    text += std::to_string(version != 0 ? version : kFirstVersion);
    text += " IN IP4 ";
    text += address;
    text += "\r\ns=Telephone call\r\nc=IN IP4 ";
    text += address;
    text += "\r\nt=0 0\r\n";
}

void format_lines(std::string &text, int32_t payload_type, const char *encoding, uint16_t events) {
    const std::string pt = std::to_string(payload_type);
    text += "a=rtpmap:" + pt + " " + encoding + "/8000\r\n";
    if (same_text(encoding, kEventEncoding)) {
        text += "a=fmtp:" + pt + " " + event_list(events) + "\r\n";
    }
}

}  // namespace

media_description_t MediaDescriptionEmpty() {
    media_description_t d{};
    for (int8_t &pt : d.payload_type) {
        pt = -1;
    }
    d.send_codec = SDP_CODEC_NONE;
    d.event_payload_type = -1;
    d.direction = SDP_SENDRECV;
    return d;
}

const char *SdpCodecName(int32_t codec) {
    static constexpr const char *kNames[SDP_CODEC_COUNT] = {"PCMU", "PCMA", "GSM"};
    return codec >= 0 && codec < SDP_CODEC_COUNT ? kNames[codec] : nullptr;
}

int32_t SdpCodecStaticPayloadType(int32_t codec) {
    static constexpr int32_t kTypes[SDP_CODEC_COUNT] = {0, 8, 3};
    return codec >= 0 && codec < SDP_CODEC_COUNT ? kTypes[codec] : -1;
}

int32_t SdpCodecByName(const char *name) {
    for (int32_t c = 0; c < SDP_CODEC_COUNT && name != nullptr; ++c) {
        if (strcasecmp(name, SdpCodecName(c)) == 0) {
            return c;
        }
    }
    return SDP_CODEC_NONE;
}

int SdpAnswerOffer(const char *offer, const sdp_local_t *local, media_description_t *media,
                   char **answer) {
    sdp_description_t d;
    if (SdpRead(offer, &d) != 0) {
        return 400;
    }
    std::string text;
    session_lines(text, local->address, local->version);
    media_description_t chosen = MediaDescriptionEmpty();
    bool found = false;
    for (const sdp_media_t &m : d.media) {
        std::vector<const sdp_format_t *> listed;
        // One line, one audio stream: the first the gateway can carry; every other one is
        // refused with port 0, as RFC 3264 section 6 asks.
        if (found || !agree(m, *local, &chosen, &listed)) {
            text += "m=" + (m.media.empty() ? std::string("audio") : m.media) + " 0 " +
                    (m.proto.empty() ? std::string("RTP/AVP") : m.proto) + " " +
                    (m.format_text.empty() ? std::string("0") : m.format_text) + "\r\n";
            continue;
        }
        found = true;
        text += "m=audio " + std::to_string(local->port) + " RTP/AVP";
        for (const sdp_format_t *f : listed) {
            text += " " + std::to_string(f->payload_type);
        }
        text += "\r\n";
        for (const sdp_format_t *f : listed) {
            const int32_t codec = codec_of(*f);
            format_lines(text, f->payload_type,
                         codec != SDP_CODEC_NONE ? SdpCodecName(codec) : kEventEncoding,
                         chosen.events);
        }
        if (chosen.direction != SDP_SENDRECV) {
            text += std::string("a=") + direction_name(chosen.direction) + "\r\n";
        }
    }
    if (!found) {
        return 488;
    }
    *answer = strdup(text.c_str());
    *media = chosen;
    return 200;
}

char *SdpBuildOffer(const sdp_local_t *local) {
    const bool configured = local->codecs != nullptr && local->codec_count > 0;
    const int8_t *codecs = configured ? local->codecs : kOfferOrder;
    const int32_t count = configured ? local->codec_count : static_cast<int32_t>(std::size(kOfferOrder));
    std::string text;
    session_lines(text, local->address, local->version);
    text += "m=audio " + std::to_string(local->port) + " RTP/AVP";
    for (int32_t i = 0; i < count; ++i) {
        text += " " + std::to_string(SdpCodecStaticPayloadType(codecs[i]));
    }
    text += " " + std::to_string(SDP_OFFER_EVENT_PAYLOAD_TYPE) + "\r\n";
    for (int32_t i = 0; i < count; ++i) {
        format_lines(text, SdpCodecStaticPayloadType(codecs[i]), SdpCodecName(codecs[i]), 0);
    }
    format_lines(text, SDP_OFFER_EVENT_PAYLOAD_TYPE, kEventEncoding, SDP_DTMF_EVENTS);
    return strdup(text.c_str());
}

int SdpReadAnswer(const char *answer, const sdp_local_t *local, media_description_t *media) {
    sdp_description_t d;
    if (SdpRead(answer, &d) != 0) {
        return -1;
    }
    for (const sdp_media_t &m : d.media) {
        std::vector<const sdp_format_t *> listed;
        media_description_t agreed = MediaDescriptionEmpty();
        if (agree(m, *local, &agreed, &listed)) {
            *media = agreed;
            return 0;
        }
    }
    return -1;
}

}  // namespace sipline
