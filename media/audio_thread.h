// What the two audio threads share: the test that their call still runs, and the RTP context
// lock with its time limit.
#pragma once

#include <cstdint>

#include "media/bridge_state.h"
#include "media/session_internal.h"

namespace sipline {

inline constexpr uint32_t RTP_MUTEX_WAIT_MS = 1000;

// The call that the thread was resumed for still runs: its loop is on, nobody asked it to stop,
// and its session (noted as `serial` when the thread started) is still the open one.
inline bool call_still_runs(uint64_t serial) {
    return CallLoopRunning == 1 && QuitRequested == 0 && MediaStop == 0 &&
           MediaSessionSerial() == serial;
}

// One block's time in milliseconds, within [lowest, highest].
inline uint32_t block_ms(int32_t block, uint32_t lowest, uint32_t highest) {
    const int64_t ms = block / 8;
    return static_cast<uint32_t>(ms < lowest ? lowest : ms > highest ? highest : ms);
}

// RtpMutex for at most RTP_MUTEX_WAIT_MS; released with the holder.
class rtp_mutex_hold {
  public:
    rtp_mutex_hold() : held_(WaitForSingleObject(RtpMutex, RTP_MUTEX_WAIT_MS) == WAIT_OBJECT_0) {}
    ~rtp_mutex_hold() {
        if (held_) {
            ReleaseMutex(RtpMutex);
        }
    }
    rtp_mutex_hold(const rtp_mutex_hold &) = delete;
    rtp_mutex_hold &operator=(const rtp_mutex_hold &) = delete;
    bool held() const { return held_; }

  private:
    bool held_;
};

}  // namespace sipline
