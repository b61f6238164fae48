#include "gateway/ending.h"

#include <pthread.h>
#include <signal.h>

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "gateway/globals.h"

namespace sipline {
namespace {

std::atomic<bool> ending{false};

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
    ending = true;
    QuitRequested = 1;
    // The quick exit runs the exit handlers (the board's, then Cleanup) but destroys nothing:
    // the main thread and the waiting threads go on untouched until the process is gone, so
    // none of them can find an object destroyed under it.
    std::quick_exit(0);
}

void AwaitEndFromOutside() {
    while (ending.load()) {
        pause();
    }
}

}  // namespace sipline
