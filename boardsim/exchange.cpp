// The simulated exchange's own signals: the ring cadence with the caller's identity (Bell 202
// between the first and second ring, as GR-30 places it; V.23 and DTMF at the start, where an
// ETSI exchange sends them after its polarity reversal), and what the line carries once the far
// party has hung up in a country whose exchange keeps the loop up.
#include <vector>

#include "boardsim/state.h"
#include "dsp/g711.h"

namespace sipline::boardsim {
namespace {

// GR-30: the identity starts at least 500 ms after the first ring ends.
constexpr auto BELL_AFTER_RING = std::chrono::milliseconds(500);
// ETSI EN 300 659-1: the first signal follows the polarity reversal after 100 ms or more.
constexpr auto ETSI_AFTER_REVERSAL = std::chrono::milliseconds(250);
// ITU-T E.180 puts supervisory tones between -10 and -20 dBm0 per frequency.
constexpr int DISCONNECT_LEVEL_DBM0 = -13;

Clock::duration ms(int32_t n) {
    return std::chrono::milliseconds(n);
}

bool post_rings(Board &b) {
    bool reported = false;
    for (Channel &ch : b.channels) {
        if (ch.open && ch.rings_reported) {
            post(b, channel_handle(ch.number), TDX_CST, CST_RINGS);
            reported = true;
        }
    }
    return reported;
}

dsp::CallerId identity_of(const ring_request_t &caller) {
    dsp::CallerId id;
    id.date = "12091530";
    id.number = caller.number;
    id.name = caller.name;
    if (caller.withheld) {
        id.number_absence = id.name_absence = dsp::CallerIdAbsence::withheld;
    } else if (caller.unavailable) {
        id.number_absence = id.name_absence = dsp::CallerIdAbsence::unavailable;
    }
    return id;
}

void to_line(const int16_t *linear, uint8_t *said, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        said[i] = dsp::linear_to_ulaw(linear[i]);
    }
}

}  // namespace

std::string start_ringing(Board &b, const ring_request_t &caller) {
    if (b.line != Line::idle) {
        return "the line is busy";
    }
    if (b.off_hook) {
        return "the line is off-hook";
    }
    if (!post_rings(b)) {
        return "no channel is ready for rings";
    }
    const auto now = Clock::now();
    b.line = Line::ringing;
    b.ringing = Board::Ringing{};
    b.ringing.rings = 1;
    b.ringing.give_up_after = caller.rings;
    b.ringing.caller = caller;
    b.ringing.next_ring = now + ms(b.settings.ring_on_ms + b.settings.ring_off_ms);
    const bool identity = !caller.number.empty() || caller.withheld || caller.unavailable;
    if (b.settings.cid && identity) {
        b.identity_sender = dsp::CallerIdSender(b.settings.cid_standard);
        b.ringing.identity_at = b.settings.cid_standard == dsp::CallerIdStandard::bell
                                    ? now + ms(b.settings.ring_on_ms) + BELL_AFTER_RING
                                    : now + ETSI_AFTER_REVERSAL;
    }
    b.clock_wake.notify_all();
    return {};
}

void stop_ringing(Board &b) {
    b.ringing.next_ring.reset();
    b.ringing.identity_at.reset();
    b.identity_sender = dsp::CallerIdSender(b.settings.cid_standard);
}

void exchange_timers(Board &b, Clock::time_point now, Clock::time_point *next) {
    Board::Ringing &r = b.ringing;
    if (b.line != Line::ringing) {
        return;
    }
    if (r.identity_at && now >= *r.identity_at) {
        r.identity_at.reset();
        b.identity_sender.start(identity_of(r.caller), r.caller.bad_checksum);
    }
    if (r.next_ring && now >= *r.next_ring) {
        if (r.give_up_after > 0 && r.rings >= r.give_up_after) {
            stop_ringing(b);
            far_party_hangs_up(b);
            return;
        }
        post_rings(b);
        ++r.rings;
        *r.next_ring += ms(b.settings.ring_on_ms + b.settings.ring_off_ms);
    }
    for (const auto &timer : {r.next_ring, r.identity_at}) {
        if (timer) {
            *next = std::min(*next, *timer);
        }
    }
}

bool exchange_says(Board &b, uint8_t *said, size_t count) {
    std::vector<int16_t> linear(count, 0);
    if (b.line == Line::ringing) {
        b.identity_sender.generate(linear.data(), static_cast<int>(count));
    } else if (b.line == Line::connected && b.far_party_gone) {
        b.disconnect_tone.generate(linear.data(), static_cast<int>(count));
    } else {
        return false;
    }
    to_line(linear.data(), said, count);
    return true;
}

bool far_party_leaves_quietly(Board &b) {
    if (b.line != Line::connected || b.settings.disconnect == Disconnect::loop ||
        b.far_party_gone) {
        return false;
    }
    b.far_party_gone = true;
    if (b.settings.disconnect == Disconnect::tone) {
        b.disconnect_tone.start(b.settings.disconnect_tone, DISCONNECT_LEVEL_DBM0);
    }
    return true;
}

}  // namespace sipline::boardsim
