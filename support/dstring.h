// Growable NUL-terminated text: SIP messages, header values and log lines are built in one.
#pragma once

#include <cstdint>
#include <ctime>

namespace sipline {

// Room reserved for, and bound on, one formatted append.
inline constexpr int PRINTF_MAX = 500;

struct dstring_t {
    char *s;            // null until something is appended
    int32_t length;     // characters, not counting the NUL
    int32_t allocated;  // bytes of s; 0 while s is null
};

void dstring_init(dstring_t *ds);
void dstring_free(dstring_t *ds);
void dstring_reset(dstring_t *ds);
char *dstring_value(dstring_t *ds);
int32_t dstring_length(dstring_t *ds);
// A negative count means the text is NUL-terminated; a null text only reserves room.
char *dstring_append(dstring_t *ds, const char *text, int32_t count);
char *dstring_append_escaped(dstring_t *ds, const char *text, const char *special);
char *dstring_append_dstring(dstring_t *dst, dstring_t *src);
char *dstring_printf(dstring_t *ds, const char *format, ...) __attribute__((format(printf, 2, 3)));
char *dstring_strftime_tm(dstring_t *ds, const char *format, const struct tm *tm);
// time 0 means now; local non-zero selects local time, zero UTC.
char *dstring_strftime(dstring_t *ds, const char *format, int32_t time, int local);
char *dstring_trim(dstring_t *ds);

// Both return a new heap string (free with free()).
char *base64_decode(const char *text);
char *base64_encode(const char *text);

}  // namespace sipline
