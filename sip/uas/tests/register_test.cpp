// What the gateway makes of a registrar's answers: the time granted to its own binding among
// the others, the registrar's Min-Expires, and the schedule of retries after failures; and the
// REGISTER and OPTIONS it sends.
#include "sip/uas/register_answer.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <string>

#include "sip/message/parser.h"
#include "sip/uas/register.h"
#include "sip/uas/tests/fake_gateway.h"

namespace sipline {
namespace {

constexpr const char *kOurs = "sip:gw@192.0.2.7:5060";

struct parsed {
    std::string text;
    parser_t message{};
    explicit parsed(const std::string &headers)
        : text("SIP/2.0 200 OK\r\n" + headers + "Content-Length: 0\r\n\r\n") {
        MessageParse(text.data(), &message);
    }
    ~parsed() { MessageFree(&message); }
};

TEST(RegisterGranted, TakesOurContactsExpiresThenTheHeaderThenWhatWasAsked) {
    struct row {
        const char *what;
        const char *headers;
        int32_t granted;
        char how;
    };
    const row rows[] = {
        {"our contact among others",
         "Contact: <sip:gw@192.0.2.9:5060>;expires=30, <sip:gw@192.0.2.7:5060>;expires=1800\r\n"
         "Expires: 900\r\n",
         1800, 'c'},
        {"default port matches 5060", "Contact: <sip:gw@192.0.2.7>;expires=100\r\n", 100, 'c'},
        {"display name and added parameters",
         "Contact: \"Line\" "
         "<sip:gw@192.0.2.7:5060;transport=udp>;received=\"sip:x\";expires=60\r\n",
         60, 'c'},
        {"another gateway only: the header",
         "Contact: <sip:gw@192.0.2.9>;expires=30\r\n"
         "Expires: 900\r\n",
         900, 'e'},
        {"neither: what was asked", "", 3600, 'n'},
        {"longer than asked is cut", "Contact: <sip:gw@192.0.2.7:5060>;expires=99999\r\n", 3600,
         'c'},
        {"2^31 is cut", "Expires: 2147483648\r\n", 3600, 'e'},
        {"binding dropped", "Contact: <sip:gw@192.0.2.7:5060>;expires=0\r\n", 0, 'c'},
        {"garbage in the parameter", "Contact: <sip:gw@192.0.2.7:5060>;expires=soon\r\n", -1, 'c'},
        {"negative header", "Expires: -5\r\n", -1, 'e'},
    };
    for (const row &r : rows) {
        parsed response(r.headers);
        char how = '?';
        EXPECT_EQ(RegisterGranted(&response.message, kOurs, 3600, &how), r.granted) << r.what;
        EXPECT_EQ(how, r.how) << r.what;
    }
}

TEST(RegisterMinExpires, AcceptsOnlyALargerTimeWithinADay) {
    struct row {
        const char *headers;
        int32_t least;
    };
    const row rows[] = {
        {"Min-Expires: 60\r\n", 60},
        {"Min-Expires: 86400\r\n", 86400},
        {"Min-Expires: 86401\r\n", -1},
        {"Min-Expires: 2147483648\r\n", -1},
        {"Min-Expires: 0\r\n", -1},
        {"Min-Expires: 20\r\n", -1},  // no larger than asked: a loop otherwise
        {"Min-Expires: 1e3\r\n", -1},
        {"", -1},
    };
    for (const row &r : rows) {
        parsed response(r.headers);
        EXPECT_EQ(RegisterMinExpires(&response.message, 20), r.least) << r.headers;
    }
}

TEST(RegisterDeltaSeconds, DigitsOnlySaturated) {
    EXPECT_EQ(RegisterDeltaSeconds("0"), 0);
    EXPECT_EQ(RegisterDeltaSeconds(" 42 "), 42);
    EXPECT_EQ(RegisterDeltaSeconds("99999999999999999999"), INT32_MAX);
    EXPECT_EQ(RegisterDeltaSeconds(""), -1);
    EXPECT_EQ(RegisterDeltaSeconds(nullptr), -1);
    EXPECT_EQ(RegisterDeltaSeconds("+5"), -1);
    EXPECT_EQ(RegisterDeltaSeconds("5s"), -1);
}

TEST(RegisterSchedule, RetriesDoubleFrom20SecondsTo10MinutesAndRefreshAt90Percent) {
    const int32_t expected[] = {20, 40, 80, 160, 320, 600, 600};
    for (int32_t i = 0; i < 7; ++i) {
        EXPECT_EQ(RegisterRetryDelay(i + 1), expected[i]) << "failure " << i + 1;
    }
    EXPECT_EQ(RegisterRetryDelay(INT32_MAX), 600);
    EXPECT_EQ(RegisterRefreshDelay(3600), 3240);
    EXPECT_EQ(RegisterRefreshDelay(20), 18);
    EXPECT_EQ(RegisterRefreshDelay(1), 1);
    EXPECT_EQ(RegisterRefreshDelay(INT32_MAX), 1932735282);
}

std::string line_of(const std::string &text, const std::string &name) {
    size_t at = text.find("\r\n" + name + ": ");
    if (at == std::string::npos) {
        return "";
    }
    at += name.size() + 4;
    return text.substr(at, text.find("\r\n", at) - at);
}

TEST(RegisterText, BindsTheContactToTheAddressOfRecordThroughTheProxy) {
    testing::fake_gateway gateway;
    gateway.install();
    const sip_register_t direct{"sip:pbx.example.org:5070", "line", ""};
    char *text = RegisterText(&direct, "abc@sipline", 7, "z9hG4bK1", 600, "Authorization",
                              "Digest username=\"line\"");
    const std::string sent(text);
    free(text);
    EXPECT_EQ(sent.rfind("REGISTER sip:pbx.example.org:5070 SIP/2.0\r\n", 0), 0u) << sent;
    EXPECT_EQ(line_of(sent, "To"), "<sip:line@pbx.example.org>");
    EXPECT_EQ(line_of(sent, "From"), "<sip:line@pbx.example.org>;tag=abc");
    EXPECT_EQ(line_of(sent, "CSeq"), "7 REGISTER");
    EXPECT_EQ(line_of(sent, "Expires"), "600");
    EXPECT_NE(line_of(sent, "Contact").find(">;expires=600"), std::string::npos) << sent;
    EXPECT_NE(line_of(sent, "Via").find(";branch=z9hG4bK1;rport"), std::string::npos) << sent;
    EXPECT_EQ(line_of(sent, "Authorization"), "Digest username=\"line\"");
    EXPECT_EQ(line_of(sent, "Route"), "") << "a Route without a proxy";

    // After a NAT's address was learned, the REGISTER also removes the Contact from before.
    sip_register_t moved{"sip:pbx.example.org", "line", "", "sip:line@192.168.1.5:5060"};
    text = RegisterText(&moved, "abc@sipline", 8, "z9hG4bK3", 600, nullptr, nullptr);
    const std::string rebinding(text);
    free(text);
    EXPECT_NE(rebinding.find("\r\nContact: <sip:line@192.168.1.5:5060>;expires=0\r\n"),
              std::string::npos)
        << rebinding;
    EXPECT_NE(line_of(rebinding, "Contact").find(">;expires=600"), std::string::npos)
        << "the new Contact comes first: " << rebinding;

    const sip_register_t proxied{"sip:pbx.example.org", "line", "sip:127.0.0.1:5080"};
    text = RegisterOptionsText(&proxied, "def@sipline", 2, "z9hG4bK2");
    const std::string probe(text);
    free(text);
    EXPECT_EQ(probe.rfind("OPTIONS sip:pbx.example.org SIP/2.0\r\n", 0), 0u) << probe;
    EXPECT_EQ(line_of(probe, "Route"), "<sip:127.0.0.1:5080;lr>");
    sockaddr_in to{};
    ASSERT_EQ(RegisterAim(&proxied, &to), 0);
    EXPECT_EQ(ntohs(to.sin_port), 5080) << "not aimed at the proxy";
}

}  // namespace
}  // namespace sipline
