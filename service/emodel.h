// A call's quality estimated with the E-model of ITU-T G.107: the transmission rating R from
// the codec, the packet loss and the one-way delay, and the mean opinion score it predicts.
#pragma once

#include <cstdint>

namespace sipline {

struct emodel_codec_t {
    double ie;   // equipment impairment factor without loss
    double bpl;  // packet-loss robustness factor
};

// The G.113 appendix I values for "PCMU", "PCMA" (G.711 with concealment) and "GSM"; for any
// other name, or none, G.711's.
emodel_codec_t EModelCodec(const char *name);
// R from the codec, the percentage of packets lost (random loss, BurstR 1) and the mouth-to-ear
// delay in milliseconds, with every other input at its G.107 default.
double EModelRating(const emodel_codec_t &codec, double loss_percent, double delay_ms);
// G.107 annex B: MOS (CQE) from R; 1 to 4.5.
double EModelMos(double rating);

}  // namespace sipline
