// The ringing line's caller: the identity the exchange sends between the rings, heard on the
// record channel while the line is still on-hook, and the ring count after which the gateway
// answers without it. Main thread only, but for the listener thread inside.
#pragma once

#include <cstdint>
#include <string>

#include "config/settings.h"

namespace sipline {

// Who called, as the call from the line presents it.
struct line_caller_t {
    bool listened = false;   // caller ID is on and was listened for
    bool known = false;      // a number arrived whole
    std::string number;      // digits
    std::string name;        // printable ASCII; empty when none came
    std::string why_absent;  // when not known: "withheld", "unavailable", or why it was dropped
};

// At start-up, from the [line] settings.
void LineIdentityConfigure(const line_settings_t &settings);
// Caller ID is on: rings are counted and the identity listened for.
bool LineIdentityEnabled();
// A ring: counts it (the first starts the listener) and returns how many came.
int32_t LineIdentityRing();
// Whether the gateway answers now, after `rings` rings.
bool LineIdentityAnswerDue(int32_t rings);
// The listener runs (rings came, no answer yet).
bool LineIdentityListening();
// Milliseconds until the ringing counts as given up; -1 when nothing is listened for.
int32_t LineIdentityWaitMs();
// Ends the listening (before the answer, or when the caller gave up or the line went
// elsewhere) and keeps what it heard as the caller, with a line saying so. Harmless when idle.
void LineIdentityStop();
// The caller gave up before the answer: the listening ends and the count starts afresh.
void LineIdentityRingingEnded();
// The caller of the call in hand.
const line_caller_t &LineCaller();

}  // namespace sipline
