#include "gateway/session_refresh.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <random>

#include "gateway/call_internal.h"
#include "gateway/globals.h"
#include "media/media_update.h"
#include "sip/sdp/offer_answer.h"
#include "sip/uas/refresh_client.h"

namespace sipline {
namespace {

using clock_type = std::chrono::steady_clock;

// The back-off after a refusal without Retry-After, doubling from 4 s up to 64 s.
constexpr int64_t RETRY_FIRST_MS = 4000;
constexpr int32_t RETRY_DOUBLINGS = 4;

struct timer_state {
    int32_t interval_s = 0;       // 0: no timer
    bool we_refresh = false;      // the gateway is the refresher
    int64_t refreshed_ms = 0;     // the last accepted refresh
    int64_t attempt_ms = 0;       // when the gateway's next refresh goes out
    int32_t asked_s = 0;          // the Session-Expires its refresh asks for (a 422 raises it)
    uint32_t token = 0;           // of the refresh on its way; 0 when none is
    uint32_t last_token = 0;      // the last one drawn; a stop draws past it
    int32_t refusals = 0;         // since the last accepted refresh
    bool update_refused = false;  // the far end answered UPDATE 405 or 501: re-INVITE from now on
    bool end_now = false;         // the far end no longer knows the dialog (408, 481, no answer)
    bool call_id_owner = false;   // the gateway made the call (its 491 back-off is the longer)
};

// Written by the SIP side's request threads (a far end's refresh), the refresh transaction's
// thread (its answer) and the main thread; read by the main thread before each wait. A change
// from another thread is followed by an event that wakes the main thread to compute its wait
// anew (a wake-up before a deadline only computes it again).
std::mutex state_mutex;
timer_state state;

int64_t now_ms() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               clock_type::now().time_since_epoch())
        .count();
}

// RFC 4028 section 10: without a refresh the session ends at the interval less a third of it
// or 32 s, whichever is less; the gateway as refresher gives up then too.
int64_t expiry_ms(const timer_state &s) {
    const int64_t interval_ms = int64_t{s.interval_s} * 1000;
    return s.refreshed_ms + interval_ms - std::min<int64_t>(32000, interval_ms / 3);
}

int64_t due_ms(const timer_state &s) {
    if (s.end_now) {
        return 0;
    }
    const int64_t expiry = expiry_ms(s);
    return s.we_refresh && s.token == 0 ? std::min(s.attempt_ms, expiry) : expiry;
}

void start_interval(timer_state &s, int32_t interval, bool gateway_refreshes) {
    s.interval_s = interval;
    s.we_refresh = gateway_refreshes;
    s.refreshed_ms = now_ms();
    // RFC 4028 section 10: the refresher refreshes at half the interval.
    s.attempt_ms = s.refreshed_ms + int64_t{interval} * 500;
    s.asked_s = interval;
    s.refusals = 0;
    s.end_now = false;
}

int64_t random_ms(int64_t low, int64_t high) {
    static std::mt19937 draw{std::random_device{}()};
    return std::uniform_int_distribution<int64_t>(low, high)(draw);
}

// The answer's description, where it moves the media (a far end that changed its address).
void take_answer(const char *body) {
    const sdp_local_t local{AdvertisedAddress, RTP_PORT, GatewayCodecs, GatewayCodecCount};
    media_description_t media = MediaDescriptionEmpty();
    if (body != nullptr && SdpReadAnswer(body, &local, &media) == 0) {
        MediaUpdate(media);
    }
}

// The rules for the answer to the gateway's refresh (RFC 4028 section 10, RFC 3261 section 14.1).
void answered(timer_state &s, const refresh_outcome_t &o) {
    const int64_t now = now_ms();
    const int32_t status = o.status;
    if (status >= 200 && status < 300) {
        if (o.granted_unreadable != 0) {
            std::printf(
                "Session refresh: the answer's Session-Expires is no number; the timer stays\n");
        }
        // A 2xx without Session-Expires (a far end without timers) leaves the timer as it was.
        const int32_t interval = o.granted.interval > 0 ? o.granted.interval : s.interval_s;
        const bool gateway_refreshes =
            o.granted.interval > 0 ? o.granted.uas_refreshes == 0 : s.we_refresh;
        start_interval(s, interval, gateway_refreshes);
        std::printf("Session refreshed: %d s, refreshed by the %s\n", interval,
                    gateway_refreshes ? "gateway" : "far end");
        return;
    }
    if (status == 408 || status == 481) {
        std::printf("Session refresh answered %d: the call ends\n", status);
        s.end_now = true;
        return;
    }
    if (status == 422 && o.min_se > s.asked_s && o.min_se <= SESSION_EXPIRES_MOST) {
        std::printf("Session refresh answered 422: asking again for %d s\n", o.min_se);
        s.asked_s = o.min_se;
        s.attempt_ms = now;
        return;
    }
    if ((status == 405 || status == 501) && o.invite == 0) {
        std::printf("Session refresh answered %d: re-INVITE from now on\n", status);
        s.update_refused = true;
        s.attempt_ms = now;
        return;
    }
    if (status == 491) {
        // RFC 3261 section 14.1: 2.1 to 4 s for the owner of the Call-ID, 0 to 2 s otherwise.
        s.attempt_ms = now + (s.call_id_owner ? random_ms(2100, 4000) : random_ms(0, 2000));
        std::printf("Session refresh answered 491: tried again in %lld ms\n",
                    static_cast<long long>(s.attempt_ms - now));
        return;
    }
    const int64_t wait_ms = o.retry_after > 0
                                ? int64_t{o.retry_after} * 1000
                                : RETRY_FIRST_MS << std::min(s.refusals, RETRY_DOUBLINGS);
    s.refusals++;
    s.attempt_ms = now + wait_ms;
    std::printf(
        "Session refresh refused %d: tried again in %lld s, the call ends in %lld s without a "
        "refresh\n",
        status, static_cast<long long>(wait_ms / 1000),
        static_cast<long long>(std::max<int64_t>(0, expiry_ms(s) - now) / 1000));
}

// The refresh transaction's thread, once its final answer or its timeout came.
void refresh_done(uint32_t token, const refresh_outcome_t *outcome) {
    {
        std::lock_guard lock(state_mutex);
        if (token == 0 || token != state.token) {
            return;  // the call ended or its timer changed meanwhile
        }
        state.token = 0;
        answered(state, *outcome);
    }
    if (outcome->status >= 200 && outcome->status < 300 && outcome->invite != 0) {
        take_answer(outcome->body);
    }
    SessionTimerWake();
}

void end_call() {
    std::printf("Session expired: no refresh came\n");
    StopMedia("Session expired: objects closed\n");
    StopLineIo();
    SendBye();
    EndCallCycle("Session expired\n");
}

}  // namespace

void SessionTimerWake() {
    // In the connected state the event changes nothing but the wait; in any other the timer
    // does not run.
    if (CallState.load() == ST_CLEANUP) {
        PostLineEvent(EV_CALL_PROGRESS);
    }
}

void SessionTimerArm(int32_t interval, bool gateway_refreshes) {
    {
        std::lock_guard lock(state_mutex);
        if (interval <= 0) {
            state = timer_state{.last_token = state.last_token + 1};
            return;
        }
        start_interval(state, interval, gateway_refreshes);
    }
    std::printf("Session timer: %d s, refreshed by the %s\n", interval,
                gateway_refreshes ? "gateway" : "far end");
}

int32_t SessionTimerWaitMs() {
    std::lock_guard lock(state_mutex);
    if (state.interval_s <= 0) {
        return -1;
    }
    return static_cast<int32_t>(std::clamp<int64_t>(due_ms(state) - now_ms(), 0, INT32_MAX));
}

void SessionTimerDue() {
    std::unique_lock lock(state_mutex);
    const int64_t now = now_ms();
    if (state.interval_s <= 0 || now < due_ms(state)) {
        return;
    }
    if (state.end_now || now >= expiry_ms(state)) {
        state = timer_state{.last_token = state.last_token + 1};
        lock.unlock();
        end_call();
        return;
    }
    const uint32_t token = ++state.last_token == 0 ? ++state.last_token : state.last_token;
    state.token = token;
    state.call_id_owner = CurrentRequest.load()->outgoing != 0;
    const int32_t asked = state.asked_s;
    const bool update_refused = state.update_refused;
    lock.unlock();
    if (SendSessionRefresh(asked, update_refused, token, refresh_done) != 0) {
        std::lock_guard relock(state_mutex);
        if (state.token == token) {
            // Not sent (an offer of the far end under way, or the send failed): soon again.
            state.token = 0;
            state.attempt_ms = now_ms() + 1000;
        }
    }
}

}  // namespace sipline
