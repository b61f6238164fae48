// The values of CallState, the call state machine's state. The SIP side sets and tests them
// too, so they are defined once with the other values the two share.
#pragma once

#include "support/call_values.h"
