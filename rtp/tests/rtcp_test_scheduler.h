// The application side of RTCP timing for unit tests: a scheduler that keeps the engine's events
// in time order and runs them when a test moves its clock. Include it in exactly one file of a
// test program: it defines ScheduleRTPEvent.
#pragma once

#include <map>
#include <utility>

#include "rtp/rtp.h"

namespace sipline::test {

struct ScheduledEvent {
    int32_t context;
    rtp_event_t *event;
};

// Due time in microseconds -> events, in the order they were scheduled.
inline std::multimap<int64_t, ScheduledEvent> scheduled;

inline int64_t Micros(const timeval &t) {
    return int64_t{t.tv_sec} * 1000000 + t.tv_usec;
}

// Hands every event due at or before now to RTPExecute, earliest first, including those that
// running them schedules for no later than now. Returns how many ran.
inline int RunDue(const timeval &now) {
    int ran = 0;
    while (!scheduled.empty() && scheduled.begin()->first <= Micros(now)) {
        ScheduledEvent e = scheduled.begin()->second;
        scheduled.erase(scheduled.begin());
        RTPExecute(e.context, e.event);
        ran++;
    }
    return ran;
}

// The engine frees events of contexts that are gone when they are executed.
inline void DrainScheduled() {
    while (!scheduled.empty()) {
        ScheduledEvent e = scheduled.begin()->second;
        scheduled.erase(scheduled.begin());
        RTPExecute(e.context, e.event);
    }
}

}  // namespace sipline::test

namespace sipline {
void ScheduleRTPEvent(int32_t context, rtp_event_t *event, const timeval *due) {
    test::scheduled.emplace(test::Micros(*due), test::ScheduledEvent{context, event});
}
}  // namespace sipline
