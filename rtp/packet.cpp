#include <arpa/inet.h>

#include <cstring>

#include "rtp/context_internal.h"

namespace sipline {

namespace {

constexpr int32_t rtp_fixed_header = 12;
constexpr int32_t sr_sender_end = 28;
constexpr int32_t rr_blocks_start = 8;
constexpr int32_t report_block_size = 24;

uint8_t rtp_first_byte_to_host(uint8_t w) {
    return static_cast<uint8_t>((w >> 6) | ((w >> 5) & 1) << 2 | ((w >> 4) & 1) << 3 |
                                (w & 0x0F) << 4);
}
uint8_t rtp_first_byte_to_wire(uint8_t h) {
    return static_cast<uint8_t>((h & 3) << 6 | ((h >> 2) & 1) << 5 | ((h >> 3) & 1) << 4 |
                                (h >> 4));
}
uint8_t rtp_second_byte_to_host(uint8_t w) {
    return static_cast<uint8_t>((w >> 7) | (w & 0x7F) << 1);
}
uint8_t rtp_second_byte_to_wire(uint8_t h) {
    return static_cast<uint8_t>((h & 1) << 7 | (h >> 1));
}

uint8_t rtcp_first_byte_to_host(uint8_t w) {
    return static_cast<uint8_t>((w >> 6) | ((w >> 5) & 1) << 2 | (w & 0x1F) << 3);
}
uint8_t rtcp_first_byte_to_wire(uint8_t h) {
    return static_cast<uint8_t>((h & 3) << 6 | ((h >> 2) & 1) << 5 | (h >> 3));
}

uint16_t host16(const void *p) {
    uint16_t value;
    std::memcpy(&value, p, sizeof value);
    return value;
}
void host_store16(void *p, uint16_t value) {
    std::memcpy(p, &value, sizeof value);
}

void word_to_host(char *p) {
    rtp_host_store32(p, rtp_load32(p));
}
void word_to_wire(char *p) {
    rtp_store32(p, rtp_host32(p));
}

// Report blocks from start, as many as the count says and the packet holds.
template <typename Convert>
void each_report_block(char *packet, int32_t bytes, int32_t start, Convert convert) {
    int32_t count = static_cast<uint8_t>(packet[0]) >> 3;
    for (int32_t i = 0; i < count && start + report_block_size * (i + 1) <= bytes; ++i) {
        convert(packet + start + report_block_size * i);
    }
}

void block_to_host(char *block) {
    for (int offset : {0, 8, 12, 16, 20}) {
        word_to_host(block + offset);
    }
    uint32_t loss = rtp_load32(block + 4);
    rtp_host_store32(block + 4, (loss & 0xFFFFFF) << 8 | loss >> 24);
}

void block_to_wire(char *block) {
    for (int offset : {0, 8, 12, 16, 20}) {
        word_to_wire(block + offset);
    }
    uint32_t loss = rtp_host32(block + 4);
    rtp_store32(block + 4, (loss & 0xFF) << 24 | loss >> 8);
}

// The SR sender information and the SR and RR report blocks, one way or the other; the
// packet's first byte (the count) is in host form.
void convert_body(char *packet, int32_t bytes, void (*word)(char *), void (*block)(char *)) {
    switch (static_cast<uint8_t>(packet[1])) {
        case RTCP_SR:
            if (bytes >= sr_sender_end) {
                for (int32_t offset = 4; offset < sr_sender_end; offset += 4) {
                    word(packet + offset);
                }
                each_report_block(packet, bytes, sr_sender_end, block);
            }
            break;
        case RTCP_RR:
            if (bytes >= rr_blocks_start) {
                word(packet + 4);
                each_report_block(packet, bytes, rr_blocks_start, block);
            }
            break;
        default:
            break;
    }
}

}  // namespace

uint32_t rtp_load32(const void *p) {
    uint32_t value;
    std::memcpy(&value, p, sizeof value);
    return ntohl(value);
}
uint16_t rtp_load16(const void *p) {
    uint16_t value;
    std::memcpy(&value, p, sizeof value);
    return ntohs(value);
}
void rtp_store32(void *p, uint32_t value) {
    value = htonl(value);
    std::memcpy(p, &value, sizeof value);
}
void rtp_store16(void *p, uint16_t value) {
    value = htons(value);
    std::memcpy(p, &value, sizeof value);
}
uint32_t rtp_host32(const void *p) {
    uint32_t value;
    std::memcpy(&value, p, sizeof value);
    return value;
}
void rtp_host_store32(void *p, uint32_t value) {
    std::memcpy(p, &value, sizeof value);
}

rtperror RTPHeaderToHost(char *packet, int32_t length) {
    if (length < rtp_fixed_header) {
        return RTP_BAD_PACKET_FORMAT;
    }
    auto first = static_cast<uint8_t>(packet[0]);
    int32_t extension = rtp_fixed_header + 4 * (first & 0x0F);
    bool has_extension = (first & 0x10) != 0;
    if (extension > length || (has_extension && extension + 4 > length)) {
        return RTP_BAD_PACKET_FORMAT;
    }
    if (has_extension && extension + 4 + 4 * rtp_load16(packet + extension + 2) > length) {
        return RTP_BAD_PACKET_FORMAT;
    }
    packet[0] = static_cast<char>(rtp_first_byte_to_host(first));
    packet[1] = static_cast<char>(rtp_second_byte_to_host(static_cast<uint8_t>(packet[1])));
    host_store16(packet + 2, rtp_load16(packet + 2));
    word_to_host(packet + 4);
    word_to_host(packet + 8);
    if (has_extension) {
        host_store16(packet + extension, rtp_load16(packet + extension));
        host_store16(packet + extension + 2, rtp_load16(packet + extension + 2));
    }
    return RTP_OK;
}

void RTPHeaderToWire(char *packet, int32_t length) {
    auto first = static_cast<uint8_t>(packet[0]);
    int32_t extension = rtp_fixed_header + 4 * (first >> 4);
    bool has_extension = (first & 0x08) != 0;
    packet[0] = static_cast<char>(rtp_first_byte_to_wire(first));
    packet[1] = static_cast<char>(rtp_second_byte_to_wire(static_cast<uint8_t>(packet[1])));
    rtp_store16(packet + 2, host16(packet + 2));
    word_to_wire(packet + 4);
    word_to_wire(packet + 8);
    if (has_extension && extension + 4 <= length) {
        rtp_store16(packet + extension, host16(packet + extension));
        rtp_store16(packet + extension + 2, host16(packet + extension + 2));
    }
}

void RTCPCommonToHost(char *packet) {
    packet[0] = static_cast<char>(rtcp_first_byte_to_host(static_cast<uint8_t>(packet[0])));
    host_store16(packet + 2, rtp_load16(packet + 2));
}

void RTCPCommonToWire(char *packet) {
    packet[0] = static_cast<char>(rtcp_first_byte_to_wire(static_cast<uint8_t>(packet[0])));
    rtp_store16(packet + 2, host16(packet + 2));
}

void RTCPBodyToHost(char *packet, int32_t bytes) {
    convert_body(packet, bytes, word_to_host, block_to_host);
}

void RTCPBodyToWire(char *packet, int32_t bytes) {
    convert_body(packet, bytes, word_to_wire, block_to_wire);
}

rtperror RTPGetRTPPacketInfo(rtp_packet_info_t *info, char *packet, int32_t length) {
    if (length < rtp_fixed_header) {
        return RTP_BAD_PACKET_FORMAT;
    }
    auto first = static_cast<uint8_t>(packet[0]);
    int32_t payload = rtp_fixed_header + 4 * (first >> 4);
    if (payload > length) {
        return RTP_BAD_PACKET_FORMAT;
    }
    const void *extension = nullptr;
    if ((first & 0x08) != 0) {
        if (payload + 4 > length) {
            return RTP_BAD_PACKET_FORMAT;
        }
        extension = packet + payload;
        payload += 4 + 4 * host16(packet + payload + 2);
        if (payload > length) {
            return RTP_BAD_PACKET_FORMAT;
        }
    }
    int32_t payload_length = length - payload;
    if ((first & 0x04) != 0) {
        // RFC 1889 section 5.1: the last octet counts the padding, itself included.
        int32_t padding = static_cast<uint8_t>(packet[length - 1]);
        if (padding > payload_length) {
            return RTP_BAD_PACKET_FORMAT;
        }
        payload_length -= padding;
    }
    info->header = reinterpret_cast<rtp_hdr_t *>(packet);
    info->extension = extension;
    info->payload = packet + payload;
    info->payload_length = payload_length;
    return RTP_OK;
}

uint32_t RTPGetCSRC(const rtp_packet_info_t *info, int32_t index) {
    const char *header = reinterpret_cast<const char *>(info->header);
    int32_t count = static_cast<uint8_t>(header[0]) >> 4;
    if (index < 0 || index >= count) {
        return 0;
    }
    return rtp_host32(header + rtp_fixed_header + 4 * index);
}

rtperror RTPGetRTCPPacketInfo(rtcp_packet_info_t *info, char *packet) {
    info->packet = reinterpret_cast<rtcp_common_t *>(packet);
    info->position = nullptr;
    info->reason = nullptr;
    info->reason_length = 0;
    int32_t count = static_cast<uint8_t>(packet[0]) >> 3;
    int32_t bytes = (host16(packet + 2) + 1) * 4;
    switch (static_cast<uint8_t>(packet[1])) {
        case RTCP_SR:
            info->position = packet + sr_sender_end;
            break;
        case RTCP_RR:
            info->position = packet + rr_blocks_start;
            break;
        case RTCP_SDES:
            info->position = packet + 4;
            break;
        case RTCP_BYE: {
            int32_t reason = 4 + 4 * count;
            if (reason < bytes) {
                auto stated = static_cast<uint8_t>(packet[reason]);
                int32_t room = bytes - reason - 1;
                info->reason_length = static_cast<uint8_t>(stated < room ? stated : room);
                info->reason = packet + reason + 1;
            }
            break;
        }
        default:
            break;
    }
    return RTP_OK;
}

int32_t RTPSplitCompound(char *compound, char **packets, int32_t length) {
    int32_t count = 0;
    for (int32_t offset = 0; offset < length;) {
        if (count == RTCP_MAX_COMPOUND || offset + 4 > length) {
            return -1;
        }
        int32_t bytes = (host16(compound + offset + 2) + 1) * 4;
        if (offset + bytes > length) {
            return -1;
        }
        packets[count++] = compound + offset;
        offset += bytes;
    }
    return count;
}

}  // namespace sipline
