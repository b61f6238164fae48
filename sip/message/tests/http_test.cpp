#include "sip/message/http.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "sip/message/tests/message_fixture.h"

namespace sipline {
namespace {

TEST(HttpContentLength, ReadsFullOrCompactName) {
    struct {
        const char *lines;
        int32_t length;
    } rows[] = {
        {"Content-Length: 120\r\n", 120},
        {"l: 42\r\n", 42},
        {"content-length: 7abc\r\n", 7},
        {"Content-Length: x\r\n", 0},
        {"Content-Length: 99999999999999\r\n", 2147483647},
        {"To: t\r\n", 100000000},
    };
    for (const auto &row : rows) {
        ParsedMessage parsed(request(row.lines));
        EXPECT_EQ(HTTP_ContentLength(parsed.get()), row.length) << row.lines;
    }
    EXPECT_EQ(HTTP_ContentLength(nullptr), 100000000);
}

TEST(HttpContentType, SplitsTypeAndSubtype) {
    struct {
        const char *lines;
        const char *type;
        const char *subtype;
    } rows[] = {
        {"Content-Type: application/sdp\r\n", "application", "sdp"},
        {"c: text/plain\r\n", "text", "plain"},
        {"Content-Type: nosubtype\r\n", "", ""},
        {"Content-Type: abcdefghijabcdefghijabcdefghijab/x\r\n", "", "x"},
        {"Content-Type: abcdefghijabcdefghijabcdefghija/x\r\n", "abcdefghijabcdefghijabcdefghija",
         "x"},
        {"Content-Type: a/abcdefghijabcdefghijabcdefghija\r\n", "a", ""},
        {"Content-Type: a/abcdefghijabcdefghijabcdefghij\r\n", "a",
         "abcdefghijabcdefghijabcdefghij"},
        {"To: t\r\n", "", ""},
    };
    for (const auto &row : rows) {
        ParsedMessage parsed(request(row.lines));
        http_content_type_t type = HTTP_ContentType(parsed.get());
        EXPECT_STREQ(type.type, row.type) << row.lines;
        EXPECT_STREQ(type.subtype, row.subtype) << row.lines;
    }
}

TEST(HttpDate, ParsesTheDateHeader) {
    ParsedMessage parsed(request("Date: Tue, 08 Dec 2026 01:24:14 GMT\r\n"));
    struct tm date = HTTP_Date(parsed.get());
    EXPECT_EQ(date.tm_wday, 2);
    EXPECT_EQ(date.tm_mday, 8);
    EXPECT_EQ(date.tm_mon, 11);
    EXPECT_EQ(date.tm_year, 126);
    EXPECT_EQ(date.tm_hour, 1);
    EXPECT_EQ(date.tm_min, 24);
    EXPECT_EQ(date.tm_sec, 14);
    ParsedMessage none(request("To: t\r\n"));
    struct tm empty = HTTP_Date(none.get());
    EXPECT_EQ(empty.tm_year, 0);
    EXPECT_EQ(empty.tm_mday, 0);
}

TEST(HttpServerAndUserAgent, ReturnTheWholeValueOrEmpty) {
    ParsedMessage parsed(request("Server: sipline/1.0 (linux), extra\r\nUser-Agent: UA 2\r\n"));
    EXPECT_STREQ(HTTP_Server(parsed.get()), "sipline/1.0 (linux), extra");
    EXPECT_STREQ(HTTP_UserAgent(parsed.get()), "UA 2");
    ParsedMessage none(request("To: t\r\n"));
    EXPECT_STREQ(HTTP_Server(none.get()), "");
    EXPECT_STREQ(HTTP_UserAgent(none.get()), "");
    EXPECT_STREQ(HTTP_Server(nullptr), "");
}

TEST(HttpAuthenticate, ComesBackEmpty) {
    ParsedMessage parsed(request("Authenticate: Digest realm=\"r\"\r\n"));
    http_authenticate_t record = HTTP_Authenticate(parsed.get());
    EXPECT_EQ(record.method, nullptr);
    EXPECT_EQ(record.realm, nullptr);
    EXPECT_EQ(record.algorithm, nullptr);
}

struct Authorization {
    http_authorization_t record;
    explicit Authorization(const std::string &lines) {
        ParsedMessage parsed(request(lines));
        record = HTTP_Authorization(parsed.get());
    }
    ~Authorization() { HTTP_AuthorizationFree(&record); }
    Authorization(const Authorization &) = delete;
    Authorization &operator=(const Authorization &) = delete;
    const http_authorization_t *operator->() const { return &record; }
};

TEST(HttpAuthorization, WithoutHeaderIsBasicAndValid) {
    Authorization auth("To: t\r\n");
    EXPECT_STREQ(auth->method, "INVITE");
    EXPECT_STREQ(auth->http_method, "basic");
    EXPECT_STREQ(auth->userid, "");
    EXPECT_STREQ(auth->signature, "");
    EXPECT_EQ(auth->valid, 1);
}

TEST(HttpAuthorization, Digest) {
    Authorization auth(
        "Authorization: Digest username=\"alice\", realm=\"atlanta.com\", "
        "nonce=\"84a4cc6f3082121f32b42a2187831a9e\", uri=\"sip:bob@biloxi.com\", "
        "response=\"7587245234b3434cc3412213e5f113a5\", algorithm=MD5, opaque=\"o\", "
        "digest=\"d\", cnonce=\"ignored\"\r\n");
    EXPECT_STREQ(auth->http_method, "Digest");
    EXPECT_STREQ(auth->userid, "alice");
    EXPECT_STREQ(auth->realm, "atlanta.com");
    EXPECT_STREQ(auth->nonce, "84a4cc6f3082121f32b42a2187831a9e");
    EXPECT_STREQ(auth->digest_uri, "sip:bob@biloxi.com");
    EXPECT_STREQ(auth->response_digest, "7587245234b3434cc3412213e5f113a5");
    EXPECT_STREQ(auth->algorithm, "MD5");
    EXPECT_STREQ(auth->opaque, "o");
    EXPECT_STREQ(auth->entity_digest, "d");
    EXPECT_EQ(auth->valid, 1);
}

TEST(HttpAuthorization, UnquotedDigestParameterIsInvalid) {
    Authorization auth("Authorization: Digest realm=\"r\", username=alice, nonce=\"n\"\r\n");
    EXPECT_STREQ(auth->realm, "r");
    EXPECT_STREQ(auth->userid, "");
    EXPECT_STREQ(auth->nonce, "");
    EXPECT_EQ(auth->valid, 0);
}

TEST(HttpAuthorization, DigestNamesAreCaseSensitiveAndStopAtAPairWithoutEquals) {
    Authorization auth("Authorization: Digest Realm=\"R\", nonce=\"n\", junk, opaque=\"o\"\r\n");
    EXPECT_STREQ(auth->realm, "");
    EXPECT_STREQ(auth->nonce, "n");
    EXPECT_STREQ(auth->opaque, "");
    EXPECT_EQ(auth->valid, 1);
}

TEST(HttpAuthorization, Basic) {
    struct {
        const char *credentials;
        const char *userid;
        const char *password;
    } rows[] = {
        {"Basic QWxhZGRpbjpvcGVuIHNlc2FtZQ==", "Aladdin", "open sesame"},
        {"basic dXNlcjpwYTpzcw==", "user", "pa"},
        {"BASIC dXNlcg==", "user", ""},
        {"Basic", "", ""},
        {"Basic ", "", ""},
        {"Basic !!!!", "", ""},
    };
    for (const auto &row : rows) {
        Authorization auth(std::string("Authorization: ") + row.credentials + "\r\n");
        EXPECT_STREQ(auth->userid, row.userid) << row.credentials;
        EXPECT_STREQ(auth->password, row.password) << row.credentials;
        EXPECT_EQ(auth->valid, 1);
    }
}

TEST(HttpAuthorization, PgpTakesTheUserFromFrom) {
    Authorization auth(
        "From: <sip:alice@h>\r\nAuthorization: pgp version=\"5.2\", signed-by=\"a@h\", "
        "signature=\"sig\", realm=\"r\", algorithm=md5\r\n");
    EXPECT_STREQ(auth->version, "5.2");
    EXPECT_STREQ(auth->signed_by, "a@h");
    EXPECT_STREQ(auth->signature, "sig");
    EXPECT_STREQ(auth->realm, "r");
    EXPECT_STREQ(auth->algorithm, "md5");
    EXPECT_STREQ(auth->userid, "alice@h>");
    Authorization upper("From: <sip:alice@h>\r\nAuthorization: PGP version=\"5.2\"\r\n");
    EXPECT_STREQ(upper->version, "5.2");
    EXPECT_STREQ(upper->userid, "");
}

TEST(HttpAuthorization, FreeSkipsNullFields) {
    http_authorization_t record{};
    record.realm = static_cast<char *>(std::malloc(1));
    HTTP_AuthorizationFree(&record);
    EXPECT_EQ(record.realm, nullptr);
    HTTP_AuthorizationFree(nullptr);
}

}  // namespace
}  // namespace sipline
