// Small helpers for the SIP readers: heap copies for the C-shaped records, ASCII character
// classes and case-insensitive comparison that never depend on the locale.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace sipline {

// A NUL-terminated heap copy (release with free()); null for a null text.
char *text_copy(const char *text);
char *text_copy(std::string_view text);

inline bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}
inline bool is_digit(char c) {
    return c >= '0' && c <= '9';
}
inline bool is_alpha(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
inline bool is_alnum(char c) {
    return is_alpha(c) || is_digit(c);
}
// A table rather than a comparison: header names and parameters are folded byte by byte in
// every look-up.
struct LowerTable {
    char lower[256] = {};
    constexpr LowerTable() {
        for (int c = 0; c < 256; ++c) {
            lower[c] = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
        }
    }
};
inline constexpr LowerTable kLowerTable;
inline char to_lower(char c) {
    return kLowerTable.lower[static_cast<unsigned char>(c)];
}

// ASCII case-insensitive equality; a null text equals only another null text. Inline: the
// header look-ups call it for every header of the list.
inline bool text_equal_nocase(const char *a, const char *b) {
    if (a == nullptr || b == nullptr) {
        return a == b;
    }
    while (*a != '\0' && to_lower(*a) == to_lower(*b)) {
        ++a;
        ++b;
    }
    return *a == *b;
}
bool text_equal_nocase(std::string_view a, std::string_view b);

// The decimal value of the leading digits (after optional white space and sign), as atoi reads
// it, but saturated instead of overflowing.
int64_t text_decimal(const char *text);

}  // namespace sipline
