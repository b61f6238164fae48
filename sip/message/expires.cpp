#include <ctime>
#include <limits>

#include "sip/message/fields.h"
#include "sip/message/text.h"
#include "support/date.h"

namespace sipline {

namespace {

int32_t clamp_time(int64_t seconds) {
    if (seconds > std::numeric_limits<int32_t>::max()) {
        return std::numeric_limits<int32_t>::max();
    }
    if (seconds < std::numeric_limits<int32_t>::min()) {
        return std::numeric_limits<int32_t>::min();
    }
    return static_cast<int32_t>(seconds);
}

}  // namespace

int32_t SIP_Time(const char *text) {
    if (text == nullptr) {
        return 0;
    }
    if (is_alpha(*text)) {
        // RFC 3261 section 20.17 dates are always GMT.
        struct tm date {};
        sipline::strptime(text, "%a, %d %b %Y %T %Z", &date);
        return clamp_time(static_cast<int64_t>(timegm(&date)));
    }
    int64_t seconds = text_decimal(text);
    if (seconds >= 1) {
        return clamp_time(static_cast<int64_t>(std::time(nullptr)) + seconds);
    }
    return 1;
}

int32_t SIP_Expires(const parser_t *message) {
    if (message == nullptr) {
        return 0;
    }
    const char *value = RFC822_ElementValue(RFC822_Find(message->headers, "Expires"), 0, nullptr);
    return value == nullptr ? 0 : SIP_Time(value);
}

}  // namespace sipline
