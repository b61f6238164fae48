#include "gateway/session_refresh.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>

#include "gateway/call_internal.h"
#include "gateway/globals.h"

namespace sipline {
namespace {

using clock_type = std::chrono::steady_clock;

// Written by the SIP side's request threads and the main thread, read by the main thread before
// each wait; each is a value of its own, and a deadline read a little early only wakes the main
// thread once more for nothing.
std::atomic<int32_t> interval_s{0};
std::atomic<bool> we_refresh{false};
std::atomic<int64_t> started_ms{0};

int64_t now_ms() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               clock_type::now().time_since_epoch())
        .count();
}

// RFC 4028 section 10: the refresher refreshes at half the interval; the other side ends the
// session at the interval less a third of it or 32 s, whichever is less.
int64_t due_ms() {
    const int64_t interval_ms = int64_t{interval_s.load()} * 1000;
    const int64_t after = we_refresh.load() ? interval_ms / 2
                                            : interval_ms - std::min<int64_t>(32000, interval_ms / 3);
    return started_ms.load() + after;
}

}  // namespace

void SessionTimerArm(int32_t interval, bool gateway_refreshes) {
    started_ms = now_ms();
    we_refresh = gateway_refreshes;
    interval_s = interval;
    if (interval > 0) {
        std::printf("Session timer: %d s, refreshed by the %s\n", interval,
                    gateway_refreshes ? "gateway" : "caller");
    }
}

int32_t SessionTimerWaitMs() {
    if (interval_s.load() <= 0) {
        return -1;
    }
    return static_cast<int32_t>(std::clamp<int64_t>(due_ms() - now_ms(), 0, INT32_MAX));
}

void SessionTimerDue() {
    if (interval_s.load() <= 0 || now_ms() < due_ms()) {
        return;
    }
    if (we_refresh.load()) {
        std::printf("Session refresh by UPDATE\n");
        SessionTimerArm(interval_s.load(), true);
        SendSessionRefresh(interval_s.load());
        return;
    }
    std::printf("Session expired: no refresh came\n");
    interval_s = 0;
    StopMedia("Session expired: objects closed\n");
    StopLineIo();
    SendBye();
    EndCallCycle("Session expired\n");
}

}  // namespace sipline
