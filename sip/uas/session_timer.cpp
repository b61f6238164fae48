#include "sip/uas/session_timer.h"

#include <strings.h>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <string>
#include <string_view>

namespace sipline {
namespace {

std::string_view trimmed(std::string_view text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

bool same(std::string_view a, std::string_view b) {
    return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

// The first element of a header, whole ("1800;refresher=uac"), or empty.
std::string_view element(const parser_t *message, const char *name, const char *compact) {
    parser_header_t *h = compact != nullptr ? RFC822_FindEither(message->headers, name, compact)
                                            : RFC822_Find(message->headers, name);
    return h != nullptr && h->elements != nullptr && h->elements->element != nullptr
               ? std::string_view(h->elements->element)
               : std::string_view();
}

// Delta-seconds before the first ";"; -1 when there is no number.
int64_t seconds_of(std::string_view value) {
    value = trimmed(value.substr(0, value.find(';')));
    int64_t n = -1;
    auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), n);
    if (value.empty() || end != value.data() + value.size()) {
        return -1;
    }
    return error == std::errc::result_out_of_range ? INT64_MAX : (error == std::errc() ? n : -1);
}

// "uac", "uas" or empty, from ";refresher=".
std::string_view refresher_of(std::string_view value) {
    for (size_t at = value.find(';'); at != std::string_view::npos; at = value.find(';', at + 1)) {
        std::string_view parameter = value.substr(at + 1, value.find(';', at + 1) - at - 1);
        const size_t equals = parameter.find('=');
        if (equals != std::string_view::npos &&
            same(trimmed(parameter.substr(0, equals)), "refresher")) {
            return trimmed(parameter.substr(equals + 1));
        }
    }
    return {};
}

bool supports_timer(const parser_t *message) {
    parser_header_t *h = RFC822_FindEither(message->headers, "Supported", "k");
    for (parser_element_t *e = h != nullptr ? h->elements : nullptr; e != nullptr; e = e->next) {
        if (e->element != nullptr && same(trimmed(e->element), "timer")) {
            return true;
        }
    }
    return false;
}

}  // namespace

int SessionTimerRead(const parser_t *message, session_timer_t *timer) {
    *timer = {};
    timer->uac_supports = supports_timer(message) ? 1 : 0;
    const std::string_view expires = element(message, "Session-Expires", "x");
    if (expires.empty()) {
        return 0;
    }
    const int64_t asked = seconds_of(expires);
    if (asked < 0) {
        return 0;  // garbage is no session timer; the call goes on without one
    }
    if (asked < SESSION_MIN_SE) {
        return 422;
    }
    timer->interval =
        static_cast<int32_t>(asked > SESSION_EXPIRES_MOST ? SESSION_EXPIRES_MOST : asked);
    const std::string_view refresher = refresher_of(expires);
    timer->uas_refreshes =
        same(refresher, "uas") || (!same(refresher, "uac") && timer->uac_supports == 0) ? 1 : 0;
    return 0;
}

int SessionTimerReadAnswer(const parser_t *answer, session_timer_t *timer) {
    *timer = {};
    timer->uac_supports = 1;
    const std::string_view expires = element(answer, "Session-Expires", "x");
    if (expires.empty()) {
        return 0;
    }
    const int64_t granted = seconds_of(expires);
    if (granted < 0) {
        return -1;
    }
    if (granted == 0) {
        return 0;
    }
    timer->interval =
        static_cast<int32_t>(std::clamp<int64_t>(granted, SESSION_MIN_SE, SESSION_EXPIRES_MOST));
    timer->uas_refreshes = same(refresher_of(expires), "uas") ? 1 : 0;
    return 0;
}

int32_t SessionTimerMinSe(const parser_t *answer) {
    const int64_t seconds = seconds_of(element(answer, "Min-SE", nullptr));
    return seconds < 0 ? -1 : seconds > INT32_MAX ? INT32_MAX : static_cast<int32_t>(seconds);
}

void SessionTimerAnswerHeaders(const session_timer_t &timer, header_list_t *headers) {
    if (timer.interval <= 0) {
        return;
    }
    const std::string value = std::to_string(timer.interval) +
                              (timer.uas_refreshes != 0 ? ";refresher=uas" : ";refresher=uac");
    headers_set(headers, "Session-Expires", value.c_str());
    if (timer.uac_supports != 0) {
        headers_set(headers, "Require", "timer");
    }
}

}  // namespace sipline
