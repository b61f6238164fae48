#include <gtest/gtest.h>

#include "config/cidr.h"

namespace sipline {
namespace {

constexpr uint32_t address(uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
    return a << 24 | b << 16 | c << 8 | d;
}

TEST(CidrParse, BlocksAndSingleAddressesContainWhatTheySay) {
    struct row {
        const char *text;
        uint32_t inside;
        uint32_t outside;
    };
    const row rows[] = {
        {"192.0.2.0/24", address(192, 0, 2, 77), address(192, 0, 3, 1)},
        {"192.0.2.77/24", address(192, 0, 2, 1), address(192, 0, 1, 255)},  // host bits ignored
        {"10.1.2.3", address(10, 1, 2, 3), address(10, 1, 2, 4)},
        {"10.1.2.3/32", address(10, 1, 2, 3), address(10, 1, 2, 2)},
        {"0.0.0.0/0", address(203, 0, 113, 9), address(203, 0, 113, 9)},
        {"172.16.0.0/12", address(172, 31, 255, 255), address(172, 32, 0, 0)},
    };
    for (const row &r : rows) {
        cidr_t block{};
        ASSERT_EQ(CidrParse(r.text, &block), 0) << r.text;
        EXPECT_TRUE(CidrContains(block, r.inside)) << r.text;
        if (block.mask != 0) {
            EXPECT_FALSE(CidrContains(block, r.outside)) << r.text;
        }
    }
}

TEST(CidrParse, RefusesWhatIsNotAnIpv4Block) {
    for (const char *text :
         {"", "/24", "192.0.2.0/", "192.0.2.0/33", "192.0.2.0/-1", "192.0.2.0/2x", "192.0.2.0/024",
          "192.0.2/24", "example.com", "::1", "192.0.2.0/24/8", "192.0.2.256", " 192.0.2.1"}) {
        cidr_t block{};
        EXPECT_EQ(CidrParse(text, &block), -1) << text;
    }
    cidr_t block{};
    EXPECT_EQ(CidrParse(nullptr, &block), -1);
}

}  // namespace
}  // namespace sipline
