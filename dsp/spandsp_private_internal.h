// The layout of spandsp 0.0.6's states, for the few places that must reach inside one.
#pragma once

#include "dsp/spandsp_internal.h"

// adsi_tx_put_message always appends a correct checksum, adsi_rx hides its FSK receiver, and a
// super_tone_tx step is linked to its nested steps by hand: the caller-ID sender's damaged
// checksum, the receiver's signal cutoff and the cadence's repetition reach into the layouts
// that these private headers give for 0.0.6.
#include <spandsp/complex.h>
#include <spandsp/queue.h>
#include <spandsp/tone_detect.h>

#include <spandsp/private/logging.h>
#include <spandsp/private/queue.h>
#include <spandsp/private/tone_detect.h>
#include <spandsp/private/tone_generate.h>

#include <spandsp/private/async.h>
#include <spandsp/private/dtmf.h>
#include <spandsp/private/fsk.h>

#include <spandsp/private/adsi.h>
#include <spandsp/private/super_tone_tx.h>

#undef lrint
#undef lrintf
