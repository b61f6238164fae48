#include "boardsim/settings.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace sipline::boardsim {

bool parse_block(const char *text, int32_t *block, bool *fails) {
    if (std::strcmp(text, "fail") == 0) {
        *fails = true;
        return true;
    }
    char *end = nullptr;
    errno = 0;
    long value = std::strtol(text, &end, 10);
    // A block must last a whole number of milliseconds (block / 8) and fit the gateway's
    // block of silence.
    if (errno != 0 || end == text || *end != '\0' || value < 8 || value > MAX_BLOCK ||
        value % 8 != 0) {
        return false;
    }
    *block = static_cast<int32_t>(value);
    *fails = false;
    return true;
}

bool parse_seconds(const char *text, double *seconds) {
    char *end = nullptr;
    errno = 0;
    double value = std::strtod(text, &end);
    if (errno != 0 || end == text || *end != '\0' || !std::isfinite(value) || value < 0 ||
        value > 1e6) {
        return false;
    }
    *seconds = value;
    return true;
}

Settings read_settings() {
    Settings s;
    if (const char *say = std::getenv("BOARDSIM_SAY"); say != nullptr && *say != '\0') {
        s.say = say;
    }
    if (const char *capture = std::getenv("BOARDSIM_CAPTURE"); capture != nullptr && *capture) {
        s.capture = capture;
    }
    if (const char *block = std::getenv("BOARDSIM_BLOCK"); block != nullptr) {
        if (!parse_block(block, &s.block, &s.block_read_fails)) {
            std::fprintf(stderr,
                         "boardsim: BOARDSIM_BLOCK=\"%s\" is not a block size (8 to %d, a "
                         "multiple of 8, or \"fail\"); using %d\n",
                         block, MAX_BLOCK, DEFAULT_BLOCK);
        }
    }
    if (const char *after = std::getenv("BOARDSIM_HANGUP_AFTER"); after != nullptr) {
        if (!parse_seconds(after, &s.hangup_after)) {
            std::fprintf(stderr,
                         "boardsim: BOARDSIM_HANGUP_AFTER=\"%s\" is not a number of seconds; the "
                         "far party will not hang up by itself\n",
                         after);
        }
    }
    if (const char *echo = std::getenv("BOARDSIM_ECHO"); echo != nullptr && *echo != '\0') {
        s.echo = dsp::parse_echo_path(echo, &s.echo_path);
        if (!s.echo) {
            std::fprintf(stderr,
                         "boardsim: BOARDSIM_ECHO=\"%s\" is not a delay and a loss (such as "
                         "\"16ms,10dB\", 0 to 100 ms, 0 to 60 dB); the line returns no echo\n",
                         echo);
        }
    }
    if (const char *control = std::getenv("BOARDSIM_CONTROL"); control != nullptr) {
        if (*control == '\0' || std::strlen(control) >= 100) {
            std::fprintf(stderr,
                         "boardsim: BOARDSIM_CONTROL=\"%s\" cannot name a socket; using %s\n",
                         control, s.control.c_str());
        } else {
            s.control = control;
        }
    }
    return s;
}

}  // namespace sipline::boardsim
