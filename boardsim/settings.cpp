#include "boardsim/settings.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

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

bool parse_cid(const char *text, dsp::CallerIdStandard *standard) {
    static constexpr struct {
        const char *name;
        dsp::CallerIdStandard standard;
    } kNames[] = {{"bell", dsp::CallerIdStandard::bell},
                  {"v23", dsp::CallerIdStandard::v23},
                  {"dtmf", dsp::CallerIdStandard::dtmf}};
    for (const auto &row : kNames) {
        if (std::strcmp(text, row.name) == 0) {
            *standard = row.standard;
            return true;
        }
    }
    return false;
}

bool parse_ring(const char *text, int32_t *on_ms, int32_t *off_ms) {
    const std::string_view t = text;
    int32_t on = 0, off = 0;
    auto [slash, e1] = std::from_chars(t.data(), t.data() + t.size(), on);
    if (e1 != std::errc() || slash == t.data() + t.size() || *slash != '/') {
        return false;
    }
    auto [end, e2] = std::from_chars(slash + 1, t.data() + t.size(), off);
    if (e2 != std::errc() || end != t.data() + t.size() || end == slash + 1 || on < 100 ||
        off < 100 || on > 10000 || off > 10000) {
        return false;
    }
    *on_ms = on;
    *off_ms = off;
    return true;
}

bool parse_disconnect(const char *text, Disconnect *mode, dsp::ToneCadence *tone) {
    const std::string_view t = text;
    if (t == "loop" || t == "silence" || t == "tone") {
        *mode = t == "loop"   ? Disconnect::loop
                : t == "tone" ? Disconnect::tone
                              : Disconnect::silence;
        return true;
    }
    if (t.substr(0, 5) == "tone:" && dsp::parse_tone_cadence(t.substr(5), tone)) {
        *mode = Disconnect::tone;
        return true;
    }
    return false;
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
    if (const char *cid = std::getenv("BOARDSIM_CID"); cid != nullptr && *cid != '\0') {
        s.cid = parse_cid(cid, &s.cid_standard);
        if (!s.cid) {
            std::fprintf(stderr,
                         "boardsim: BOARDSIM_CID=\"%s\" is not bell, v23 or dtmf; rings carry no "
                         "caller ID\n",
                         cid);
        }
    }
    if (const char *ring = std::getenv("BOARDSIM_RING"); ring != nullptr) {
        if (!parse_ring(ring, &s.ring_on_ms, &s.ring_off_ms)) {
            std::fprintf(stderr,
                         "boardsim: BOARDSIM_RING=\"%s\" is not ON/OFF in ms (100 to 10000); "
                         "using %d/%d\n",
                         ring, s.ring_on_ms, s.ring_off_ms);
        }
    }
    if (const char *disconnect = std::getenv("BOARDSIM_DISCONNECT"); disconnect != nullptr) {
        if (!parse_disconnect(disconnect, &s.disconnect, &s.disconnect_tone)) {
            std::fprintf(stderr,
                         "boardsim: BOARDSIM_DISCONNECT=\"%s\" is not loop, silence, tone or "
                         "tone:F1[+F2]/ON/OFF; the far party's hang-up drops the loop\n",
                         disconnect);
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
