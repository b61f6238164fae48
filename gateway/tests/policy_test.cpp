// The security decision on INVITEs, with its answers caught on a real UDP socket.
#include "gateway/policy.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "sip/message/digest.h"
#include "sip/message/fields.h"
#include "sip/uas/request.h"

namespace sipline {
namespace {

constexpr const char *kAlice = "192.0.2.1";
constexpr const char *kMallory = "203.0.113.5";

struct policy_deleter {
    void operator()(gateway_policy_t *p) const { PolicyFree(p); }
};

class PolicyTest : public ::testing::Test {
  protected:
    void SetUp() override {
        settings_.authenticate = true;
        settings_.users.push_back({"alice", "wonderland", ""});
        settings_.ban_after = 3;
        settings_.ban_seconds = 600;
        listener_ = socket(AF_INET, SOCK_DGRAM, 0);
        sender_ = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(bind(listener_, reinterpret_cast<sockaddr *>(&local), sizeof local), 0);
        socklen_t length = sizeof answers_to_;
        getsockname(listener_, reinterpret_cast<sockaddr *>(&answers_to_), &length);
    }
    void TearDown() override {
        close(listener_);
        close(sender_);
    }
    void start() { policy_.reset(PolicyCreate(settings_)); }

    // An INVITE to number from source, with an Authorization line when given; its answer, if
    // one comes, is left in answer_. Returns the verdict.
    int32_t invite(const char *source, const std::string &authorization = "",
                   const char *number = "0612345678", double now = 1000) {
        text_ = std::string("INVITE sip:") + number +
                "@gw SIP/2.0\r\nVia: SIP/2.0/UDP 192.0.2.1:5060;branch=z9hG4bK1\r\n"
                "From: <sip:alice@192.0.2.1>;tag=1\r\nTo: <sip:" +
                number + "@gw>\r\nCall-ID: c1\r\nCSeq: 1 INVITE\r\n" +
                (authorization.empty() ? "" : "Authorization: " + authorization + "\r\n") +
                "Content-Length: 0\r\n\r\n";
        sockaddr_in from{};
        from.sin_family = AF_INET;
        inet_pton(AF_INET, source, &from.sin_addr);
        request_t *r = RequestCreate(TRANSPORT_UDP, sender_, &from);
        if (MessageParse(text_.data(), &r->message) < 0) {
            RequestFree(r);  // the SIP side answers 400 before the policy sees it
            return -1;
        }
        r->call_id = strdup(SIP_CallID(&r->message));
        r->cseq = SIP_CSeq(&r->message);
        r->to = SIP_To(&r->message);
        r->from = SIP_From(&r->message);
        r->via.address = answers_to_;
        r->destination = answers_to_;
        ::testing::internal::CaptureStderr();
        int32_t verdict = PolicyAdmitRequest(policy_.get(), r, now);
        log_ = ::testing::internal::GetCapturedStderr();
        RequestFree(r);
        answer_ = receive();
        return verdict;
    }

    std::string receive() {
        pollfd ready{listener_, POLLIN, 0};
        if (poll(&ready, 1, 100) != 1) {
            return "";
        }
        char buffer[4096];
        ssize_t got = recv(listener_, buffer, sizeof buffer - 1, 0);
        return got > 0 ? std::string(buffer, static_cast<size_t>(got)) : "";
    }

    std::string nonce() const {
        std::smatch found;
        std::regex pattern("nonce=\"([0-9a-f]+)\"");
        return std::regex_search(answer_, found, pattern) ? found[1].str() : "";
    }

    // The Authorization a client computes for the last challenge.
    std::string credentials(const char *user, const char *password,
                            int32_t algorithm = DIGEST_SHA256, const char *nc = "00000001",
                            const char *realm = "sipline") {
        std::string challenge = nonce();
        char ha1[DIGEST_HEX_SIZE];
        DigestHa1(algorithm, user, realm, password, ha1);
        char response[DIGEST_HEX_SIZE];
        DigestResponse(algorithm, ha1, challenge.c_str(), nc, "c0ffee", "auth", "INVITE",
                       "sip:0612345678@gw", response);
        return std::string("Digest username=\"") + user + "\", realm=\"" + realm + "\", nonce=\"" +
               challenge + "\", uri=\"sip:0612345678@gw\", response=\"" + response +
               "\", algorithm=" + DigestAlgorithmName(algorithm) + ", qop=auth, nc=" + nc +
               ", cnonce=\"c0ffee\"";
    }

    static std::string status_line(const std::string &answer) {
        return answer.substr(0, answer.find("\r\n"));
    }
    // The answer without what changes from one to the next: the nonce and the date.
    static std::string shape(const std::string &answer) {
        std::string out = std::regex_replace(answer, std::regex("nonce=\"[0-9a-f]+\""), "N");
        return std::regex_replace(out, std::regex("Date: [^\r]*"), "D");
    }

    security_settings_t settings_;
    std::unique_ptr<gateway_policy_t, policy_deleter> policy_;
    int listener_ = -1;
    int sender_ = -1;
    sockaddr_in answers_to_{};
    std::string text_;
    std::string answer_;
    std::string log_;
};

TEST_F(PolicyTest, AnInviteWithoutCredentialsIsChallengedForMd5ThenSha256) {
    start();
    EXPECT_EQ(invite(kAlice), POLICY_CHALLENGED);
    EXPECT_EQ(status_line(answer_), "SIP/2.0 401 Unauthorized");
    size_t sha = answer_.find("algorithm=SHA-256, qop=\"auth\"");
    size_t md5 = answer_.find("WWW-Authenticate: Digest realm=\"sipline\", nonce=\"");
    ASSERT_NE(sha, std::string::npos) << answer_;
    ASSERT_NE(md5, std::string::npos) << answer_;
    EXPECT_LT(answer_.find("algorithm=MD5, qop=\"auth\""), sha)
        << "clients that read the first challenge only know MD5";
    EXPECT_EQ(answer_.find("stale"), std::string::npos);
    EXPECT_EQ(log_, "") << "a plain challenge is not a failure";
}

TEST_F(PolicyTest, OnlyTheConfiguredAlgorithmsAreOfferedAndAccepted) {
    settings_.digest_algorithms = {"MD5"};
    start();
    invite(kAlice);
    EXPECT_EQ(answer_.find("SHA-256"), std::string::npos) << answer_;
    EXPECT_NE(answer_.find("algorithm=MD5, qop=\"auth\""), std::string::npos) << answer_;
    // A client that answers with an algorithm it was not offered is refused, right password
    // or not: the owner may have dropped SHA-256 for a reason.
    EXPECT_EQ(invite(kAlice, credentials("alice", "wonderland", DIGEST_SHA256)), POLICY_CHALLENGED);
    EXPECT_NE(log_.find("reason=\"algorithm not offered\""), std::string::npos) << log_;
    EXPECT_EQ(invite(kAlice, credentials("alice", "wonderland", DIGEST_MD5)), POLICY_ADMIT)
        << answer_;

    settings_.digest_algorithms = {"SHA-256", "MD5"};
    start();
    invite(kAlice);
    EXPECT_LT(answer_.find("algorithm=SHA-256"), answer_.find("algorithm=MD5")) << answer_;
}

TEST_F(PolicyTest, TheRightPasswordInEitherAlgorithmIsAdmittedOncePerNonceCount) {
    start();
    for (int32_t algorithm : {DIGEST_SHA256, DIGEST_MD5}) {
        invite(kAlice);
        std::string good = credentials("alice", "wonderland", algorithm);
        EXPECT_EQ(invite(kAlice, good), POLICY_ADMIT) << DigestAlgorithmName(algorithm) << answer_;
        EXPECT_EQ(answer_, "") << "an admitted INVITE is answered by the call, not here";
        EXPECT_EQ(invite(kAlice, good), POLICY_CHALLENGED) << "a replayed answer was admitted";
        EXPECT_NE(log_.find("reason=\"replayed nonce\" user=\"alice\""), std::string::npos) << log_;
    }
}

TEST_F(PolicyTest, AWrongUserAndAWrongPasswordGetTheSameAnswer) {
    start();
    invite(kAlice);
    EXPECT_EQ(invite(kAlice, credentials("alice", "looking-glass")), POLICY_CHALLENGED);
    std::string wrong_password = answer_;
    EXPECT_NE(log_.find("security refused source=192.0.2.1 reason=\"wrong credentials\" "
                        "user=\"alice\""),
              std::string::npos)
        << log_;
    EXPECT_EQ(invite(kAlice, credentials("bob", "wonderland")), POLICY_CHALLENGED);
    EXPECT_EQ(shape(answer_), shape(wrong_password));
    EXPECT_NE(log_.find("user=\"bob\""), std::string::npos) << log_;
}

TEST_F(PolicyTest, ANonceOfAnotherSourceOrRealmIsRefused) {
    start();
    invite(kAlice);
    std::string alices = credentials("alice", "wonderland");
    EXPECT_EQ(invite(kMallory, alices), POLICY_CHALLENGED);
    EXPECT_NE(log_.find("reason=\"unknown nonce\""), std::string::npos) << log_;
    invite(kAlice);
    EXPECT_EQ(invite(kAlice, credentials("alice", "wonderland", DIGEST_MD5, "00000001", "x")),
              POLICY_CHALLENGED);
    EXPECT_NE(log_.find("reason=\"wrong realm\""), std::string::npos) << log_;
}

TEST_F(PolicyTest, AnExpiredNonceWithTheRightPasswordIsChallengedStale) {
    start();
    invite(kAlice, "", "0612345678", 1000);
    std::string late = credentials("alice", "wonderland");
    EXPECT_EQ(invite(kAlice, late, "0612345678", 1000 + POLICY_NONCE_SECONDS + 1),
              POLICY_CHALLENGED);
    EXPECT_NE(answer_.find("stale=true"), std::string::npos) << answer_;
    EXPECT_EQ(log_, "") << "a stale nonce is not a failure";
}

TEST_F(PolicyTest, RepeatedFailuresBanTheSourceOnlyAndSayItOnce) {
    start();
    for (int i = 0; i < 3; ++i) {
        invite(kMallory);
        EXPECT_EQ(invite(kMallory, credentials("admin", std::to_string(i).c_str())),
                  POLICY_CHALLENGED);
    }
    EXPECT_NE(log_.find("security banned source=203.0.113.5 reason=\"too many failures\" "
                        "user=\"admin\""),
              std::string::npos)
        << log_;
    EXPECT_EQ(invite(kMallory), POLICY_DROPPED);
    EXPECT_EQ(answer_, "") << "a banned source was answered";
    EXPECT_TRUE(PolicyIgnores(policy_.get(), ntohl(inet_addr(kMallory)), 1000));
    EXPECT_FALSE(PolicyIgnores(policy_.get(), ntohl(inet_addr(kAlice)), 1000));
    invite(kAlice);
    EXPECT_EQ(invite(kAlice, credentials("alice", "wonderland")), POLICY_ADMIT)
        << "another source was caught by the ban";
}

TEST_F(PolicyTest, ASourceOutsideTheAllowListGets403OrNothingWhenSilent) {
    settings_.allow = {"192.0.2.0/24"};
    start();
    EXPECT_EQ(invite(kMallory), POLICY_REFUSED);
    EXPECT_EQ(status_line(answer_), "SIP/2.0 403 Forbidden");
    EXPECT_NE(log_.find("security refused source=203.0.113.5 reason=\"source not allowed\" "
                        "user=\"-\""),
              std::string::npos)
        << log_;
    EXPECT_EQ(invite(kAlice), POLICY_CHALLENGED);
    settings_.silent = true;
    start();
    EXPECT_EQ(invite(kMallory), POLICY_DROPPED);
    EXPECT_EQ(answer_, "");
}

TEST_F(PolicyTest, ADeniedNumberGets403OnlyAfterAuthentication) {
    settings_.dial_deny = {"09.*"};
    start();
    EXPECT_EQ(invite(kAlice, "", "0900123456"), POLICY_CHALLENGED)
        << "a stranger learnt the dial rules";
    EXPECT_EQ(invite(kAlice, credentials("alice", "wonderland"), "0900123456"), POLICY_REFUSED);
    EXPECT_EQ(status_line(answer_), "SIP/2.0 403 Forbidden");
    EXPECT_NE(log_.find("reason=\"number not allowed\" user=\"alice\""), std::string::npos) << log_;
}

TEST_F(PolicyTest, WithoutAuthenticationOnlyTheRulesApply) {
    settings_.authenticate = false;
    settings_.dial_allow = {"0[1-8][0-9]{8}"};
    start();
    EXPECT_EQ(invite(kMallory), POLICY_ADMIT);
    EXPECT_EQ(invite(kMallory, "", "0900123456"), POLICY_REFUSED);
    EXPECT_EQ(invite(kMallory, "", "kx"), POLICY_REFUSED) << "kx dials 26";
}

TEST_F(PolicyTest, AUserGivenByHa1AuthenticatesWithItsAlgorithm) {
    char ha1[DIGEST_HEX_SIZE];
    DigestHa1(DIGEST_MD5, "carol", "sipline", "secret", ha1);
    settings_.users = {{"carol", "", ha1}};
    start();
    invite(kAlice);
    EXPECT_EQ(invite(kAlice, credentials("carol", "secret", DIGEST_MD5)), POLICY_ADMIT);
    invite(kAlice);
    EXPECT_EQ(invite(kAlice, credentials("carol", "secret", DIGEST_SHA256)), POLICY_CHALLENGED);
}

TEST_F(PolicyTest, HostileAuthorizationHeadersAreRefusedWithoutHarm) {
    start();
    invite(kAlice);
    std::string base = credentials("alice", "wonderland");
    const std::string rows[] = {
        "Digest " + std::string(3000, 'a'),
        "Digest username=\"alice\", username=\"bob\", realm=\"sipline\"",
        "Digest username=\"a\x01b\", realm=\"sipline\", nonce=\"" + nonce() + "\"",
        std::regex_replace(base, std::regex("algorithm=SHA-256"), "algorithm=SHA-512"),
        std::regex_replace(base, std::regex("nc=00000001"), "nc=zzzzzzzz"),
        std::regex_replace(base, std::regex("response=\"[0-9a-f]+\""), "response=\"\""),
        "Digest ,,,,=,=\"",
    };
    for (const std::string &header : rows) {
        EXPECT_NE(invite(kAlice, header), POLICY_ADMIT) << header.substr(0, 80);
    }
}

}  // namespace
}  // namespace sipline
