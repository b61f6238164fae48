#include "sip/message/digest.h"

#include <gtest/gtest.h>

#include <string>

#include "sip/message/tests/message_fixture.h"

namespace sipline {
namespace {

// The worked examples of RFC 2617 section 3.5 (MD5) and RFC 7616 section 3.9.1 (MD5 and
// SHA-256, the algorithms RFC 8760 brings to SIP).
TEST(DigestResponse, MatchesTheRfcExamples) {
    struct row {
        const char *what;
        int32_t algorithm;
        const char *user, *realm, *password, *nonce, *cnonce, *uri, *response;
    };
    const row rows[] = {
        {"RFC 2617 MD5", DIGEST_MD5, "Mufasa", "testrealm@host.com", "Circle Of Life",
         "dcd98b7102dd2f0e8b11d0f600bfb0c093", "0a4f113b", "/dir/index.html",
         "6629fae49393a05397450978507c4ef1"},
        {"RFC 7616 MD5", DIGEST_MD5, "Mufasa", "http-auth@example.org", "Circle of Life",
         "7ypf/xlj9XXwfDPEoM4URrv/xwf94BcCAzFZH4GiTo0v",
         "f2/wE4q74E6zIJEtWaHKaf5wv/H5QzzpXusqGemxURZJ", "/dir/index.html",
         "8ca523f5e9506fed4657c9700eebdbec"},
        {"RFC 7616 SHA-256", DIGEST_SHA256, "Mufasa", "http-auth@example.org", "Circle of Life",
         "7ypf/xlj9XXwfDPEoM4URrv/xwf94BcCAzFZH4GiTo0v",
         "f2/wE4q74E6zIJEtWaHKaf5wv/H5QzzpXusqGemxURZJ", "/dir/index.html",
         "753927fa0e85d155564e2e272a28d1802ca10daf4496794697cf8db5856cb6c1"},
    };
    for (const row &r : rows) {
        char ha1[DIGEST_HEX_SIZE];
        DigestHa1(r.algorithm, r.user, r.realm, r.password, ha1);
        char response[DIGEST_HEX_SIZE];
        DigestResponse(r.algorithm, ha1, r.nonce, "00000001", r.cnonce, "auth", "GET", r.uri,
                       response);
        EXPECT_STREQ(response, r.response) << r.what;
    }
}

TEST(DigestAlgorithm, KnowsMd5AndSha256Only) {
    EXPECT_EQ(DigestAlgorithm(""), DIGEST_MD5);
    EXPECT_EQ(DigestAlgorithm(nullptr), DIGEST_MD5);
    EXPECT_EQ(DigestAlgorithm("md5"), DIGEST_MD5);
    EXPECT_EQ(DigestAlgorithm("\"SHA-256\""), DIGEST_SHA256);
    for (const char *name : {"MD5-sess", "SHA-256-sess", "SHA-512-256", "SHA256", "\"", "x"}) {
        EXPECT_EQ(DigestAlgorithm(name), -1) << name;
    }
}

// An INVITE answered the way a SIP client answers the gateway's challenge.
std::string invite_with(const std::string &authorization) {
    return request("Authorization: " + authorization + "\r\n");
}

std::string answer(int32_t algorithm, const char *password, const char *nc = "00000001") {
    char ha1[DIGEST_HEX_SIZE];
    DigestHa1(algorithm, "alice", "sipline", password, ha1);
    char response[DIGEST_HEX_SIZE];
    DigestResponse(algorithm, ha1, "abc123", nc, "xyz", "auth", "INVITE", "sip:1234@gw", response);
    return std::string(
               "Digest username=\"alice\", realm=\"sipline\", nonce=\"abc123\", "
               "uri=\"sip:1234@gw\", response=\"") +
           response + "\", algorithm=" + DigestAlgorithmName(algorithm) + ", qop=auth, nc=" + nc +
           ", cnonce=\"xyz\"";
}

TEST(DigestVerify, AcceptsTheRightPasswordInEitherAlgorithmOnly) {
    for (int32_t algorithm : {DIGEST_MD5, DIGEST_SHA256}) {
        char ha1[DIGEST_HEX_SIZE];
        DigestHa1(algorithm, "alice", "sipline", "secret", ha1);
        for (const char *password : {"secret", "wrong"}) {
            ParsedMessage parsed(invite_with(answer(algorithm, password)));
            http_authorization_t record = HTTP_Authorization(parsed.get());
            int32_t chosen = -1;
            uint32_t nc = 0;
            ASSERT_EQ(DigestCheckForm(&record, &chosen, &nc), DIGEST_OK) << password;
            EXPECT_EQ(chosen, algorithm);
            EXPECT_EQ(nc, 1u);
            EXPECT_EQ(DigestVerify(&record, "INVITE", ha1),
                      std::string(password) == "secret" ? DIGEST_OK : DIGEST_WRONG)
                << DigestAlgorithmName(algorithm) << " " << password;
            HTTP_AuthorizationFree(&record);
        }
    }
}

TEST(DigestCheckForm, RefusesAnswersOutOfForm) {
    struct row {
        const char *what;
        std::string header;  // empty: no Authorization header
        int32_t result;
    };
    const std::string good = answer(DIGEST_MD5, "secret");
    auto without = [&good](const std::string &part) {
        std::string text = good;
        text.erase(text.find(part), part.size());
        return text;
    };
    const row rows[] = {
        {"no header", "", DIGEST_NOT_DIGEST},
        {"Basic", "Basic YWxpY2U6c2VjcmV0", DIGEST_NOT_DIGEST},
        {"no username", without("username=\"alice\", "), DIGEST_MALFORMED},
        {"no nonce", without("nonce=\"abc123\", "), DIGEST_MALFORMED},
        {"no cnonce", without(", cnonce=\"xyz\""), DIGEST_MALFORMED},
        {"no qop", without(", qop=auth"), DIGEST_MALFORMED},
        {"unquoted nonce",
         "Digest username=\"alice\", realm=\"sipline\", nonce=abc123, uri=\"sip:1234@gw\"",
         DIGEST_MALFORMED},
        {"short nc", without("0000"), DIGEST_MALFORMED},
        {"qop auth-int",
         good.substr(0, good.find("qop=auth")) + "qop=auth-int, nc=00000001, "
                                                 "cnonce=\"xyz\"",
         DIGEST_MALFORMED},
        {"MD5-sess",
         good.substr(0, good.find("algorithm=")) + "algorithm=MD5-sess, qop=auth, "
                                                   "nc=00000001, cnonce=\"xyz\"",
         DIGEST_BAD_ALGORITHM},
    };
    for (const row &r : rows) {
        ParsedMessage parsed(r.header.empty() ? request("") : invite_with(r.header));
        http_authorization_t record = HTTP_Authorization(parsed.get());
        int32_t algorithm = -1;
        uint32_t nc = 0;
        EXPECT_EQ(DigestCheckForm(&record, &algorithm, &nc), r.result)
            << r.what << ": " << r.header;
        HTTP_AuthorizationFree(&record);
    }
    EXPECT_EQ(DigestCheckForm(nullptr, nullptr, nullptr), DIGEST_NOT_DIGEST);
}

TEST(DigestEqual, ComparesWholeTexts) {
    EXPECT_TRUE(DigestEqual("abc", "abc"));
    EXPECT_FALSE(DigestEqual("abc", "abd"));
    EXPECT_FALSE(DigestEqual("abc", "ab"));
    EXPECT_TRUE(DigestEqual("", ""));
}

// The challenges of a proxy as the response's header carries them: the first the gateway can
// answer is taken, and its answer verifies against the same password.
TEST(DigestChallengeRead, TakesTheFirstAnswerableChallenge) {
    struct row {
        const char *what;
        const char *lines;
        int32_t result;
        int32_t algorithm;
        const char *nonce;
    };
    const row rows[] = {
        {"one MD5", "WWW-Authenticate: Digest realm=\"r\", nonce=\"n1\", qop=\"auth\"\r\n", 0,
         DIGEST_MD5, "n1"},
        {"SHA-256 then MD5",
         "WWW-Authenticate: Digest realm=\"r\", nonce=\"n2\", algorithm=SHA-256, qop=\"auth\"\r\n"
         "WWW-Authenticate: Digest realm=\"r\", nonce=\"n3\", algorithm=MD5, qop=\"auth\"\r\n",
         0, DIGEST_SHA256, "n2"},
        {"unknown algorithm first",
         "WWW-Authenticate: Digest realm=\"r\", nonce=\"n4\", algorithm=SHA-512-256\r\n"
         "WWW-Authenticate: Digest realm=\"r\", nonce=\"n5\"\r\n",
         0, DIGEST_MD5, "n5"},
        {"auth-int only",
         "WWW-Authenticate: Digest realm=\"r\", nonce=\"n6\", qop=\"auth-int\"\r\n", -1, 0, ""},
        {"no nonce", "WWW-Authenticate: Digest realm=\"r\"\r\n", -1, 0, ""},
        {"Basic", "WWW-Authenticate: Basic realm=\"r\"\r\n", -1, 0, ""},
        {"none", "", -1, 0, ""},
    };
    for (const row &r : rows) {
        ParsedMessage parsed("SIP/2.0 401 Unauthorized\r\n" + std::string(r.lines) + "\r\n");
        digest_challenge_t challenge{};
        ASSERT_EQ(
            DigestChallengeRead(RFC822_Find(parsed.get()->headers, "WWW-Authenticate"), &challenge),
            r.result)
            << r.what;
        if (r.result == 0) {
            EXPECT_EQ(challenge.algorithm, r.algorithm) << r.what;
            EXPECT_STREQ(challenge.nonce, r.nonce) << r.what;
            EXPECT_STREQ(challenge.realm, "r") << r.what;
        }
    }
}

TEST(DigestCredentials, AnswerTheChallengeSoThatTheVerifierTakesIt) {
    ParsedMessage challenge_message(
        "SIP/2.0 407 Proxy Authentication Required\r\nProxy-Authenticate: Digest "
        "realm=\"proxy\", nonce=\"abc\", opaque=\"op\", qop=\"auth,auth-int\"\r\n\r\n");
    digest_challenge_t challenge{};
    ASSERT_EQ(DigestChallengeRead(
                  RFC822_Find(challenge_message.get()->headers, "Proxy-Authenticate"), &challenge),
              0);
    char *credentials =
        DigestCredentials(&challenge, "gw", "secret", "INVITE", "sip:100@proxy", "cn");
    ParsedMessage answer(
        "INVITE sip:100@proxy SIP/2.0\r\nAuthorization: " + std::string(credentials) + "\r\n\r\n");
    std::free(credentials);
    http_authorization_t record = HTTP_Authorization(answer.get());
    int32_t algorithm = -1;
    uint32_t nc = 0;
    ASSERT_EQ(DigestCheckForm(&record, &algorithm, &nc), DIGEST_OK);
    EXPECT_STREQ(record.opaque, "op");
    char ha1[DIGEST_HEX_SIZE];
    DigestHa1(DIGEST_MD5, "gw", "proxy", "secret", ha1);
    EXPECT_EQ(DigestVerify(&record, "INVITE", ha1), DIGEST_OK);
    HTTP_AuthorizationFree(&record);
}

}  // namespace
}  // namespace sipline
