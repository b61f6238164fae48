#include "support/resolve.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

namespace sipline {
namespace {

TEST(Resolve, DottedTextIsConverted) {
    in_addr a{};
    ASSERT_EQ(resolve_host("192.0.2.7", &a), 0);
    EXPECT_EQ(a.s_addr, inet_addr("192.0.2.7"));
}

TEST(Resolve, NamesAreLookedUp) {
    in_addr a{};
    ASSERT_EQ(resolve_host("localhost", &a), 0);
    EXPECT_EQ(ntohl(a.s_addr) >> 24, 127u);
}

TEST(Resolve, FailuresAreReported) {
    in_addr a{};
    EXPECT_EQ(resolve_host("", &a), -1);
    EXPECT_EQ(resolve_host(nullptr, &a), -1);
    EXPECT_EQ(resolve_host("no-such-host.invalid", &a), -1);
}

}  // namespace
}  // namespace sipline
