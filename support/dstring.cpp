#include "support/dstring.h"

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace sipline {

void dstring_init(dstring_t *ds) {
    ds->s = nullptr;
    ds->length = 0;
    ds->allocated = 0;
}

void dstring_free(dstring_t *ds) {
    std::free(ds->s);
    dstring_init(ds);
}

void dstring_reset(dstring_t *ds) {
    ds->length = 0;
    if (ds->s != nullptr) {
        ds->s[0] = '\0';
    }
}

char *dstring_value(dstring_t *ds) {
    return ds->s;
}

int32_t dstring_length(dstring_t *ds) {
    return ds->length;
}

char *dstring_append(dstring_t *ds, const char *text, int32_t count) {
    if (count < 0) {
        if (text == nullptr) {
            return ds->s;
        }
        count = static_cast<int32_t>(std::strlen(text));
    }
    // Growth happens also when needed equals allocated: callers rely on the exact sizes.
    int32_t needed = ds->length + count + 1;
    if (needed >= ds->allocated) {
        if (ds->allocated == 0) {
            ds->allocated = count + 1;
            ds->s = static_cast<char *>(std::malloc(static_cast<size_t>(ds->allocated)));
        } else {
            ds->allocated *= 2;
            if (ds->allocated < needed) {
                ds->allocated += count + 1;
            }
            ds->s = static_cast<char *>(std::realloc(ds->s, static_cast<size_t>(ds->allocated)));
        }
    }
    if (text != nullptr) {
        std::memcpy(ds->s + ds->length, text, static_cast<size_t>(count));
        ds->length += count;
    }
    ds->s[ds->length] = '\0';
    return ds->s;
}

char *dstring_append_escaped(dstring_t *ds, const char *text, const char *special) {
    for (const char *p = text; *p != '\0'; p++) {
        if (std::strchr(special, *p) != nullptr) {
            dstring_append(ds, "\\", 1);
        }
        dstring_append(ds, p, 1);
    }
    return ds->s;
}

char *dstring_append_dstring(dstring_t *dst, dstring_t *src) {
    if (dst == nullptr) {
        return nullptr;
    }
    if (src != nullptr && src->s != nullptr) {
        dstring_append(dst, src->s, src->length);
    }
    return dst->s;
}

char *dstring_printf(dstring_t *ds, const char *format, ...) {
    dstring_append(ds, nullptr, PRINTF_MAX);
    va_list args;
    va_start(args, format);
    int room = ds->allocated - ds->length;
    int produced = std::vsnprintf(ds->s + ds->length, static_cast<size_t>(room), format, args);
    va_end(args);
    if (produced >= room) {
        // Longer than the reserve: grow to fit and format again rather than cut the text.
        dstring_append(ds, nullptr, produced);
        va_start(args, format);
        produced = std::vsnprintf(ds->s + ds->length,
                                  static_cast<size_t>(ds->allocated - ds->length), format, args);
        va_end(args);
    }
    if (produced > 0) {
        ds->length += produced;
    }
    ds->s[ds->length] = '\0';
    return ds->s;
}

char *dstring_strftime_tm(dstring_t *ds, const char *format, const struct tm *tm) {
    dstring_append(ds, nullptr, PRINTF_MAX);
    struct tm copy = *tm;
    size_t produced = std::strftime(ds->s + ds->length, PRINTF_MAX, format, &copy);
    ds->length += static_cast<int32_t>(produced);
    ds->s[ds->length] = '\0';
    return ds->s;
}

char *dstring_strftime(dstring_t *ds, const char *format, int32_t time, int local) {
    time_t when = time == 0 ? std::time(nullptr) : static_cast<time_t>(time);
    struct tm broken {};
    if (local != 0) {
        localtime_r(&when, &broken);
    } else {
        gmtime_r(&when, &broken);
    }
    return dstring_strftime_tm(ds, format, &broken);
}

char *dstring_trim(dstring_t *ds) {
    if (ds->s == nullptr) {
        return nullptr;
    }
    auto space = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
    while (ds->length > 0 && space(ds->s[ds->length - 1])) {
        ds->s[--ds->length] = '\0';
    }
    if (space(ds->s[0])) {
        int32_t k = 0;
        while (k < ds->length && space(ds->s[k])) {
            k++;
        }
        int32_t rest = ds->length - k;
        auto *fresh = static_cast<char *>(std::malloc(static_cast<size_t>(rest) + 1));
        std::memcpy(fresh, ds->s + k, static_cast<size_t>(rest) + 1);
        std::free(ds->s);
        ds->s = fresh;
        ds->allocated = rest + 1;
        ds->length = rest;
    }
    return ds->s;
}

namespace {

constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The value of a Base64 character, or -1 for anything else ("=" included).
int value(char c) {
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

char *empty_string() {
    return static_cast<char *>(std::calloc(1, 1));
}

}  // namespace

char *base64_decode(const char *text) {
    if (text == nullptr || *text == '\0') {
        return empty_string();
    }
    size_t n = std::strlen(text);
    // Room for every whole group plus a partial one: a group may start near the end, and the
    // characters after its first are taken as they stand, NUL included, so a short last group
    // (which the classic sizing would overrun) stops at the end of the text.
    auto *out = static_cast<unsigned char *>(std::calloc(n / 4 * 3 + 4, 1));
    size_t in = 0;
    size_t o = 0;
    while (in < n) {
        while (in < n && value(text[in]) < 0 && text[in] != '=') {
            in++;
        }
        if (in >= n) {
            break;
        }
        // Missing characters at the very end of the text count as padding.
        char c[4];
        for (int i = 0; i < 4; i++) {
            c[i] = in + static_cast<size_t>(i) < n ? text[in + static_cast<size_t>(i)] : '=';
        }
        auto v = [](char ch) { return static_cast<unsigned>(value(ch) < 0 ? 0 : value(ch)); };
        out[o] = static_cast<unsigned char>(v(c[0]) << 2);
        if (c[1] == '=') {
            o += 1;
            break;
        }
        out[o] |= static_cast<unsigned char>(v(c[1]) >> 4);
        out[o + 1] = static_cast<unsigned char>((v(c[1]) & 15) << 4);
        if (c[2] == '=') {
            o += 2;
            break;
        }
        out[o + 1] |= static_cast<unsigned char>(v(c[2]) >> 2);
        out[o + 2] = static_cast<unsigned char>((v(c[2]) & 3) << 6);
        if (c[3] == '=') {
            o += 3;
            break;
        }
        out[o + 2] |= static_cast<unsigned char>(v(c[3]));
        in += 4;
        o += 3;
    }
    out[o] = '\0';
    return reinterpret_cast<char *>(out);
}

char *base64_encode(const char *text) {
    if (text == nullptr || *text == '\0') {
        return empty_string();
    }
    size_t n = std::strlen(text);
    // Each fold takes two characters; the classic size m + 2 + (m + 2) / 72 counts only one per
    // fold and falls short from about 500 input bytes on.
    size_t groups_total = (n + 2) / 3;
    auto *out = static_cast<char *>(std::malloc(groups_total * 4 + groups_total / 18 * 2 + 1));
    const auto *in = reinterpret_cast<const unsigned char *>(text);
    size_t o = 0;
    int groups = 0;
    for (size_t i = 0; i < n; i += 3) {
        size_t left = n - i;
        unsigned b0 = in[i];
        unsigned b1 = left > 1 ? in[i + 1] : 0;
        unsigned b2 = left > 2 ? in[i + 2] : 0;
        out[o++] = alphabet[b0 >> 2];
        out[o++] = alphabet[((b0 & 3) << 4) | (b1 >> 4)];
        out[o++] = left > 1 ? alphabet[((b1 & 15) << 2) | (b2 >> 6)] : '=';
        out[o++] = left > 2 ? alphabet[b2 & 63] : '=';
        if (left > 2 && ++groups == 18) {
            out[o++] = '\n';
            out[o++] = ' ';
            groups = 0;
        }
    }
    out[o] = '\0';
    return out;
}

}  // namespace sipline
