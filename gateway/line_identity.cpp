#include "gateway/line_identity.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

#include "board/board.h"
#include "dsp/caller_id.h"
#include "dsp/g711.h"
#include "gateway/channels.h"
#include "gateway/globals.h"
#include "media/bridge_state.h"

namespace sipline {
namespace {

using clock_type = std::chrono::steady_clock;

// A ring cadence's longest pause (the US and most of Europe: 4 s, the UK: 2 s between pairs)
// with room: past it after the last ring, the caller has given up.
constexpr auto RINGING_GONE = std::chrono::milliseconds(8000);
// The listener looks for recorded blocks this often: a block is 20 to 96 ms of audio, and the
// FSK demodulator keeps its own state between them.
constexpr auto LISTEN_POLL = std::chrono::milliseconds(10);

struct identity_state {
    line_settings_t settings;
    dsp::CallerIdStandard standard = dsp::CallerIdStandard::bell;
    bool enabled = false;
    int32_t rings = 0;
    clock_type::time_point last_ring;
    bool recording = false;
    std::thread listener;
    // Written by the main thread before it starts the listener and after it has joined it;
    // read by the listener in between.
    std::atomic<bool> stop{false};
    // The listener's findings: written by it under the mutex, read by the main thread under it
    // (after EV_CALLER_ID or at the stop).
    std::mutex mutex;
    bool heard = false;
    dsp::CallerId id;
    std::string refusal;
    line_caller_t caller;
};

// Never destroyed: a listener still running when the process exits must not meet a joinable
// std::thread's destructor (which ends the process with std::terminate).
identity_state &state() {
    static identity_state *s = new identity_state;
    return *s;
}

void listen(stream_t stream, int32_t block, dsp::CallerIdStandard standard) {
    identity_state &s = state();
    dsp::CallerIdReceiver rx(standard);
    std::vector<int16_t> linear(static_cast<size_t>(block));
    std::string refusal;
    while (!s.stop.load()) {
        const uint8_t *data = tuvo_next_recorded_block(stream);
        if (data == nullptr) {
            std::this_thread::sleep_for(LISTEN_POLL);
            continue;
        }
        for (size_t i = 0; i < linear.size(); ++i) {
            linear[i] = dsp::ulaw_to_linear(data[i]);
        }
        tuvo_release_block(stream, 0xFFFF);
        rx.feed(linear.data(), block);
        dsp::CallerId id;
        if (rx.identity(&id)) {
            {
                std::lock_guard lock(s.mutex);
                s.heard = true;
                s.id = std::move(id);
            }
            PostLineEvent(EV_CALLER_ID);
            return;
        }
        if (rx.refusal() != refusal) {
            refusal = rx.refusal();
            std::lock_guard lock(s.mutex);
            s.refusal = refusal;
        }
    }
}

const char *absence_text(dsp::CallerIdAbsence absence) {
    return absence == dsp::CallerIdAbsence::withheld ? "withheld" : "unavailable";
}

}  // namespace

void LineIdentityConfigure(const line_settings_t &settings) {
    identity_state &s = state();
    s.settings = settings;
    s.enabled = settings.caller_id != "off";
    s.standard = settings.caller_id == "v23"    ? dsp::CallerIdStandard::v23
                 : settings.caller_id == "dtmf" ? dsp::CallerIdStandard::dtmf
                                                : dsp::CallerIdStandard::bell;
}

bool LineIdentityEnabled() {
    return state().enabled;
}

int32_t LineIdentityRing() {
    identity_state &s = state();
    s.last_ring = clock_type::now();
    if (++s.rings > 1 || s.recording) {
        return s.rings;
    }
    s.caller = line_caller_t{};
    s.caller.listened = true;
    s.caller.why_absent = "none arrived";
    {
        std::lock_guard lock(s.mutex);
        s.heard = false;
        s.refusal.clear();
    }
    // The record channel hears the line on-hook; the call's own record starts afresh later.
    if (StartRecording(RECORD_CHANNEL) == -1) {
        std::fprintf(stderr, "Caller ID: the line cannot be listened to\n");
        return s.rings;
    }
    s.recording = true;
    s.stop = false;
    s.listener = std::thread(listen, Channels[RECORD_CHANNEL].stream, FWBuffersize, s.standard);
    return s.rings;
}

bool LineIdentityAnswerDue(int32_t rings) {
    return rings >= state().settings.answer_after_rings;
}

bool LineIdentityListening() {
    return state().rings > 0;
}

int32_t LineIdentityWaitMs() {
    identity_state &s = state();
    if (s.rings == 0) {
        return -1;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(s.last_ring + RINGING_GONE -
                                                                      clock_type::now());
    return left.count() > 0 ? static_cast<int32_t>(left.count()) : 0;
}

void LineIdentityStop() {
    identity_state &s = state();
    if (s.rings == 0) {
        return;
    }
    s.rings = 0;
    if (s.listener.joinable()) {
        s.stop = true;
        s.listener.join();
    }
    if (s.recording) {
        s.recording = false;
        dx_stop_io(Channels[RECORD_CHANNEL].device, 0);
    }
    std::lock_guard lock(s.mutex);
    line_caller_t &c = s.caller;
    if (s.heard && !s.id.number.empty()) {
        c.known = true;
        c.number = s.id.number;
        c.name = s.id.name;
        c.why_absent.clear();
        std::printf("Caller ID: %s%s%s%s\n", c.number.c_str(), c.name.empty() ? "" : " \"",
                    c.name.c_str(), c.name.empty() ? "" : "\"");
    } else if (s.heard) {
        c.why_absent = absence_text(s.id.number_absence);
        std::printf("Caller ID: number %s\n", c.why_absent.c_str());
    } else if (!s.refusal.empty()) {
        c.why_absent = "dropped: " + s.refusal;
        std::printf("Caller ID dropped: %s\n", s.refusal.c_str());
    } else {
        std::printf("Caller ID: none arrived before the answer\n");
    }
}

void LineIdentityRingingEnded() {
    std::printf("Ringing stopped before an answer: the caller gave up\n");
    LineIdentityStop();
    state().caller = line_caller_t{};
}

const line_caller_t &LineCaller() {
    return state().caller;
}

}  // namespace sipline
