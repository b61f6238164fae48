#include "rtp/rtcp_wire.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace sipline {
namespace {

std::vector<uint8_t> Buffer(std::size_t n) {
    return std::vector<uint8_t>(n, 0xEE);
}

TEST(RtcpWire, SdesChunkWithCnameAndNameIsPaddedToWords) {
    std::string cname(16, 'c'), name(17, 'n');
    const char *items[RTCP_SDES_ITEMS] = {cname.c_str(), name.c_str()};
    ASSERT_EQ(rtcp_sdes_chunk_size(items), 44u);  // 4 + 18 + 19 = 41, one zero, 2 more
    auto buf = Buffer(64);
    ASSERT_EQ(rtcp_put_sdes_chunk(buf.data() + 4, 0x11223344, items), 44u);
    rtcp_put_header(buf.data(), 1, RTCP_SDES, 48);
    EXPECT_EQ(buf[0], 0x81);
    EXPECT_EQ(buf[1], 202);
    EXPECT_EQ(rtcp_get_u16(buf.data() + 2), 11);
    EXPECT_EQ(rtcp_get_u32(buf.data() + 4), 0x11223344u);
    EXPECT_EQ(buf[8], 1);
    EXPECT_EQ(buf[9], 16);
    EXPECT_EQ(buf[26], 2);
    EXPECT_EQ(buf[27], 17);
    for (int i = 45; i < 48; i++) {
        EXPECT_EQ(buf[i], 0) << "chunk end at byte " << i;
    }
    EXPECT_EQ(buf[48], 0xEE) << "wrote past the chunk";
}

TEST(RtcpWire, SdesChunkNeedsAnItemAndAlwaysAnEndByte) {
    const char *none[RTCP_SDES_ITEMS] = {};
    EXPECT_EQ(rtcp_sdes_chunk_size(none), 0u);
    // 4 + 2 + 2 = 8 leaves no room for the end byte, so a whole word follows.
    const char *two[RTCP_SDES_ITEMS] = {"ab"};
    EXPECT_EQ(rtcp_sdes_chunk_size(two), 12u);
    const char *email[RTCP_SDES_ITEMS] = {nullptr, nullptr, "x"};
    auto buf = Buffer(16);
    ASSERT_EQ(rtcp_put_sdes_chunk(buf.data(), 7, email), 8u);
    EXPECT_EQ(buf[4], 3) << "item type follows its slot";
    EXPECT_EQ(buf[7], 0);
}

TEST(RtcpWire, OverlongTextsAreCutSoLengthByteAndTextAgree) {
    std::string longer(300, 'x');
    const char *items[RTCP_SDES_ITEMS] = {longer.c_str()};
    auto buf = Buffer(300);
    std::size_t size = rtcp_put_sdes_chunk(buf.data(), 1, items);
    EXPECT_EQ(size, rtcp_pad4(4 + 2 + 255 + 1));
    EXPECT_EQ(buf[5], 255);
    EXPECT_EQ(buf[4 + 2 + 255], 0) << "the chunk ends right after 255 characters";

    EXPECT_EQ(rtcp_bye_size(1, longer.c_str()), rtcp_pad4(4 + 4 + 1 + 255));
    uint32_t ssrc = 5;
    std::size_t bye = rtcp_put_bye(buf.data(), &ssrc, 1, longer.c_str());
    EXPECT_EQ(buf[8], 255);
    EXPECT_EQ(bye, 264u);
    EXPECT_EQ(rtcp_get_u16(buf.data() + 2), 264 / 4 - 1);
}

TEST(RtcpWire, ByeLayouts) {
    struct Case {
        std::vector<uint32_t> ssrcs;
        const char *reason;
        std::size_t size;
    } cases[] = {
        {{0xAABBCCDD}, nullptr, 12},  // reason length byte 0, then padding
        {{1, 2}, "", 16},
        {{1}, "hangup", 16},  // 4 + 4 + 1 + 6 = 15
        {{1}, "abc", 12},
    };
    for (const Case &c : cases) {
        auto buf = Buffer(64);
        std::size_t size =
            rtcp_put_bye(buf.data(), c.ssrcs.data(), static_cast<int>(c.ssrcs.size()), c.reason);
        EXPECT_EQ(size, c.size) << (c.reason ? c.reason : "(none)");
        EXPECT_EQ(buf[0], 0x80 | c.ssrcs.size());
        EXPECT_EQ(buf[1], 203);
        EXPECT_EQ(rtcp_get_u16(buf.data() + 2), size / 4 - 1);
        std::size_t at = 4 + 4 * c.ssrcs.size();
        EXPECT_EQ(rtcp_get_u32(buf.data() + 4), c.ssrcs[0]);
        std::string reason = c.reason ? c.reason : "";
        EXPECT_EQ(buf[at], reason.size());
        EXPECT_EQ(std::string(buf.begin() + at + 1, buf.begin() + at + 1 + reason.size()), reason);
        EXPECT_EQ(buf[size], 0xEE);
    }
}

TEST(RtcpWire, SenderReportWithOneBlock) {
    auto buf = Buffer(64);
    rtcp_sender_info_t info{0x01020304, 0xE0000000, 0x80000000, 1000, 5, 165};
    ASSERT_EQ(rtcp_put_sr(buf.data(), info, 1), 52u);
    rtcp_put_report_block(buf.data() + 28, {0x0A0B0C0D, 64, 0x1234567, 70000, 12, 0x11112222, 3});
    EXPECT_EQ(buf[0], 0x81);
    EXPECT_EQ(buf[1], 200);
    EXPECT_EQ(rtcp_get_u16(buf.data() + 2), 12);
    EXPECT_EQ(rtcp_get_u32(buf.data() + 8), 0xE0000000u);
    EXPECT_EQ(rtcp_get_u32(buf.data() + 24), 165u);
    EXPECT_EQ(rtcp_get_u32(buf.data() + 28), 0x0A0B0C0Du);
    EXPECT_EQ(buf[32], 64);
    EXPECT_EQ(rtcp_get_u32(buf.data() + 32) & 0xFFFFFF, 0x234567u) << "24 bits of the count";
    EXPECT_EQ(rtcp_get_u32(buf.data() + 36), 70000u);
    EXPECT_EQ(rtcp_get_u32(buf.data() + 44), 0x11112222u);

    auto rr = Buffer(16);
    ASSERT_EQ(rtcp_put_rr(rr.data(), 9, 0), 8u);
    EXPECT_EQ(rr[0], 0x80);
    EXPECT_EQ(rtcp_get_u16(rr.data() + 2), 1);
}

TEST(RtcpWire, PaddingFillsTheLastPacketToTheBlockSize) {
    auto buf = Buffer(128);
    rtcp_put_rr(buf.data(), 1, 0);  // 8 bytes
    uint32_t ssrc = 1;
    std::size_t bye = rtcp_put_bye(buf.data() + 8, &ssrc, 1, nullptr);  // 12 bytes
    std::size_t length = rtcp_pad_compound(buf.data(), 8 + bye, 8, 32);
    ASSERT_EQ(length, 32u);
    EXPECT_EQ(buf[31], 12) << "last byte counts the padding";
    EXPECT_EQ(buf[30], 0);
    EXPECT_EQ(buf[8] & 0x20, 0x20) << "padding flag on the last packet";
    EXPECT_EQ(buf[0] & 0x20, 0) << "not on the first";
    EXPECT_EQ(rtcp_get_u16(buf.data() + 10), 24 / 4 - 1) << "length includes the padding";

    EXPECT_EQ(rtcp_pad_compound(buf.data(), 32, 8, 32), 32u) << "divides: no padding";
    EXPECT_EQ(rtcp_pad_compound(buf.data(), 20, 8, 0), 20u);
    EXPECT_EQ(rtcp_pad_compound(buf.data(), 20, 8, 6), 20u) << "not a whole number of words";
}

}  // namespace
}  // namespace sipline
