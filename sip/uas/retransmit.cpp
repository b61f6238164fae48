#include "sip/uas/retransmit.h"

#include "sip/uas/transport.h"

namespace sipline {

namespace {

constexpr int kReliableTransmissions = 7;
constexpr double kFirstInterval = 0.5;

timeval add_seconds(const timeval &start, double seconds) {
    int64_t usec = static_cast<int64_t>(start.tv_usec) + static_cast<int64_t>(seconds * 1e6);
    timeval deadline;
    deadline.tv_sec = start.tv_sec + static_cast<int32_t>(usec / 1000000);
    deadline.tv_usec = static_cast<int32_t>(usec % 1000000);
    return deadline;
}

}  // namespace

void WaitUntilAcknowledged(request_t *r, const timeval &start, double seconds) {
    timeval deadline = add_seconds(start, seconds);
    // The condition object may hold a stored signal (it starts with one), so a return without
    // a time-out is only a reason to look at acked again.
    while (r->acked.load() == 0) {
        if (cond_timedwait(&r->cond, &r->mutex, &deadline) == COND_TIMEDOUT) {
            break;
        }
    }
}

transmission_t TransmitRetrying(request_t *r, const char *text, int32_t length, bool reliable) {
    transmission_t t{};
    int left = reliable ? kReliableTransmissions : 1;
    t.interval = reliable ? kFirstInterval : 0;
    gettimeofday(&t.start, nullptr);
    while (r->acked.load() == 0 && left > 0 && t.result == 0) {
        t.result = ResponseSendSocket(r, text, length);
        if (left > 1 && t.result == 0) {
            // Deadlines count from the start, not from the previous send.
            WaitUntilAcknowledged(r, t.start, t.interval);
        }
        left--;
        t.interval *= 2;
    }
    return t;
}

}  // namespace sipline
