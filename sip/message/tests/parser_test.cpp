#include "sip/message/parser.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "sip/message/tests/describe.h"
#include "sip/message/tests/message_fixture.h"

namespace sipline {
namespace {

using ::testing::HasSubstr;

std::string text(const char *value) {
    return value == nullptr ? "(null)" : value;
}

using Parsed = ParsedMessage;

struct StartLine {
    const char *input;
    int result;
    int type;
    const char *method;
    const char *uri;
    int status;
    const char *reason;
    const char *protocol;
    const char *version;
};

const StartLine kStartLines[] = {
    {"SIP/2.0 180 Ringing\r\n\r\n", 0, 2, "(null)", "(null)", 180, "Ringing", "SIP", "2.0"},
    {"SIP/2.0 200 OK with words\r\nX: 1\r\n\r\n", 0, 2, "(null)", "(null)", 200, "OK with words",
     "SIP", "2.0"},
    {"INVITE sip:1234@gw SIP/2.0\r\nX: 1\r\n\r\n", 0, 1, "INVITE", "sip:1234@gw", -1, "(null)",
     "SIP", "2.0"},
    {"  \r\nOPTIONS sip:gw SIP/2.0\r\n", 0, 1, "OPTIONS", "sip:gw", -1, "(null)", "SIP", "2.0"},
    {"INVITE sip:a@b SIP/2.0", 0, 1, "INVITE", "sip:a@b", -1, "(null)", "SIP", "2.0"},
    {"INVITE", 0, 1, "INVITE", "(null)", -1, "(null)", "(null)", "(null)"},
    {"", 0, 0, "(null)", "(null)", -1, "(null)", "(null)", "(null)"},
    // Failures in the start line leave type 0 and what was read.
    {"INV1TE sip:a@b SIP/2.0\r\n", -1, 0, "(null)", "(null)", -1, "(null)", "(null)", "(null)"},
    {"INVITE sip:a@b SIP 2.0\r\n", -1, 0, "INVITE", "sip:a@b", -1, "(null)", "(null)", "(null)"},
    {"SIP/2.x 200 OK\r\n", -1, 0, "(null)", "(null)", -1, "(null)", "SIP", "(null)"},
    {"SIP/2.0 2OO OK\r\n", -1, 0, "(null)", "(null)", -1, "(null)", "SIP", "2.0"},
    {"SIP/2.0 99999999999 Big\r\n\r\n", 0, 2, "(null)", "(null)", 2147483647, "Big", "SIP", "2.0"},
};

class MessageStartLine : public ::testing::TestWithParam<StartLine> {};

TEST_P(MessageStartLine, SplitsIntoWords) {
    const StartLine &row = GetParam();
    Parsed parsed(row.input);
    const parser_t &m = parsed.message;
    EXPECT_EQ(parsed.result, row.result);
    EXPECT_EQ(m.type, row.type);
    EXPECT_EQ(text(m.method), row.method);
    EXPECT_EQ(text(m.URI_string), row.uri);
    EXPECT_EQ(m.status, row.status);
    EXPECT_EQ(text(m.reason), row.reason);
    EXPECT_EQ(text(m.protocol), row.protocol);
    EXPECT_EQ(text(m.version), row.version);
}

INSTANTIATE_TEST_SUITE_P(Table, MessageStartLine, ::testing::ValuesIn(kStartLines));

TEST(MessageParse, RequestUriIsParsed) {
    Parsed parsed("INVITE sip:1234@gw:5070;user=phone SIP/2.0\r\nVia: x\r\n\r\n");
    EXPECT_STREQ(parsed.message.uri.scheme, "sip");
    EXPECT_STREQ(parsed.message.uri.user, "1234");
    EXPECT_STREQ(parsed.message.uri.host, "gw");
    EXPECT_EQ(parsed.message.uri.port, 5070);
}

TEST(MessageParse, HeaderLengthIsTheOffsetOfTheBody) {
    std::string head = "INVITE sip:a@b SIP/2.0\r\nVia: x\r\nContent-Length: 4\r\n\r\n";
    Parsed parsed(head + "body");
    EXPECT_EQ(parsed.result, 0);
    EXPECT_EQ(parsed.message.header_length, static_cast<int32_t>(head.size()));
    EXPECT_EQ(parsed.message.header_body, parsed.buffer.data() + head.find("Via"));
    Parsed bare("INVITE sip:a@b SIP/2.0\r\n");
    EXPECT_EQ(bare.message.header_length, 0);
    EXPECT_EQ(bare.message.header_body, nullptr);
}

TEST(MessageParse, StatusWithoutReasonTakesTheNextLineAsReason) {
    Parsed parsed("SIP/2.0 200\r\nVia: a\r\nTo: b\r\n\r\n");
    EXPECT_EQ(parsed.message.status, 200);
    EXPECT_STREQ(parsed.message.reason, "Via: a");
    EXPECT_EQ(describe(parsed.message.headers), "To:b\n");
}

TEST(MessageParse, HeaderFailureKeepsTheType) {
    Parsed parsed("INVITE sip:a@b SIP/2.0\r\nVia a\r\nTo: b\r\n\r\n");
    EXPECT_EQ(parsed.result, -1);
    EXPECT_EQ(parsed.message.type, 1);
    EXPECT_THAT(parsed.errors, HasSubstr("Error in RFC822_Parse: didn't detect \"\\n\\n\""));
}

TEST(MessageParse, MissingEmptyLineStillSucceeds) {
    Parsed parsed("SIP/2.0 200 OK\r\nVia: a\r\nTo: b\r\nFrom: c");
    EXPECT_EQ(parsed.result, 0);
    EXPECT_EQ(describe(parsed.message.headers), "To:b\nVia:a\n");
    EXPECT_THAT(parsed.errors, HasSubstr("didn't detect \"\\n\\n\""));
}

struct HeaderCase {
    const char *name;
    const char *section;
    int result;
    const char *described;
    bool last_line = false;
};

const HeaderCase kHeaderCases[] = {
    {"MergesEqualNamesAndKeepsCompactFormsApart", "Via: a\r\nvia: b\r\nv: c\r\n\r\n", 0,
     "v:c\nVia:a|b\n"},
    {"ListsNamesInReverseOrderOfFirstAppearance", "From: f\r\nTo: t\r\nVia: v\r\nTo: u\r\n\r\n", 0,
     "Via:v\nTo:t|u\nFrom:f\n"},
    {"ViaParameters", "Via: SIP/2.0/UDP h;branch=1;received=2\r\n\r\n", 0,
     "Via:SIP/2.0/UDP h{branch=1,received=2}\n"},
    {"QuotedCommaStaysInsideContact",
     "Contact: \"Doe, John\" <sip:j@h>, <sip:k@h>;expires=60\r\n\r\n", 0,
     "Contact:\"Doe, John\" <sip:j@h>|<sip:k@h>{expires=60}\n"},
    {"AngleBracketsDoNotProtectCommas", "Route: <sip:a,b>\r\n\r\n", 0, "Route:<sip:a|b>\n"},
    {"AngleBracketsProtectSemicolonsInTheValue", "Route: <sip:a;lr>;x=1\r\n\r\n", 0,
     "Route:<sip:a;lr>{x=1}\n"},
    {"ParameterWithoutEquals", "Via: h;rport;x=1\r\n\r\n", 0, "Via:h{rport,x=1}\n"},
    {"HyphenEndsAParameterName", "Via: h;x-y=1\r\n\r\n", 0, "Via:h{x=1}\n"},
    {"QuotedParameterValueDropsBackslashes", "Via: h;a=\"q\\\"x\";b=2\r\n\r\n", 0,
     "Via:h{a=q\"x,b=2}\n"},
    {"SpacesAroundEquals", "Via: h ; a = 1 ;b\r\n\r\n", 0, "Via:h{a=1,b}\n"},
    {"CommentsLeaveTheValue", "Allow: INVITE (the call), ACK ((nested) c)\r\n\r\n", 0,
     "Allow:INVITE|ACK\n"},
    {"WholeHeadersKeepCommasAndParameters",
     "From: \"A, B\" <sip:a@b>;tag=1\r\nSubject: x, y\r\n\r\n", 0,
     "Subject:x, y\nFrom:\"A, B\" <sip:a@b>;tag=1\n"},
    {"UnknownNamesAreWhole", "X-Thing: a, b;c\r\n\r\n", 0, "X-Thing:a, b;c\n"},
    {"FoldedLineContinues", "Subject: one\r\n two\r\n\r\n", 0, "Subject:one\r\n two\n"},
    {"TrailingCommaGivesAnEmptyElement", "Allow: a,\r\n\r\n", 0, "Allow:a|\n"},
    {"EmptySplitValueGivesOneEmptyElement", "Allow:\r\n\r\n", 0, "Allow:\n"},
    {"SpaceBeforeColon", "CSeq : 1 INVITE\r\n\r\n", 0, "CSeq:1 INVITE\n"},
    {"BareLineFeeds", "Via: a\nTo: b\n\nbody", 0, "To:b\nVia:a\n"},
    {"LineWithoutColonFails", "Via: a\r\nBroken\r\nTo: b\r\n\r\n", -1, "Via:a\n"},
    {"NameThenNoColonFails", "Via: a\r\nTo b\r\n\r\n", -1, "Via:a\n", true},
    {"UnclosedQuoteFails", "Via: a\r\nContact: \"open, <sip:x>\r\n\r\n", -2, "Via:a\n", true},
    {"UnclosedCommentFails", "Allow: (open\r\nTo: x\r\n\r\n", -2, ""},
    {"UnclosedQuoteInExistingHeaderKeepsEarlierElements", "Allow: a\r\nAllow: b, \"c\r\n\r\n", -2,
     "Allow:a|b\n", true},
    {"JunkAfterParameterValueEndsTheParameters", "Via: h;a=1 junk;b=2\r\n\r\n", 0, "Via:h{a=1}\n"},
};

class HeaderSection : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(HeaderSection, ParsesIntoHeadersElementsAndParameters) {
    const HeaderCase &row = GetParam();
    std::vector<char> buffer(row.section, row.section + std::strlen(row.section) + 1);
    parser_header_t *headers = nullptr;
    int32_t length = -5;
    ::testing::internal::CaptureStderr();
    int result = RFC822_Parse(buffer.data(), &length, &headers);
    std::string errors = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(result, row.result);
    EXPECT_EQ(describe(headers), row.described);
    // Only a walk that stops before the empty line reports it missing.
    EXPECT_EQ(errors.empty(), row.result == 0 || row.last_line);
    RFC822_Free(headers);
}

INSTANTIATE_TEST_SUITE_P(Table, HeaderSection, ::testing::ValuesIn(kHeaderCases),
                         [](const auto &row) { return std::string(row.param.name); });

TEST(Rfc822Parse, LengthPointsPastTheEmptyLine) {
    for (std::string section : {"A: 1\r\n\r\nbody", "A: 1\n\nbody", "A: 1\n\r\nbody"}) {
        parser_header_t *headers = nullptr;
        int32_t length = 0;
        EXPECT_EQ(RFC822_Parse(section.data(), &length, &headers), 0);
        EXPECT_EQ(section.substr(length), "body");
        RFC822_Free(headers);
    }
}

TEST(Rfc822Parse, WholeElementValueIsTheElementText) {
    std::string section = "To: <sip:a@b>;tag=1\r\n\r\n";
    parser_header_t *headers = nullptr;
    RFC822_Parse(section.data(), nullptr, &headers);
    ASSERT_NE(headers, nullptr);
    EXPECT_EQ(headers->elements->value, headers->elements->element);
    EXPECT_EQ(headers->elements->parameters, nullptr);
    EXPECT_EQ(headers->elements->comment, nullptr);
    RFC822_Free(headers);
}

// The comma scan of a split header skips plain bytes in bulk; a NUL inside the line is one of
// them, not the end of the line or the start of a comment.
TEST(Rfc822HeaderLine, NulInsideASplitLineIsAnOrdinaryByte) {
    char line[] = "Via: a\0b, c;branch=1";
    parser_header_t *headers = nullptr;
    ASSERT_EQ(RFC822_HeaderLine(line, static_cast<int32_t>(sizeof line - 1), &headers), 0);
    ASSERT_NE(headers, nullptr);
    ASSERT_NE(headers->elements, nullptr);
    EXPECT_STREQ(headers->elements->element, "a");
    ASSERT_NE(headers->elements->next, nullptr);
    EXPECT_STREQ(headers->elements->next->value, "c");
    EXPECT_STREQ(RFC822_ElementValue(headers, 1, "branch"), "1");
    RFC822_Free(headers);
}

TEST(Rfc822HeaderClass, FollowsTheNameTable) {
    for (const char *name : {"Via", "v", "CONTACT", "m", "Call-ID", "i", "cseq", "Allow",
                             "WWW-Authenticate", "Proxy-Authorization", "Route"}) {
        EXPECT_EQ(RFC822_HeaderClass(name), RFC822_SPLIT) << name;
    }
    for (const char *name : {"From", "f", "To", "t", "Content-Type", "c", "Subject", "s",
                             "User-Agent", "Server", "Date", "X-Unknown", ""}) {
        EXPECT_EQ(RFC822_HeaderClass(name), RFC822_WHOLE) << name;
    }
}

struct Lookups : ::testing::Test {
    std::string section =
        "v: SIP/2.0/UDP compact;branch=9\r\n"
        "Via: SIP/2.0/UDP a;branch=1, SIP/2.0/UDP b;rport\r\n"
        "Call-ID: abc@h\r\n\r\n";
    parser_header_t *headers = nullptr;
    void SetUp() override { RFC822_Parse(section.data(), nullptr, &headers); }
    void TearDown() override { RFC822_Free(headers); }
};

TEST_F(Lookups, FindIgnoresCase) {
    ASSERT_NE(RFC822_Find(headers, "VIA"), nullptr);
    EXPECT_STREQ(RFC822_Find(headers, "call-id")->name, "Call-ID");
    EXPECT_EQ(RFC822_Find(headers, "To"), nullptr);
    EXPECT_EQ(RFC822_Find(headers, nullptr), nullptr);
}

TEST_F(Lookups, FindEitherTakesTheFirstInListOrder) {
    EXPECT_STREQ(RFC822_FindEither(headers, "Via", "V")->name, "Via");
    EXPECT_STREQ(RFC822_FindEither(headers, "i", "Call-ID")->name, "Call-ID");
    EXPECT_EQ(RFC822_FindEither(headers, "To", "t"), nullptr);
}

TEST_F(Lookups, FindNthOnlyFindsTheFirst) {
    EXPECT_NE(RFC822_FindNth(headers, "via", 1), nullptr);
    EXPECT_EQ(RFC822_FindNth(headers, "via", 2), nullptr);
    EXPECT_EQ(RFC822_FindNth(headers, "via", 0), nullptr);
}

TEST_F(Lookups, ElementAndParameterValues) {
    parser_header_t *via = RFC822_Find(headers, "Via");
    EXPECT_STREQ(RFC822_ElementValue(via, 0, nullptr), "SIP/2.0/UDP a");
    EXPECT_STREQ(RFC822_ElementValue(via, 1, nullptr), "SIP/2.0/UDP b");
    EXPECT_EQ(RFC822_ElementValue(via, 2, nullptr), nullptr);
    EXPECT_EQ(RFC822_ElementValue(via, -1, nullptr), nullptr);
    EXPECT_STREQ(RFC822_ElementValue(via, 0, "BRANCH"), "1");
    EXPECT_STREQ(RFC822_ElementValue(via, 1, "rport"), "");
    EXPECT_EQ(RFC822_ElementValue(via, 1, "branch"), nullptr);
    EXPECT_EQ(RFC822_ElementValue(nullptr, 0, nullptr), nullptr);
}

TEST(MessageDuplicate, CopiesEverythingButTheHeaderBody) {
    Parsed parsed(
        "INVITE sip:1234@gw;user=phone SIP/2.0\r\n"
        "Via: SIP/2.0/UDP h;branch=1\r\nTo: <sip:1234@gw>\r\nAllow: A, B\r\n\r\n");
    parser_t copy{};
    ASSERT_EQ(MessageDuplicate(&copy, &parsed.message), 0);
    EXPECT_EQ(copy.header_body, nullptr);
    EXPECT_EQ(copy.type, 1);
    EXPECT_EQ(copy.status, -1);
    EXPECT_EQ(copy.header_length, parsed.message.header_length);
    EXPECT_STREQ(copy.method, "INVITE");
    EXPECT_NE(copy.method, parsed.message.method);
    EXPECT_STREQ(copy.uri.user, "1234");
    EXPECT_NE(copy.uri.user, parsed.message.uri.user);
    EXPECT_EQ(describe(copy.headers), describe(parsed.message.headers));
    parser_header_t *to = RFC822_Find(copy.headers, "To");
    EXPECT_EQ(to->elements->value, to->elements->element);
    parser_header_t *via = RFC822_Find(copy.headers, "Via");
    EXPECT_NE(via->elements->value, via->elements->element);
    EXPECT_EQ(to->last_element, to->elements);
    MessageFree(&copy);
    EXPECT_EQ(copy.method, nullptr);
    EXPECT_EQ(copy.headers, nullptr);
}

TEST(MessageAccessors, CopyOrShareAndToleratesNull) {
    Parsed parsed("SIP/2.0 486 Busy Here\r\nX: 1\r\n\r\n");
    char *reason = MessageGetReason(&parsed.message);
    EXPECT_STREQ(reason, "Busy Here");
    EXPECT_NE(reason, parsed.message.reason);
    std::free(reason);
    char *protocol = MessageGetProtocol(&parsed.message);
    char *version = MessageGetVersion(&parsed.message);
    EXPECT_STREQ(protocol, "SIP");
    EXPECT_STREQ(version, "2.0");
    std::free(protocol);
    std::free(version);
    EXPECT_EQ(MessageGetMethod(&parsed.message), nullptr);
    EXPECT_EQ(MessageGetStatus(&parsed.message), 486);
    EXPECT_EQ(MessageGetMethod(nullptr), nullptr);
    EXPECT_EQ(MessageGetReason(nullptr), nullptr);
    EXPECT_EQ(MessageGetProtocol(nullptr), nullptr);
    EXPECT_EQ(MessageGetVersion(nullptr), nullptr);
    EXPECT_EQ(MessageGetStatus(nullptr), 0);
    EXPECT_EQ(MessageGetURI(nullptr).host, nullptr);
    Parsed request("BYE sip:u@h SIP/2.0\r\n");
    EXPECT_EQ(MessageGetURI(&request.message).host, request.message.uri.host);
}

TEST(Rfc822ElementParse, UnclosedQuotedValueKeepsWhatWasRead) {
    parser_element_t element{};
    EXPECT_EQ(RFC822_ElementParse(&element, "h;a=1;b=\"open;c=2"), -1);
    EXPECT_STREQ(element.value, "h");
    EXPECT_STREQ(RFC822_ParameterValue(element.parameters, "a"), "1");
    EXPECT_STREQ(RFC822_ParameterValue(element.parameters, "b"), "open;c=2");
    EXPECT_EQ(RFC822_ParameterValue(element.parameters, "c"), nullptr);
    std::free(element.value);
    RFC822_ParameterFree(element.parameters);
}

TEST(ParameterDuplicate, CopiesTheList) {
    std::string section = "Via: h;a=1;b;c=\"x y\"\r\n\r\n";
    parser_header_t *headers = nullptr;
    RFC822_Parse(section.data(), nullptr, &headers);
    parser_parameter_t *copy = nullptr;
    ASSERT_EQ(RFC822_ParameterDuplicate(&copy, headers->elements->parameters), 0);
    EXPECT_STREQ(RFC822_ParameterValue(copy, "a"), "1");
    EXPECT_STREQ(RFC822_ParameterValue(copy, "b"), "");
    EXPECT_STREQ(RFC822_ParameterValue(copy, "c"), "x y");
    EXPECT_EQ(RFC822_ParameterValue(copy, "d"), nullptr);
    RFC822_ParameterFree(copy);
    RFC822_Free(headers);
}

}  // namespace
}  // namespace sipline
