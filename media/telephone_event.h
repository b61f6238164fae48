// RFC 4733 telephone-events for the sixteen DTMF keys: the payload, the receiver that turns a
// stream of event packets into key presses (each press once, whatever is lost, repeated or
// reordered), and the sender's packet plan for a key held on the line.
#pragma once

#include <cstdint>

namespace sipline {

inline constexpr int32_t TELEPHONE_EVENT_BYTES = 4;
inline constexpr int32_t TELEPHONE_EVENT_END_PACKETS = 3;  // RFC 4733 section 2.5.1.4
// RFC 4733 section 2.5.1.3: a press longer than a 16-bit duration goes on in a new segment.
inline constexpr int32_t TELEPHONE_EVENT_SEGMENT_MOST = 0xFFFF;

struct telephone_event_t {
    uint8_t event;      // 0-9, 10 *, 11 #, 12-15 A-D
    bool end;
    uint8_t volume;     // dBm0 below 0, 0-63
    uint16_t duration;  // timestamp units (samples)
};

// 0, or -1 for a payload shorter than an event (a longer one may carry more: RFC 4733
// section 2.5.1.5 redundancy is not read).
int TelephoneEventRead(const uint8_t *payload, int32_t length, telephone_event_t *event);
void TelephoneEventWrite(const telephone_event_t &event, uint8_t *payload);
// '0'-'9', '*', '#', 'A'-'D' for events 0-15, 0 for any other.
char TelephoneEventKey(int32_t event);
// The event of a key, or -1.
int32_t TelephoneEventOfKey(char key);

// What one received event packet means for the line.
struct key_action_t {
    bool start = false;  // a new press of `key` begins (a press before it, if any, is over)
    bool end = false;    // the press is over; `duration` is its whole length
    char key = 0;
    int32_t duration = 0;  // samples of the press so far (both when neither flag is set)
    bool ignored = true;   // the packet changes nothing (repeat, late, out of the agreed events)
};

// One call's receiver: the packets of one SSRC, in arrival order.
class telephone_event_receiver {
  public:
    // Events outside `events` (bit n: event n) are ignored.
    explicit telephone_event_receiver(uint16_t events) : events_(events) {}

    key_action_t take(uint32_t timestamp, bool marker, const telephone_event_t &event);
    // The events agreed anew (a re-INVITE); a press under way goes on.
    void set_events(uint16_t events) { events_ = events; }
    bool pressed() const { return state_ == state::pressed; }
    // The press in progress is over without its end packets (they were lost): its action.
    key_action_t expire();

  private:
    enum class state { idle, pressed, ended };
    uint16_t events_;
    state state_ = state::idle;
    uint8_t event_ = 0;
    uint32_t first_timestamp_ = 0;  // of the press's first segment
    uint32_t timestamp_ = 0;        // of its current segment (or of the last press ended)
    int32_t duration_ = 0;
};

// The sender's side for one call: what to send for each 20-ms frame while a key is held on the
// line, and after it is let go. The RTP engine advances the timestamp by each packet's
// increment before it writes it.
struct event_packet_t {
    telephone_event_t event;
    bool marker;
    int32_t timestamp_increment;
};

class telephone_event_sender {
  public:
    // A key went down `held` samples before the frame now due (the frames held back for the
    // detector), `gap` samples after the timestamp of the last packet sent. The first packet.
    event_packet_t press(char key, int32_t held, int32_t gap, uint8_t volume);
    // One more frame of the held key: the next packet.
    event_packet_t hold(int32_t samples);
    // The key was let go: the end packets (TELEPHONE_EVENT_END_PACKETS, all the same), and the
    // increment the next audio packet needs to stand where the press ended.
    event_packet_t release(int32_t *next_increment);
    bool held() const { return held_; }

  private:
    bool held_ = false;
    telephone_event_t event_{};
    int32_t duration_ = 0;  // of the current segment
};

}  // namespace sipline
