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
// Called from whatever thread is inside the engine. A program that supplies none links
// against a default that drops every event (no RTCP is sent then).
void ScheduleRTPEvent(int32_t context, rtp_event_t *event, const timeval *due);

// Runs the event and frees it, whatever the result. An event that meets the session busy
// (another thread inside RTPReceive or RTPSendVector) is handed back to ScheduleRTPEvent
// 100 ms later, and the call fails with RTP_CANT_CALL_FUNCTION.
rtperror RTPExecute(int32_t context, rtp_event_t *event);

// For an application that throws pending deadlines away (the end of a call): frees the event
// without running it. Null is allowed.
void RTPDiscardEvent(rtp_event_t *event);

}  // namespace sipline
