#include "sip/message/dump.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <string>

#include "sip/message/tests/message_fixture.h"

namespace sipline {
namespace {

// Pointers differ from run to run: each "0x..." becomes PTR.
std::string without_pointers(const std::string &text) {
    std::string result;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text.compare(i, 2, "0x") == 0) {
            result += "PTR";
            i += 2;
            while (i < text.size() && std::isxdigit(static_cast<unsigned char>(text[i]))) {
                ++i;
            }
            --i;
        } else {
            result.push_back(text[i]);
        }
    }
    return result;
}

// Indents every line by the number of spaces that indent() returns for it.
template <typename Indent>
std::string indented(const std::string &text, Indent indent) {
    std::string result;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        std::string line = text.substr(start, end + 1 - start);
        result += std::string(indent(line), ' ') + line;
        start = end + 1;
    }
    return result;
}

// Captures what a printer writes to a temporary stream.
template <typename Print>
std::string captured(Print print) {
    FILE *out = std::tmpfile();
    print(out);
    std::string text;
    std::rewind(out);
    for (int c = std::fgetc(out); c != EOF; c = std::fgetc(out)) {
        text.push_back(static_cast<char>(c));
    }
    std::fclose(out);
    return without_pointers(text);
}

const char *const kExpectedFlat =
    "type:1\n"
    "method:BYE\n"
    "URI_string:sip:u@h\n"
    "scheme:sip\n"
    "user:u\n"
    "password:NULL\n"
    "host:h\n"
    "port:NULL\n"
    "path:NULL\n"
    "search:NULL\n"
    "uri_nv_t * is NULL\n"
    "uri_nv_t * is NULL\n"
    "status:-1\n"
    "reason:NULL\n"
    "protocol:SIP\n"
    "version:2.0\n"
    "header_body:NULL\n"
    "headers:PTR\n"
    "header_length:NULL\n"
    " name:Via\n"
    " elements:PTR\n"
    " last_element:PTR\n"
    " next:NULL\n"
    "  element:SIP/2.0/UDP h;branch=1;x\n"
    "  value:SIP/2.0/UDP h\n"
    "  comment:NULL\n"
    "  parameters:PTR\n"
    "  next:NULL\n"
    "   attribute:branch\n"
    "   value:1\n"
    "   next:PTR\n"
    "   attribute:x\n"
    "   value:NULL\n"
    "   next:NULL\n";

struct Dumps : ::testing::Test {
    ParsedMessage parsed{"BYE sip:u@h SIP/2.0\r\nVia: SIP/2.0/UDP h;branch=1;x\r\n\r\n"};
    parser_t copy{};
    void SetUp() override {
        // A copy has no header body and a 0 header length to show the NULL rule for integers.
        MessageDuplicate(&copy, &parsed.message);
        copy.header_length = 0;
    }
    void TearDown() override { MessageFree(&copy); }
};

TEST_F(Dumps, FlatPrefixIndentsOnlyNestedLevels) {
    EXPECT_EQ(captured([&](FILE *out) { parser_dump(out, &copy, nullptr, 0, 0); }), kExpectedFlat);
}

TEST_F(Dumps, NestFlagIndentsEveryLevelByOneMore) {
    // The nest flag passes on to the uri_t printer and from it to its name/value printer.
    std::string expected = indented(kExpectedFlat, [](const std::string &line) {
        for (const char *field :
             {"scheme:", "user:", "password:", "host:", "port:", "path:", "search:"}) {
            if (line.rfind(field, 0) == 0) {
                return 2;
            }
        }
        return line.rfind("uri_nv_t", 0) == 0 ? 3 : 1;
    });
    EXPECT_EQ(captured([&](FILE *out) { parser_dump(out, &copy, "", 1, 0); }), expected);
}

TEST_F(Dumps, BannersFrameEachRecord) {
    std::string text = captured([&](FILE *out) { parser_dump(out, &copy, ">", 0, 1); });
    EXPECT_THAT(text, ::testing::StartsWith(">====== BEGIN parser_t =====\n>type:1\n"));
    EXPECT_THAT(text, ::testing::HasSubstr(">====== BEGIN uri_t =====\n>scheme:sip\n"));
    EXPECT_THAT(text, ::testing::HasSubstr("> ====== BEGIN parser_header_t =====\n> name:Via\n"));
    EXPECT_THAT(text, ::testing::HasSubstr(">   ====== END parser_parameter_t =====\n"));
    EXPECT_THAT(text, ::testing::EndsWith(">====== END parser_t =====\n"));
}

TEST(DumpNull, RecordsPrintTheirTypeName) {
    EXPECT_EQ(captured([](FILE *out) { parser_dump(out, nullptr, "p", 0, 0); }),
              "pparser_t * is NULL\n");
    EXPECT_EQ(captured([](FILE *out) { parser_element_dump(out, nullptr, "p", 1, 0); }),
              "parser_element_t * is NULL\n");
    EXPECT_EQ(captured([](FILE *out) { parser_header_dump(out, nullptr, "", 0, 1); }),
              "====== BEGIN parser_header_t =====\nparser_header_t * is NULL\n"
              "====== END parser_header_t =====\n");
}

TEST(DumpNest, IndentStopsAt21Characters) {
    std::string deep(21, '.');
    parser_parameter_t parameter{const_cast<char *>("a"), nullptr, nullptr};
    EXPECT_EQ(
        captured([&](FILE *out) { parser_parameter_dump(out, &parameter, deep.c_str(), 1, 0); }),
        deep + "attribute:a\n" + deep + "value:NULL\n" + deep + "next:NULL\n");
}

TEST(DumpAuthorization, PrintsEveryField) {
    ParsedMessage parsed(request("Authorization: Digest username=\"u\", realm=\"r\"\r\n"));
    http_authorization_t auth = HTTP_Authorization(&parsed.message);
    EXPECT_EQ(captured([&](FILE *out) { http_authorization_dump(out, &auth); }),
              "\n====== BEGIN http_authorization_t =====\n"
              "method:INVITE\nhttp_method:Digest\nuserid:u\npassword:\nrealm:r\nnonce:\n"
              "digest_uri:\nresponse_digest:\nentity_digest:\nopaque:\nalgorithm:\nversion:\n"
              "signed_by:\nsignature:\nvalid:1\n"
              "====== END http_authorization_t =====\n");
    HTTP_AuthorizationFree(&auth);
    EXPECT_EQ(captured([](FILE *out) { http_authorization_dump(out, nullptr); }),
              "\n====== BEGIN http_authorization_t =====\nhttp_authorization_t * is NULL\n"
              "====== END http_authorization_t =====\n");
}

TEST(DumpAuthenticate, PrintsNullFields) {
    http_authenticate_t record{};
    EXPECT_EQ(captured([&](FILE *out) { http_authenticate_dump(out, &record); }),
              "\n====== BEGIN http_authenticate_t =====\n"
              "method:NULL\nhttp_method:NULL\nrealm:NULL\ndomain:NULL\nnonce:NULL\n"
              "opaque:NULL\nstale:NULL\nalgorithm:NULL\n"
              "====== END http_authenticate_t =====\n");
    EXPECT_EQ(captured([](FILE *out) { http_authenticate_dump(out, nullptr); }),
              "\n====== BEGIN http_authenticate_t =====\nhttp_authenticate_t * is NULL\n"
              "====== END http_authenticate_t =====\n");
}

}  // namespace
}  // namespace sipline
