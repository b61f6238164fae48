#include "gateway/ending.h"

#include <pthread.h>
#include <signal.h>

#include <cstdio>
#include <cstdlib>

#include "gateway/call_cycle.h"
#include "gateway/globals.h"

namespace sipline {
namespace {

constexpr uint32_t THREAD_END_MS = 1000;

sigset_t end_signals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

uint32_t take_end_signal(void *) {
    sigset_t set = end_signals();
    int signal = 0;
    while (sigwait(&set, &signal) != 0) {
    }
    std::fprintf(stderr, "Ending on signal %d\n", signal);
    EndFromOutside();
}

}  // namespace

void WatchForEndSignals() {
    sigset_t set = end_signals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    CloseHandle(CreateThread(take_end_signal, nullptr, 0));
}

void EndFromOutside() {
    // Every thread that waits on the host's objects must be gone before exit() destroys them.
    QuitRequested = 1;
    PulseEvent(shdwnhandle);
    PulseEvent(RescheduleEvent);
    DismissAudioThreads();
    if (ReceiveThread != nullptr) {
        WaitForSingleObject(ReceiveThread, THREAD_END_MS);
    }
    std::exit(0);
}

}  // namespace sipline
