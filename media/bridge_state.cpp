#include "media/bridge_state.h"

namespace sipline {

std::atomic<int32_t> CallLoopRunning{1};
std::atomic<int32_t> QuitRequested{0};
std::atomic<int32_t> MediaStop{0};

HANDLE RtpMutex = nullptr;
HANDLE shdwnhandle = nullptr;
HANDLE RescheduleEvent = nullptr;

}  // namespace sipline
