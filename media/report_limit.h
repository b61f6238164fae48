// At most one report a second of a recurring failure, so that a peer that sends garbage or a
// network that refuses every packet cannot flood the gateway's output.
#pragma once

#include <chrono>

namespace sipline {

// One per thread and message: not shared.
class once_a_second {
  public:
    // True when the message may be printed now; the refused ones are counted.
    bool due() {
        auto now = std::chrono::steady_clock::now();
        if (printed_ && now - last_ < std::chrono::seconds(1)) {
            ++suppressed_;
            return false;
        }
        printed_ = true;
        last_ = now;
        return true;
    }
    // How many were refused since the last print; reset by the reading.
    long take_suppressed() {
        long n = suppressed_;
        suppressed_ = 0;
        return n;
    }

  private:
    bool printed_ = false;
    std::chrono::steady_clock::time_point last_{};
    long suppressed_ = 0;
};

}  // namespace sipline
