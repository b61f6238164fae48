// What the files of the call state machine share: the event being handled, the progress of the
// call in hand, and the steps with which a call ends. Main thread only.
#pragma once

#include <cstdint>

#include "gateway/channels.h"
#include "sip/uas/refresh_client.h"

namespace sipline {

struct call_event_t {
    int32_t device;
    int32_t type;
    uint16_t code;       // the first 16 bits of the event's data; 0 without data
    channel_t *channel;  // the channel whose device it names; null for any other device
};

// How far the call in hand has gone, for the steps that end it. Cleared when a call ends.
struct call_progress_t {
    bool answered;         // the 200 with the offer went to the caller
    bool audio_resumed;    // InTh and OutTh of this cycle were resumed
    bool streams_started;  // play on channel 1 and record on channel 3 were started
};
extern call_progress_t CallProgress;

// Moves CallState from `from` to `to` unless another thread has changed it meanwhile (the SIP
// side's CANCEL or BYE sets ST_CLEANUP at any time and posts the event that ends the call).
bool AdvanceCallState(int32_t from, int32_t to);
// Writes "Unhandled\n" to standard error; returns 0.
int Unhandled();
// Writes `format` to standard error with the device's last error code and text.
void ReportBoardError(const char *format, int32_t device);
void PutLineOnHook();
// Sets the state and ends the cycle: the call's record released, CallLoopRunning 0, `message`.
void EndCallCycle(const char *message);

// Pulses shdwnhandle, sets MediaStop, waits for InTh or OutTh if they were resumed, prints
// `closed`, and closes the media session if one is open.
void StopMedia(const char *closed);
// Stops the I/O of channels 1 and 3 whose I/O has not reported its end.
void StopLineIo();

// A SIP call whose INVITE has been accepted (its record holds the INVITE's Call-ID).
bool SipCallAccepted();
// Gives the INVITE of CurrentRequest a final answer without body, retransmitted until its ACK.
void AnswerInviteFinally(int32_t status);

// The handlers of the states, by the file of their purpose.
int LineRings(const call_event_t &e);          // ST_WTRING
int LineOffHook(const call_event_t &e);        // ST_RXOFFHK
int LineDigits(const call_event_t &e);         // ST_RXGETDTMFS
int SipInviteAccepted(const call_event_t &e);  // ST_SIPINV
int SipLineOffHook(const call_event_t &e);     // ST_TXOFFHK
int Dialled(const call_event_t &e);            // ST_TXDIAL
int CallEnds(const call_event_t &e);           // ST_CLEANUP
int StoppedIoReported(const call_event_t &e);  // ST_IODONE
int SipSetupFailed(const call_event_t &e);     // ST_SIPCLEANUP

// ST_TXDIAL's two ways on: the SIP call's dialling ended, or the line call's media is set up.
int ConnectSipCall();
int StartLineCallMedia();

// A call from the line to the directory entry's SIP URI (line_sip.cpp): the INVITE goes out on
// a thread of its own, and the states that follow its answers.
int CallOut(const call_event_t &e);
int LineCalling(const call_event_t &e);        // ST_LINECALLING
int LineRinging(const call_event_t &e);        // ST_LINERINGING
int LineAnswered(const call_event_t &e);       // ST_LINEANSWERED
int LineRefused(const call_event_t &e);        // ST_LINEREFUSED
int LineHungUpWaiting(const call_event_t &e);  // ST_LINEHANGUP
// The busy tone has been heard long enough, or the line's party hung up: the call ends.
int LineRefusalHeard();
// The callee did not answer in time: the call is cancelled as when the line's party hangs up.
int LineCallGivenUp();
// Ends the call's SIP thread, if one runs, and waits for it: before the record it works on is
// changed for the BYE or released.
void LineSipCallEnd();
// Sends the BYE of the answered call in CurrentRequest (either direction) and waits for the send.
void SendBye();
// Sends the refresh of the session timer of the call in CurrentRequest (RFC 4028 section 10),
// as its refresher, asking for `interval`: an UPDATE when the far end's Allow lists it and it has
// not refused one, else a re-INVITE offering the session as it stands. `done` gets the answer on
// another thread. 0, or -1 when nothing was sent (an offer of the far end under way, a failed
// send).
int SendSessionRefresh(int32_t interval, bool update_refused, uint32_t token, refresh_done_t done);

}  // namespace sipline
