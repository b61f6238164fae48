#include "sip/message/uri.h"

#include <arpa/inet.h>

#include <cstdio>
#include <string>
#include <vector>

#include "sip/message/text.h"
#include "support/resolve.h"

namespace sipline {

namespace {

enum State {
    START,
    SCHEME,
    USER,
    PASSWORD,
    HOST,
    PORT,
    PATH,
    PARAMETER_NAME,
    PARAMETER_VALUE,
    SEARCH,
    HEADER_NAME,
    HEADER_VALUE,
    END,
};

// The separators that end each state's token, and the state each leads to.
struct Transition {
    char separator;
    State next;
};

struct StateRow {
    Transition transitions[4];
    int count;
};

constexpr StateRow kStates[] = {
    /* START */ {{}, 0},
    /* SCHEME */ {{{':', USER}}, 1},
    /* USER */ {{{':', PASSWORD}, {'@', HOST}}, 2},
    /* PASSWORD */ {{{'@', HOST}, {';', PARAMETER_NAME}, {'?', HEADER_NAME}}, 3},
    /* HOST */ {{{':', PORT}, {'/', PATH}, {';', PARAMETER_NAME}, {'?', HEADER_NAME}}, 4},
    /* PORT */ {{{'/', PATH}, {';', PARAMETER_NAME}, {'?', HEADER_NAME}}, 3},
    /* PATH */ {{{'?', SEARCH}}, 1},
    /* PARAMETER_NAME */ {{{'=', PARAMETER_VALUE}, {';', PARAMETER_NAME}, {'?', HEADER_NAME}}, 3},
    /* PARAMETER_VALUE */ {{{';', PARAMETER_NAME}, {'?', HEADER_NAME}}, 2},
    /* SEARCH */ {{}, 0},
    /* HEADER_NAME */ {{{'=', HEADER_VALUE}, {'&', HEADER_NAME}}, 2},
    /* HEADER_VALUE */ {{{'&', HEADER_NAME}}, 1},
    /* END */ {{}, 0},
};

// For each state, the bytes that may end its token or need a look (white space, the closing
// quote or bracket, escapes); every other byte is simply part of the token.
struct StopTable {
    bool stops[END + 1][256] = {};

    constexpr StopTable() {
        for (int state = START; state <= END; ++state) {
            for (unsigned char c : {' ', '\t', '\r', '\n', '>', '"', '%'}) {
                stops[state][c] = true;
            }
            for (int i = 0; i < kStates[state].count; ++i) {
                stops[state][static_cast<unsigned char>(kStates[state].transitions[i].separator)] =
                    true;
            }
        }
        stops[USER][static_cast<unsigned char>(';')] = true;
        stops[USER][static_cast<unsigned char>('?')] = true;
    }
};

constexpr StopTable kStops;

int hex_value(char c) {
    if (is_digit(c)) {
        return c - '0';
    }
    char lower = to_lower(c);
    if (lower >= 'a' && lower <= 'f') {
        return lower - 'a' + 10;
    }
    return -1;
}

// A URI rarely has more than a few parameters or headers: they are gathered on the stack and
// moved into the record's array at the end.
struct NameValues {
    static constexpr size_t kInline = 8;
    uri_nv_t inline_entries[kInline];
    std::vector<uri_nv_t> more;
    size_t count = 0;

    uri_nv_t &at(size_t i) { return i < kInline ? inline_entries[i] : more[i - kInline]; }
    void add(char *name) {
        if (count < kInline) {
            inline_entries[count] = {name, nullptr};
        } else {
            more.push_back({name, nullptr});
        }
        ++count;
    }
    void set_last_value(char *value) {
        if (count == 0) {
            std::free(value);
            return;
        }
        uri_nv_t &last = at(count - 1);
        std::free(last.value);
        last.value = value;
    }
    uri_nv_t *release() {
        if (count == 0) {
            return nullptr;
        }
        auto *array = static_cast<uri_nv_t *>(std::calloc(count + 1, sizeof(uri_nv_t)));
        for (size_t i = 0; i < count; ++i) {
            array[i] = at(i);
        }
        count = 0;
        more.clear();
        return array;
    }
};

void replace(char **field, char *token) {
    std::free(*field);
    *field = token;
}

// A heap copy of a token of the input, with its %XX escapes decoded (RFC 3261 section 19.1.2).
// An escape counts only when two hex digits follow within the whole input, as the scanner
// consumed it.
char *token_copy(std::string_view input, size_t start, size_t end, bool escaped) {
    if (!escaped) {
        return text_copy(input.substr(start, end - start));
    }
    auto *copy = static_cast<char *>(std::malloc(end - start + 1));
    size_t length = 0;
    for (size_t i = start; i < end;) {
        int high = 0;
        int low = 0;
        if (input[i] == '%' && i + 2 < input.size() && (high = hex_value(input[i + 1])) >= 0 &&
            (low = hex_value(input[i + 2])) >= 0) {
            copy[length++] = static_cast<char>(high * 16 + low);
            i += 3;
        } else {
            copy[length++] = input[i++];
        }
    }
    copy[length] = '\0';
    return copy;
}

// RFC 3261 section 19.1.1 lets the user part hold ";" and "?" (telephone-subscriber), so they
// end the user only when no "@" follows: "sip:gw;transport=udp" names the host gw.
bool at_follows(std::string_view rest, char closing) {
    for (char c : rest) {
        if (c == '@') {
            return true;
        }
        if (c == closing || is_space(c)) {
            return false;
        }
    }
    return false;
}

uri_nv_t *duplicate_array(const uri_nv_t *array) {
    if (array == nullptr) {
        return nullptr;
    }
    size_t count = 0;
    while (array[count].name != nullptr) {
        ++count;
    }
    auto *copy = static_cast<uri_nv_t *>(std::calloc(count + 1, sizeof(uri_nv_t)));
    for (size_t i = 0; i < count; ++i) {
        copy[i].name = text_copy(array[i].name);
        copy[i].value = text_copy(array[i].value);
    }
    return copy;
}

void free_array(uri_nv_t *array) {
    if (array == nullptr) {
        return;
    }
    for (uri_nv_t *entry = array; entry->name != nullptr; ++entry) {
        std::free(entry->name);
        std::free(entry->value);
    }
    std::free(array);
}

std::string_view or_empty(const char *text) {
    return text == nullptr ? std::string_view() : text;
}

const char *or_blank(const char *text) {
    return text == nullptr ? "" : text;
}

}  // namespace

uri_t URI_Parse(const char *text) {
    uri_t uri{};
    if (text == nullptr) {
        return uri;
    }
    std::string_view input(text);
    size_t pos = 0;
    while (pos < input.size() && is_space(input[pos])) {
        ++pos;
    }
    std::string_view rest = input.substr(pos);
    size_t star_end = 1;
    while (star_end < rest.size() && is_space(rest[star_end])) {
        ++star_end;
    }
    if (!rest.empty() && rest[0] == '*' && star_end == rest.size()) {
        uri.scheme = text_copy("*");
        return uri;
    }

    char closing = '\0';
    if (pos < input.size() && (input[pos] == '<' || input[pos] == '"')) {
        closing = input[pos] == '<' ? '>' : '"';
        ++pos;
    }

    NameValues parameters;
    NameValues headers;
    // The token is the span of the input from token_start to pos: tokens never hold white space
    // (it ends them), so only escapes make a token differ from its text.
    size_t token_start = pos;
    bool escaped = false;
    State state = SCHEME;
    while (state != END) {
        const bool *stops = kStops.stops[state];
        while (pos < input.size() && !stops[static_cast<unsigned char>(input[pos])]) {
            ++pos;
        }
        bool at_end = pos >= input.size();
        char c = at_end ? '\0' : input[pos];
        if (is_space(c)) {
            c = ' ';
        }
        State next = END;
        bool ends = at_end || c == ' ' || (closing != '\0' && c == closing);
        size_t consumed = 1;
        if (!ends) {
            const StateRow &row = kStates[state];
            for (int i = 0; i < row.count; ++i) {
                if (row.transitions[i].separator == c) {
                    ends = true;
                    next = row.transitions[i].next;
                }
            }
            if (state == SCHEME && c == ':' && input.substr(pos + 1, 2) == "//") {
                next = HOST;
                consumed = 3;
            }
            if (state == USER && (c == ';' || c == '?') &&
                !at_follows(input.substr(pos + 1), closing)) {
                ends = true;
                next = c == ';' ? PARAMETER_NAME : HEADER_NAME;
            }
        }
        if (!ends) {
            if (c == '%' && pos + 2 < input.size() && hex_value(input[pos + 1]) >= 0 &&
                hex_value(input[pos + 2]) >= 0) {
                escaped = true;
                pos += 3;
            } else {
                ++pos;
            }
            continue;
        }
        auto token = [&] { return token_copy(input, token_start, pos, escaped); };
        switch (state) {
            case SCHEME:
                replace(&uri.scheme, token());
                break;
            case USER:
                replace(&uri.user, token());
                break;
            case PASSWORD:
                replace(&uri.password, token());
                break;
            case HOST:
                replace(&uri.host, token());
                break;
            case PORT:
                if (pos > token_start && !escaped) {
                    // The digits are followed by a separator or the end: read them in place.
                    uri.port = static_cast<int32_t>(text_decimal(input.data() + token_start));
                } else if (pos > token_start) {
                    char *digits = token();
                    uri.port = static_cast<int32_t>(text_decimal(digits));
                    std::free(digits);
                }
                break;
            case PATH:
                replace(&uri.path, token());
                break;
            case PARAMETER_NAME:
                parameters.add(token());
                break;
            case PARAMETER_VALUE:
                parameters.set_last_value(token());
                break;
            case SEARCH:
                replace(&uri.search, token());
                break;
            case HEADER_NAME:
                headers.add(token());
                break;
            case HEADER_VALUE:
                headers.set_last_value(token());
                break;
            case START:
            case END:
                break;
        }
        state = next;
        pos += consumed;
        token_start = pos;
        escaped = false;
    }

    if (uri.host == nullptr) {
        uri.host = uri.user;
        uri.user = nullptr;
        if (uri.password != nullptr) {
            uri.port = static_cast<int32_t>(text_decimal(uri.password));
            std::free(uri.password);
            uri.password = nullptr;
        }
    }
    uri.parameters = parameters.release();
    uri.headers = headers.release();
    return uri;
}

uri_t URI_Duplicate(const uri_t *uri) {
    uri_t copy{};
    if (uri == nullptr) {
        return copy;
    }
    copy.scheme = text_copy(uri->scheme);
    copy.user = text_copy(uri->user);
    copy.password = text_copy(uri->password);
    copy.host = text_copy(uri->host);
    copy.port = uri->port;
    copy.path = text_copy(uri->path);
    copy.search = text_copy(uri->search);
    copy.parameters = duplicate_array(uri->parameters);
    copy.headers = duplicate_array(uri->headers);
    return copy;
}

void URI_Free(uri_t *uri) {
    if (uri == nullptr) {
        return;
    }
    for (char **field :
         {&uri->scheme, &uri->user, &uri->password, &uri->host, &uri->path, &uri->search}) {
        std::free(*field);
        *field = nullptr;
    }
    free_array(uri->parameters);
    free_array(uri->headers);
    uri->parameters = nullptr;
    uri->headers = nullptr;
}

void URI_Print(const uri_t *uri, dstring_t *ds, int dotted) {
    dstring_reset(ds);
    if (uri == nullptr) {
        return;
    }
    if (uri->scheme != nullptr) {
        dstring_append(ds, uri->scheme, -1);
        dstring_append(ds, ":", 1);
    } else {
        dstring_append(ds, "xxx-error-no-scheme:", -1);
    }
    if (uri->path != nullptr) {
        dstring_append(ds, "//", 2);
    }
    if (uri->user != nullptr) {
        dstring_append(ds, uri->user, -1);
        if (uri->password != nullptr) {
            dstring_append(ds, ":", 1);
            dstring_append(ds, uri->password, -1);
        }
        dstring_append(ds, "@", 1);
    }
    if (uri->host != nullptr) {
        in_addr address{};
        char dotted_text[INET_ADDRSTRLEN];
        if (dotted != 0 && resolve_host(uri->host, &address) == 0 &&
            inet_ntop(AF_INET, &address, dotted_text, sizeof dotted_text) != nullptr) {
            dstring_append(ds, dotted_text, -1);
        } else {
            dstring_append(ds, uri->host, -1);
        }
        if (uri->port != 0) {
            dstring_printf(ds, ":%d", uri->port);
        }
    }
    if (uri->path != nullptr) {
        dstring_append(ds, "/", 1);
        dstring_append(ds, uri->path, -1);
        if (uri->search != nullptr) {
            dstring_append(ds, "?", 1);
            dstring_append(ds, uri->search, -1);
        }
        return;
    }
    for (const uri_nv_t *p = uri->parameters; p != nullptr && p->name != nullptr; ++p) {
        dstring_append(ds, ";", 1);
        dstring_append(ds, p->name, -1);
        dstring_append(ds, "=", 1);
        dstring_append(ds, or_blank(p->value), -1);
    }
    char separator = '?';
    for (const uri_nv_t *h = uri->headers; h != nullptr && h->name != nullptr; ++h) {
        dstring_append(ds, &separator, 1);
        dstring_append(ds, h->name, -1);
        dstring_append(ds, "=", 1);
        dstring_append(ds, or_blank(h->value), -1);
        separator = '&';
    }
}

int URI_Compare(const uri_t *a, const uri_t *b) {
    if (a == nullptr || b == nullptr) {
        return a == b ? 1 : 0;
    }
    bool same = or_empty(a->scheme) == or_empty(b->scheme) &&
                text_equal_nocase(or_empty(a->host), or_empty(b->host)) &&
                text_equal_nocase(or_empty(a->user), or_empty(b->user)) &&
                or_empty(a->path) == or_empty(b->path) &&
                (b->search == nullptr || or_empty(a->search) == or_empty(b->search)) &&
                a->port == b->port;
    return same ? 1 : 0;
}

void URI_Canonical(const char *text, dstring_t *ds) {
    std::string head(or_empty(text).substr(0, 127));
    uri_t uri = URI_Parse(head.c_str());
    URI_Print(&uri, ds, 1);
    URI_Free(&uri);
}

void URI_Dump(const char *scheme, const char *user, const char *password, const char *host,
              int32_t port, const char *path, const char *search, const uri_nv_t *parameters,
              const uri_nv_t *headers) {
    if (path != nullptr) {
        std::printf("%s://%s:%d/%s?%s\n", or_blank(scheme), or_blank(host), port, path,
                    or_blank(search));
        return;
    }
    std::printf("%s:%s:%s@%s:%d", or_blank(scheme), or_blank(user), or_blank(password),
                or_blank(host), port);
    for (const uri_nv_t *p = parameters; p != nullptr && p->name != nullptr; ++p) {
        std::printf(";%s=%s", p->name, or_blank(p->value));
    }
    char separator = '?';
    for (const uri_nv_t *h = headers; h != nullptr && h->name != nullptr; ++h) {
        std::printf("%c%s=%s", separator, h->name, or_blank(h->value));
        separator = '&';
    }
    std::printf("\n");
}

}  // namespace sipline
