#include <cstring>
#include <string_view>

#include "sip/message/http.h"
#include "sip/message/text.h"
#include "support/date.h"

namespace sipline {

namespace {

// The value of the first element of the header, or null.
const char *first_value(parser_header_t *header) {
    if (header == nullptr || header->elements == nullptr) {
        return nullptr;
    }
    return header->elements->value;
}

const char *value_of(const parser_t *message, const char *name) {
    return message == nullptr ? nullptr : first_value(RFC822_Find(message->headers, name));
}

}  // namespace

int32_t HTTP_ContentLength(const parser_t *message) {
    constexpr int32_t kNoLength = 100000000;
    if (message == nullptr) {
        return kNoLength;
    }
    const char *value = first_value(RFC822_FindEither(message->headers, "Content-Length", "l"));
    if (value == nullptr) {
        return kNoLength;
    }
    return static_cast<int32_t>(text_decimal(value));
}

http_content_type_t HTTP_ContentType(const parser_t *message) {
    http_content_type_t result{};
    if (message == nullptr) {
        return result;
    }
    const char *value = first_value(RFC822_FindEither(message->headers, "Content-Type", "c"));
    if (value == nullptr) {
        return result;
    }
    std::string_view text(value);
    size_t slash = text.find('/');
    if (slash == std::string_view::npos) {
        return result;
    }
    std::string_view type = text.substr(0, slash);
    std::string_view rest = text.substr(slash);
    if (type.size() < sizeof result.type) {
        std::memcpy(result.type, type.data(), type.size());
    }
    if (rest.size() < sizeof result.subtype) {
        std::memcpy(result.subtype, rest.data() + 1, rest.size() - 1);
    }
    return result;
}

struct tm HTTP_Date(const parser_t *message) {
    struct tm date {};
    const char *value = value_of(message, "Date");
    if (value != nullptr) {
        sipline::strptime(value, "%a, %d %b %Y %T %Z", &date);
    }
    return date;
}

const char *HTTP_Server(const parser_t *message) {
    const char *value = value_of(message, "Server");
    return value == nullptr ? "" : value;
}

const char *HTTP_UserAgent(const parser_t *message) {
    const char *value = value_of(message, "User-Agent");
    return value == nullptr ? "" : value;
}

}  // namespace sipline
