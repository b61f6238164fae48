// The sending scheme that answers and requests share: one transmission, or up to seven with
// deadlines doubling from 0.5 s after the start, until the record is acknowledged.
#pragma once

#include <cstdint>

#include "sip/uas/request.h"

namespace sipline {

struct transmission_t {
    timeval start;
    double interval;  // as the loop left it: 0 for one transmission, 0.5 * 2^n after n
    int result;       // of the last send
};

// reliable selects the seven transmissions. The caller holds r->mutex when reliable is set.
transmission_t TransmitRetrying(request_t *r, const char *text, int32_t length, bool reliable);
// Waits on r->cond until the deadline start + seconds, or until r is acknowledged.
void WaitUntilAcknowledged(request_t *r, const timeval &start, double seconds);

}  // namespace sipline
