#include "sip/message/digest.h"

#include <md5.h>
#include <sha2.h>
#include <strings.h>

#include <cstring>
#include <string>
#include <string_view>

namespace sipline {

namespace {

// Some clients quote what RFC 2617 leaves as a token (algorithm, qop, nc).
std::string_view unquoted(const char *text) {
    std::string_view value = text != nullptr ? text : "";
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
        value = value.substr(1, value.size() - 2);
    }
    return value;
}

bool equal_nocase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

bool given(const char *text) {
    return text != nullptr && text[0] != '\0';
}

void join_hash(int32_t algorithm, std::initializer_list<std::string_view> parts, char *out) {
    std::string text;
    bool first = true;
    for (std::string_view part : parts) {
        if (!first) {
            text += ':';
        }
        text += part;
        first = false;
    }
    DigestHash(algorithm, text.data(), text.size(), out);
}

// One name=value pair of a challenge, the value without its quotes.
bool pair_of(std::string_view text, std::string_view *name, std::string_view *value) {
    size_t equals = text.find('=');
    if (equals == std::string_view::npos) {
        return false;
    }
    *name = text.substr(0, equals);
    while (!name->empty() && (name->back() == ' ' || name->back() == '\t')) {
        name->remove_suffix(1);
    }
    std::string_view rest = text.substr(equals + 1);
    while (!rest.empty() && (rest.front() == ' ' || rest.front() == '\t')) {
        rest.remove_prefix(1);
    }
    while (!rest.empty() && (rest.back() == ' ' || rest.back() == '\t')) {
        rest.remove_suffix(1);
    }
    if (rest.size() >= 2 && rest.front() == '"' && rest.back() == '"') {
        rest = rest.substr(1, rest.size() - 2);
    }
    *value = rest;
    return true;
}

bool copy_field(char *field, std::string_view value) {
    if (value.size() >= DIGEST_TEXT_SIZE) {
        return false;
    }
    std::memcpy(field, value.data(), value.size());
    field[value.size()] = '\0';
    return true;
}

bool offers_auth(std::string_view qop) {
    size_t start = 0;
    while (start <= qop.size()) {
        size_t end = qop.find(',', start);
        std::string_view option =
            qop.substr(start, end == std::string_view::npos ? end : end - start);
        while (!option.empty() && option.front() == ' ') {
            option.remove_prefix(1);
        }
        while (!option.empty() && option.back() == ' ') {
            option.remove_suffix(1);
        }
        if (equal_nocase(option, "auth")) {
            return true;
        }
        if (end == std::string_view::npos) {
            break;
        }
        start = end + 1;
    }
    return false;
}

struct challenge_state {
    digest_challenge_t read{};
    bool digest = false;
    bool usable = true;
    bool has_nonce = false;
    bool has_qop = false;
};

bool answerable(const challenge_state &c) {
    return c.digest && c.usable && c.has_nonce && c.read.algorithm >= 0 &&
           (!c.has_qop || c.read.qop_auth != 0);
}

}  // namespace

int32_t DigestChallengeRead(const parser_header_t *header, digest_challenge_t *challenge) {
    challenge_state current;
    bool started = false;
    for (const parser_element_t *e = header != nullptr ? header->elements : nullptr; e != nullptr;
         e = e->next) {
        std::string_view text = e->element != nullptr ? e->element : "";
        size_t space = text.find_first_of(" \t");
        std::string_view first = text.substr(0, space);
        if (first.find('=') == std::string_view::npos && space != std::string_view::npos) {
            // A new challenge: the one before it is taken if it can be answered.
            if (started && answerable(current)) {
                break;
            }
            current = challenge_state{};
            current.read.algorithm = DIGEST_MD5;
            current.digest = equal_nocase(first, "Digest");
            started = true;
            text = text.substr(space + 1);
        }
        std::string_view name;
        std::string_view value;
        if (!started || !pair_of(text, &name, &value)) {
            continue;
        }
        digest_challenge_t &r = current.read;
        if (equal_nocase(name, "realm")) {
            current.usable = current.usable && copy_field(r.realm, value);
        } else if (equal_nocase(name, "nonce")) {
            current.has_nonce = !value.empty();
            current.usable = current.usable && copy_field(r.nonce, value);
        } else if (equal_nocase(name, "opaque")) {
            current.usable = current.usable && copy_field(r.opaque, value);
        } else if (equal_nocase(name, "algorithm")) {
            r.algorithm = DigestAlgorithm(std::string(value).c_str());
        } else if (equal_nocase(name, "qop")) {
            current.has_qop = true;
            r.qop_auth = offers_auth(value) ? 1 : 0;
        }
    }
    if (!started || !answerable(current)) {
        return -1;
    }
    *challenge = current.read;
    return 0;
}

char *DigestCredentials(const digest_challenge_t *c, const char *user, const char *password,
                        const char *method, const char *uri, const char *cnonce) {
    char ha1[DIGEST_HEX_SIZE];
    DigestHa1(c->algorithm, user, c->realm, password, ha1);
    const char *qop = c->qop_auth != 0 ? "auth" : "";
    char response[DIGEST_HEX_SIZE];
    DigestResponse(c->algorithm, ha1, c->nonce, "00000001", cnonce, qop, method, uri, response);
    std::string text = std::string("Digest username=\"") + user + "\", realm=\"" + c->realm +
                       "\", nonce=\"" + c->nonce + "\", uri=\"" + uri + "\", response=\"" +
                       response + "\", algorithm=" + DigestAlgorithmName(c->algorithm);
    if (c->qop_auth != 0) {
        text += std::string(", qop=auth, nc=00000001, cnonce=\"") + cnonce + "\"";
    }
    if (c->opaque[0] != '\0') {
        text += std::string(", opaque=\"") + c->opaque + "\"";
    }
    return strdup(text.c_str());
}

int32_t DigestAlgorithm(const char *name) {
    std::string_view value = unquoted(name);
    if (value.empty() || equal_nocase(value, "MD5")) {
        return DIGEST_MD5;
    }
    if (equal_nocase(value, "SHA-256")) {
        return DIGEST_SHA256;
    }
    return -1;
}

const char *DigestAlgorithmName(int32_t algorithm) {
    return algorithm == DIGEST_SHA256 ? "SHA-256" : "MD5";
}

size_t DigestHexLength(int32_t algorithm) {
    return algorithm == DIGEST_SHA256 ? 64 : 32;
}

void DigestHash(int32_t algorithm, const char *data, size_t length, char *out) {
    const auto *bytes = reinterpret_cast<const uint8_t *>(data);
    if (algorithm == DIGEST_SHA256) {
        SHA2_CTX context;
        SHA256Init(&context);
        SHA256Update(&context, bytes, length);
        SHA256End(&context, out);
    } else {
        MD5_CTX context;
        MD5Init(&context);
        MD5Update(&context, bytes, length);
        MD5End(&context, out);
    }
}

void DigestHa1(int32_t algorithm, const char *user, const char *realm, const char *password,
               char *out) {
    join_hash(algorithm, {user, realm, password}, out);
}

void DigestResponse(int32_t algorithm, const char *ha1, const char *nonce, const char *nc,
                    const char *cnonce, const char *qop, const char *method, const char *uri,
                    char *out) {
    char ha2[DIGEST_HEX_SIZE];
    join_hash(algorithm, {method, uri}, ha2);
    if (given(qop)) {
        join_hash(algorithm, {ha1, nonce, nc, cnonce, qop, ha2}, out);
    } else {
        join_hash(algorithm, {ha1, nonce, ha2}, out);
    }
}

bool DigestEqual(const char *a, const char *b) {
    size_t length = std::strlen(a);
    if (length != std::strlen(b)) {
        return false;
    }
    unsigned char difference = 0;
    for (size_t i = 0; i < length; ++i) {
        difference |= static_cast<unsigned char>(a[i] ^ b[i]);
    }
    return difference == 0;
}

int32_t DigestCheckForm(const http_authorization_t *a, int32_t *algorithm, uint32_t *nc) {
    if (a == nullptr || a->http_method == nullptr || strcasecmp(a->http_method, "digest") != 0) {
        return DIGEST_NOT_DIGEST;
    }
    if (a->valid == 0 || !given(a->userid) || !given(a->realm) || !given(a->nonce) ||
        !given(a->digest_uri) || !given(a->response_digest) || !given(a->cnonce)) {
        return DIGEST_MALFORMED;
    }
    int32_t chosen = DigestAlgorithm(a->algorithm);
    if (chosen < 0) {
        return DIGEST_BAD_ALGORITHM;
    }
    // RFC 2617 section 3.2.2: nc is exactly 8 hex digits.
    std::string_view count = unquoted(a->nonce_count);
    if (!equal_nocase(unquoted(a->qop), "auth") || count.size() != 8 ||
        count.find_first_not_of("0123456789abcdefABCDEF") != std::string_view::npos ||
        std::strlen(a->response_digest) != DigestHexLength(chosen)) {
        return DIGEST_MALFORMED;
    }
    *algorithm = chosen;
    *nc = static_cast<uint32_t>(std::stoul(std::string(count), nullptr, 16));
    return DIGEST_OK;
}

int32_t DigestVerify(const http_authorization_t *a, const char *method, const char *ha1) {
    int32_t algorithm = DigestAlgorithm(a->algorithm);
    std::string nc(unquoted(a->nonce_count));
    std::string qop(unquoted(a->qop));
    char expected[DIGEST_HEX_SIZE];
    DigestResponse(algorithm, ha1, a->nonce, nc.c_str(), a->cnonce, qop.c_str(), method,
                   a->digest_uri, expected);
    // The client may write the hex in capitals.
    std::string response(a->response_digest);
    for (char &c : response) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return DigestEqual(expected, response.c_str()) ? DIGEST_OK : DIGEST_WRONG;
}

}  // namespace sipline
