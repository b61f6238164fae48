// What the audio threads need of the session beyond its public door.
#pragma once

#include <cstdint>

namespace sipline {

// Changes whenever a session opens or closes. An audio thread notes it when it starts and
// stops as soon as it changes, so that it never works on a later call's session, whatever
// the call flags say by then.
uint64_t MediaSessionSerial();

// The text of the local member's CNAME: "user@host" of the call's To URI; for a call without
// one (from the line) the gateway's host name alone.
void MediaCname(char *text, int32_t size);

}  // namespace sipline
