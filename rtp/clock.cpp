#include <atomic>
#include <cmath>

#include "rtp/context_internal.h"

namespace sipline {

namespace {
constexpr int64_t micros_per_second = 1000000;
}

namespace {
// Set by tests before they start a context and cleared after; read by every engine call.
std::atomic<timeval (*)()> test_clock{nullptr};
}  // namespace

void rtp_set_clock(timeval (*clock)()) {
    test_clock.store(clock);
}

timeval rtp_now() {
    if (auto clock = test_clock.load()) {
        return clock();
    }
    timeval now{};
    gettimeofday(&now, nullptr);
    return now;
}

double rtp_seconds_between(const timeval &a, const timeval &b) {
    return static_cast<double>(a.tv_sec - b.tv_sec) +
           static_cast<double>(a.tv_usec - b.tv_usec) / 1e6;
}

timeval rtp_time_add(const timeval &t, double seconds) {
    int64_t micros = static_cast<int64_t>(t.tv_sec) * micros_per_second + t.tv_usec +
                     static_cast<int64_t>(seconds * 1e6);
    timeval sum{};
    sum.tv_sec = static_cast<int32_t>(micros / micros_per_second);
    sum.tv_usec = static_cast<int32_t>(micros % micros_per_second);
    return sum;
}

bool rtp_time_reached(const timeval &a, const timeval &b) {
    return a.tv_sec > b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_usec >= b.tv_usec);
}

bool rtp_time_set(const timeval &t) {
    return t.tv_sec != 0 || t.tv_usec != 0;
}

}  // namespace sipline
