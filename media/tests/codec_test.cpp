// The line's sample format, the cutting of recorded blocks into GSM frames, and the filling of
// the play stream.
#include <gtest/gtest.h>

#include <cstdio>
#include <numeric>
#include <string>
#include <vector>

#include "boardsim/tests/board_fixture.h"
#include "media/gsm_codec.h"
#include "media/mulaw.h"
#include "media/play_feed.h"
#include "media/record_framer.h"
#include "media/tests/tone.h"

namespace sipline::testing {
namespace {

TEST(Mulaw, ExpansionTableGivesTheMiddleOfEachStep) {
    struct row {
        uint8_t code;
        int16_t linear;
    };
    for (row r : {row{0x00, 0}, row{0x80, 32636}, row{0xFF, 4}, row{0x7F, -4}, row{0x01, -31612},
                  row{0xFE, 12}, row{0xEF, 140}, row{0x6F, -140}}) {
        EXPECT_EQ(mulaw_expand(r.code), r.linear) << "code " << int{r.code};
    }
}

TEST(Mulaw, CompressionIsTheInverseOfTheExpansion) {
    for (int code = 1; code < 256; ++code) {
        EXPECT_EQ(mulaw_compress(mulaw_expand(static_cast<uint8_t>(code))), code) << code;
    }
    EXPECT_EQ(mulaw_compress(0), 0xFF);
    EXPECT_EQ(mulaw_compress(32767), 0x80);
    EXPECT_EQ(mulaw_compress(-32768), 0x01) << "code 0 stands for 0, never for a loud sample";
}

TEST(Mulaw, CompressionPicksTheNearestCode) {
    for (int sample = -32768; sample <= 32767; sample += 7) {
        uint8_t code = mulaw_compress(static_cast<int16_t>(sample));
        int error = std::abs(mulaw_expand(code) - sample);
        for (int other = 1; other < 256; ++other) {  // 0 is never produced
            int e = std::abs(mulaw_expand(static_cast<uint8_t>(other)) - sample);
            ASSERT_LE(error, e) << "sample " << sample << " code " << int{code} << " other "
                                << other;
        }
    }
}

// Every recorded sample goes out once, in order, whatever the block size.
TEST(RecordFramer, EverySampleOfEveryBlockSizeGoesOutInFrames) {
    for (int32_t block : {80, 160, 240, 320, 400, 768}) {
        record_framer framer;
        std::vector<int16_t> out;
        const int32_t blocks = 20;
        int32_t frames = 0;
        for (int32_t b = 0; b < blocks; ++b) {
            std::vector<uint8_t> data(static_cast<size_t>(block));
            for (int32_t i = 0; i < block; ++i) {
                data[static_cast<size_t>(i)] = static_cast<uint8_t>(1 + (b * block + i) % 255);
            }
            framer.push(data.data(), block, [&](const int16_t *samples) {
                ++frames;
                out.insert(out.end(), samples, samples + GSM_FRAME_SAMPLES);
            });
        }
        EXPECT_EQ(frames, blocks * block / GSM_FRAME_SAMPLES) << "block " << block;
        EXPECT_EQ(framer.partial(), blocks * block % GSM_FRAME_SAMPLES) << "block " << block;
        for (size_t i = 0; i < out.size(); ++i) {
            ASSERT_EQ(out[i], mulaw_expand(static_cast<uint8_t>(1 + i % 255)))
                << "block " << block << " sample " << i;
        }
    }
}

TEST(GsmCodec, LineSilenceEncodesFromSamplesOfFour) {
    record_framer framer;
    gsm_codec encoder;
    gsm_codec reference;
    ASSERT_TRUE(encoder.valid());
    std::vector<uint8_t> silence(GSM_FRAME_SAMPLES, MULAW_SILENCE);
    uint8_t framed[GSM_FRAME_BYTES] = {};
    framer.push(silence.data(), GSM_FRAME_SAMPLES,
                [&](const int16_t *samples) { encoder.encode(samples, framed); });
    std::vector<int16_t> fours(GSM_FRAME_SAMPLES, 4);
    uint8_t direct[GSM_FRAME_BYTES] = {};
    reference.encode(fours.data(), direct);
    EXPECT_EQ(std::vector<uint8_t>(framed, framed + GSM_FRAME_BYTES),
              std::vector<uint8_t>(direct, direct + GSM_FRAME_BYTES));
}

class PlayFeedTest : public BoardTest {};

std::vector<uint8_t> numbered(size_t count, size_t start) {
    std::vector<uint8_t> v(count);
    for (size_t i = 0; i < count; ++i) {
        v[i] = static_cast<uint8_t>((start + i) % 251);
    }
    return v;
}

// Takes every committed block out of the stream as the board would play it.
std::vector<uint8_t> drain(stream_t s, int32_t block, int32_t *blocks) {
    std::vector<uint8_t> out;
    *blocks = 0;
    while (uint8_t *b = tuvo_next_recorded_block(s)) {
        out.insert(out.end(), b, b + block);
        tuvo_release_block(s, 0xFFFF);
        ++*blocks;
    }
    return out;
}

TEST_F(PlayFeedTest, PayloadsFillTheStreamContinuouslyWhateverTheBlockSize) {
    struct row {
        int32_t block;
        std::vector<size_t> payloads;
        int32_t blocks;
        size_t left;
    };
    const std::vector<row> rows = {
        {160, {160}, 1, 0},              // one payload, one block
        {160, {100, 100, 120}, 2, 0},    // short payloads are carried over, not padded
        {240, {160, 160, 160}, 2, 0},    // a frame spans two blocks
        {768, {160, 160, 160}, 0, 480},  // waits for the rest of the block
        {160, {330}, 2, 10},
    };
    for (const row &r : rows) {
        stream_t s = tuvo_create_buffer(32, r.block);
        play_feed feed(s, r.block, [] { return true; });
        size_t sent = 0;
        for (size_t n : r.payloads) {
            std::vector<uint8_t> p = numbered(n, sent);
            ASSERT_TRUE(feed.write(p.data(), p.size(), 'w'));
            sent += n;
        }
        int32_t blocks = 0;
        std::vector<uint8_t> played = drain(s, r.block, &blocks);
        EXPECT_EQ(blocks, r.blocks) << "block " << r.block;
        EXPECT_EQ(feed.pending(), r.left) << "block " << r.block;
        EXPECT_EQ(played, numbered(played.size(), 0)) << "block " << r.block;
        tuvo_free_buffer(s);
    }
}

TEST_F(PlayFeedTest, AFullStreamIsRetriedAtBlockPaceAndReportedOncePerStall) {
    stream_t s = tuvo_create_buffer(2, 160);
    int asked = 0;
    play_feed feed(s, 160, [&asked] { return ++asked < 10; });
    std::vector<uint8_t> p = numbered(160, 0);
    ::testing::internal::CaptureStdout();
    auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(feed.write(p.data(), p.size(), 'w'));
    EXPECT_TRUE(feed.write(p.data(), p.size(), 'w'));
    EXPECT_FALSE(feed.write(p.data(), p.size(), 'w')) << "the call ended while the stream was full";
    auto waited = std::chrono::steady_clock::now() - start;
    std::string printed = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(printed, "w") << "one mark per stall, not one per try";
    EXPECT_EQ(asked, 10);
    EXPECT_GE(waited, std::chrono::milliseconds(9 * 20)) << "tries are a block's time apart";
    EXPECT_EQ(feed.stalls(), 1);
    tuvo_free_buffer(s);
}

}  // namespace
}  // namespace sipline::testing
