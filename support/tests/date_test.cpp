#include "support/date.h"

#include <gtest/gtest.h>

#include <cstring>

namespace sipline {
namespace {

constexpr const char *date_header = "%a, %d %b %Y %T %Z";

struct tm untouched() {
    struct tm t;
    std::memset(&t, 0x55, sizeof t);
    return t;
}
constexpr int U = 0x55555555;

TEST(Strptime, DateHeader) {
    struct tm t = untouched();
    const char *in = "Tue, 08 Dec 2026 01:24:14 GMT";
    const char *end = sipline::strptime(in, date_header, &t);
    ASSERT_NE(end, nullptr);
    EXPECT_EQ(t.tm_wday, 2);
    EXPECT_EQ(t.tm_mday, 8);
    EXPECT_EQ(t.tm_mon, 11);
    EXPECT_EQ(t.tm_year, 126);
    EXPECT_EQ(t.tm_hour, 1);
    EXPECT_EQ(t.tm_min, 24);
    EXPECT_EQ(t.tm_sec, 14);
    EXPECT_EQ(t.tm_yday, U) << "fields not named stay as they were";
    EXPECT_STREQ(end, "GMT") << "the zone is not consumed";
}

TEST(Strptime, NamesMatchInAnyCase) {
    for (const char *in : {"DEC", "dec", "December", "dEcEmBeR"}) {
        struct tm t = untouched();
        ASSERT_NE(sipline::strptime(in, "%b", &t), nullptr) << in;
        EXPECT_EQ(t.tm_mon, 11) << in;
    }
    struct tm t = untouched();
    ASSERT_NE(sipline::strptime("wednesday", "%A", &t), nullptr);
    EXPECT_EQ(t.tm_wday, 3);
    EXPECT_EQ(sipline::strptime("Xyz", "%a", &t), nullptr);
}

struct Row {
    const char *input;
    const char *format;
    bool ok;
    int hour, min, sec;
};

TEST(Strptime, TimeConversions) {
    const Row rows[] = {
        {"24:00:00", "%T", false, U, U, U},    {"23:60:00", "%T", false, 23, U, U},
        {"23:59:59", "%T", true, 23, 59, 59},  {"12:30:00 PM", "%r", true, 12, 30, 0},
        {"12:30:00 AM", "%r", true, 0, 30, 0}, {"01:05:09 pm", "%r", true, 13, 5, 9},
        {"13:00:00 PM", "%r", false, U, U, U}, {"7:08", "%R", true, 7, 8, U},
        {"x", "%H", false, U, U, U},
    };
    for (const auto &r : rows) {
        struct tm t = untouched();
        const char *end = sipline::strptime(r.input, r.format, &t);
        EXPECT_EQ(end != nullptr, r.ok) << r.input;
        EXPECT_EQ(t.tm_hour, r.hour) << r.input;
        EXPECT_EQ(t.tm_min, r.min) << r.input;
        EXPECT_EQ(t.tm_sec, r.sec) << r.input;
    }
}

TEST(Strptime, InputEndingAfterTheYearSucceeds) {
    struct tm t = untouched();
    ASSERT_NE(sipline::strptime("Tue, 08 Dec 2026", date_header, &t), nullptr);
    EXPECT_EQ(t.tm_year, 126);
    EXPECT_EQ(t.tm_hour, U);
}

TEST(Strptime, Years) {
    struct tm t = untouched();
    EXPECT_EQ(sipline::strptime("1899", "%Y", &t), nullptr);
    ASSERT_NE(sipline::strptime("99", "%y", &t), nullptr);
    EXPECT_EQ(t.tm_year, 99);
    ASSERT_NE(sipline::strptime("5", "%y", &t), nullptr);
    EXPECT_EQ(t.tm_year, 5);
    ASSERT_NE(sipline::strptime("12/31/99", "%D", &t), nullptr);
    EXPECT_EQ(t.tm_mon, 11);
    EXPECT_EQ(t.tm_mday, 31);
    EXPECT_EQ(sipline::strptime("13/01/99", "%D", &t), nullptr) << "month 13";
    ASSERT_NE(sipline::strptime("366", "%j", &t), nullptr);
    EXPECT_EQ(t.tm_yday, 365);
}

TEST(Strptime, LiteralsAndPercent) {
    struct tm t = untouched();
    EXPECT_NE(sipline::strptime("100%", "100%%", &t), nullptr);
    EXPECT_NE(sipline::strptime("5%", "5%", &t), nullptr) << "a trailing % reads a literal %";
    EXPECT_EQ(sipline::strptime("a", "b", &t), nullptr);
    EXPECT_NE(sipline::strptime("   x", " x", &t), nullptr);
    EXPECT_NE(sipline::strptime("anything", "%Z", &t), nullptr);
}

TEST(Strptime, NumberFollowedBySpaceSkipsRestOfFormatWord) {
    struct tm t = untouched();
    // After "8 " the rest of the word "%d/%m" is skipped, so the month is not read.
    ASSERT_NE(sipline::strptime("8 12", "%d/%m %H", &t), nullptr);
    EXPECT_EQ(t.tm_mday, 8);
    EXPECT_EQ(t.tm_mon, U);
    EXPECT_EQ(t.tm_hour, 12);
}

TEST(Strptime, DateAndTimeOfC) {
    struct tm t = untouched();
    ASSERT_NE(sipline::strptime("Tue Dec  8 01:24:14 2026", "%C", &t), nullptr);
    EXPECT_EQ(t.tm_wday, 2);
    EXPECT_EQ(t.tm_mon, 11);
    EXPECT_EQ(t.tm_mday, 8);
    EXPECT_EQ(t.tm_year, 126);
}

TEST(Strptime, HugeNumbersDoNotOverflow) {
    struct tm t = untouched();
    EXPECT_EQ(sipline::strptime("99999999999999999999999", "%H", &t), nullptr);
    EXPECT_NE(sipline::strptime("99999999999999999999999", "%Y", &t), nullptr);
}

}  // namespace
}  // namespace sipline
