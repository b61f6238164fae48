#include "media/probe.h"

#include <ctime>

namespace sipline {

std::atomic<const media_probe_t *> MediaProbe{nullptr};

double media_thread_cpu() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

void media_probe_thread_end(const char *thread) {
    const media_probe_t *probe = MediaProbe.load(std::memory_order_relaxed);
    if (probe != nullptr && probe->thread_cpu != nullptr) {
        probe->thread_cpu(thread, media_thread_cpu());
    }
}

}  // namespace sipline
