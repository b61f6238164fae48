#include "service/call_record.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace sipline {
namespace {

call_report_t answered_call() {
    call_report_t c;
    c.start_ms = 1765316401250;  // 2025-12-09T21:40:01.250Z
    c.answer_ms = c.start_ms + 3000;
    c.end_ms = c.answer_ms + 60000;
    snprintf(c.direction, sizeof c.direction, "%s", CALL_SIP_TO_LINE);
    snprintf(c.caller, sizeof c.caller, "%s", "alice@192.0.2.7");
    snprintf(c.number, sizeof c.number, "%s", "0123");
    snprintf(c.codec, sizeof c.codec, "%s", "PCMU");
    snprintf(c.end_reason, sizeof c.end_reason, "%s", "bye");
    snprintf(c.end_side, sizeof c.end_side, "%s", CALL_SIDE_SIP);
    c.media.sent = 3000;
    c.media.received = 2970;
    c.media.lost = 30;
    c.media.concealed = 30;
    c.media.jitter_ms = 2.5;
    c.media.delay_ms = 40;
    c.media.remote_lost = 0;
    return c;
}

// RFC 4180 fields of one line without its newline.
std::vector<std::string> csv_fields(const std::string &line) {
    std::vector<std::string> fields(1);
    bool quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted && c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
            fields.back() += '"';
            ++i;
        } else if (c == '"') {
            quoted = !quoted;
        } else if (c == ',' && !quoted) {
            fields.emplace_back();
        } else if (c != '\n' || quoted) {
            fields.back() += c;
        }
    }
    return fields;
}

TEST(CallRecord, CsvLineHasTheHeadersColumnsInOrder) {
    const std::vector<std::string> header = csv_fields(CallRecordCsvHeader());
    const std::string line = CallRecordLine(answered_call(), CDR_CSV);
    ASSERT_EQ(line.back(), '\n');
    EXPECT_EQ(std::count(line.begin(), line.end(), '\n'), 1);
    const std::vector<std::string> fields = csv_fields(line);
    ASSERT_EQ(fields.size(), header.size()) << line;
    auto field = [&](const char *name) {
        return fields[std::find(header.begin(), header.end(), name) - header.begin()];
    };
    EXPECT_EQ(field("start"), "2025-12-09T21:40:01.250Z");
    EXPECT_EQ(field("answer"), "2025-12-09T21:40:04.250Z");
    EXPECT_EQ(field("caller"), "alice@192.0.2.7");
    EXPECT_EQ(field("packets_lost"), "30");
    EXPECT_EQ(field("concealed_ms"), "600");
    EXPECT_EQ(field("end_side"), "sip");
    // 1% lost, 60 ms: G.711 with concealment.
    EXPECT_EQ(field("r_factor"), "89.56");
    EXPECT_EQ(field("mos"), "4.33");
}

TEST(CallRecord, HostileTextsStayInsideTheirField) {
    call_report_t c = answered_call();
    snprintf(c.caller, sizeof c.caller, "%s", "\"Bob, \\the\" builder\r\n,x");
    const std::vector<std::string> fields = csv_fields(CallRecordLine(c, CDR_CSV));
    EXPECT_EQ(fields.size(), csv_fields(CallRecordCsvHeader()).size());
    EXPECT_EQ(fields[4], c.caller);

    const std::string json = CallRecordLine(c, CDR_JSONL);
    EXPECT_EQ(std::count(json.begin(), json.end(), '\n'), 1) << json;
    EXPECT_NE(json.find(R"("caller":"\"Bob, \\the\" builder\u000d\u000a,x")"), std::string::npos)
        << json;
}

TEST(CallRecord, JsonLineNamesEveryField) {
    const std::string json = CallRecordLine(answered_call(), CDR_JSONL);
    EXPECT_EQ(json.front(), '{');
    EXPECT_EQ(json.substr(json.size() - 2), "}\n");
    for (const std::string &name : csv_fields(CallRecordCsvHeader())) {
        EXPECT_NE(json.find("\"" + name + "\":"), std::string::npos) << name << " in " << json;
    }
    EXPECT_NE(json.find("\"packets_sent\":3000,"), std::string::npos) << json;
    EXPECT_NE(json.find("\"direction\":\"sip-to-line\""), std::string::npos) << json;
}

TEST(CallRecord, UnansweredCallHasNoAnswerTimeAndNoQuality) {
    call_report_t c = answered_call();
    c.answer_ms = 0;
    c.media = {};
    const std::vector<std::string> fields = csv_fields(CallRecordLine(c, CDR_CSV));
    EXPECT_EQ(fields[1], "");
    EXPECT_EQ(fields[15], "0.00");
    EXPECT_EQ(fields[16], "0.00");
    EXPECT_EQ(fields[12], "-1") << "no report from the caller";
}

TEST(CallRecord, FormatNames) {
    EXPECT_EQ(CallRecordFormatByName("csv"), CDR_CSV);
    EXPECT_EQ(CallRecordFormatByName("jsonl"), CDR_JSONL);
    EXPECT_EQ(CallRecordFormatByName("JSON"), -1);
    EXPECT_EQ(CallRecordFormatByName(nullptr), -1);
}

}  // namespace
}  // namespace sipline
