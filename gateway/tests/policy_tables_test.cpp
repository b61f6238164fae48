#include <gtest/gtest.h>

#include "gateway/policy_internal.h"

namespace sipline {
namespace {

using verdict = nonce_table::verdict;
constexpr uint32_t kAlice = 0xC0000201;    // 192.0.2.1
constexpr uint32_t kMallory = 0xCB007105;  // 203.0.113.5

TEST(NonceTable, ANonceIsGoodOnceForItsSourceWithinItsLifetime) {
    nonce_table nonces(60, 16);
    std::string nonce = nonces.issue(kAlice, 1000);
    EXPECT_EQ(nonces.use(nonce, kMallory, 1001, 1, true), verdict::unknown)
        << "a nonce was accepted from a source it was not given to";
    EXPECT_EQ(nonces.use(nonce, kAlice, 1001, 1, false), verdict::fresh);
    EXPECT_EQ(nonces.use(nonce, kAlice, 1001, 1, true), verdict::fresh)
        << "a failed attempt must not use up the nonce count";
    EXPECT_EQ(nonces.use(nonce, kAlice, 1002, 1, true), verdict::replayed);
    EXPECT_EQ(nonces.use(nonce, kAlice, 1002, 2, true), verdict::fresh);
    EXPECT_EQ(nonces.use(nonce, kAlice, 1061, 3, true), verdict::stale);
    EXPECT_EQ(nonces.use("0123", kAlice, 1002, 1, true), verdict::unknown);
    std::string forged = nonce;
    forged.back() = forged.back() == '0' ? '1' : '0';
    EXPECT_EQ(nonces.use(forged, kAlice, 1002, 5, true), verdict::unknown);
}

TEST(NonceTable, ANonceThatLeftTheFullTableIsStaleNotForged) {
    nonce_table nonces(60, 4);
    std::string first = nonces.issue(kAlice, 1000);
    for (int i = 0; i < 8; ++i) {
        nonces.issue(kMallory, 1000);
    }
    EXPECT_EQ(nonces.use(first, kAlice, 1001, 1, true), verdict::stale);
    EXPECT_EQ(nonces.use(first, kMallory, 1001, 1, true), verdict::unknown);
}

TEST(BanTable, BansAfterTheFailuresWithinTheWindowForItsTime) {
    ban_table bans(3, 600, 60, 16);
    EXPECT_FALSE(bans.fail(kMallory, 0));
    EXPECT_FALSE(bans.fail(kMallory, 10));
    EXPECT_FALSE(bans.banned(kMallory, 10));
    EXPECT_TRUE(bans.fail(kMallory, 20)) << "the third failure within a minute must ban";
    EXPECT_FALSE(bans.fail(kMallory, 21)) << "a ban is announced once";
    EXPECT_TRUE(bans.banned(kMallory, 30));
    EXPECT_FALSE(bans.banned(kAlice, 30));
    EXPECT_TRUE(bans.banned(kMallory, 619));
    EXPECT_FALSE(bans.banned(kMallory, 621));
}

TEST(BanTable, ListsTheBansInForceWithTheTimeLeft) {
    ban_table bans(2, 600, 60, 16);
    bans.fail(kMallory, 0);
    bans.fail(kMallory, 10);  // banned until 610
    bans.fail(kAlice, 20);    // one failure: no ban
    gateway_ban_t listed[4] = {};
    ASSERT_EQ(bans.list(100, listed, 4), 1);
    EXPECT_EQ(listed[0].source, kMallory);
    EXPECT_DOUBLE_EQ(listed[0].seconds_left, 510);
    EXPECT_EQ(bans.list(100, listed, 0), 0) << "wrote past a room of 0";
    EXPECT_EQ(bans.list(611, listed, 4), 0) << "an ended ban was listed";
}

TEST(BanTable, FailuresFurtherApartThanTheWindowDoNotBan) {
    ban_table bans(3, 600, 60, 16);
    for (double t = 0; t < 600; t += 40) {
        EXPECT_FALSE(bans.fail(kAlice, t)) << t;
    }
    ban_table never(0, 600, 60, 16);
    for (int i = 0; i < 100; ++i) {
        EXPECT_FALSE(never.fail(kAlice, i));
    }
    EXPECT_FALSE(never.banned(kAlice, 100));
}

TEST(BanTable, AFullTableKeepsItsBansAndStillBansNewSources) {
    ban_table bans(2, 600, 60, 4);
    for (uint32_t source = 1; source <= 3; ++source) {
        bans.fail(source, 0);
        bans.fail(source, 0);
    }
    for (uint32_t source = 100; source < 1100; ++source) {
        bans.fail(source, 1);  // one failure each: a spread scan
    }
    for (uint32_t source = 1; source <= 3; ++source) {
        EXPECT_TRUE(bans.banned(source, 2)) << source;
    }
    EXPECT_FALSE(bans.fail(kMallory, 3));
    EXPECT_TRUE(bans.fail(kMallory, 3));
    EXPECT_TRUE(bans.banned(kMallory, 4));
}

TEST(DialRules, AllowAndDenyMatchTheWholeNumber) {
    dial_rules rules;
    ASSERT_TRUE(rules.set({"0[1-8][0-9]{8}", "1[0-9]{2}"}, {"0800.*", "112"}));
    struct row {
        const char *number;
        bool permitted;
    };
    for (const row &r :
         {row{"0612345678", true}, row{"100", true}, row{"0900123456", false},
          row{"0800123456", false}, row{"1000", false}, row{"x100", false}, row{"", false}}) {
        EXPECT_EQ(rules.permits(r.number), r.permitted) << r.number;
    }
    dial_rules open;
    ASSERT_TRUE(open.set({}, {"09.*"}));
    EXPECT_TRUE(open.permits("0612345678"));
    EXPECT_FALSE(open.permits("0900123456"));
    dial_rules bad;
    EXPECT_FALSE(bad.set({"("}, {}));
}

}  // namespace
}  // namespace sipline
