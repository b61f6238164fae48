#include "sip/sdp/sdp_reader.h"

#include <algorithm>
#include <charconv>
#include <string_view>

namespace sipline {
namespace {

constexpr int32_t PAYLOAD_TYPE_MOST = 127;
constexpr size_t ADDRESS_MOST = 255;
constexpr size_t TOKEN_MOST = 64;
constexpr size_t PARAMETERS_MOST = 256;
constexpr size_t FORMAT_TEXT_MOST = 512;

// The next word of `text` (space-separated), taken off its front.
std::string_view next_word(std::string_view &text) {
    const size_t start = text.find_first_not_of(' ');
    if (start == std::string_view::npos) {
        text = {};
        return {};
    }
    text.remove_prefix(start);
    const size_t end = text.find(' ');
    std::string_view word = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end);
    return word;
}

// A decimal number that is the whole of `text` and at most `most`.
bool read_number(std::string_view text, uint32_t most, uint32_t *value) {
    uint32_t v = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (error != std::errc() || end != text.data() + text.size() || text.empty() || v > most) {
        return false;
    }
    *value = v;
    return true;
}

std::string cut(std::string_view text, size_t most) {
    return std::string(text.substr(0, most));
}

// "IN IP4 address[/ttl[/count]]": false for another network or address type.
bool read_connection(std::string_view value, std::string *address, uint8_t *ttl) {
    if (next_word(value) != "IN" || next_word(value) != "IP4") {
        return false;
    }
    std::string_view where = next_word(value);
    const size_t slash = where.find('/');
    uint32_t hops = 0;
    if (slash != std::string_view::npos) {
        std::string_view rest = where.substr(slash + 1);
        read_number(rest.substr(0, rest.find('/')), 255, &hops);
        where = where.substr(0, slash);
    }
    if (where.empty() || where.size() > ADDRESS_MOST) {
        return false;
    }
    *address = std::string(where);
    *ttl = static_cast<uint8_t>(hops);
    return true;
}

// "<media> <port>[/<count>] <proto> <fmt> ...".
sdp_media_t read_media(std::string_view value) {
    sdp_media_t m;
    m.media = cut(next_word(value), TOKEN_MOST);
    std::string_view port = next_word(value);
    m.proto = cut(next_word(value), TOKEN_MOST);
    const size_t first = value.find_first_not_of(' ');
    m.format_text = first == std::string_view::npos ? "" : cut(value.substr(first), FORMAT_TEXT_MOST);
    if (!read_number(port.substr(0, port.find('/')), 65535, &m.port) || m.proto.empty() ||
        m.format_text.empty()) {
        m.malformed = true;
        return m;
    }
    if (m.proto.rfind("RTP/", 0) != 0) {
        return m;  // formats of other transports are not payload types
    }
    for (std::string_view word = next_word(value); !word.empty(); word = next_word(value)) {
        uint32_t pt = 0;
        if (!read_number(word, PAYLOAD_TYPE_MOST, &pt)) {
            m.malformed = true;
            return m;
        }
        if (m.formats.size() < static_cast<size_t>(SDP_FORMATS_MAX)) {
            sdp_format_t f;
            f.payload_type = static_cast<int32_t>(pt);
            m.formats.push_back(f);
        }
    }
    return m;
}

sdp_format_t *format_of(sdp_media_t &m, std::string_view &value) {
    uint32_t pt = 0;
    if (!read_number(next_word(value), PAYLOAD_TYPE_MOST, &pt)) {
        return nullptr;
    }
    for (sdp_format_t &f : m.formats) {
        if (f.payload_type == static_cast<int32_t>(pt)) {
            return &f;
        }
    }
    return nullptr;
}

// "rtpmap:<pt> <encoding>/<rate>[/<channels>]"; a malformed one leaves the format without.
void read_rtpmap(sdp_media_t &m, std::string_view value) {
    sdp_format_t *f = format_of(m, value);
    if (f == nullptr) {
        return;
    }
    std::string_view map = next_word(value);
    const size_t slash = map.find('/');
    if (slash == 0 || slash == std::string_view::npos || slash > TOKEN_MOST) {
        return;
    }
    std::string_view rest = map.substr(slash + 1);
    const size_t second = rest.find('/');
    uint32_t rate = 0;
    uint32_t channels = 1;
    if (!read_number(rest.substr(0, second), 1000000, &rate) ||
        (second != std::string_view::npos && !read_number(rest.substr(second + 1), 255, &channels))) {
        return;
    }
    f->encoding = std::string(map.substr(0, slash));
    f->clock_rate = static_cast<int32_t>(rate);
    f->channels = static_cast<int32_t>(channels);
}

void read_fmtp(sdp_media_t &m, std::string_view value) {
    sdp_format_t *f = format_of(m, value);
    if (f == nullptr) {
        return;
    }
    const size_t first = value.find_first_not_of(' ');
    f->parameters = first == std::string_view::npos ? "" : cut(value.substr(first), PARAMETERS_MOST);
}

bool read_direction(std::string_view attribute, sdp_direction_t *direction) {
    static constexpr struct {
        std::string_view name;
        sdp_direction_t direction;
    } kDirections[] = {{"sendrecv", SDP_SENDRECV},
                       {"sendonly", SDP_SENDONLY},
                       {"recvonly", SDP_RECVONLY},
                       {"inactive", SDP_INACTIVE}};
    for (const auto &d : kDirections) {
        if (attribute == d.name) {
            *direction = d.direction;
            return true;
        }
    }
    return false;
}

void read_attribute(sdp_description_t &d, std::string_view value) {
    sdp_media_t *m = d.media.empty() ? nullptr : &d.media.back();
    sdp_direction_t direction = SDP_SENDRECV;
    if (read_direction(value, &direction)) {
        (m != nullptr ? m->direction : d.direction) = direction;
    } else if (m != nullptr && value.rfind("rtpmap:", 0) == 0) {
        read_rtpmap(*m, value.substr(7));
    } else if (m != nullptr && value.rfind("fmtp:", 0) == 0) {
        read_fmtp(*m, value.substr(5));
    }
}

}  // namespace

std::string SdpFormatEncoding(const sdp_format_t &format) {
    if (!format.encoding.empty()) {
        return format.encoding;
    }
    switch (format.payload_type) {
        case 0:
            return "PCMU";
        case 3:
            return "GSM";
        case 8:
            return "PCMA";
        default:
            return "";
    }
}

int SdpRead(const char *body, sdp_description_t *description) {
    sdp_description_t d;
    std::string_view text = body != nullptr ? body : "";
    bool first = true;
    while (!text.empty()) {
        const size_t end = text.find_first_of("\r\n");
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end);
        text.remove_prefix(std::min(text.find_first_not_of("\r\n"), text.size()));
        while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) {
            line.remove_suffix(1);
        }
        if (line.size() < 2 || line[1] != '=') {
            continue;
        }
        if (first && line != "v=0") {
            return -1;  // RFC 4566 section 5: the description starts with its version
        }
        first = false;
        std::string_view value = line.substr(2);
        switch (line[0]) {
            case 'c': {
                std::string address;
                uint8_t ttl = 0;
                if (!read_connection(value, &address, &ttl)) {
                    break;
                }
                if (d.media.empty()) {
                    d.address = address;
                    d.ttl = ttl;
                } else {
                    d.media.back().address = address;
                    d.media.back().ttl = ttl;
                }
                break;
            }
            case 'm':
                if (d.media.size() >= static_cast<size_t>(SDP_MEDIA_MAX)) {
                    return -1;
                }
                d.media.push_back(read_media(value));
                // Session-level attributes stand before the first media line (RFC 4566 5).
                d.media.back().direction = d.direction;
                break;
            case 'a':
                read_attribute(d, value);
                break;
            default:
                break;
        }
    }
    if (first) {
        return -1;
    }
    // Session-level values hold for every stream that does not say otherwise (RFC 4566 5.7, 6).
    for (sdp_media_t &m : d.media) {
        if (m.address.empty()) {
            m.address = d.address;
            m.ttl = d.ttl;
        }
    }
    *description = std::move(d);
    return 0;
}

}  // namespace sipline
