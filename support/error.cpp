#include "support/error.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "support/system.h"

namespace sipline {

int32_t DebugEnabled = 0;

namespace {

// Chosen before threads start (ErrorInit) and only read afterwards.
FILE *destination = stderr;
bool debug_prepared = false;

constexpr size_t report_size = 1024;

// A bounded writer into the report buffer: a report longer than the buffer is cut, never
// written past its end.
struct report {
    char text[report_size];
    size_t used = 0;

    void vadd(const char *format, va_list args) {
        if (used >= report_size - 1) {
            return;
        }
        int n = std::vsnprintf(text + used, report_size - used, format, args);
        if (n > 0) {
            used = std::min(report_size - 1, used + static_cast<size_t>(n));
        }
    }
    void add(const char *format, ...) __attribute__((format(printf, 2, 3))) {
        va_list args;
        va_start(args, format);
        vadd(format, args);
        va_end(args);
    }
};

// Local date and time with milliseconds, e.g. "2026-12-08 18:20:01.123".
void add_time_stamp(report &r) {
    timeval now{};
    gettimeofday(&now, nullptr);
    time_t seconds = now.tv_sec;
    struct tm local {};
    localtime_r(&seconds, &local);
    char date[32];
    std::strftime(date, sizeof date, "%Y-%m-%d %H:%M:%S", &local);
    r.add("%s.%03d: ", date, now.tv_usec / 1000);
}

void report_line(const char *head, const char *function, const char *format, va_list args) {
    int noted = errno;
    report r;
    if (destination != nullptr) {
        add_time_stamp(r);
    }
    r.add(head, function);
    if (noted > 0) {
        r.add("%s (%d): ", std::strerror(noted), noted);
    }
    r.vadd(format, args);
    if (destination != nullptr) {
        if (r.used == 0 || r.text[r.used - 1] != '\n') {
            if (r.used == report_size - 1) {
                r.used--;
            }
            r.text[r.used++] = '\n';
            r.text[r.used] = '\0';
        }
        std::fwrite(r.text, 1, r.used, destination);
    } else {
        syslog(3, "%s", r.text);
    }
}

}  // namespace

void Error(const char *function, const char *format, ...) {
    va_list args;
    va_start(args, format);
    report_line("Error in %s: ", function, format, args);
    va_end(args);
}

void Fatal(const char *function, const char *format, ...) {
    va_list args;
    va_start(args, format);
    report_line("Fatal error in %s: ", function, format, args);
    va_end(args);
    std::abort();
}

void Debug(const char *function, const char *format, ...) {
    if (DebugEnabled == 0) {
        return;
    }
    if (!debug_prepared) {
        std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
        debug_prepared = true;
    }
    timeval now{};
    gettimeofday(&now, nullptr);
    std::printf("%9.3f %s(): ", now.tv_sec + now.tv_usec / 1000000.0, function);
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
}

void ErrorInit(const char *name) {
    if (name == nullptr) {
        // LOG_PID and LOG_DAEMON; the system log discards what it is given.
        openlog("orlo", 1, 24);
        destination = nullptr;
        return;
    }
    if (std::strcmp(name, "stderr") == 0) {
        destination = stderr;
        return;
    }
    FILE *file = std::fopen(name, "a+");
    if (file == nullptr) {
        destination = stderr;
        Fatal("ErrorInit", "Couldn't open error log %s", name);
    }
    destination = file;
}

void ErrorClose() {
    if (destination == nullptr) {
        closelog();
        return;
    }
    // Closing the process's standard error would silence every later diagnostic, and a report
    // after the close would write to a closed stream: keep stderr open, and send later reports
    // there once an error file is closed.
    if (destination == stderr) {
        std::fflush(stderr);
        return;
    }
    std::fclose(destination);
    destination = stderr;
}

}  // namespace sipline
