// The media bridge's threads: RTCP scheduling for the life of the process, and one pair of
// audio threads per call.
#pragma once

#include <cstdint>

namespace sipline {

uint32_t RTPScheduleProc(void *unused);
uint32_t InTh(void *unused);
uint32_t OutTh(void *unused);

}  // namespace sipline
