// What the schedule thread and the media session do to ScheduleList besides inserting, and
// the seam through which tests run deadlines without an RTP session.
#pragma once

#include <cstdint>

#include "media/schedule.h"

namespace sipline {

// Milliseconds until the earliest deadline from now (rounded up, so that a wake-up on time
// finds it due), 0 when it is due, INFINITE with an empty list.
uint32_t ScheduleSleepLength(double now);
// Unlinks and returns the earliest entry if it is due at now; null otherwise.
schedule_entry_t *ScheduleTakeDue(double now);
// Releases the entry's event without running it, then the entry.
void ScheduleDiscardEntry(schedule_entry_t *entry);
// The end of a session: its pending deadlines are released.
void ScheduleDiscardContext(int32_t context);
// The end of a call: every deadline but those of the session still open is released.
void ScheduleDiscardClosed();
int32_t ScheduleLength();

// How a deadline is run and how one is released; RTPExecute and RTPDiscardEvent unless a test
// set others. Null fields restore those.
struct schedule_hooks_t {
    rtperror (*run)(int32_t context, rtp_event_t *event);
    void (*discard)(rtp_event_t *event);
};
void ScheduleSetHooks(const schedule_hooks_t &hooks);
// Runs one deadline through the run hook.
rtperror ScheduleRun(int32_t context, rtp_event_t *event);

}  // namespace sipline
