#include "media/call_figures.h"

#include <cmath>
#include <mutex>

namespace sipline {
namespace {

constexpr double SAMPLES_PER_US = 8000.0 / 1e6;

// Written by the audio threads and the main thread, read by the watchers' threads: all under
// the mutex, held for a few stores.
std::mutex figures_mutex;
media_figures_t figures;
double jitter_samples = 0;
bool arrived = false;
uint32_t last_ts = 0;
int64_t last_arrival_us = 0;

}  // namespace

void MediaFiguresReset() {
    std::lock_guard lock(figures_mutex);
    figures = {};
    jitter_samples = 0;
    arrived = false;
}

void MediaFiguresArrival(uint32_t ts, int64_t arrival_us) {
    std::lock_guard lock(figures_mutex);
    if (arrived) {
        // RFC 3550 appendix A.8: D(i-1,i) in timestamp units, smoothed by 1/16.
        const double transit = static_cast<double>(arrival_us - last_arrival_us) * SAMPLES_PER_US -
                               static_cast<double>(static_cast<int32_t>(ts - last_ts));
        jitter_samples += (std::fabs(transit) - jitter_samples) / 16;
        figures.jitter_ms = jitter_samples / 8;
    }
    arrived = true;
    last_ts = ts;
    last_arrival_us = arrival_us;
}

void MediaFiguresPlayout(const dsp::JitterStats &stats) {
    std::lock_guard lock(figures_mutex);
    figures.received = stats.received;
    figures.lost = stats.lost;
    figures.concealed = stats.concealed;
    figures.delay_ms = stats.delay_ms;
}

void MediaFiguresSent(int32_t packets) {
    std::lock_guard lock(figures_mutex);
    figures.sent += packets;
}

void MediaFiguresRemoteLost(uint32_t cumulative_lost) {
    std::lock_guard lock(figures_mutex);
    figures.remote_lost = cumulative_lost;
}

media_figures_t MediaFigures() {
    std::lock_guard lock(figures_mutex);
    return figures;
}

}  // namespace sipline
