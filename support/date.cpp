#include "support/date.h"

#include <strings.h>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <initializer_list>

namespace sipline {

namespace {

constexpr const char *full_days[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                     "Thursday", "Friday", "Saturday"};
constexpr const char *short_days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char *full_months[] = {"January",   "February", "March",    "April",
                                       "May",       "June",     "July",     "August",
                                       "September", "October",  "November", "December"};
constexpr const char *short_months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr const char *time_format = "%H:%M:%S";
constexpr const char *date_format = "%m/%d/%y";
// The POSIX locale's date and time, as asctime writes it.
constexpr const char *date_time_format = "%a %b %e %H:%M:%S %Y";

bool space(char c) {
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}
bool digit(char c) {
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

// Matches one of `count` names, full then abbreviated for each in turn, ignoring case over the
// name's length. The index, or -1.
int match_name(const char *&in, const char *const *full, const char *const *abbreviated,
               int count) {
    for (int i = 0; i < count; i++) {
        for (const char *name : {full[i], abbreviated[i]}) {
            size_t n = std::strlen(name);
            if (strncasecmp(in, name, n) == 0) {
                in += n;
                return i;
            }
        }
    }
    return -1;
}

// Reads every digit that follows; the value saturates instead of overflowing.
int64_t read_number(const char *&in) {
    int64_t value = 0;
    while (digit(*in)) {
        if (value < 100000000) {
            value = value * 10 + (*in - '0');
        }
        in++;
    }
    return value;
}

const char *parse(const char *in, const char *format, struct tm *tm);

// A number conversion; false on a mismatch. `optional`: nothing is read at the end of the
// input or at white space.
bool number(const char *&in, bool optional, int64_t low, int64_t high, int *field, int offset) {
    if (optional && (*in == '\0' || space(*in))) {
        return true;
    }
    if (!digit(*in)) {
        return false;
    }
    int64_t value = read_number(in);
    if (value < low || value > high) {
        return false;
    }
    *field = static_cast<int>(value - offset);
    return true;
}

const char *parse(const char *in, const char *format, struct tm *tm) {
    const char *f = format;
    while (*f != '\0' && *in != '\0') {
        if (space(*f)) {
            while (space(*in))
                in++;
            f++;
            continue;
        }
        if (*f != '%') {
            if (*in != *f)
                return nullptr;
            in++;
            f++;
            continue;
        }
        f++;
        char conversion = *f;
        if (conversion == '\0' || conversion == '%') {
            if (*in != '%')
                return nullptr;
            in++;
            if (conversion == '\0')
                return in;
            f++;
            continue;
        }
        f++;
        bool ok = true;
        bool was_number = false;
        const char *recurse = nullptr;
        int hour = tm->tm_hour;
        switch (conversion) {
            case 'a':
            case 'A': {
                int day = match_name(in, full_days, short_days, 7);
                if (day < 0)
                    return nullptr;
                tm->tm_wday = day;
                break;
            }
            case 'b':
            case 'B':
            case 'h': {
                int month = match_name(in, full_months, short_months, 12);
                if (month < 0)
                    return nullptr;
                tm->tm_mon = month;
                break;
            }
            case 'C':
                recurse = date_time_format;
                break;
            case 'c':
                recurse = "%x %X";
                break;
            case 'D':
                recurse = "%m/%d/%y";
                break;
            case 'R':
                recurse = "%H:%M";
                break;
            case 'r':
                recurse = "%I:%M:%S %p";
                break;
            case 'T':
                recurse = "%H:%M:%S";
                break;
            case 'X':
                recurse = time_format;
                break;
            case 'x':
                recurse = date_format;
                break;
            case 'H':
            case 'k':
                ok = number(in, false, 0, 23, &tm->tm_hour, 0);
                was_number = true;
                break;
            case 'I':
            case 'l':
                ok = number(in, false, 0, 12, &tm->tm_hour, 0);
                was_number = true;
                break;
            case 'M':
                ok = number(in, true, 0, 59, &tm->tm_min, 0);
                was_number = true;
                break;
            case 'S':
                ok = number(in, true, 0, 59, &tm->tm_sec, 0);
                was_number = true;
                break;
            case 'd':
            case 'e':
                ok = number(in, false, 0, 31, &tm->tm_mday, 0);
                was_number = true;
                break;
            case 'm':
                ok = number(in, false, 1, 12, &tm->tm_mon, 1);
                was_number = true;
                break;
            case 'j':
                ok = number(in, false, 1, 366, &tm->tm_yday, 1);
                break;
            case 'Y':
                ok = number(in, true, 1900, INT32_MAX, &tm->tm_year, 1900);
                was_number = true;
                break;
            case 'y':
                ok = number(in, true, 0, INT32_MAX, &tm->tm_year, 0);
                was_number = true;
                break;
            case 'p':
                if (strncasecmp(in, "AM", 2) == 0) {
                    if (hour > 12)
                        return nullptr;
                    if (hour == 12)
                        tm->tm_hour = 0;
                } else if (strncasecmp(in, "PM", 2) == 0) {
                    if (hour > 12)
                        return nullptr;
                    if (hour != 12)
                        tm->tm_hour = hour + 12;
                } else {
                    return nullptr;
                }
                in += 2;
                break;
            default:
                break;
        }
        if (!ok)
            return nullptr;
        if (recurse != nullptr) {
            in = parse(in, recurse, tm);
            if (in == nullptr)
                return nullptr;
        }
        // A number followed by white space ends the rest of this format word.
        if (was_number && space(*in)) {
            while (*f != '\0' && !space(*f))
                f++;
        }
    }
    return in;
}

}  // namespace

char *strptime(const char *input, const char *format, struct tm *tm) {
    return const_cast<char *>(parse(input, format, tm));
}

}  // namespace sipline
