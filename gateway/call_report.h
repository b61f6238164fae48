// The record of the call in hand, kept by the call state machine for the gateway's watchers
// (gateway/watch.h). Main thread, except that GatewayCurrentCall and GatewayCallInProgressEnded
// read and close it from any thread.
#pragma once

namespace sipline {

// A call begins: start time now, the direction a CALL_ constant.
void CallReportOpen(const char *direction);
// Who calls and which number; either may be null to keep what is known.
void CallReportParty(const char *caller, const char *number);
// The call was answered and sends `codec` (null: not known).
void CallReportAnswered(const char *codec);
// Why and by whom the call ends; the first cause given stands.
void CallReportEnding(const char *reason, const char *side);
// A SIP call refused before it reached the line (its record is not the call in hand): any thread.
// reason: "refused ...".
void CallReportRefused(const char *caller, const char *number, const char *reason);
// The call has ended: its record, with the media figures, goes to the watcher. Nothing when no
// call is open.
void CallReportClose();

}  // namespace sipline
