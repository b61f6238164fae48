#include <pthread.h>

#include <cstdio>

#include "media/bridge_state.h"
#include "media/probe.h"
#include "media/schedule_internal.h"
#include "media/threads.h"
#include "support/system.h"

namespace sipline {
namespace {

constexpr uint32_t RTP_MUTEX_WAIT_MS = 1000;
// A deadline that met the RTP context held past the limit comes back this much later rather
// than running without the lock: the engine takes no lock of its own.
constexpr double BUSY_RETRY_SECONDS = 0.1;

void run_due() {
    while (schedule_entry_t *entry = ScheduleTakeDue(time_now())) {
        if (WaitForSingleObject(RtpMutex, RTP_MUTEX_WAIT_MS) != WAIT_OBJECT_0) {
            entry->due = time_now() + BUSY_RETRY_SECONDS;
            ScheduleInsert(entry);
            return;
        }
        // The engine owns the event again from here, whatever the result.
        ScheduleRun(entry->context, entry->event);
        ReleaseMutex(RtpMutex);
        delete entry;
    }
}

}  // namespace

uint32_t RTPScheduleProc(void *) {
    pthread_setname_np(pthread_self(), "RTPSchedule");
    HANDLE wakers[2] = {RescheduleEvent, shdwnhandle};
    std::printf("ScheduleProc started\n");
    while (QuitRequested == 0) {
        // Reset before the head is read: an insertion after the reading sets it again and
        // ends the wait below at once.
        ResetEvent(RescheduleEvent);
        uint32_t limit = ScheduleSleepLength(time_now());
        uint32_t reason = WaitForMultipleObjects(2, wakers, false, limit);
        if (reason == WAIT_OBJECT_0) {
            std::printf("Rescheduling\n");
        } else if (reason == WAIT_OBJECT_0 + 1) {
            ScheduleDiscardClosed();
        } else if (reason == WAIT_TIMEOUT) {
            run_due();
        } else {
            std::printf("RTPScheduleProc: reason = %d\n", static_cast<int>(reason));
        }
    }
    media_probe_thread_end("RTPScheduleProc");
    return 0;
}

}  // namespace sipline
