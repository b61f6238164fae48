// Received text is untrusted: every reader must stay within its input and its stated sizes for
// any bytes. These cases are run under AddressSanitizer as part of the test suite.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "sip/message/fields.h"
#include "sip/message/headers.h"
#include "sip/message/http.h"
#include "sip/message/parser.h"
#include "support/error.h"

namespace sipline {
namespace {

struct Hostile {
    const char *name;
    std::string text;
};

std::string repeat(const std::string &piece, size_t times) {
    std::string out;
    for (size_t i = 0; i < times; ++i) {
        out += piece;
    }
    return out;
}

std::vector<Hostile> cases() {
    const std::string line(8192, 'x');
    const std::string start = "INVITE sip:a@b SIP/2.0\r\n";
    return {
        {"EmptyText", ""},
        {"OnlyWhiteSpace", " \r\n\t\r\n"},
        {"NulInsideHeader", start + "Via: SIP/2.0/UDP h" + std::string(1, '\0') + "x\r\n\r\n"},
        {"LongRequestLine", "INVITE sip:" + line + " SIP/2.0\r\n\r\n"},
        {"LongHeaderLine", start + "Subject: " + line + "\r\n\r\n"},
        {"LongHeaderName", start + line + ": v\r\n\r\n"},
        {"LongViaHost", start + "Via: SIP/2.0/UDP " + line + ":5060;branch=1\r\n\r\n"},
        {"LongCSeqMethod", start + "CSeq: 1 " + line + "\r\n\r\n"},
        {"LongContentType", start + "Content-Type: " + line + "/" + line + "\r\n\r\n"},
        {"ManyParameters", start + "Via: h" + repeat(";a=b", 2000) + "\r\n\r\n"},
        {"ManyElements", start + "Route: " + repeat("<sip:x>,", 2000) + "\r\n\r\n"},
        {"UnclosedQuoteInWhole", start + "From: \"never closed <sip:a@b>\r\n\r\n"},
        {"UnclosedQuoteInSplit", start + "Contact: \"never closed <sip:a@b>\r\n\r\n"},
        {"UnclosedComment", start + "Allow: (((\r\n\r\n"},
        {"UnclosedAngle", start + "Contact: <sip:a@b;x=1\r\nTo: <sip:a\r\n\r\n"},
        {"TrailingBackslash", start + "Via: h;a=\"\\\r\nFrom: \"\\\r\n\r\n"},
        {"DeepComment", start + "Allow: " + repeat("(", 4000) + repeat(")", 4000) + "\r\n\r\n"},
        {"ParameterWithoutName", start + "Via: h;;=;=x; ;\r\n\r\n"},
        {"PercentAtEnd", "INVITE sip:a@b% SIP/2.0\r\nTo: sip:%\r\n\r\n"},
        {"AuthorizationFragments",
         start + "Authorization: Digest =, username, realm=\", nonce=\"\r\n\r\n"},
        {"AuthorizationBasicGarbage", start + "Authorization: Basic ====\r\n\r\n"},
        {"AuthorizationPgpWithoutFrom", start + "Authorization: pgp version=\"1\"\r\n\r\n"},
        {"DateGarbage", start + "Date: Xyz, 99 Foo 99999999999 99:99:99\r\nExpires: Mon\r\n\r\n"},
        {"BareCarriageReturns", start + "Via: a\r\r\r\nTo: b\r\r\n\r\r\n"},
        {"LoneLineFeedAfterStart", "SIP/2.0 200\n\n"},
    };
}

class HostileInput : public ::testing::TestWithParam<Hostile> {};

TEST_P(HostileInput, EveryReaderStaysInBounds) {
    std::vector<char> text(GetParam().text.begin(), GetParam().text.end());
    text.push_back('\0');
    ErrorInit(nullptr);
    parser_t message{};
    MessageParse(text.data(), &message);

    parser_t copy{};
    EXPECT_EQ(MessageDuplicate(&copy, &message), 0);
    header_list_t list{};
    headers_add_message(&list, copy.headers);
    dstring_t printed;
    dstring_init(&printed);
    headers_print(&printed, &list);
    dstring_free(&printed);
    headers_free(&list);

    sip_via_t via = SIP_Via(&copy, 1, 0, "gw");
    if (via.host != nullptr) {
        EXPECT_LE(std::strlen(via.host), static_cast<size_t>(VIA_HOST_MAX));
    }
    SIP_ViaFree(&via);
    sip_cseq_t cseq = SIP_CSeq(&copy);
    EXPECT_LE(std::strlen(cseq.method), static_cast<size_t>(CSEQ_METHOD_MAX));
    sip_address_t from = SIP_From(&copy);
    sip_address_t to = SIP_To(&copy);
    SIP_AddressFree(&from);
    SIP_AddressFree(&to);
    SIP_ContactFree(SIP_Contact(&copy));
    SIP_CallID(&copy);
    SIP_Expires(&copy);
    HTTP_ContentLength(&copy);
    http_content_type_t type = HTTP_ContentType(&copy);
    EXPECT_LT(std::strlen(type.type), sizeof type.type);
    EXPECT_LT(std::strlen(type.subtype), sizeof type.subtype);
    HTTP_Date(&copy);
    HTTP_Server(&copy);
    HTTP_UserAgent(&copy);
    http_authorization_t authorization = HTTP_Authorization(&copy);
    HTTP_AuthorizationFree(&authorization);

    MessageFree(&copy);
    MessageFree(&message);
    ErrorInit("stderr");
}

INSTANTIATE_TEST_SUITE_P(Cases, HostileInput, ::testing::ValuesIn(cases()),
                         [](const auto &row) { return std::string(row.param.name); });

}  // namespace
}  // namespace sipline
