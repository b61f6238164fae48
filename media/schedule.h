// The RTP engine's deadlines (the next RTCP report, a farewell BYE), kept in time order until
// RTPScheduleProc runs them with RTPExecute. ScheduleRTPEvent (rtp/rtcp_timing.h) is the door
// through which the engine hands them over; it is defined in schedule.cpp.
#pragma once

#include <cstdint>
#include <mutex>

#include "rtp/rtcp_timing.h"

namespace sipline {

struct schedule_entry_t {
    int32_t context;         // the session the deadline belongs to
    rtp_event_t *event;      // the engine's, handed back to RTPExecute or RTPDiscardEvent
    double due;              // absolute seconds
    schedule_entry_t *next;  // the next later entry
};

// Pending deadlines in ascending due time; entries of equal due time in the order they were
// scheduled. Inserted by every thread that is inside the engine (main, InTh, the schedule
// thread itself), read and emptied by the schedule thread; always under ScheduleLock.
extern schedule_entry_t *ScheduleList;
std::unique_lock<std::mutex> ScheduleLock();

// Links the entry (which the list then owns) in its place. A new earliest entry prints
// "Inserting new or earlier" and sets RescheduleEvent, so that the schedule thread's current
// sleep is cut short and its length recomputed.
void ScheduleInsert(schedule_entry_t *entry);

}  // namespace sipline
