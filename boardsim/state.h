// The simulated board's state: one analogue line with a far-end party, four channels that
// serve it, the event queue and the stream buffers. One mutex guards all of it except the
// stream buffers, which have their own locks (taken after the board's, never before).
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "board/board.h"
#include "boardsim/control_parse.h"
#include "boardsim/settings.h"
#include "boardsim/wav.h"
#include "dsp/caller_id.h"
#include "dsp/dtmf.h"
#include "dsp/echo_path.h"
#include "dsp/tone_cadence.h"
#include "host/host.h"

namespace sipline {

struct stream_buffer {
    std::mutex mutex;
    int32_t blocks = 0;
    int32_t block_size = 0;
    std::vector<uint8_t> storage;     // blocks * block_size; empty once freed
    std::vector<int32_t> lengths;     // committed bytes per block
    std::vector<uint8_t> references;  // record: what was played meanwhile, as storage
    int32_t head = 0;                 // oldest filled block
    int32_t count = 0;                // filled blocks
    HANDLE ready = nullptr;           // the channel's stream event while recording into it
};

namespace boardsim {

using Clock = std::chrono::steady_clock;

inline constexpr int32_t BOARD_HANDLE = 10;
inline constexpr int32_t CHANNELS = 4;
inline constexpr int32_t channel_handle(int32_t number) {
    return BOARD_HANDLE + number;
}

struct Event {
    int32_t device = 0;
    int32_t type = 0;
    std::array<uint8_t, 8> data{};
};

struct DeviceError {
    int32_t code = EDX_NOERROR;
    std::string text = "No error";
};

struct Condition {
    uint16_t condition;
    uint16_t length;
};

enum class Io { none, play, record, prompt, getdig };
enum class Line { idle, ringing, dialling, connected };

struct Channel {
    int32_t number = 0;
    std::string name;
    bool open = false;
    bool rings_reported = false;
    HANDLE stream_event = nullptr;
    DeviceError error;

    Io io = Io::none;
    std::vector<Condition> conditions;  // of the running I/O's termination list
    int32_t digits_counted = 0;         // digits received during the running I/O
    int32_t term_mask = 0;              // of the last I/O
    std::string pending_digits;         // heard on the line, not yet collected
    stream_buffer *stream = nullptr;    // attached by the stream library's start
    Clock::time_point due{};            // next block of play, record or prompt
    char *digit_target = nullptr;       // dx_getdig's buffer
    std::string collected;
    std::vector<uint8_t> prompt;
    size_t prompt_at = 0;
    bool prompt_running = false;
};

struct Board {
    Board();
    std::mutex mutex;
    std::condition_variable events_ready;
    std::condition_variable prompt_ended;
    std::condition_variable clock_wake;

    bool started = false;
    std::atomic<bool> stopping{false};
    // Set by the process's exit handler: the board is not started again by a thread that goes
    // on while the process ends (its calls fail, a prompt it was playing never returns).
    std::atomic<bool> exiting{false};
    std::thread clock_thread;
    std::thread control_thread;
    int listener = -1;

    Settings settings;
    std::vector<uint8_t> say;  // mu-law, looped
    size_t say_at = 0;
    Capture capture;

    bool board_open = false;
    DeviceError board_error;
    DeviceError no_device_error;                 // of the last failed open
    std::array<Channel, CHANNELS + 1> channels;  // 1..4 used
    std::vector<std::string> opened;             // every device name ever opened, first time each

    std::deque<Event> events;
    Event current;

    bool off_hook = false;
    Line line = Line::idle;
    std::string dialled;
    std::optional<Clock::time_point> hook_done_at;
    int32_t hook_done_device = 0;
    std::optional<Clock::time_point> dial_done_at;
    int32_t dial_device = 0;
    std::optional<Clock::time_point> hangup_at;

    uint64_t played = 0;
    uint64_t recorded = 0;
    uint64_t underruns = 0;
    uint64_t overruns = 0;
    std::vector<std::string> prompts;

    // The far party's keypad, played into what it says by the clock thread and queued by the
    // control thread, both under the board's mutex: the keys still to press, the tone of the key
    // being pressed, and the samples of silence left after it.
    std::string keys_to_press;
    dsp::DtmfTone key_tone;
    int32_t key_gap_left = 0;
    // What the far party hears goes through a DTMF detector (fed by the clock thread, under the
    // board's mutex); the keys it heard in this call, for status.
    dsp::DtmfDetector far_ear;
    std::string heard_digits;

    // The line's hybrid: what was played, in order, waits here until the recording of the same
    // instants takes it (the clock thread, under the board's mutex); its echo is added to what
    // the far party says when an echo path is set.
    std::deque<uint8_t> hybrid;
    std::unique_ptr<dsp::EchoPath> echo_path;

    // The exchange (exchange.cpp), under the board's mutex, run by the control thread (a ring
    // starts) and the clock thread (the cadence, what the line carries): the ring in progress,
    // the identity sent with it, and whether the far party hung up while the loop stays up.
    struct Ringing {
        int32_t rings = 0;          // reported so far
        int32_t give_up_after = 0;  // 0: rings until answered
        std::optional<Clock::time_point> next_ring;
        std::optional<Clock::time_point> identity_at;
        ring_request_t caller;
    } ringing;
    dsp::CallerIdSender identity_sender{dsp::CallerIdStandard::bell};
    bool far_party_gone = false;
    dsp::CadenceTone disconnect_tone;

    std::vector<std::unique_ptr<stream_buffer>> buffers;
    // Freed buffers, oldest first. A freed handle stays valid memory, so a late caller finds an
    // empty buffer; its shell is used again only after FREED_SHELLS_KEPT later frees, so that
    // the shells of a long run of calls stay a handful instead of two more for every call.
    std::deque<stream_buffer *> freed;
};

inline constexpr size_t FREED_SHELLS_KEPT = 8;

// The one board of the process; never destroyed, so that a thread still inside a board call at
// exit finds it intact.
Board &board();
// Starts the board's threads and reads its settings on the first call; the caller holds the
// board's mutex.
void ensure_started(Board &b, std::unique_lock<std::mutex> &lock);

// Helpers shared by the files of the board; the caller holds the board's mutex.
Channel *channel_of(Board &b, int32_t device);
DeviceError *error_of(Board &b, int32_t device);
void fail(Board &b, int32_t device, int32_t code, std::string text);
void succeed(Board &b, int32_t device);
void post(Board &b, int32_t device, int32_t type, uint16_t code);
void end_io(Board &b, Channel &ch, int32_t mask);
void line_hears_digit(Board &b, char digit);
bool pending_digit_ends(const Channel &ch);
void start_getdig(Board &b, Channel &ch);
void far_party_hangs_up(Board &b);
// Ends the channel's I/O with TM_HANGUP if its termination list names the hang-up.
void end_io_if_hung_up(Board &b, Channel &ch);
void connect_line(Board &b);
void heard_by_far_party(Board &b, const uint8_t *bytes, size_t count);
// The far party's keys: queued by the press command, played over `count` mu-law samples of what
// it says, and detected in what it hears. false when too many keys are queued already.
bool press_keys(Board &b, const std::string &keys);
void keypad_plays(Board &b, uint8_t *said, size_t count);
void far_party_listens(Board &b, const uint8_t *heard, size_t count);
dsp::DtmfDetector far_party_ear(Board &b);  // a detector that adds its keys to heard_digits
// A new call: nothing left to press, nothing heard yet.
void reset_keypad(Board &b);
uint16_t digit_bit(char digit);
std::string status_line(Board &b);

// The exchange: starts the ring cadence (the first ring is reported at once) with the caller's
// identity; "" or why the line cannot ring.
std::string start_ringing(Board &b, const ring_request_t &caller);
// The ring is over: answered, or the caller gave up.
void stop_ringing(Board &b);
// The cadence's timers; `next` is lowered to the exchange's next deadline.
void exchange_timers(Board &b, Clock::time_point now, Clock::time_point *next);
// What the line carries instead of the far party's voice: the identity while ringing, the
// disconnect tone or silence once the far party has gone. false when the far party speaks.
bool exchange_says(Board &b, uint8_t *said, size_t count);
// The far party hangs up during a call where the line signals it by tone or silence: true when
// that began now (the loop stays up), false when the loop is to drop.
bool far_party_leaves_quietly(Board &b);

void clock_run(Board &b);
void control_run(Board &b);
int control_listen(const std::string &path);

}  // namespace boardsim
}  // namespace sipline
