#include "support/dstring.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace sipline {
namespace {

struct DString : ::testing::Test {
    dstring_t ds;
    void SetUp() override { dstring_init(&ds); }
    void TearDown() override { dstring_free(&ds); }
    std::string text() const {
        return ds.s ? std::string(ds.s, static_cast<size_t>(ds.length)) : "";
    }
};

TEST_F(DString, FreshRecordHoldsNothing) {
    EXPECT_EQ(dstring_value(&ds), nullptr);
    EXPECT_EQ(dstring_length(&ds), 0);
    dstring_reset(&ds);
    EXPECT_EQ(ds.s, nullptr);
    EXPECT_EQ(ds.allocated, 0);
}

TEST_F(DString, GrowthFollowsTheExactRule) {
    dstring_append(&ds, "0123456789", 10);
    EXPECT_EQ(ds.allocated, 11);
    dstring_append(&ds, "", 0);
    EXPECT_EQ(ds.allocated, 22) << "needed equal to allocated must grow";
    EXPECT_EQ(text(), "0123456789");
}

TEST_F(DString, GrowthBeyondDoubleAddsTheCount) {
    dstring_append(&ds, "0123456789", 10);
    dstring_reset(&ds);
    dstring_append(&ds, "abcde", 5);
    ASSERT_EQ(ds.allocated, 11);
    std::string hundred(100, 'x');
    dstring_append(&ds, hundred.c_str(), 100);
    EXPECT_EQ(ds.allocated, 22 + 100 + 1);
    EXPECT_EQ(text(), "abcde" + hundred);
}

TEST_F(DString, NegativeCountMeansNulTerminated) {
    dstring_append(&ds, "hello", -1);
    EXPECT_EQ(text(), "hello");
    char *before = ds.s;
    EXPECT_EQ(dstring_append(&ds, nullptr, -1), before);
    EXPECT_EQ(ds.length, 5);
}

TEST_F(DString, NullTextReservesWithoutChangingLength) {
    dstring_append(&ds, nullptr, 40);
    EXPECT_EQ(ds.length, 0);
    EXPECT_GE(ds.allocated, 41);
    EXPECT_EQ(ds.s[0], '\0');
}

TEST_F(DString, BytesAreCopiedAsTheyAre) {
    dstring_append(&ds, "a\0b", 3);
    EXPECT_EQ(ds.length, 3);
    EXPECT_EQ(text(), std::string("a\0b", 3));
}

TEST_F(DString, PrintfReservesFiveHundredAndOneBytes) {
    dstring_printf(&ds, "%d-%s", 42, "x");
    EXPECT_EQ(ds.allocated, 501);
    EXPECT_EQ(text(), "42-x");
}

TEST_F(DString, PrintfOfMoreThanTheReserveIsWrittenWhole) {
    std::string big(3000, 'q');
    dstring_append(&ds, "head:", -1);
    dstring_printf(&ds, "%s|%s", big.c_str(), big.c_str());
    EXPECT_EQ(text(), "head:" + big + "|" + big);
    EXPECT_LT(ds.length, ds.allocated);
    dstring_printf(&ds, "%s", "!");
    EXPECT_EQ(ds.s[ds.length - 1], '!');
}

TEST_F(DString, StrftimeAppendsAndOverlongAppendsNothing) {
    struct tm t {};
    t.tm_year = 126;
    t.tm_mon = 11;
    t.tm_mday = 8;
    t.tm_hour = 1;
    t.tm_min = 24;
    t.tm_sec = 14;
    dstring_strftime_tm(&ds, "%Y-%m-%d %T", &t);
    EXPECT_EQ(text(), "2026-12-08 01:24:14");
    std::string huge(600, 'A');
    dstring_strftime_tm(&ds, huge.c_str(), &t);
    EXPECT_EQ(text(), "2026-12-08 01:24:14");
    dstring_reset(&ds);
    dstring_strftime(&ds, "%a, %d %b %Y %T GMT", 1796693054, 0);
    EXPECT_EQ(text(), "Tue, 08 Dec 2026 01:24:14 GMT");
    dstring_reset(&ds);
    dstring_strftime(&ds, "%Y", 0, 0);
    EXPECT_GE(std::atoi(ds.s), 2026) << "time 0 means now";
}

TEST_F(DString, TrimLeadingReplacesTheBuffer) {
    dstring_append(&ds, "  ab \r\n", -1);
    dstring_trim(&ds);
    EXPECT_EQ(text(), "ab");
    EXPECT_EQ(ds.length, 2);
    EXPECT_EQ(ds.allocated, 3);
}

TEST_F(DString, TrimTrailingKeepsTheBuffer) {
    dstring_append(&ds, "ab   ", -1);
    char *before = ds.s;
    int32_t allocated = ds.allocated;
    dstring_trim(&ds);
    EXPECT_EQ(text(), "ab");
    EXPECT_EQ(ds.s, before);
    EXPECT_EQ(ds.allocated, allocated);
}

TEST_F(DString, TrimOfWhiteSpaceOnlyAndOfNothing) {
    EXPECT_EQ(dstring_trim(&ds), nullptr);
    dstring_append(&ds, " \t\r\n\v\f", -1);
    dstring_trim(&ds);
    EXPECT_EQ(text(), "");
    EXPECT_EQ(ds.length, 0);
}

TEST_F(DString, EscapedAppendMarksSpecials) {
    dstring_append_escaped(&ds, "a;b", ";");
    EXPECT_EQ(text(), "a\\;b");
}

TEST_F(DString, AppendDstring) {
    dstring_t other;
    dstring_init(&other);
    EXPECT_EQ(dstring_append_dstring(nullptr, &other), nullptr);
    EXPECT_EQ(dstring_append_dstring(&ds, &other), nullptr) << "empty source appends nothing";
    dstring_append(&other, "xyz", -1);
    dstring_append(&ds, "ab", -1);
    dstring_append_dstring(&ds, &other);
    EXPECT_EQ(text(), "abxyz");
    dstring_free(&other);
    dstring_reset(&ds);
    dstring_append(&ds, "again", -1);
    EXPECT_EQ(text(), "again") << "usable after free without init";
}

TEST_F(DString, ManySmallAppendsStayConsistent) {
    std::string expected;
    for (int i = 0; i < 5000; i++) {
        char c = static_cast<char>('a' + i % 26);
        dstring_append(&ds, &c, 1);
        expected += c;
        ASSERT_LT(ds.length, ds.allocated);
    }
    EXPECT_EQ(text(), expected);
}

}  // namespace
}  // namespace sipline
