#include "board/board.h"

namespace sipline {

const char *board_event_name(int32_t type) {
    switch (type) {
        case EV_WAKEUP:
            return "EV_WAKEUP";
        case TDX_PLAY:
            return "TDX_PLAY";
        case TDX_RECORD:
            return "TDX_RECORD";
        case EV_DIGITS_DONE:
            return "EV_DIGITS_DONE";
        case EV_DIAL_DONE:
            return "EV_DIAL_DONE";
        case EV_SETUP_DONE:
            return "EV_SETUP_DONE";
        case TDX_CST:
            return "TDX_CST";
        case EV_HOOK_DONE:
            return "EV_HOOK_DONE";
        case EV_REMOTE_HANGUP:
            return "EV_REMOTE_HANGUP";
        case EV_CALL_PROGRESS:
            return "EV_CALL_PROGRESS";
        case EV_CALLER_ID:
            return "EV_CALLER_ID";
        case EV_LINE_DISCONNECT:
            return "EV_LINE_DISCONNECT";
        default:
            return "unknown";
    }
}

}  // namespace sipline
