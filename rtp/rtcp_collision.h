// Two records of one participant (found to share a CNAME) become one.
#pragma once

#include "rtp/context_internal.h"

namespace sipline {

// Folds the record with the higher unique id into the one with the lower id and deletes it;
// the merge log keeps the old id finding the kept record. Returns the kept record.
rtp_member_t *RTCPMergeMembers(rtp_context_t *ctx, rtp_member_t *a, rtp_member_t *b);

}  // namespace sipline
