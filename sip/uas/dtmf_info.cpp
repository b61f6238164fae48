#include "sip/uas/dtmf_info.h"

#include <strings.h>

#include <algorithm>
#include <charconv>
#include <string_view>

namespace sipline {
namespace {

constexpr std::string_view kKeys = "0123456789*#ABCD";

bool same_text(std::string_view a, std::string_view b) {
    return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

std::string_view trimmed(std::string_view text) {
    const size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) {
        return {};
    }
    const size_t last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

// "5", "*", "#", "A"; and "10"/"11" for * and #, as some phones send the event number.
char key_of(std::string_view text) {
    text = trimmed(text);
    if (text.size() == 1) {
        const char upper =
            text[0] >= 'a' && text[0] <= 'd' ? static_cast<char>(text[0] - 32) : text[0];
        return kKeys.find(upper) != std::string_view::npos ? upper : 0;
    }
    int event = -1;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), event);
    if (error == std::errc() && end == text.data() + text.size() && event >= 0 && event < 16) {
        return kKeys[static_cast<size_t>(event)];
    }
    return 0;
}

int32_t duration_of(std::string_view text) {
    text = trimmed(text);
    int64_t ms = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), ms);
    if (error != std::errc() || end != text.data() + text.size()) {
        return DTMF_INFO_DEFAULT_MS;
    }
    return static_cast<int32_t>(
        std::clamp<int64_t>(ms, DTMF_INFO_SHORTEST_MS, DTMF_INFO_LONGEST_MS));
}

}  // namespace

int DtmfInfoRead(const char *content_type, const char *body, char *key, int32_t *duration_ms) {
    *key = 0;
    *duration_ms = DTMF_INFO_DEFAULT_MS;
    std::string_view text = body != nullptr ? body : "";
    if (trimmed(text).empty()) {
        return 200;
    }
    std::string_view type = content_type != nullptr ? trimmed(content_type) : "";
    type = type.substr(0, type.find(';'));
    if (same_text(trimmed(type), "application/dtmf")) {
        *key = key_of(text);
        return *key != 0 ? 200 : 400;
    }
    if (!same_text(trimmed(type), "application/dtmf-relay")) {
        return 415;
    }
    char found = 0;
    int32_t duration = DTMF_INFO_DEFAULT_MS;
    while (!text.empty()) {
        const size_t end = text.find_first_of("\r\n");
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        const size_t equals = line.find('=');
        if (equals == std::string_view::npos) {
            continue;
        }
        std::string_view name = trimmed(line.substr(0, equals));
        std::string_view value = line.substr(equals + 1);
        if (same_text(name, "Signal")) {
            found = key_of(value);
        } else if (same_text(name, "Duration")) {
            duration = duration_of(value);
        }
    }
    if (found == 0) {
        return 400;
    }
    *key = found;
    *duration_ms = duration;
    return 200;
}

}  // namespace sipline
