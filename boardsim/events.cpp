#include <cstring>

#include "boardsim/state.h"

namespace sipline {

using boardsim::Board;
using boardsim::board;

int srl_wait_event(int32_t limit_ms) {
    Board &b = board();
    std::unique_lock lock(b.mutex);
    auto ready = [&] { return !b.events.empty(); };
    if (limit_ms < 0) {
        b.events_ready.wait(lock, ready);
    } else if (!b.events_ready.wait_for(lock, std::chrono::milliseconds(limit_ms), ready)) {
        return -1;
    }
    b.current = b.events.front();
    b.events.pop_front();
    return 0;
}

int32_t srl_event_device() {
    Board &b = board();
    std::lock_guard lock(b.mutex);
    return b.current.device;
}

int32_t srl_event_type() {
    Board &b = board();
    std::lock_guard lock(b.mutex);
    return b.current.type;
}

void *srl_event_data() {
    Board &b = board();
    std::lock_guard lock(b.mutex);
    return b.current.data.data();
}

int srl_post_event(int32_t device, int32_t type, int32_t length, void *data, int32_t) {
    Board &b = board();
    std::lock_guard lock(b.mutex);
    if (device != boardsim::BOARD_HANDLE && boardsim::channel_of(b, device) == nullptr) {
        return -1;
    }
    boardsim::Event e;
    e.device = device;
    e.type = type;
    if (data != nullptr && length > 0) {
        std::memcpy(e.data.data(), data, std::min(static_cast<size_t>(length), e.data.size()));
    }
    b.events.push_back(e);
    b.events_ready.notify_one();
    return 0;
}

const char *srl_last_error_text(int32_t device) {
    Board &b = board();
    std::lock_guard lock(b.mutex);
    return boardsim::error_of(b, device)->text.c_str();
}

int32_t srl_last_error_code(int32_t device) {
    Board &b = board();
    std::lock_guard lock(b.mutex);
    return boardsim::error_of(b, device)->code;
}

const char *srl_device_name(int32_t device) {
    Board &b = board();
    std::lock_guard lock(b.mutex);
    if (device == boardsim::BOARD_HANDLE) {
        return "dxxxB1";
    }
    if (boardsim::Channel *ch = boardsim::channel_of(b, device);
        ch != nullptr && !ch->name.empty()) {
        return ch->name.c_str();
    }
    return "unknown device";
}

}  // namespace sipline
