#include "service/reports.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace sipline {
namespace {

call_report_t call_from(const char *caller, const char *number) {
    call_report_t c;
    c.start_ms = 1765316401000;
    c.answer_ms = c.start_ms + 1000;
    c.end_ms = c.start_ms + 61000;
    std::snprintf(c.direction, sizeof c.direction, "%s", CALL_SIP_TO_LINE);
    std::snprintf(c.caller, sizeof c.caller, "%s", caller);
    std::snprintf(c.number, sizeof c.number, "%s", number);
    std::snprintf(c.codec, sizeof c.codec, "%s", "GSM");
    std::snprintf(c.end_reason, sizeof c.end_reason, "%s", "bye");
    std::snprintf(c.end_side, sizeof c.end_side, "%s", CALL_SIDE_SIP);
    c.media.received = 3000;
    return c;
}

TEST(StatusPage, TextsFromTheCallerCannotBecomeMarkup) {
    service_view_t view;
    view.in_call = true;
    view.call = call_from("<script>alert(1)</script>@evil", "1\" onmouseover=\"x");
    view.counts.last_calls.push_back(view.call);
    const std::string page = StatusPage(view);
    EXPECT_EQ(page.find("<script"), std::string::npos) << page;
    EXPECT_EQ(page.find("\" onmouseover"), std::string::npos) << page;
    EXPECT_NE(page.find("&lt;script&gt;alert(1)&lt;/script&gt;@evil"), std::string::npos) << page;
}

TEST(Metrics, CountersOfEveryDirectionAndOutcomeAreShownFromZero) {
    service_counters counters;
    counters.call_ended(call_from("a@b", "1"));
    call_report_t refused = call_from("c@d", "09");
    refused.answer_ms = 0;
    std::snprintf(refused.end_reason, sizeof refused.end_reason, "%s", "refused 403: x");
    counters.call_ended(refused);
    counters.request("FOO\"bar");  // a made-up method is counted as "other", never as a label
    counters.answer("INVITE", 486);
    service_view_t view;
    view.counts = counters.snapshot();
    const std::string text = MetricsText(view);
    for (const char *line :
         {"sipline_calls_total{direction=\"sip-to-line\",outcome=\"answered\"} 1\n",
          "sipline_calls_total{direction=\"sip-to-line\",outcome=\"refused\"} 1\n",
          "sipline_calls_total{direction=\"line-to-sip\",outcome=\"unanswered\"} 0\n",
          "sipline_sip_requests_total{method=\"other\"} 1\n",
          "sipline_sip_answers_total{method=\"INVITE\",code=\"486\"} 1\n",
          // GSM without loss: 93.2 - 20
          "sipline_last_call_r_factor 73.20\n"}) {
        EXPECT_NE(text.find(line), std::string::npos) << line << " not in\n" << text;
    }
    EXPECT_EQ(text.find("FOO"), std::string::npos);
}

TEST(Counters, KeepTheLastTwentyCallsNewestFirst) {
    service_counters counters;
    for (int i = 0; i < 25; ++i) {
        counters.call_ended(call_from("a@b", std::to_string(i).c_str()));
    }
    const service_counts_t counts = counters.snapshot();
    ASSERT_EQ(counts.last_calls.size(), SERVICE_LAST_CALLS);
    EXPECT_STREQ(counts.last_calls.front().number, "24");
    EXPECT_STREQ(counts.last_calls.back().number, "5");
}

}  // namespace
}  // namespace sipline
