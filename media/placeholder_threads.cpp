// Until the media bridge is built these threads only keep their places: they start, say so,
// and end when they are told to, so that the gateway's cycle of calls can be run and tested.
#include <cstdio>

#include "media/bridge_state.h"
#include "media/threads.h"

namespace sipline {
namespace {

constexpr uint32_t LOOK_MS = 200;  // how soon a placeholder notices that it must end

}  // namespace

uint32_t RTPScheduleProc(void *) {
    std::printf("ScheduleProc started (placeholder: RTCP scheduling is not built yet)\n");
    HANDLE wakers[2] = {RescheduleEvent, shdwnhandle};
    while (QuitRequested == 0) {
        // Woken by a pulse or by the time limit alike: the loop condition decides.
        WaitForMultipleObjects(2, wakers, false, LOOK_MS);
    }
    return 1;
}

namespace {

uint32_t audio_placeholder(const char *name) {
    if (MediaStop != 0) {
        return 0;
    }
    std::printf("%s started (placeholder: audio is not moved yet)\n", name);
    while (CallLoopRunning == 1 && QuitRequested == 0 && MediaStop == 0) {
        WaitForSingleObject(shdwnhandle, LOOK_MS);
    }
    std::printf("%s exiting\n", name);
    return 0;
}

}  // namespace

uint32_t InTh(void *) {
    return audio_placeholder("InTh");
}

uint32_t OutTh(void *) {
    return audio_placeholder("OutTh");
}

}  // namespace sipline
