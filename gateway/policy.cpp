#include "gateway/policy.h"

#include <arpa/inet.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "config/cidr.h"
#include "gateway/call_report.h"
#include "gateway/policy_internal.h"
#include "gateway/watch.h"
#include "sip/message/digest.h"
#include "sip/uas/access_log.h"
#include "sip/uas/invite.h"
#include "sip/uas/request.h"
#include "sip/uas/response.h"

namespace sipline {

// The rules of the decision: built whole from the settings, never changed afterwards, and
// replaced whole by PolicyReload.
struct policy_rules {
    std::vector<cidr_t> allow;
    bool authenticate = false;
    bool silent = false;
    std::string realm;
    std::vector<int32_t> algorithms;  // the challenges offered, in order
    // H(A1) per user and algorithm ("" where the user's ha1 is of the other algorithm).
    struct user {
        std::string name;
        std::string ha1[2];
    };
    std::vector<user> users;
    dial_rules dial;
};

struct gateway_policy_t {
    // Written by PolicyReload, read by every request thread; each takes its own reference under
    // rules_mutex, so a decision runs to its end on the rules it started with.
    std::mutex rules_mutex;
    std::shared_ptr<const policy_rules> rules;
    // Kept across reloads, so that a reload neither lifts a ban nor voids a challenge in flight.
    nonce_table nonces{POLICY_NONCE_SECONDS, POLICY_TABLE_SIZE};
    ban_table bans;

    explicit gateway_policy_t(const security_settings_t &s)
        : bans(s.ban_after, s.ban_seconds, POLICY_FAILURE_WINDOW, POLICY_TABLE_SIZE) {}

    std::shared_ptr<const policy_rules> current() {
        std::lock_guard<std::mutex> lock(rules_mutex);
        return rules;
    }
};

namespace {

// What a log line may show of a text the client chose: printable, no quote, bounded.
std::string shown(const char *text) {
    std::string out;
    for (const char *c = text; c != nullptr && *c != '\0' && out.size() < 64; ++c) {
        unsigned char u = static_cast<unsigned char>(*c);
        out += u < 0x20 || u > 0x7e || u == '"' || u == '\\' ? '?' : static_cast<char>(u);
    }
    return out.empty() ? "-" : out;
}

std::string dotted(uint32_t source) {
    in_addr address{htonl(source)};
    char text[INET_ADDRSTRLEN];
    inet_ntop(AF_INET, &address, text, sizeof text);
    return text;
}

// The one form of the security lines; deploy/fail2ban/sipline.conf reads it.
void security_line(const char *what, uint32_t source, const std::string &reason,
                   const std::string &user) {
    timeval now{};
    gettimeofday(&now, nullptr);
    time_t seconds = now.tv_sec;
    tm local{};
    localtime_r(&seconds, &local);
    char date[32];
    std::strftime(date, sizeof date, "%Y-%m-%d %H:%M:%S", &local);
    std::fprintf(stderr, "%s sipline: security %s source=%s reason=\"%s\" user=\"%s\"\n", date,
                 what, dotted(source).c_str(), reason.c_str(), user.c_str());
}

struct owned_authorization {
    http_authorization_t record;
    explicit owned_authorization(const parser_t *message) : record(HTTP_Authorization(message)) {}
    ~owned_authorization() { HTTP_AuthorizationFree(&record); }
    owned_authorization(const owned_authorization &) = delete;
    owned_authorization &operator=(const owned_authorization &) = delete;
};

// Answers without waiting for an ACK: a refused source holds no thread. The access log gets
// the line that ResponseSend writes only for answers it waits on.
void send_answer(request_t *r, int32_t status, const std::vector<std::string> &challenges) {
    RequestSetStatus(r, status, nullptr);
    ResponseCopyHeaders(r);
    for (const std::string &challenge : challenges) {
        headers_add(&r->headers, "WWW-Authenticate", challenge.c_str());
    }
    ResponseSend(r, 0, 0);
    LogRequest(r);
}

// RFC 8760 section 2.4: one challenge per algorithm, the preferred first. MD5 leads by default
// because many deployed clients answer the first challenge only and know nothing else (SIPp 3.6
// and sipvicious 0.3 fail on a leading SHA-256); a client that does both may still pick SHA-256.
int32_t challenge(gateway_policy_t *policy, const policy_rules &rules, request_t *r,
                  uint32_t source, double now, bool stale) {
    std::string nonce = policy->nonces.issue(source, now);
    std::vector<std::string> challenges;
    for (int32_t algorithm : rules.algorithms) {
        challenges.push_back("Digest realm=\"" + rules.realm + "\", nonce=\"" + nonce +
                             "\", algorithm=" + DigestAlgorithmName(algorithm) + ", qop=\"auth\"" +
                             (stale ? ", stale=true" : ""));
    }
    send_answer(r, 401, challenges);
    return POLICY_CHALLENGED;
}

// A failure counts towards a ban; the line names it whether or not an answer goes out.
void count_failure(gateway_policy_t *policy, uint32_t source, double now, const char *reason,
                   const std::string &user) {
    security_line("refused", source, reason, user);
    if (policy->bans.fail(source, now)) {
        security_line("banned", source, "too many failures", user);
        GatewayWatch()->SourceBanned(GatewayWatch()->context);
    }
}

int32_t refuse(gateway_policy_t *policy, const policy_rules &rules, request_t *r, uint32_t source,
               double now, const char *reason, const std::string &user) {
    count_failure(policy, source, now, reason, user);
    GatewayWatch()->SecurityFailure(GatewayWatch()->context, false);
    if (r->message.method != nullptr && std::string_view(r->message.method) == "INVITE") {
        const std::string caller = shown(r->from.uri.user) + "@" + shown(r->from.uri.host);
        const std::string why = std::string(rules.silent ? "refused: " : "refused 403: ") + reason;
        CallReportRefused(caller.c_str(), InviteNumber(InviteNumberUser(r)), why.c_str());
    }
    if (rules.silent) {
        return POLICY_DROPPED;
    }
    send_answer(r, 403, {});
    return POLICY_REFUSED;
}

// A wrong user and a wrong password get the same answer: a new challenge.
int32_t authentication_failed(gateway_policy_t *policy, const policy_rules &rules, request_t *r,
                              uint32_t source, double now, const char *reason,
                              const std::string &user) {
    count_failure(policy, source, now, reason, user);
    GatewayWatch()->SecurityFailure(GatewayWatch()->context, true);
    return challenge(policy, rules, r, source, now, false);
}

// Empty when the user is not known or has no H(A1) of that algorithm; the comparison is then
// made with a stand-in, so that the answer takes as long as for a known user.
const std::string *find_ha1(const policy_rules &rules, const char *name, int32_t algorithm) {
    for (const policy_rules::user &user : rules.users) {
        if (user.name == name && !user.ha1[algorithm].empty()) {
            return &user.ha1[algorithm];
        }
    }
    return nullptr;
}

int32_t authenticate(gateway_policy_t *policy, const policy_rules &rules, request_t *r,
                     uint32_t source, double now, std::string &user) {
    owned_authorization answer(&r->message);
    const http_authorization_t &a = answer.record;
    int32_t algorithm = DIGEST_MD5;
    uint32_t nc = 0;
    int32_t form = DigestCheckForm(&a, &algorithm, &nc);
    if (form == DIGEST_NOT_DIGEST) {
        return challenge(policy, rules, r, source, now, false);
    }
    user = shown(a.userid);
    if (form != DIGEST_OK) {
        return authentication_failed(policy, rules, r, source, now, "malformed credentials", user);
    }
    if (rules.realm != a.realm) {
        return authentication_failed(policy, rules, r, source, now, "wrong realm", user);
    }
    if (std::find(rules.algorithms.begin(), rules.algorithms.end(), algorithm) ==
        rules.algorithms.end()) {
        return authentication_failed(policy, rules, r, source, now, "algorithm not offered", user);
    }
    const std::string *ha1 = find_ha1(rules, a.userid, algorithm);
    std::string expected = ha1 != nullptr ? *ha1 : std::string(DigestHexLength(algorithm), '0');
    const char *method = r->message.method != nullptr ? r->message.method : "INVITE";
    bool proven = DigestVerify(&a, method, expected.c_str()) == DIGEST_OK && ha1 != nullptr;
    switch (policy->nonces.use(a.nonce, source, now, nc, proven)) {
        case nonce_table::verdict::unknown:
            return authentication_failed(policy, rules, r, source, now, "unknown nonce", user);
        case nonce_table::verdict::replayed:
            return authentication_failed(policy, rules, r, source, now, "replayed nonce", user);
        case nonce_table::verdict::stale:
            if (proven) {
                return challenge(policy, rules, r, source, now, true);
            }
            break;
        case nonce_table::verdict::fresh:
            break;
    }
    if (!proven) {
        return authentication_failed(policy, rules, r, source, now, "wrong credentials", user);
    }
    return POLICY_ADMIT;
}

// Null if a pattern or block fails, though the reader has checked them.
std::shared_ptr<const policy_rules> build_rules(const security_settings_t &settings) {
    auto rules = std::make_shared<policy_rules>();
    rules->authenticate = settings.authenticate;
    rules->silent = settings.silent;
    rules->realm = settings.realm;
    for (const std::string &text : settings.allow) {
        cidr_t block{};
        if (CidrParse(text.c_str(), &block) != 0) {
            return nullptr;
        }
        rules->allow.push_back(block);
    }
    if (!rules->dial.set(settings.dial_allow, settings.dial_deny)) {
        return nullptr;
    }
    for (const std::string &name : settings.digest_algorithms) {
        rules->algorithms.push_back(name == "SHA-256" ? DIGEST_SHA256 : DIGEST_MD5);
    }
    if (rules->algorithms.empty()) {
        return nullptr;
    }
    for (const settings_user_t &configured : settings.users) {
        policy_rules::user user{configured.name, {}};
        for (int32_t algorithm : {DIGEST_MD5, DIGEST_SHA256}) {
            if (!configured.password.empty()) {
                char ha1[DIGEST_HEX_SIZE];
                DigestHa1(algorithm, configured.name.c_str(), settings.realm.c_str(),
                          configured.password.c_str(), ha1);
                user.ha1[algorithm] = ha1;
            } else if (configured.ha1.size() == DigestHexLength(algorithm)) {
                user.ha1[algorithm] = configured.ha1;
            }
        }
        rules->users.push_back(std::move(user));
    }
    return rules;
}

}  // namespace

gateway_policy_t *PolicyCreate(const security_settings_t &settings) {
    auto policy = std::make_unique<gateway_policy_t>(settings);
    policy->rules = build_rules(settings);
    return policy->rules != nullptr ? policy.release() : nullptr;
}

int32_t PolicyReload(gateway_policy_t *policy, const security_settings_t &settings) {
    std::shared_ptr<const policy_rules> rules = build_rules(settings);
    if (rules == nullptr) {
        return -1;
    }
    policy->bans.configure(settings.ban_after, settings.ban_seconds);
    std::lock_guard<std::mutex> lock(policy->rules_mutex);
    policy->rules = std::move(rules);
    return 0;
}

void PolicyFree(gateway_policy_t *policy) {
    delete policy;
}

int32_t PolicyAdmitRequest(gateway_policy_t *policy, request_t *r, double now) {
    uint32_t source = ntohl(r->source.sin_addr.s_addr);
    if (policy->bans.banned(source, now)) {
        return POLICY_DROPPED;
    }
    std::shared_ptr<const policy_rules> held = policy->current();
    const policy_rules &rules = *held;
    std::string user = "-";
    if (!rules.allow.empty()) {
        bool listed = false;
        for (const cidr_t &block : rules.allow) {
            listed = listed || CidrContains(block, source);
        }
        if (!listed) {
            return refuse(policy, rules, r, source, now, "source not allowed", user);
        }
    }
    if (rules.authenticate) {
        int32_t verdict = authenticate(policy, rules, r, source, now, user);
        if (verdict != POLICY_ADMIT) {
            return verdict;
        }
    }
    // After authentication, so that a stranger learns nothing of the rules.
    bool invite = r->message.method != nullptr && std::string_view(r->message.method) == "INVITE";
    if (invite && !rules.dial.permits(InviteNumber(InviteNumberUser(r)))) {
        return refuse(policy, rules, r, source, now, "number not allowed", user);
    }
    return POLICY_ADMIT;
}

int32_t PolicyBans(gateway_policy_t *policy, double now, gateway_ban_t *bans, int32_t room) {
    return policy->bans.list(now, bans, room);
}

bool PolicyIgnores(gateway_policy_t *policy, uint32_t source, double now) {
    return policy->bans.banned(source, now);
}

}  // namespace sipline
