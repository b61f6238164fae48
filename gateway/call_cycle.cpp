#include "gateway/call_cycle.h"

#include <malloc.h>

#include <cstdio>
#include <cstdlib>

#include "board/board.h"
#include "gateway/channels.h"
#include "gateway/globals.h"
#include "gateway/process_event.h"
#include "gateway/reload.h"
#include "gateway/sip_side.h"
#include "media/threads.h"

namespace sipline {
namespace {

constexpr uint32_t THREAD_END_MS = 1000;

}  // namespace

void RunCallCycles() {
    while (QuitRequested == 0) {
        std::printf("Creating InTh\n");
        AudioThreads[0] = CreateThread(InTh, nullptr, CREATE_SUSPENDED);
        SetThreadPriority(AudioThreads[0], 0);
        std::printf("Creating OutTh\n");
        AudioThreads[1] = CreateThread(OutTh, nullptr, CREATE_SUSPENDED);
        SetThreadPriority(AudioThreads[1], 0);
        LocalAddress = nullptr;
        LocalPort = RTP_PORT;

        while (CallLoopRunning == 1) {
            ReloadApply(stderr);
            if (srl_wait_event(EventTimeLimitMs()) == 0) {
                if (srl_event_type() != EV_RELOAD) {
                    ProcessEvent(srl_event_device(), srl_event_type(), srl_event_data());
                }
            } else {
                ProcessTimeLimit();
            }
        }

        std::fprintf(stderr, "Setting channels onhook\n");
        dx_sethook(Channels[LINE_CHANNEL].device, DX_ONHOOK, EV_SYNC);
        dx_close_device(Channels[LINE_CHANNEL].device);
        dx_close_device(Channels[RECORD_CHANNEL].device);
        std::fprintf(stderr, "Set onhook\n");
        DismissAudioThreads();
        // What a call allocated is free again: a hostile stream's member table runs to megabytes,
        // and without this the allocator keeps them, in whichever thread's arena they came from.
        malloc_trim(0);

        if (QuitRequested == 0) {
            std::printf("Initing globals\n");
            if (InitGlobals() != 0) {
                std::exit(1);
            }
            std::printf("Globals inited\n");
            sip_side::NewCurrentRequest();
            CallState = ST_WTRING;
        }
    }
}

void DismissAudioThreads() {
    // A pair that no call resumed starts now and, finding MediaStop set, returns at once; a pair
    // that ran is ending already.
    MediaStop = 1;
    for (HANDLE &thread : AudioThreads) {
        if (thread == nullptr) {
            continue;
        }
        ResumeThread(thread);
        if (WaitForSingleObject(thread, THREAD_END_MS) != WAIT_OBJECT_0) {
            std::fprintf(stderr, "An audio thread of the last call did not end; left running\n");
        }
        CloseHandle(thread);
        thread = nullptr;
    }
}

}  // namespace sipline
