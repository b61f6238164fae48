// RTCP timing: the engine keeps no clock of its own. It hands every deadline (the next
// report, a farewell BYE) to the application's ScheduleRTPEvent, and the application calls
// RTPExecute with that event once it falls due.
#pragma once

#include <cstdint>

#include "rtp/errors.h"
#include "support/system.h"

namespace sipline {

// Owned by the engine; the application only keeps it and hands it back.
struct rtp_event_t;

// Supplied by the application: keep the event and call RTPExecute with it at or after due.
// Called from whatever thread is inside the engine.
void ScheduleRTPEvent(int32_t context, rtp_event_t *event, const timeval *due);

rtperror RTPExecute(int32_t context, rtp_event_t *event);

}  // namespace sipline
