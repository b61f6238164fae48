#include "service/emodel.h"

#include <gtest/gtest.h>

namespace sipline {
namespace {

TEST(EModel, G711WithoutLossOrDelayRatesTheDefault93Point2) {
    const double r = EModelRating(EModelCodec("PCMU"), 0, 0);
    EXPECT_NEAR(r, 93.2, 0.05);
    EXPECT_NEAR(EModelMos(r), 4.41, 0.005);
}

TEST(EModel, KnownPoints) {
    struct row {
        const char *what;
        const char *codec;
        double loss, delay, r;
    } rows[] = {
        // Ie,eff = 95 * 1 / (1 + 25.1)
        {"G.711 1% loss", "PCMA", 1, 0, 93.2 - 95 / 26.1},
        {"G.711 5% loss", "PCMU", 5, 0, 93.2 - 95 * 5 / 30.1},
        {"GSM clean", "GSM", 0, 0, 73.2},
        {"GSM 2% loss", "GSM", 2, 0, 93.2 - 20 - 75.0 * 2 / 12},
        {"delay up to 100 ms costs nothing", "PCMU", 0, 100, 93.2},
        // X = 1: Idd = 25 * (2^(1/6) - 3 * (1 + 3^-6)^(1/6) + 2)
        {"200 ms", "PCMU", 0, 200, 93.2 - 3.0443},
        {"unknown codec is taken as G.711", "L16", 0, 0, 93.2},
        {"negative loss is none", nullptr, -3, 0, 93.2},
    };
    for (const row &r : rows) {
        EXPECT_NEAR(EModelRating(EModelCodec(r.codec), r.loss, r.delay), r.r, 0.01) << r.what;
    }
}

TEST(EModel, MosRisesWithRAndStaysOnItsScale) {
    EXPECT_EQ(EModelMos(-20), 1);
    EXPECT_EQ(EModelMos(0), 1);
    EXPECT_EQ(EModelMos(3), 1);  // the cubic's dip under 1 is cut
    EXPECT_EQ(EModelMos(100), 4.5);
    EXPECT_EQ(EModelMos(130), 4.5);
    double last = 1;
    for (double r = 0; r <= 100; r += 0.5) {
        const double mos = EModelMos(r);
        EXPECT_GE(mos, last) << "R " << r;
        last = mos;
    }
    EXPECT_NEAR(EModelMos(50), 2.58, 0.01);
}

}  // namespace
}  // namespace sipline
