#include "sip/uas/dialog.h"

#include "sip/uas/session_timer.h"

#include <sys/random.h>
#include <unistd.h>

#include <strings.h>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string_view>

#include "sip/uas/gateway.h"
#include "sip/uas/request.h"
#include "sip/uas/response.h"

namespace sipline {

namespace {

struct secret_t {
    uint64_t seed;
    uint64_t whitening;
};

// Drawn once, on first use from any thread (a function-local static is initialised once).
const secret_t &secret() {
    static const secret_t value = [] {
        secret_t s{};
        if (getrandom(&s, sizeof s, 0) != static_cast<ssize_t>(sizeof s)) {
            timespec now{};
            clock_gettime(CLOCK_REALTIME, &now);
            s.seed = static_cast<uint64_t>(now.tv_nsec) ^ (static_cast<uint64_t>(now.tv_sec) << 20);
            s.whitening = static_cast<uint64_t>(getpid()) * 0x9e3779b97f4a7c15ULL;
        }
        return s;
    }();
    return value;
}

// FNV-1a over each field, with a separator so that ("ab", "c") and ("a", "bc") differ.
uint64_t mix(uint64_t hash, std::string_view text) {
    for (char c : text) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 0x100000001b3ULL;
    }
    hash ^= 0xff;
    return hash * 0x100000001b3ULL;
}

// The splitmix64 finaliser: every input bit reaches every output bit.
uint64_t finish(uint64_t z) {
    z ^= secret().whitening;
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

std::string_view view(const char *text) {
    return text != nullptr ? std::string_view(text) : std::string_view();
}

char *hex_text(const char *prefix, uint64_t value) {
    char text[40];
    snprintf(text, sizeof text, "%s%016llx", prefix, static_cast<unsigned long long>(value));
    return strdup(text);
}

void append_tag(header_t *line, const char *tag) {
    size_t size = strlen(line->value) + strlen(";tag=") + strlen(tag) + 1;
    auto *value = static_cast<char *>(malloc(size));
    snprintf(value, size, "%s;tag=%s", line->value, tag);
    free(line->value);
    line->value = value;
}

header_t *find_line(header_list_t *headers, const char *name) {
    header_t *line = nullptr;
    headers_get(headers, name, 1, &line);
    return line;
}

bool is_body_line(const header_t *line) {
    return strcasecmp(line->name, "Content-Length") == 0 ||
           strcasecmp(line->name, "Content-Type") == 0;
}

// Moves the last line in front of the first line that describes the body, so that the other
// lines keep their order and the body's lines stay last.
void move_before_body(header_list_t *list) {
    header_t *moved = list->last;
    header_t **link = &list->first;
    while (*link != moved && !is_body_line(*link)) {
        link = &(*link)->next;
    }
    if (*link == moved) {
        return;
    }
    header_t *before = *link;
    while (before->next != moved) {
        before = before->next;
    }
    before->next = nullptr;
    list->last = before;
    moved->next = *link;
    *link = moved;
}

}  // namespace

void DialogTakeTag(request_t *r) {
    free(r->to_tag);
    r->to_tag = SIP_ToTag(&r->message);
    r->to_tag_received = r->to_tag != nullptr ? 1 : 0;
    if (r->to_tag != nullptr) {
        return;
    }
    parser_header_t *from = RFC822_FindEither(r->message.headers, "From", "F");
    char *from_tag = from != nullptr && from->elements != nullptr
                         ? SIP_AddressTag(from->elements->element)
                         : nullptr;
    parser_header_t *via = RFC822_FindEither(r->message.headers, "Via", "V");
    parser_element_t *top = via != nullptr ? via->elements : nullptr;
    char number[16];
    snprintf(number, sizeof number, "%lu", static_cast<unsigned long>(r->cseq.number));
    uint64_t hash = secret().seed ^ 0xcbf29ce484222325ULL;
    hash = mix(hash, view(SIP_CallID(&r->message)));
    hash = mix(hash, view(from_tag));
    hash = mix(hash, number);
    hash = mix(hash, top != nullptr ? view(top->value) : std::string_view());
    hash = mix(hash, top != nullptr ? view(RFC822_ParameterValue(top->parameters, "branch"))
                                    : std::string_view());
    free(from_tag);
    r->to_tag = hex_text("", finish(hash));
}

void DialogAnswerHeaders(request_t *r) {
    if (r->status == 100) {
        return;
    }
    if (r->to_tag == nullptr) {
        DialogTakeTag(r);
    }
    header_t *to = find_line(&r->headers, "To");
    if (to != nullptr && to->value != nullptr) {
        char *present = SIP_AddressTag(to->value);
        if (present == nullptr) {
            append_tag(to, r->to_tag);
        }
        free(present);
    }
    const char *method = r->message.method;
    const bool offer_answer =
        method != nullptr && (strcmp(method, "INVITE") == 0 || strcmp(method, "UPDATE") == 0);
    if (!offer_answer) {
        return;
    }
    // What the dialog may carry (RFC 3261 section 20.5, RFC 4028 section 7.1).
    headers_remove_all(&r->headers, "Allow");
    headers_add(&r->headers, "Allow", SIP_ALLOWED_METHODS);
    move_before_body(&r->headers);
    headers_remove_all(&r->headers, "Supported");
    headers_add(&r->headers, "Supported", "timer");
    move_before_body(&r->headers);
    if (r->status < 200 || r->status >= 300) {
        return;
    }
    if (r->session.interval > 0) {
        headers_remove_all(&r->headers, "Session-Expires");
        headers_remove_all(&r->headers, "Require");
        SessionTimerAnswerHeaders(r->session, &r->headers);
        move_before_body(&r->headers);
        if (r->session.uac_supports != 0) {
            move_before_body(&r->headers);
        }
    }
    const sip_gateway_t *gateway = SipGateway();
    const char *user = r->to.uri.user != nullptr ? r->to.uri.user : r->message.uri.user;
    headers_remove_all(&r->headers, "Contact");
    headers_printf(&r->headers, 0, "Contact", "<sip:%.*s@%.*s:%d>", 64, user != nullptr ? user : "",
                   64, SipAdvertisedAddress(gateway), SipAdvertisedPort(gateway));
    move_before_body(&r->headers);
}

char *DialogNewBranch() {
    // Process-wide; any thread may draw. Distinct counts give distinct branches.
    static std::atomic<uint64_t> count{0};
    uint64_t n = count.fetch_add(1);
    return hex_text(BRANCH_COOKIE, finish(secret().seed + n * 0x9e3779b97f4a7c15ULL));
}

}  // namespace sipline
