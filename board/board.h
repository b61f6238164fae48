// The voice board, as the gateway reaches it: the event runtime, the voice functions and the
// stream buffers between the program and the board's play and record. Nothing else in the
// gateway knows how the board works; whatever stands behind these calls must accept exactly them
// and deliver the results and events described here.
#pragma once

#include <cstdint>

namespace sipline {

// Board event types. The event's device is a channel handle; its data begins with an unsigned
// 16-bit code. EV_WAKEUP and EV_REMOTE_HANGUP are posted, with no data, by the program's own
// threads (the SIP side, the network audio thread) to wake the call state machine.
inline constexpr int32_t EV_WAKEUP = 0;  // posted after CallState was changed
inline constexpr int32_t EV_REMOTE_HANGUP = 0x1ff8;
inline constexpr int32_t TDX_PLAY = 0x81;
inline constexpr int32_t TDX_RECORD = 0x82;
inline constexpr int32_t EV_DIGITS_DONE = 0x83;
inline constexpr int32_t EV_DIAL_DONE = 0x84;
inline constexpr int32_t EV_SETUP_DONE = 0x85;
inline constexpr int32_t TDX_CST = 0x86;       // call status; code 1: rings received
inline constexpr int32_t EV_HOOK_DONE = 0x87;  // code 1: now off-hook
// Posted, with no data, by the SIP side of a call from the line when the callee's answers moved
// CallState on.
inline constexpr int32_t EV_CALL_PROGRESS = 0x88;
// Posted, with no data, by the gateway's caller-ID listener when the ringing line's identity has
// arrived, and by the line's audio thread when the line says that its party has hung up (a
// disconnect tone or a long silence) while the loop stays up.
inline constexpr int32_t EV_CALLER_ID = 0x89;
inline constexpr int32_t EV_LINE_DISCONNECT = 0x8a;

inline constexpr uint16_t CST_RINGS = 1;

// The event type's name ("TDX_CST"), or "unknown".
const char *board_event_name(int32_t type);

// Hook states and modes of dx_sethook, dx_getdig, dx_dial and dx_play.
inline constexpr int32_t DX_ONHOOK = 0;
inline constexpr int32_t DX_OFFHOOK = 1;
inline constexpr uint16_t EV_SYNC = 0;
inline constexpr uint16_t EV_ASYNC = 0x8000;
inline constexpr uint16_t RECORD_MODE = 0x9000;  // asynchronous record, as the gateway starts it

// Parameter codes the gateway uses.
inline constexpr uint32_t BOARD_FIRMWARE_BUFFER = 0x248000F7;  // bytes per stream block
inline constexpr uint32_t CHANNEL_PARAMETER_1 = 0x28000001;
inline constexpr int32_t CHANNEL_SETTING_RINGS = 0x10;  // after it, rings are reported

// A termination entry: one condition that ends a channel's play, record, prompt or digit
// collection. The types say how the list goes on after this entry.
struct termination_t {
    uint16_t type;
    uint16_t condition;
    uint16_t length;
    uint16_t flags;
    uint16_t data;
    uint16_t reserved;
    termination_t *link;
};

inline constexpr uint16_t TERM_END_OF_LIST = 0;  // an entry of type 0 ends the list unused
inline constexpr uint16_t TERM_NEXT_ENTRY = 1;   // the next array element belongs to the list
inline constexpr uint16_t TERM_FOLLOW_LINK = 2;  // the list goes on at `link`
inline constexpr uint16_t TERM_LAST = 4;         // this is the list's last entry

inline constexpr uint16_t TERM_ON_HANGUP = 4;      // the far party hangs up (loop current drop)
inline constexpr uint16_t TERM_ON_MAX_DIGITS = 6;  // length digits were received
inline constexpr uint16_t TERM_ON_DIGIT = 7;       // a digit of the mask in length was received

// The flags of the TERM_ON_HANGUP entries the gateway puts in its lists.
inline constexpr uint16_t HANGUP_TERM_FLAGS = 0x0B;

// Digit bits for TERM_ON_DIGIT, in the order "D1234567890*#ABC": "#" is 0x1000.
inline constexpr uint16_t DIGIT_MASK_POUND = 0x1000;

// Why a channel's last I/O ended (dx_termination_mask).
inline constexpr int32_t TM_DIGIT = 0x01;
inline constexpr int32_t TM_MAX_DIGITS = 0x02;
inline constexpr int32_t TM_HANGUP = 0x04;
inline constexpr int32_t TM_STOPPED = 0x08;
inline constexpr int32_t TM_END_OF_DATA = 0x10;

// Data format of play and record: 8-bit mu-law at 8000 samples per second.
struct stream_format_t {
    uint16_t file_format;      // 3
    uint16_t data_format;      // 7
    uint32_t sample_rate;      // 0x40
    uint16_t bits_per_sample;  // 8
};

// The one format the gateway plays and records in, and the one the simulated board accepts.
inline constexpr stream_format_t MULAW_8K_FORMAT = {3, 7, 0x40, 8};

struct dial_params_t {
    int32_t digit_ms;  // length of one dialled digit, tone and pause
    int32_t pause_ms;  // time after the last digit until the far party answers
};

// Most digits one dx_getdig collects; its buffer must hold this many plus the NUL.
inline constexpr int32_t DX_MAX_DIGITS = 31;

// Board last-error codes.
inline constexpr int32_t EDX_NOERROR = 0;
inline constexpr int32_t EDX_BADDEV = 1;
inline constexpr int32_t EDX_BADPARM = 2;
inline constexpr int32_t EDX_BUSY = 3;
inline constexpr int32_t EDX_BADPROD = 4;
inline constexpr int32_t EDX_NOFILE = 5;
inline constexpr int32_t EDX_HOOK = 6;

// The event runtime. The wait and the event accessors are for one thread (the gateway's main
// thread); posting is allowed from any thread.
int srl_wait_event(int32_t limit_ms);  // 0 when an event is current, -1 when the limit passed
int32_t srl_event_device();
int32_t srl_event_type();
void *srl_event_data();
int srl_post_event(int32_t device, int32_t type, int32_t length, void *data, int32_t handler);
const char *srl_last_error_text(int32_t device);
int32_t srl_last_error_code(int32_t device);
const char *srl_device_name(int32_t device);

// Voice functions, all on the main thread.
int32_t dx_open_device(const char *name, int32_t flags);  // handle, or -1
int dx_close_device(int32_t device);
int dx_get_board_parameter(int32_t device, uint32_t parameter, void *value);  // 0 when read
int dx_set_channel_parameter(int32_t device, uint32_t parameter, const void *value);
int dx_channel_setting(int32_t device, int32_t setting);
int dx_after_onhook(int32_t device);
int dx_clear_termination_list(termination_t *list, int32_t count);
int dx_sethook(int32_t device, int32_t hook, uint16_t mode);
// Plays an 8-bit mu-law 8 kHz raw file from the working directory; returns when it has ended.
int dx_play_prompt(int32_t device, const char *file, const termination_t *list, int32_t mode);
int dx_getdig(int32_t device, const termination_t *list, char *digits, uint16_t mode);
void dx_reset_dial_parameters(dial_params_t *params);
int dx_dial(int32_t device, const char *number, const dial_params_t *params, uint16_t mode);
int dx_stop_io(int32_t device, int32_t mode);
int32_t dx_termination_mask(int32_t device);
// `files` is always null: the data comes from the channel's stream buffer.
int dx_play(int32_t device, const void *files, const termination_t *list,
            const stream_format_t *format, uint16_t mode);
int dx_rec(int32_t device, const void *files, const termination_t *list,
           const stream_format_t *format, uint16_t mode);

// Stream buffers: a ring of blocks between the program and the board. Each call takes the
// buffer's own lock, so an audio thread and the main thread may use one buffer at once.
// For every channel the board keeps a named event, "<channel name>TUVOEvent" (made when the
// channel is first opened), which is signalled while recorded blocks wait to be read and reset
// when the last one is taken.
struct stream_buffer;
using stream_t = stream_buffer *;

stream_t tuvo_create_buffer(int32_t blocks, int32_t block_size);  // null on failure
// The buffer's blocks are freed; the handle stays harmless: later calls find nothing in it.
void tuvo_free_buffer(stream_t buffer);
void tuvo_empty_buffer(stream_t buffer);
uint8_t *tuvo_next_free_block(stream_t buffer);  // null when every block is full
int tuvo_commit_block(stream_t buffer, int32_t count);
int tuvo_start_play(int32_t device, stream_t buffer);
int tuvo_start_record(int32_t device, stream_t buffer);
uint8_t *tuvo_next_recorded_block(stream_t buffer);  // null when none is ready
// What the channel's line was played (mu-law) at the instants of the samples of the block that
// tuvo_next_recorded_block returned, as many, valid until that block is released: the echo
// canceller's reference. Null when the board keeps none.
const uint8_t *tuvo_recorded_reference(stream_t buffer);
int tuvo_release_block(stream_t buffer, int32_t count);

}  // namespace sipline
