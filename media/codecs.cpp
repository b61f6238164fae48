#include "media/codecs.h"

#include <cstring>

#include "dsp/g711.h"
#include "media/mulaw.h"
#include "sip/sdp/media_description.h"

namespace sipline {
namespace {

constexpr int32_t PAYLOAD_MS_MOST = 200;

struct codec_row {
    int32_t frame_bytes;
    void (*encode)(gsm_codec &, const int16_t *, uint8_t *);
    int32_t (*decode)(gsm_codec &, const uint8_t *, int32_t, uint8_t *);
};

void encode_pcmu(gsm_codec &, const int16_t *samples, uint8_t *frame) {
    for (int32_t i = 0; i < FRAME_SAMPLES; ++i) {
        frame[i] = mulaw_compress(samples[i]);
    }
}

// The line is mu-law already: its samples pass as they are.
int32_t decode_pcmu(gsm_codec &, const uint8_t *payload, int32_t length, uint8_t *line) {
    std::memcpy(line, payload, static_cast<size_t>(length));
    return length;
}

void encode_pcma(gsm_codec &, const int16_t *samples, uint8_t *frame) {
    for (int32_t i = 0; i < FRAME_SAMPLES; ++i) {
        frame[i] = dsp::linear_to_alaw(samples[i]);
    }
}

int32_t decode_pcma(gsm_codec &, const uint8_t *payload, int32_t length, uint8_t *line) {
    for (int32_t i = 0; i < length; ++i) {
        line[i] = mulaw_compress(dsp::alaw_to_linear(payload[i]));
    }
    return length;
}

void encode_gsm(gsm_codec &gsm, const int16_t *samples, uint8_t *frame) {
    gsm.encode(samples, frame);
}

int32_t decode_gsm(gsm_codec &gsm, const uint8_t *payload, int32_t length, uint8_t *line) {
    int16_t samples[GSM_FRAME_SAMPLES];
    int32_t written = 0;
    for (int32_t at = 0; at + GSM_FRAME_BYTES <= length; at += GSM_FRAME_BYTES) {
        if (!gsm.decode(payload + at, samples)) {
            continue;
        }
        for (int32_t i = 0; i < GSM_FRAME_SAMPLES; ++i) {
            line[written++] = mulaw_compress(samples[i]);
        }
    }
    return written;
}

// In the order of sdp_codec_t.
constexpr codec_row kCodecs[SDP_CODEC_COUNT] = {
    {FRAME_SAMPLES, encode_pcmu, decode_pcmu},
    {FRAME_SAMPLES, encode_pcma, decode_pcma},
    {GSM_FRAME_BYTES, encode_gsm, decode_gsm},
};

const codec_row &row_of(int32_t codec) {
    return kCodecs[codec >= 0 && codec < SDP_CODEC_COUNT ? codec : SDP_CODEC_PCMU];
}

}  // namespace

audio_coder::audio_coder(int32_t codec)
    : codec_(codec >= 0 && codec < SDP_CODEC_COUNT ? codec : SDP_CODEC_PCMU) {}

int32_t audio_coder::frame_bytes() const {
    return row_of(codec_).frame_bytes;
}

int32_t audio_coder::payload_bytes_most() const {
    return frame_bytes() * PAYLOAD_MS_MOST / 20;
}

void audio_coder::encode(const int16_t *samples, uint8_t *frame) {
    row_of(codec_).encode(gsm_, samples, frame);
}

int32_t audio_coder::decode(const uint8_t *payload, int32_t length, uint8_t *line) {
    return row_of(codec_).decode(gsm_, payload, length, line);
}

}  // namespace sipline
