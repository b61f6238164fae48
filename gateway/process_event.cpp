#include "gateway/process_event.h"

#include <cstdio>
#include <cstring>

#include "board/board.h"
#include "gateway/globals.h"

namespace sipline {

// Until the call state machine is built, every event is shown and nothing changes.
int ProcessEvent(int32_t device, int32_t type, void *data) {
    uint16_t code = 0;
    if (data != nullptr) {
        std::memcpy(&code, data, sizeof code);
    }
    std::printf("ProcessEvent entered: State:%d, evttype: %d, %s\n", device, type,
                srl_last_error_text(device));
    std::printf("ProcessEvent (call state machine not built yet): %s code %u on %s in state %d\n",
                board_event_name(type), code, srl_device_name(device), CallState.load());
    return 0;
}

}  // namespace sipline
