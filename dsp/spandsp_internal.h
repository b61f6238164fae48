// The one place that includes spandsp (0.0.6), in the order its headers need.
#pragma once

// spandsp's headers are not self-contained: dtmf.h uses logging_state_t without including
// logging.h, g711.h's inline functions use top_bit() from bit_operations.h, and dtmf.h uses
// tone_report_func_t from super_tone_rx.h. <spandsp.h> itself pulls in <tiffio.h> and C99
// complex, so it is avoided.
#include <cmath>
#include <cstdint>
#include <cstdlib>

// Blank lines keep clang-format from sorting these into an order that does not compile.
#include <spandsp/telephony.h>

#include <spandsp/bit_operations.h>
#include <spandsp/logging.h>

#include <spandsp/super_tone_rx.h>

#include <spandsp/dtmf.h>
#include <spandsp/g711.h>
#include <spandsp/plc.h>
#include <spandsp/tone_generate.h>

#include <spandsp/power_meter.h>

#include <spandsp/async.h>
#include <spandsp/fsk.h>

#include <spandsp/adsi.h>
#include <spandsp/super_tone_tx.h>

// telephony.h defines lrint and lrintf as truncating macros under C++, which would silently
// change std::lrint for any code after this include.
#undef lrint
#undef lrintf
