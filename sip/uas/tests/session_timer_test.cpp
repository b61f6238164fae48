// Session timers (RFC 4028) as the gateway reads them: a request's Session-Expires and Min-SE
// (the gateway answers), a 2xx's (the gateway asked), a 422's Min-SE, and whether the far end's
// Allow lets the gateway refresh with UPDATE.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "sip/message/parser.h"
#include "sip/uas/refresh_client.h"
#include "sip/uas/session_timer.h"

namespace sipline {
namespace {

class message {
  public:
    message(const std::string &first_line, const std::string &headers)
        : text_(first_line.begin(), first_line.end()) {
        const std::string rest = "\r\nCall-ID: a@b\r\n" + headers + "\r\n";
        text_.insert(text_.end(), rest.begin(), rest.end());
        text_.push_back('\0');
        MessageParse(text_.data(), &parsed);
    }
    ~message() { MessageFree(&parsed); }
    message(const message &) = delete;
    message &operator=(const message &) = delete;
    parser_t parsed{};

  private:
    std::vector<char> text_;
};

struct timer_row {
    const char *headers;
    int result;
    int32_t interval;
    int32_t uas_refreshes;
};

TEST(SessionTimer, RequestsAreAnsweredAsTheTablesSay) {
    for (const timer_row &row : {
             timer_row{"", 0, 0, 0},
             timer_row{"Supported: timer\r\nSession-Expires: 1800\r\n", 0, 1800, 0},
             timer_row{"Session-Expires: 1800\r\n", 0, 1800, 1},  // no timer at the caller
             timer_row{"Supported: timer\r\nSession-Expires: 90;refresher=uas\r\n", 0, 90, 1},
             timer_row{"Supported: timer\r\nx: 600 ; refresher = uac\r\n", 0, 600, 0},
             timer_row{"Session-Expires: 89\r\n", 422, 0, 0},
             timer_row{"Session-Expires: 0\r\n", 422, 0, 0},
             timer_row{"Session-Expires: 99999999999999999999\r\n", 0, SESSION_EXPIRES_MOST, 1},
             timer_row{"Session-Expires: soon\r\n", 0, 0, 0},
             timer_row{"Session-Expires: -5\r\n", 0, 0, 0},
         }) {
        message m("UPDATE sip:a@b SIP/2.0", row.headers);
        session_timer_t timer{};
        EXPECT_EQ(SessionTimerRead(&m.parsed, &timer), row.result) << row.headers;
        EXPECT_EQ(timer.interval, row.interval) << row.headers;
        EXPECT_EQ(timer.uas_refreshes, row.uas_refreshes) << row.headers;
    }
}

TEST(SessionTimer, AnswersToTheGatewaysRequestsNameTheInterval) {
    for (const timer_row &row : {
             timer_row{"", 0, 0, 0},  // no Session-Expires: no timer
             timer_row{"Session-Expires: 90;refresher=uac\r\n", 0, 90, 0},
             timer_row{"Session-Expires: 1800;refresher=uas\r\n", 0, 1800, 1},
             timer_row{"Session-Expires: 1800\r\n", 0, 1800, 0},  // no refresher: the sender
             timer_row{"Session-Expires: 30;refresher=uas\r\n", 0, SESSION_MIN_SE, 1},
             timer_row{"Session-Expires: 99999999999;refresher=uas\r\n", 0, SESSION_EXPIRES_MOST,
                       1},
             timer_row{"Session-Expires: 0\r\n", 0, 0, 0},
             timer_row{"Session-Expires: soon;refresher=uac\r\n", -1, 0, 0},
             timer_row{"Session-Expires: ;refresher=uas\r\n", -1, 0, 0},
             timer_row{"Session-Expires: 12x\r\n", -1, 0, 0},
         }) {
        message m("SIP/2.0 200 OK", row.headers);
        session_timer_t timer{};
        EXPECT_EQ(SessionTimerReadAnswer(&m.parsed, &timer), row.result) << row.headers;
        EXPECT_EQ(timer.interval, row.interval) << row.headers;
        EXPECT_EQ(timer.uas_refreshes, row.uas_refreshes) << row.headers;
    }
}

TEST(SessionTimer, TheMinSeOfA422) {
    struct row {
        const char *headers;
        int32_t min_se;
    };
    for (const row &r : {
             row{"Min-SE: 120\r\n", 120},
             row{"Min-SE:  600 \r\n", 600},
             row{"", -1},
             row{"Min-SE: many\r\n", -1},
             row{"Min-SE: -90\r\n", -1},
             row{"Min-SE: 99999999999999999999\r\n", INT32_MAX},
         }) {
        message m("SIP/2.0 422 Session Interval Too Small", r.headers);
        EXPECT_EQ(SessionTimerMinSe(&m.parsed), r.min_se) << r.headers;
    }
}

TEST(SessionTimer, UpdateOnlyWhereAllowListsIt) {
    struct row {
        const char *headers;
        bool update;
    };
    for (const row &r : {
             row{"Allow: INVITE, ACK, BYE, CANCEL, UPDATE\r\n", true},
             row{"Allow: update,invite\r\n", true},
             row{"Allow: INVITE\r\nAllow: UPDATE\r\n", true},
             row{"Allow: INVITE, ACK, BYE, CANCEL, OPTIONS\r\n", false},
             row{"Allow: UPDATES, XUPDATE\r\n", false},
             row{"Supported: UPDATE\r\n", false},
             row{"", false},
         }) {
        message m("INVITE sip:a@b SIP/2.0", r.headers);
        EXPECT_EQ(RefreshPeerAllowsUpdate(&m.parsed), r.update) << r.headers;
    }
}

}  // namespace
}  // namespace sipline
