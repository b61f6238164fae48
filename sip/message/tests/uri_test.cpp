#include "sip/message/uri.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace sipline {
namespace {

using NameValues = std::vector<std::pair<std::string, std::string>>;

std::string text(const char *value) {
    return value == nullptr ? "(null)" : value;
}

NameValues pairs(const uri_nv_t *array) {
    NameValues result;
    for (; array != nullptr && array->name != nullptr; ++array) {
        result.emplace_back(array->name, text(array->value));
    }
    return result;
}

struct Row {
    const char *input;
    const char *scheme;
    const char *user;
    const char *password;
    const char *host;
    int port;
    const char *path;
    const char *search;
    NameValues parameters;
    NameValues headers;
};

const char *const N = "(null)";

const Row kRows[] = {
    {"sip:1234@gw:5060;user=phone", "sip", "1234", N, "gw", 5060, N, N, {{"user", "phone"}}, {}},
    {"sip:alice:secret@example.com;transport=udp?subject=x&priority=urgent",
     "sip",
     "alice",
     "secret",
     "example.com",
     0,
     N,
     N,
     {{"transport", "udp"}},
     {{"subject", "x"}, {"priority", "urgent"}}},
    {"http://www.example.com:8080/a/b?q=1",
     "http",
     N,
     N,
     "www.example.com",
     8080,
     "a/b",
     "q=1",
     {},
     {}},
    {"sip:%41lice@h", "sip", "Alice", N, "h", 0, N, N, {}, {}},
    {"sip:gw.example.com:5060", "sip", N, N, "gw.example.com", 5060, N, N, {}, {}},
    {"sip:gw.example.com", "sip", N, N, "gw.example.com", 0, N, N, {}, {}},
    {"  <sip:1234@gw;user=phone>;tag=99", "sip", "1234", N, "gw", 0, N, N, {{"user", "phone"}}, {}},
    {"\"sip:a@b\" rest", "sip", "a", N, "b", 0, N, N, {}, {}},
    {"sip:a@b;lr;x=1", "sip", "a", N, "b", 0, N, N, {{"lr", N}, {"x", "1"}}, {}},
    {"sip:a@b?h", "sip", "a", N, "b", 0, N, N, {}, {{"h", N}}},
    {"sip:a@b trailing words", "sip", "a", N, "b", 0, N, N, {}, {}},
    // A user part may hold ";" (RFC 3261 telephone-subscriber) only when an "@" follows.
    {"sip:+1234;phone-context=x@gw", "sip", "+1234;phone-context=x", N, "gw", 0, N, N, {}, {}},
    {"sip:gw;transport=udp", "sip", N, N, "gw", 0, N, N, {{"transport", "udp"}}, {}},
    {"sip:gw?subject=x", "sip", N, N, "gw", 0, N, N, {}, {{"subject", "x"}}},
    {"sip:a@b%4", "sip", "a", N, "b%4", 0, N, N, {}, {}},
    {"sip:a@b%zz", "sip", "a", N, "b%zz", 0, N, N, {}, {}},
    {"sip:a@b:99999999999", "sip", "a", N, "b", 2147483647, N, N, {}, {}},
    // Escapes in every kind of token, the port included, and one that ends the text.
    {"sip:%61%62@h%2Ex:5%30;n%61me=v%61l?h%3D=x",
     "sip",
     "ab",
     N,
     "h.x",
     50,
     N,
     N,
     {{"name", "val"}},
     {{"h=", "x"}}},
    {"sip:a@b%41", "sip", "a", N, "bA", 0, N, N, {}, {}},
    // More parameters than a URI usually has.
    {"sip:a@b;p1=1;p2=2;p3=3;p4=4;p5=5;p6=6;p7=7;p8=8;p9=9;p10",
     "sip",
     "a",
     N,
     "b",
     0,
     N,
     N,
     {{"p1", "1"},
      {"p2", "2"},
      {"p3", "3"},
      {"p4", "4"},
      {"p5", "5"},
      {"p6", "6"},
      {"p7", "7"},
      {"p8", "8"},
      {"p9", "9"},
      {"p10", N}},
     {}},
};

class UriParse : public ::testing::TestWithParam<Row> {};

TEST_P(UriParse, GivesTheFields) {
    const Row &row = GetParam();
    uri_t uri = URI_Parse(row.input);
    EXPECT_EQ(text(uri.scheme), row.scheme);
    EXPECT_EQ(text(uri.user), row.user);
    EXPECT_EQ(text(uri.password), row.password);
    EXPECT_EQ(text(uri.host), row.host);
    EXPECT_EQ(uri.port, row.port);
    EXPECT_EQ(text(uri.path), row.path);
    EXPECT_EQ(text(uri.search), row.search);
    EXPECT_EQ(pairs(uri.parameters), row.parameters);
    EXPECT_EQ(pairs(uri.headers), row.headers);
    EXPECT_EQ(uri.parameters == nullptr, row.parameters.empty());
    EXPECT_EQ(uri.headers == nullptr, row.headers.empty());
    URI_Free(&uri);
    EXPECT_EQ(uri.scheme, nullptr);
    EXPECT_EQ(uri.host, nullptr);
    EXPECT_EQ(uri.parameters, nullptr);
}

INSTANTIATE_TEST_SUITE_P(Forms, UriParse, ::testing::ValuesIn(kRows));

TEST(UriParse, StarAloneIsOnlyAScheme) {
    for (const char *input : {"*", "  * "}) {
        uri_t uri = URI_Parse(input);
        EXPECT_EQ(text(uri.scheme), "*") << input;
        EXPECT_EQ(uri.user, nullptr);
        EXPECT_EQ(uri.host, nullptr);
        URI_Free(&uri);
    }
}

TEST(UriParse, NullAndEmptyAreSafe) {
    uri_t none = URI_Parse(nullptr);
    EXPECT_EQ(none.scheme, nullptr);
    uri_t empty = URI_Parse("");
    EXPECT_EQ(empty.host, nullptr);
    URI_Free(&empty);
    URI_Free(nullptr);
}

TEST(UriDuplicate, CopiesEveryTextInNewStorage) {
    uri_t uri = URI_Parse("sip:u:p@h:5;a=1;b?x=y");
    uri_t copy = URI_Duplicate(&uri);
    EXPECT_NE(copy.host, uri.host);
    EXPECT_STREQ(copy.host, "h");
    EXPECT_STREQ(copy.password, "p");
    EXPECT_EQ(copy.port, 5);
    EXPECT_EQ(pairs(copy.parameters), pairs(uri.parameters));
    EXPECT_EQ(pairs(copy.headers), pairs(uri.headers));
    URI_Free(&uri);
    EXPECT_STREQ(copy.user, "u");
    URI_Free(&copy);
}

std::string printed(const char *input, int dotted) {
    uri_t uri = URI_Parse(input);
    dstring_t ds;
    dstring_init(&ds);
    dstring_append(&ds, "old text", -1);
    URI_Print(&uri, &ds, dotted);
    std::string result = dstring_value(&ds);
    dstring_free(&ds);
    URI_Free(&uri);
    return result;
}

TEST(UriPrint, WritesTheFieldsInOrder) {
    EXPECT_EQ(printed("sip:alice:pw@h:5070;transport=udp;lr?subject=x&p=u", 0),
              "sip:alice:pw@h:5070;transport=udp;lr=?subject=x&p=u");
    EXPECT_EQ(printed("http://h:8080/a/b?q=1", 0), "http://h:8080/a/b?q=1");
    EXPECT_EQ(printed("sip:h", 0), "sip:h");
    // Ports above 32767 print as they are, not as negative shorts.
    EXPECT_EQ(printed("sip:h:40000", 0), "sip:h:40000");
    EXPECT_EQ(printed("sip:u@localhost", 1), "sip:u@127.0.0.1");
    EXPECT_EQ(printed("sip:u@no-such-host.invalid", 1), "sip:u@no-such-host.invalid");
}

TEST(UriPrint, MarksAMissingScheme) {
    uri_t uri{};
    uri.host = const_cast<char *>("h");
    dstring_t ds;
    dstring_init(&ds);
    URI_Print(&uri, &ds, 0);
    EXPECT_STREQ(dstring_value(&ds), "xxx-error-no-scheme:h");
    dstring_free(&ds);
}

TEST(UriCompare, NamesTheSameResource) {
    struct {
        const char *a;
        const char *b;
        int same;
    } rows[] = {
        {"sip:Alice@Example.COM", "sip:alice@example.com", 1},
        {"SIP:alice@h", "sip:alice@h", 0},
        {"sip:a@h:5060", "sip:a@h", 0},
        {"sip:a:pw1@h;x=1", "sip:a:pw2@h;y=2", 1},
        {"http://h/p?q=1", "http://h/p", 1},
        {"http://h/p", "http://h/p?q=1", 0},
        {"http://h/P", "http://h/p", 0},
    };
    for (const auto &row : rows) {
        uri_t a = URI_Parse(row.a);
        uri_t b = URI_Parse(row.b);
        EXPECT_EQ(URI_Compare(&a, &b), row.same) << row.a << " vs " << row.b;
        URI_Free(&a);
        URI_Free(&b);
    }
}

TEST(UriCanonical, ReadsAtMost127Characters) {
    dstring_t ds;
    dstring_init(&ds);
    URI_Canonical("sip:u@localhost:5060", &ds);
    EXPECT_STREQ(dstring_value(&ds), "sip:u@127.0.0.1:5060");
    std::string long_user(200, 'u');
    URI_Canonical(("sip:" + long_user + "@h").c_str(), &ds);
    EXPECT_EQ(std::string(dstring_value(&ds)), "sip:" + long_user.substr(0, 123));
    dstring_free(&ds);
}

TEST(UriDump, PrintsBothForms) {
    uri_t sip = URI_Parse("sip:u:p@h:7;a=1?x=y&z=w");
    uri_t web = URI_Parse("http://h:8/p?q");
    ::testing::internal::CaptureStdout();
    URI_Dump(sip.scheme, sip.user, sip.password, sip.host, sip.port, sip.path, sip.search,
             sip.parameters, sip.headers);
    URI_Dump(web.scheme, web.user, web.password, web.host, web.port, web.path, web.search,
             web.parameters, web.headers);
    URI_Dump(nullptr, nullptr, nullptr, nullptr, 0, nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "sip:u:p@h:7;a=1?x=y&z=w\nhttp://h:8/p?q\n::@:0\n");
    URI_Free(&sip);
    URI_Free(&web);
}

}  // namespace
}  // namespace sipline
