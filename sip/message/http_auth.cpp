#include <string>
#include <string_view>
#include <vector>

#include "sip/message/http.h"
#include "sip/message/text.h"
#include "support/dstring.h"

namespace sipline {

namespace {

void set_field(char **field, std::string_view value) {
    std::free(*field);
    *field = text_copy(value);
}

struct Name {
    std::string_view name;
    char *http_authorization_t::*field;
    bool quoted;
};

constexpr Name kDigestNames[] = {
    {"username", &http_authorization_t::userid, true},
    {"realm", &http_authorization_t::realm, true},
    {"nonce", &http_authorization_t::nonce, true},
    {"uri", &http_authorization_t::digest_uri, true},
    {"response", &http_authorization_t::response_digest, true},
    {"digest", &http_authorization_t::entity_digest, true},
    {"opaque", &http_authorization_t::opaque, true},
    {"algorithm", &http_authorization_t::algorithm, false},
    {"qop", &http_authorization_t::qop, false},
    {"nc", &http_authorization_t::nonce_count, false},
    {"cnonce", &http_authorization_t::cnonce, true},
};

constexpr Name kPgpNames[] = {
    {"version", &http_authorization_t::version, true},
    {"signed-by", &http_authorization_t::signed_by, true},
    {"signature", &http_authorization_t::signature, true},
    {"realm", &http_authorization_t::realm, true},
    {"nonce", &http_authorization_t::nonce, true},
    {"opaque", &http_authorization_t::opaque, true},
    {"algorithm", &http_authorization_t::algorithm, false},
};

std::string_view trim(std::string_view text) {
    while (!text.empty() && is_space(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && is_space(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

// RFC 2617 section 3.2.2: name=value pairs, one per element of the header; the first element's
// pairs follow the scheme. Stops at a pair without "=" and at a value that should be quoted but
// is not (the record is then marked invalid).
template <size_t N>
void read_pairs(http_authorization_t *record, std::string_view first,
                const parser_element_t *element, const Name (&names)[N]) {
    std::string_view text = first;
    for (;;) {
        size_t equals = text.find('=');
        if (equals == std::string_view::npos) {
            return;
        }
        std::string_view name = trim(text.substr(0, equals));
        std::string_view value = text.substr(equals + 1);
        value = trim(value.substr(0, value.find(',')));
        for (const Name &entry : names) {
            if (entry.name != name) {
                continue;
            }
            if (!entry.quoted) {
                set_field(&(record->*entry.field), value);
            } else if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
                set_field(&(record->*entry.field), value.substr(1, value.size() - 2));
            } else {
                record->valid = 0;
                return;
            }
            break;
        }
        element = element == nullptr ? nullptr : element->next;
        if (element == nullptr || element->value == nullptr) {
            return;
        }
        text = element->value;
    }
}

// The tokens of text between the delimiters, empty tokens skipped as strtok skips them.
std::vector<std::string_view> tokens(std::string_view text, std::string_view delimiters) {
    std::vector<std::string_view> result;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t start = text.find_first_not_of(delimiters, pos);
        if (start == std::string_view::npos) {
            break;
        }
        size_t end = text.find_first_of(delimiters, start);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        result.push_back(text.substr(start, end - start));
        pos = end;
    }
    return result;
}

}  // namespace

http_authenticate_t HTTP_Authenticate(const parser_t *message) {
    http_authenticate_t record{};
    if (message != nullptr) {
        RFC822_Find(message->headers, "Authenticate");
    }
    return record;
}

http_authorization_t HTTP_Authorization(const parser_t *message) {
    http_authorization_t record{};
    record.method =
        text_copy(message != nullptr && message->method != nullptr ? message->method : "");
    record.http_method = text_copy("basic");
    for (char **field : {&record.userid, &record.password, &record.realm, &record.nonce,
                         &record.digest_uri, &record.response_digest, &record.entity_digest,
                         &record.opaque, &record.algorithm, &record.qop, &record.nonce_count,
                         &record.cnonce, &record.version, &record.signed_by, &record.signature}) {
        *field = text_copy("");
    }
    record.valid = 1;
    if (message == nullptr) {
        return record;
    }
    parser_header_t *header = RFC822_Find(message->headers, "Authorization");
    if (header == nullptr || header->elements == nullptr || header->elements->value == nullptr) {
        return record;
    }
    const parser_element_t *element = header->elements;
    std::string_view value(element->value);
    size_t split = value.find_first_of(" \t");
    std::string_view scheme = value.substr(0, split);
    std::string_view parameters =
        split == std::string_view::npos ? std::string_view() : value.substr(split + 1);
    set_field(&record.http_method, scheme);

    if (text_equal_nocase(scheme, "basic")) {
        std::vector<std::string_view> words = tokens(parameters, " \t");
        if (words.empty()) {
            return record;
        }
        std::string credentials(words.front());
        char *decoded = base64_decode(credentials.c_str());
        if (decoded == nullptr) {
            return record;
        }
        std::vector<std::string_view> parts = tokens(decoded, ":");
        if (!parts.empty()) {
            set_field(&record.userid, parts[0]);
        }
        if (parts.size() > 1) {
            set_field(&record.password, parts[1]);
        }
        std::free(decoded);
    } else if (text_equal_nocase(scheme, "digest")) {
        while (!parameters.empty() && parameters.front() == ' ') {
            parameters.remove_prefix(1);
        }
        read_pairs(&record, parameters, element, kDigestNames);
    } else if (text_equal_nocase(scheme, "pgp")) {
        read_pairs(&record, parameters, element, kPgpNames);
        if (scheme == "pgp") {
            parser_header_t *from = RFC822_FindEither(message->headers, "From", "f");
            if (from != nullptr && from->elements != nullptr &&
                from->elements->element != nullptr) {
                std::string_view text(from->elements->element);
                size_t colon = text.find(':');
                if (colon != std::string_view::npos) {
                    set_field(&record.userid, text.substr(colon + 1));
                }
            }
        }
    }
    return record;
}

void HTTP_AuthorizationFree(http_authorization_t *record) {
    if (record == nullptr) {
        return;
    }
    for (char **field :
         {&record->method, &record->http_method, &record->userid, &record->password, &record->realm,
          &record->nonce, &record->digest_uri, &record->response_digest, &record->entity_digest,
          &record->opaque, &record->algorithm, &record->qop, &record->nonce_count, &record->cnonce,
          &record->version, &record->signed_by, &record->signature}) {
        std::free(*field);
        *field = nullptr;
    }
}

}  // namespace sipline
