#include "rtp/rtcp_wire.h"

#include <cstring>

namespace sipline {

void rtcp_put_u16(uint8_t *p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}

void rtcp_put_u32(uint8_t *p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}

uint16_t rtcp_get_u16(const uint8_t *p) {
    return static_cast<uint16_t>(p[0] << 8 | p[1]);
}

uint32_t rtcp_get_u32(const uint8_t *p) {
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

void rtcp_put_header(uint8_t *p, int count, int type, std::size_t packet_bytes) {
    p[0] = static_cast<uint8_t>(0x80 | (count & 0x1F));
    p[1] = static_cast<uint8_t>(type);
    rtcp_put_u16(p + 2, static_cast<uint16_t>(packet_bytes / 4 - 1));
}

std::size_t rtcp_put_sr(uint8_t *p, const rtcp_sender_info_t &info, int blocks) {
    std::size_t size = RTCP_SR_FIXED_SIZE + RTCP_REPORT_BLOCK_SIZE * blocks;
    rtcp_put_header(p, blocks, RTCP_SR, size);
    rtcp_put_u32(p + 4, info.ssrc);
    rtcp_put_u32(p + 8, info.ntp_sec);
    rtcp_put_u32(p + 12, info.ntp_frac);
    rtcp_put_u32(p + 16, info.rtp_timestamp);
    rtcp_put_u32(p + 20, info.packets);
    rtcp_put_u32(p + 24, info.octets);
    return size;
}

std::size_t rtcp_put_rr(uint8_t *p, uint32_t ssrc, int blocks) {
    std::size_t size = RTCP_RR_FIXED_SIZE + RTCP_REPORT_BLOCK_SIZE * blocks;
    rtcp_put_header(p, blocks, RTCP_RR, size);
    rtcp_put_u32(p + 4, ssrc);
    return size;
}

void rtcp_put_report_block(uint8_t *p, const rtcp_block_fields_t &block) {
    rtcp_put_u32(p, block.ssrc);
    rtcp_put_u32(p + 4, uint32_t{block.fraction_lost} << 24 | (block.cumulative_lost & 0xFFFFFF));
    rtcp_put_u32(p + 8, block.highest_seq);
    rtcp_put_u32(p + 12, block.jitter);
    rtcp_put_u32(p + 16, block.lsr);
    rtcp_put_u32(p + 20, block.dlsr);
}

std::string_view rtcp_item_text(const char *text) {
    if (text == nullptr) {
        return {};
    }
    return {text, strnlen(text, RTCP_MAX_TEXT)};
}

std::size_t rtcp_sdes_chunk_size(const char *const items[RTCP_SDES_ITEMS]) {
    std::size_t size = 4;
    bool any = false;
    for (int i = 0; i < RTCP_SDES_ITEMS; i++) {
        if (items[i] != nullptr) {
            size += 2 + rtcp_item_text(items[i]).size();
            any = true;
        }
    }
    return any ? rtcp_pad4(size + 1) : 0;
}

std::size_t rtcp_put_sdes_chunk(uint8_t *p, uint32_t ssrc,
                                const char *const items[RTCP_SDES_ITEMS]) {
    std::size_t size = rtcp_sdes_chunk_size(items);
    if (size == 0) {
        return 0;
    }
    rtcp_put_u32(p, ssrc);
    std::size_t at = 4;
    for (int i = 0; i < RTCP_SDES_ITEMS; i++) {
        if (items[i] == nullptr) {
            continue;
        }
        std::string_view text = rtcp_item_text(items[i]);
        p[at] = static_cast<uint8_t>(i + 1);
        p[at + 1] = static_cast<uint8_t>(text.size());
        std::memcpy(p + at + 2, text.data(), text.size());
        at += 2 + text.size();
    }
    std::memset(p + at, 0, size - at);
    return size;
}

std::size_t rtcp_bye_size(int count, const char *reason) {
    return rtcp_pad4(RTCP_HEADER_SIZE + 4 * count + 1 + rtcp_item_text(reason).size());
}

std::size_t rtcp_put_bye(uint8_t *p, const uint32_t *ssrcs, int count, const char *reason) {
    std::size_t size = rtcp_bye_size(count, reason);
    rtcp_put_header(p, count, RTCP_BYE, size);
    std::size_t at = RTCP_HEADER_SIZE;
    for (int i = 0; i < count; i++, at += 4) {
        rtcp_put_u32(p + at, ssrcs[i]);
    }
    std::string_view text = rtcp_item_text(reason);
    p[at] = static_cast<uint8_t>(text.size());
    if (!text.empty()) {
        std::memcpy(p + at + 1, text.data(), text.size());
    }
    at += 1 + text.size();
    std::memset(p + at, 0, size - at);
    return size;
}

std::size_t rtcp_pad_compound(uint8_t *start, std::size_t length, std::size_t last_packet,
                              int block) {
    // The length field counts 32-bit words and the count of padding bytes is one byte, so only
    // blocks that are multiples of 4 up to 256 can be met.
    if (block <= 0 || block % 4 != 0 || block > 256 || length % block == 0) {
        return length;
    }
    std::size_t n = block - length % block;
    std::memset(start + length, 0, n - 1);
    start[length + n - 1] = static_cast<uint8_t>(n);
    uint8_t *last = start + last_packet;
    last[0] |= 0x20;
    rtcp_put_u16(last + 2, static_cast<uint16_t>((length + n - last_packet) / 4 - 1));
    return length + n;
}

}  // namespace sipline
