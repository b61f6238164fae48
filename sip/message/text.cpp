#include "sip/message/text.h"

#include <limits>

namespace sipline {

char *text_copy(const char *text) {
    if (text == nullptr) {
        return nullptr;
    }
    return text_copy(std::string_view(text));
}

char *text_copy(std::string_view text) {
    auto *copy = static_cast<char *>(std::malloc(text.size() + 1));
    if (copy == nullptr) {
        return nullptr;
    }
    if (!text.empty()) {
        std::memcpy(copy, text.data(), text.size());
    }
    copy[text.size()] = '\0';
    return copy;
}

bool text_equal_nocase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (to_lower(a[i]) != to_lower(b[i])) {
            return false;
        }
    }
    return true;
}

int64_t text_decimal(const char *text) {
    if (text == nullptr) {
        return 0;
    }
    while (*text == ' ' || (*text >= '\t' && *text <= '\r')) {
        ++text;
    }
    bool negative = false;
    if (*text == '+' || *text == '-') {
        negative = *text == '-';
        ++text;
    }
    constexpr int64_t limit = std::numeric_limits<int32_t>::max();
    int64_t value = 0;
    while (is_digit(*text)) {
        value = value * 10 + (*text - '0');
        if (value > limit) {
            value = limit;
        }
        ++text;
    }
    return negative ? -value : value;
}

}  // namespace sipline
