// RFC 4733 event packets as the network may deliver them: each input is a run of packets of
// 9 bytes (timestamp, marker, the 4-byte event), fed to the call's receiver in order. A press
// begins once and ends at most once, and the tone's length is never negative.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "media/telephone_event.h"
#include "sip/sdp/media_description.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    sipline::telephone_event_receiver rx(size > 0 && (data[0] & 1) ? 0x0FFF : sipline::SDP_DTMF_EVENTS);
    bool pressed = false;
    for (size_t at = 1; at + 9 <= size; at += 9) {
        const uint8_t *p = data + at;
        const uint32_t timestamp = static_cast<uint32_t>(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3];
        sipline::telephone_event_t event{};
        if (sipline::TelephoneEventRead(p + 5, 4, &event) != 0) {
            std::abort();
        }
        const sipline::key_action_t a = rx.take(timestamp, (p[4] & 1) != 0, event);
        if (a.ignored) {
            continue;
        }
        if (a.duration < 0 || a.key == 0 || (!a.start && !pressed)) {
            std::abort();
        }
        pressed = a.start ? !a.end : pressed && !a.end;
    }
    rx.expire();
    return 0;
}
