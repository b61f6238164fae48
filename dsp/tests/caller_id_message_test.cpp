#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dsp/caller_id.h"

namespace sipline::dsp {
namespace {

std::vector<uint8_t> bytes(std::initializer_list<int> list) {
    std::vector<uint8_t> out;
    for (int b : list) {
        out.push_back(static_cast<uint8_t>(b));
    }
    return out;
}

// Message type, then fields given as (type, text); the length byte is filled in.
std::vector<uint8_t> mdmf(std::vector<std::pair<int, std::string>> fields, int type = 0x80) {
    std::vector<uint8_t> m{static_cast<uint8_t>(type), 0};
    for (auto &[t, text] : fields) {
        m.push_back(static_cast<uint8_t>(t));
        m.push_back(static_cast<uint8_t>(text.size()));
        m.insert(m.end(), text.begin(), text.end());
    }
    m[1] = static_cast<uint8_t>(m.size() - 2);
    return m;
}

struct Row {
    const char *what;
    std::vector<uint8_t> message;
    int result;
    const char *number;
    const char *name;
    CallerIdAbsence number_absence;
};

TEST(CallerIdRead, MdmfAndSdmfMessages) {
    using A = CallerIdAbsence;
    const Row rows[] = {
        {"mdmf date number name", mdmf({{1, "12091530"}, {2, "5551234"}, {7, "Ada Lovelace"}}),
         CALLER_ID_OK, "5551234", "Ada Lovelace", A::none},
        {"mdmf number only", mdmf({{2, "5551234"}}), CALLER_ID_OK, "5551234", "", A::none},
        {"mdmf private number", mdmf({{4, "P"}, {8, "P"}}), CALLER_ID_OK, "", "", A::withheld},
        {"mdmf out of area", mdmf({{4, "O"}}), CALLER_ID_OK, "", "", A::unavailable},
        {"mdmf unknown field skipped", mdmf({{0x11, "\x01"}, {2, "42"}}), CALLER_ID_OK, "42", "",
         A::none},
        {"name padding trimmed", mdmf({{2, "42"}, {7, "Ada   "}}), CALLER_ID_OK, "42", "Ada",
         A::none},
        {"sdmf number",
         bytes({4, 15, '1', '2', '0', '9', '1', '5', '3', '0', '5', '5', '5', '1', '2', '3', '4'}),
         CALLER_ID_OK, "5551234", "", A::none},
        {"sdmf private", bytes({4, 9, '1', '2', '0', '9', '1', '5', '3', '0', 'P'}), CALLER_ID_OK,
         "", "", A::withheld},
    };
    for (const Row &row : rows) {
        CallerId id;
        EXPECT_EQ(caller_id_read(row.message.data(), row.message.size(), &id), row.result)
            << row.what;
        EXPECT_EQ(id.number, row.number) << row.what;
        EXPECT_EQ(id.name, row.name) << row.what;
        EXPECT_EQ(id.number_absence, row.number_absence) << row.what;
    }
}

TEST(CallerIdRead, DamagedMessagesAreRefusedWhole) {
    const std::string long_name(200, 'x');
    const struct {
        const char *what;
        std::vector<uint8_t> message;
        int result;
    } rows[] = {
        {"length past the end", bytes({0x80, 9, 2, 3, '5', '5', '5'}), CALLER_ID_TRUNCATED},
        {"field past the end", bytes({0x80, 4, 2, 7, '5', '5'}), CALLER_ID_TRUNCATED},
        {"bytes after the length", bytes({0x80, 3, 2, 1, '5', 'x'}), CALLER_ID_BAD_FIELD},
        {"only a type", bytes({0x80}), CALLER_ID_TRUNCATED},
        {"message waiting", mdmf({{0x0b, "\xff"}}, 0x82), CALLER_ID_NOT_IDENTITY},
        {"letters in the number", mdmf({{2, "555-1234"}}), CALLER_ID_BAD_FIELD},
        {"empty number", mdmf({{2, ""}}), CALLER_ID_BAD_FIELD},
        {"number of 21 digits", mdmf({{2, std::string(21, '5')}}), CALLER_ID_TOO_LONG},
        {"name of 200 bytes", mdmf({{2, "42"}, {7, long_name}}), CALLER_ID_TOO_LONG},
        {"control character in the name", mdmf({{2, "42"}, {7, "Ada\x07"}}), CALLER_ID_BAD_FIELD},
        {"quote-breaking byte", mdmf({{2, "42"}, {7, "Ada\r\nVia: x"}}), CALLER_ID_BAD_FIELD},
        {"8-bit name", mdmf({{2, "42"}, {7, "Ad\xe9"}}), CALLER_ID_BAD_FIELD},
        {"bad date", mdmf({{1, "13991530"}, {2, "42"}}), CALLER_ID_BAD_FIELD},
        {"two numbers", mdmf({{2, "42"}, {2, "43"}}), CALLER_ID_BAD_FIELD},
        {"number and private marker", mdmf({{2, "42"}, {4, "P"}}), CALLER_ID_BAD_FIELD},
        {"unknown absence reason", mdmf({{4, "X"}}), CALLER_ID_BAD_FIELD},
        {"name without number", mdmf({{7, "Ada"}}), CALLER_ID_NOTHING},
        {"sdmf cut short", bytes({4, 5, '1', '2', '0', '9', '1'}), CALLER_ID_TRUNCATED},
    };
    for (const auto &row : rows) {
        CallerId id;
        id.number = "untouched";
        EXPECT_EQ(caller_id_read(row.message.data(), row.message.size(), &id), row.result)
            << row.what;
        EXPECT_EQ(id.number, "untouched") << row.what << ": filled on failure";
    }
}

TEST(CallerIdRead, ChecksumIsTheTwosComplementOfTheSum) {
    std::vector<uint8_t> m = mdmf({{2, "5551234"}});
    unsigned sum = 0;
    for (uint8_t b : m) {
        sum += b;
    }
    m.push_back(static_cast<uint8_t>(-sum & 0xff));
    CallerId id;
    EXPECT_EQ(caller_id_read_checked(m.data(), m.size(), &id), CALLER_ID_OK);
    EXPECT_EQ(id.number, "5551234");
    m.back() ^= 1;
    EXPECT_EQ(caller_id_read_checked(m.data(), m.size(), &id), CALLER_ID_BAD_CHECKSUM);
}

TEST(CallerIdRead, DtmfStrings) {
    using A = CallerIdAbsence;
    const struct {
        const char *text;
        int result;
        const char *number;
        CallerIdAbsence absence;
    } rows[] = {
        {"A5551234C", CALLER_ID_OK, "5551234", A::none},
        {"D5551234C", CALLER_ID_OK, "5551234", A::none},
        {"A5551234#", CALLER_ID_OK, "5551234", A::none},
        {"A5551234D0123B00C", CALLER_ID_OK, "5551234", A::none},
        {"B10C", CALLER_ID_OK, "", A::withheld},
        {"B00C", CALLER_ID_OK, "", A::unavailable},
        {"D1#", CALLER_ID_OK, "", A::withheld},
        {"D3#", CALLER_ID_OK, "", A::unavailable},
        {"A5551234", CALLER_ID_TRUNCATED, "", A::none},
        {"AC", CALLER_ID_BAD_FIELD, "", A::none},
        {"A55*1234C", CALLER_ID_BAD_FIELD, "", A::none},
        {"B77C", CALLER_ID_BAD_FIELD, "", A::none},
        {"5551234#", CALLER_ID_BAD_FIELD, "", A::none},
        {"A123456789012345678901C", CALLER_ID_TOO_LONG, "", A::none},
        {"C", CALLER_ID_TRUNCATED, "", A::none},
    };
    for (const auto &row : rows) {
        CallerId id;
        EXPECT_EQ(caller_id_read_dtmf(row.text, &id), row.result) << row.text;
        EXPECT_EQ(id.number, row.number) << row.text;
        EXPECT_EQ(id.number_absence, row.absence) << row.text;
    }
}

TEST(CallerIdBuild, MessagesReadBackAsBuilt) {
    CallerId id;
    id.date = "12091530";
    id.number = "5551234";
    id.name = "Ada Lovelace";
    std::vector<uint8_t> m = caller_id_build_mdmf(id);
    CallerId back;
    ASSERT_EQ(caller_id_read(m.data(), m.size(), &back), CALLER_ID_OK);
    EXPECT_EQ(back.date, id.date);
    EXPECT_EQ(back.number, id.number);
    EXPECT_EQ(back.name, id.name);
    EXPECT_EQ(caller_id_build_dtmf(id), "A5551234C");

    CallerId hidden;
    hidden.number_absence = CallerIdAbsence::withheld;
    hidden.name_absence = CallerIdAbsence::withheld;
    m = caller_id_build_mdmf(hidden);
    ASSERT_EQ(caller_id_read(m.data(), m.size(), &back), CALLER_ID_OK);
    EXPECT_EQ(back.number_absence, CallerIdAbsence::withheld);
    EXPECT_EQ(caller_id_build_dtmf(hidden), "B10C");
}

}  // namespace
}  // namespace sipline::dsp
