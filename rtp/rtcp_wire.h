// Wire layouts of the RTCP packets this engine sends (RFC 1889 section 6): fixed sizes, the
// common header, report blocks, SDES chunks, BYE and the padding of a compound. Every writer
// writes in network byte order and checks nothing: callers measure first with the size helpers,
// so that a compound is cut to what fits its buffer instead of running past it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "rtp/receive.h"

namespace sipline {

// The count field has 5 bits.
inline constexpr int RTCP_MAX_COUNT = 31;
// An SDES item or BYE reason carries its length in one byte.
inline constexpr std::size_t RTCP_MAX_TEXT = 255;
inline constexpr int RTCP_SDES_ITEMS = 12;

inline constexpr std::size_t RTCP_HEADER_SIZE = 4;
inline constexpr std::size_t RTCP_REPORT_BLOCK_SIZE = 24;
inline constexpr std::size_t RTCP_SR_FIXED_SIZE = 28;
inline constexpr std::size_t RTCP_RR_FIXED_SIZE = 8;

// The fields of one report block as they go on the wire.
struct rtcp_block_fields_t {
    uint32_t ssrc;
    uint8_t fraction_lost;
    uint32_t cumulative_lost;  // only the low 24 bits are sent
    uint32_t highest_seq;
    uint32_t jitter;
    uint32_t lsr;
    uint32_t dlsr;
};

struct rtcp_sender_info_t {
    uint32_t ssrc;
    uint32_t ntp_sec;
    uint32_t ntp_frac;
    uint32_t rtp_timestamp;
    uint32_t packets;
    uint32_t octets;
};

inline constexpr std::size_t rtcp_pad4(std::size_t n) {
    return (n + 3) & ~std::size_t{3};
}

void rtcp_put_u16(uint8_t *p, uint16_t v);
void rtcp_put_u32(uint8_t *p, uint32_t v);
uint16_t rtcp_get_u16(const uint8_t *p);
uint32_t rtcp_get_u32(const uint8_t *p);

// Writes the 4-byte common header; the length is that of the whole packet in bytes (a multiple
// of 4) and becomes "words minus one".
void rtcp_put_header(uint8_t *p, int count, int type, std::size_t packet_bytes);

// SR: header and sender information, blocks to follow at p + 28. RR: header and SSRC, blocks at
// p + 8. Both return the packet size for the given block count.
std::size_t rtcp_put_sr(uint8_t *p, const rtcp_sender_info_t &info, int blocks);
std::size_t rtcp_put_rr(uint8_t *p, uint32_t ssrc, int blocks);
void rtcp_put_report_block(uint8_t *p, const rtcp_block_fields_t &block);

// An item's text as sent: cut at 255 bytes so that its length byte and its text agree.
std::string_view rtcp_item_text(const char *text);

// An SDES chunk: SSRC, items 1 to 12 that are set (items[i] is type i + 1, null = absent), the
// terminating zero byte and zero bytes up to a multiple of 4. Size 0 when no item is set: such a
// member sends no chunk.
std::size_t rtcp_sdes_chunk_size(const char *const items[RTCP_SDES_ITEMS]);
std::size_t rtcp_put_sdes_chunk(uint8_t *p, uint32_t ssrc,
                                const char *const items[RTCP_SDES_ITEMS]);

// BYE: count SSRCs, then the reason (length byte and text, cut at 255) or a single zero byte,
// zero bytes up to a multiple of 4.
std::size_t rtcp_bye_size(int count, const char *reason);
std::size_t rtcp_put_bye(uint8_t *p, const uint32_t *ssrcs, int count, const char *reason);

// Pads the compound [start, start + length) to a multiple of block (no change for block <= 0 or
// when it already divides): n - 1 zero bytes and then n, the padding flag set in the last
// packet, whose length field grows with it. Returns the new length; the caller provides room
// for up to block - 1 more bytes.
std::size_t rtcp_pad_compound(uint8_t *start, std::size_t length, std::size_t last_packet,
                              int block);

}  // namespace sipline
