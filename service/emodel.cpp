#include "service/emodel.h"

#include <algorithm>
#include <cmath>
#include <string_view>

namespace sipline {
namespace {

// Ro - Is with every G.107 input at its default: the R of a G.711 call without loss or delay.
// The talker-echo term at the default TELR of 65 dB is left at its zero-delay value, as the
// gateway's line echo canceller and the caller's phone keep the echo below it.
constexpr double R_DEFAULT = 93.2;

// G.107 section 7.4: the impairment of a long absolute delay, 0 up to 100 ms.
double delay_impairment(double delay_ms) {
    if (delay_ms <= 100) {
        return 0;
    }
    const double x = std::log(delay_ms / 100) / std::log(2.0);
    return 25 * (std::pow(1 + std::pow(x, 6), 1.0 / 6) -
                 3 * std::pow(1 + std::pow(x / 3, 6), 1.0 / 6) + 2);
}

}  // namespace

emodel_codec_t EModelCodec(const char *name) {
    const std::string_view codec = name != nullptr ? name : "";
    // G.113 appendix I: GSM 06.10 full rate has Ie 20. It gives no Bpl for it; 10, its value for
    // the GSM codecs' own frame concealment (EFR), stands in.
    if (codec == "GSM") {
        return {20, 10};
    }
    // G.711 with packet-loss concealment (G.711 appendix I): Bpl 25.1. The gateway conceals
    // every lost frame.
    return {0, 25.1};
}

double EModelRating(const emodel_codec_t &codec, double loss_percent, double delay_ms) {
    const double ppl = std::clamp(loss_percent, 0.0, 100.0);
    // G.107 section 7.5 with BurstR 1: Ie,eff = Ie + (95 - Ie) * Ppl / (Ppl + Bpl).
    const double ie_eff = codec.ie + (95 - codec.ie) * ppl / (ppl + codec.bpl);
    return R_DEFAULT - delay_impairment(std::max(delay_ms, 0.0)) - ie_eff;
}

double EModelMos(double rating) {
    if (rating <= 0) {
        return 1;
    }
    if (rating >= 100) {
        return 4.5;
    }
    // The cubic dips just below 1 for R under 6.5; the scale ends at 1.
    return std::max(1.0, 1 + 0.035 * rating + rating * (rating - 60) * (100 - rating) * 7e-6);
}

}  // namespace sipline
