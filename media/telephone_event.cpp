#include "media/telephone_event.h"

#include <string_view>

namespace sipline {
namespace {

constexpr std::string_view kKeys = "0123456789*#ABCD";
constexpr int32_t kDtmfEvents = 16;

// Serial number arithmetic (RFC 1982) on 32-bit timestamps.
bool before(uint32_t a, uint32_t b) {
    return static_cast<int32_t>(a - b) < 0;
}

}  // namespace

int TelephoneEventRead(const uint8_t *payload, int32_t length, telephone_event_t *event) {
    if (payload == nullptr || length < TELEPHONE_EVENT_BYTES) {
        return -1;
    }
    event->event = payload[0];
    event->end = (payload[1] & 0x80) != 0;
    event->volume = payload[1] & 0x3F;
    event->duration = static_cast<uint16_t>(payload[2] << 8 | payload[3]);
    return 0;
}

void TelephoneEventWrite(const telephone_event_t &event, uint8_t *payload) {
    payload[0] = event.event;
    payload[1] = static_cast<uint8_t>((event.end ? 0x80 : 0) | (event.volume & 0x3F));
    payload[2] = static_cast<uint8_t>(event.duration >> 8);
    payload[3] = static_cast<uint8_t>(event.duration & 0xFF);
}

char TelephoneEventKey(int32_t event) {
    return event >= 0 && event < kDtmfEvents ? kKeys[static_cast<size_t>(event)] : 0;
}

int32_t TelephoneEventOfKey(char key) {
    const size_t at = kKeys.find(key >= 'a' && key <= 'd' ? static_cast<char>(key - 32) : key);
    return key != 0 && at != std::string_view::npos ? static_cast<int32_t>(at) : -1;
}

key_action_t telephone_event_receiver::take(uint32_t timestamp, bool marker,
                                            const telephone_event_t &e) {
    key_action_t a;
    if (e.event >= kDtmfEvents || (events_ & (1U << e.event)) == 0) {
        return a;
    }
    // One press has one timestamp (per segment): its packets update it, its end packets
    // (three of them) end it once, and anything older than the last press is late.
    if (state_ != state::idle && timestamp == timestamp_) {
        if (state_ == state::ended || e.event != event_) {
            return a;
        }
        const int32_t total = static_cast<int32_t>(timestamp_ - first_timestamp_) + e.duration;
        if (!e.end && total <= duration_) {
            return a;  // a repeat, or a reordered older update
        }
        duration_ = total > duration_ ? total : duration_;
        a = {false, e.end, TelephoneEventKey(event_), duration_, false};
        state_ = e.end ? state::ended : state::pressed;
        return a;
    }
    if (state_ != state::idle && before(timestamp, timestamp_)) {
        return a;
    }
    // A new segment of the same long press: same event, later timestamp, no marker.
    if (state_ == state::pressed && e.event == event_ && !marker &&
        timestamp - first_timestamp_ <= static_cast<uint32_t>(duration_) + TELEPHONE_EVENT_SEGMENT_MOST) {
        timestamp_ = timestamp;
        const int32_t total = static_cast<int32_t>(timestamp - first_timestamp_) + e.duration;
        duration_ = total > duration_ ? total : duration_;
        a = {false, e.end, TelephoneEventKey(event_), duration_, false};
        state_ = e.end ? state::ended : state::pressed;
        return a;
    }
    // A new press; its first packets may be lost (no marker), or only its end may have come.
    event_ = e.event;
    first_timestamp_ = timestamp;
    timestamp_ = timestamp;
    duration_ = e.duration;
    state_ = e.end ? state::ended : state::pressed;
    return {true, e.end, TelephoneEventKey(event_), duration_, false};
}

key_action_t telephone_event_receiver::expire() {
    if (state_ != state::pressed) {
        return {};
    }
    state_ = state::ended;
    return {false, true, TelephoneEventKey(event_), duration_, false};
}

event_packet_t telephone_event_sender::press(char key, int32_t held, int32_t gap, uint8_t volume) {
    held_ = true;
    duration_ = held;
    event_ = {static_cast<uint8_t>(TelephoneEventOfKey(key)), false, volume,
              static_cast<uint16_t>(duration_)};
    // The press began with the first frame held back, whose timestamp the event takes.
    return {event_, true, gap};
}

event_packet_t telephone_event_sender::hold(int32_t samples) {
    int32_t increment = 0;
    if (duration_ + samples > TELEPHONE_EVENT_SEGMENT_MOST) {
        // A new segment starts where the last one ends (RFC 4733 section 2.5.1.3).
        increment = duration_;
        duration_ = 0;
    }
    duration_ += samples;
    event_.duration = static_cast<uint16_t>(duration_);
    return {event_, false, increment};
}

event_packet_t telephone_event_sender::release(int32_t *next_increment) {
    held_ = false;
    event_.end = true;
    event_.duration = static_cast<uint16_t>(duration_);
    *next_increment = duration_;
    event_packet_t last{event_, false, 0};
    event_.end = false;
    return last;
}

}  // namespace sipline
