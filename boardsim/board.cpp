#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "boardsim/boardsim.h"
#include "boardsim/control_parse.h"
#include "boardsim/state.h"

namespace sipline {
namespace boardsim {
namespace {

constexpr std::string_view DIGIT_ORDER = "D1234567890*#ABC";
constexpr size_t PENDING_DIGITS_MAX = 64;

bool has_condition(const Channel &ch, uint16_t condition, uint16_t *length) {
    for (const Condition &c : ch.conditions) {
        if (c.condition == condition) {
            if (length != nullptr) {
                *length = c.length;
            }
            return true;
        }
    }
    return false;
}

// dx_getdig takes digits from the channel's queue until a terminating digit or the most it
// may collect.
void collect_digits(Board &b, Channel &ch) {
    uint16_t mask = 0;
    bool by_digit = has_condition(ch, TERM_ON_DIGIT, &mask);
    uint16_t most = DX_MAX_DIGITS;
    if (has_condition(ch, TERM_ON_MAX_DIGITS, &most) && most > DX_MAX_DIGITS) {
        most = DX_MAX_DIGITS;
    }
    if (most == 0) {
        most = DX_MAX_DIGITS;
    }
    while (!ch.pending_digits.empty()) {
        char digit = ch.pending_digits.front();
        ch.pending_digits.erase(0, 1);
        ch.collected += digit;
        if (by_digit && (digit_bit(digit) & mask) != 0) {
            end_io(b, ch, TM_DIGIT);
            return;
        }
        if (ch.collected.size() >= most) {
            end_io(b, ch, TM_MAX_DIGITS);
            return;
        }
    }
}

void start_threads(Board &b) {
    b.clock_thread = std::thread(clock_run, std::ref(b));
    b.control_thread = std::thread(control_run, std::ref(b));
    // Named so that top -H and the bench's per-thread figures tell the board from the bridge.
    pthread_setname_np(b.clock_thread.native_handle(), "board clock");
    pthread_setname_np(b.control_thread.native_handle(), "board control");
}

}  // namespace

Board::Board() : far_ear(far_party_ear(*this)) {
    for (int32_t n = 1; n <= CHANNELS; ++n) {
        channels[n].number = n;
        channels[n].name = "dxxxB1C" + std::to_string(n);
    }
}

Board &board() {
    static Board *const the_board = std::make_unique<Board>().release();
    return *the_board;
}

namespace {

// The exit handler: the line goes on-hook and the capture is completed once, for good.
void exit_handler() {
    board().exiting = true;
    boardsim_shutdown();
}

}  // namespace

void ensure_started(Board &b, std::unique_lock<std::mutex> &) {
    if (b.started || b.exiting) {
        return;
    }
    static const bool registered = [] {
        return std::atexit(exit_handler) == 0 && std::at_quick_exit(exit_handler) == 0;
    }();
    (void)registered;
    b.settings = read_settings();
    b.say = test_signal();
    if (!b.settings.say.empty()) {
        std::vector<uint8_t> said;
        std::string why = wav_load(b.settings.say, &said);
        if (why.empty()) {
            b.say = std::move(said);
        } else {
            std::fprintf(stderr,
                         "boardsim: BOARDSIM_SAY=\"%s\" %s; the far party says a test tone\n",
                         b.settings.say.c_str(), why.c_str());
        }
    }
    b.say_at = 0;
    if (!b.settings.capture.empty()) {
        std::string why = b.capture.open(b.settings.capture);
        if (!why.empty()) {
            std::fprintf(stderr,
                         "boardsim: BOARDSIM_CAPTURE=\"%s\" cannot be written (%s); no capture\n",
                         b.settings.capture.c_str(), why.c_str());
        }
    }
    b.listener = control_listen(b.settings.control);
    b.stopping = false;
    b.started = true;
    start_threads(b);
}

Channel *channel_of(Board &b, int32_t device) {
    for (int32_t n = 1; n <= CHANNELS; ++n) {
        if (device == channel_handle(n)) {
            return &b.channels[n];
        }
    }
    return nullptr;
}

DeviceError *error_of(Board &b, int32_t device) {
    if (device == BOARD_HANDLE) {
        return &b.board_error;
    }
    if (Channel *ch = channel_of(b, device)) {
        return &ch->error;
    }
    return &b.no_device_error;
}

void fail(Board &b, int32_t device, int32_t code, std::string text) {
    DeviceError *e = error_of(b, device);
    e->code = code;
    e->text = std::move(text);
}

void succeed(Board &b, int32_t device) {
    DeviceError *e = error_of(b, device);
    e->code = EDX_NOERROR;
    e->text = "No error";
}

void post(Board &b, int32_t device, int32_t type, uint16_t code) {
    Event e;
    e.device = device;
    e.type = type;
    e.data[0] = static_cast<uint8_t>(code);
    e.data[1] = static_cast<uint8_t>(code >> 8);
    b.events.push_back(e);
    b.events_ready.notify_one();
}

void end_io(Board &b, Channel &ch, int32_t mask) {
    Io io = ch.io;
    ch.io = Io::none;
    ch.term_mask = mask;
    ch.conditions.clear();
    ch.stream = nullptr;
    switch (io) {
        case Io::play:
            post(b, channel_handle(ch.number), TDX_PLAY, static_cast<uint16_t>(mask));
            break;
        case Io::record:
            post(b, channel_handle(ch.number), TDX_RECORD, static_cast<uint16_t>(mask));
            break;
        case Io::prompt:
            ch.prompt_running = false;
            ch.prompt.clear();
            b.prompt_ended.notify_all();
            break;
        case Io::getdig:
            ch.collected.copy(ch.digit_target, ch.collected.size());
            ch.digit_target[ch.collected.size()] = '\0';
            ch.digit_target = nullptr;
            post(b, channel_handle(ch.number), EV_DIGITS_DONE,
                 static_cast<uint16_t>(ch.collected.size()));
            break;
        case Io::none:
            break;
    }
}

uint16_t digit_bit(char digit) {
    size_t at = DIGIT_ORDER.find(digit);
    return at == std::string_view::npos ? 0 : static_cast<uint16_t>(1u << at);
}

void line_hears_digit(Board &b, char digit) {
    for (int32_t n = 1; n <= CHANNELS; ++n) {
        Channel &ch = b.channels[n];
        if (!ch.open) {
            continue;
        }
        if (ch.pending_digits.size() >= PENDING_DIGITS_MAX) {
            ch.pending_digits.erase(0, 1);
        }
        ch.pending_digits += digit;
        if (ch.io == Io::none) {
            continue;
        }
        ++ch.digits_counted;
        if (ch.io == Io::getdig) {
            collect_digits(b, ch);
            continue;
        }
        uint16_t value = 0;
        if (has_condition(ch, TERM_ON_DIGIT, &value) && (digit_bit(digit) & value) != 0) {
            end_io(b, ch, TM_DIGIT);
        } else if (has_condition(ch, TERM_ON_MAX_DIGITS, &value) && value > 0 &&
                   ch.digits_counted >= value) {
            end_io(b, ch, TM_MAX_DIGITS);
        }
    }
}

// A digit already waiting ends a prompt whose list names it, as a key pressed during it would.
bool pending_digit_ends(const Channel &ch) {
    uint16_t mask = 0;
    if (!has_condition(ch, TERM_ON_DIGIT, &mask)) {
        return false;
    }
    for (char digit : ch.pending_digits) {
        if ((digit_bit(digit) & mask) != 0) {
            return true;
        }
    }
    return false;
}

void start_getdig(Board &b, Channel &ch) {
    collect_digits(b, ch);
}

void end_io_if_hung_up(Board &b, Channel &ch) {
    if (ch.open && ch.io != Io::none && has_condition(ch, TERM_ON_HANGUP, nullptr)) {
        end_io(b, ch, TM_HANGUP);
    }
}

void far_party_hangs_up(Board &b) {
    if (far_party_leaves_quietly(b)) {
        return;
    }
    stop_ringing(b);
    b.far_party_gone = false;
    b.disconnect_tone.stop();
    b.line = Line::idle;
    b.hangup_at.reset();
    b.dial_done_at.reset();
    for (int32_t n = 1; n <= CHANNELS; ++n) {
        end_io_if_hung_up(b, b.channels[n]);
    }
}

void connect_line(Board &b) {
    b.line = Line::connected;
    stop_ringing(b);
    b.far_party_gone = false;
    b.disconnect_tone.stop();
    reset_keypad(b);
    // Every call starts with a quiet hybrid: no echo of the last call's audio.
    b.hybrid.clear();
    b.echo_path = b.settings.echo ? std::make_unique<dsp::EchoPath>(b.settings.echo_path) : nullptr;
    if (b.settings.hangup_after >= 0) {
        b.hangup_at = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                         std::chrono::duration<double>(b.settings.hangup_after));
        b.clock_wake.notify_all();
    }
}

void heard_by_far_party(Board &b, const uint8_t *bytes, size_t count) {
    if (b.line != Line::connected) {
        return;
    }
    b.capture.write(bytes, count);
    b.played += count;
    far_party_listens(b, bytes, count);
}

std::string status_line(Board &b) {
    static constexpr const char *LINES[] = {"idle", "ringing", "dialling", "connected"};
    std::string prompts;
    for (const std::string &p : b.prompts) {
        prompts += (prompts.empty() ? "" : ",") + p;
    }
    std::string opened;
    for (const std::string &o : b.opened) {
        opened += (opened.empty() ? "" : ",") + o;
    }
    return std::string("hook=") + (b.off_hook ? "off" : "on") +
           " line=" + LINES[static_cast<int>(b.line)] + " dialled=" + b.dialled +
           " played=" + std::to_string(b.played) + " recorded=" + std::to_string(b.recorded) +
           " prompts=" + prompts + " opened=" + opened +
           " block=" + std::to_string(b.settings.block) +
           " underruns=" + std::to_string(b.underruns) + " overruns=" + std::to_string(b.overruns) +
           " rings=" + std::to_string(b.ringing.rings) +
           " far_party=" + (b.far_party_gone ? "gone" : "there") +
           " heard_digits=" + b.heard_digits;
}

}  // namespace boardsim

void boardsim_shutdown() {
    using namespace boardsim;
    Board &b = board();
    std::unique_lock lock(b.mutex);
    if (!b.started || b.stopping) {
        return;
    }
    b.stopping = true;
    b.clock_wake.notify_all();
    lock.unlock();
    if (b.clock_thread.joinable()) {
        b.clock_thread.join();
    }
    if (b.control_thread.joinable()) {
        b.control_thread.join();
    }
    lock.lock();
    b.off_hook = false;
    b.line = Line::idle;
    for (Channel &ch : b.channels) {
        if (ch.io == Io::prompt) {
            ch.prompt_running = false;
            b.prompt_ended.notify_all();
        }
        if (ch.digit_target != nullptr) {
            ch.digit_target[0] = '\0';
        }
        ch.io = Io::none;
        ch.open = false;
        ch.rings_reported = false;
        ch.stream = nullptr;
        ch.conditions.clear();
        ch.pending_digits.clear();
        ch.digit_target = nullptr;
        ch.term_mask = 0;
        ch.error = DeviceError{};
    }
    b.capture.close();
    if (b.listener >= 0) {
        ::close(b.listener);
        b.listener = -1;
        ::unlink(b.settings.control.c_str());
    }
    b.board_open = false;
    b.board_error = DeviceError{};
    b.no_device_error = DeviceError{};
    b.opened.clear();
    b.events.clear();
    b.dialled.clear();
    b.prompts.clear();
    b.hook_done_at.reset();
    b.dial_done_at.reset();
    b.hangup_at.reset();
    stop_ringing(b);
    b.ringing = Board::Ringing{};
    b.far_party_gone = false;
    b.disconnect_tone.stop();
    b.played = b.recorded = b.underruns = b.overruns = 0;
    reset_keypad(b);
    b.started = false;
    b.stopping = false;
}

}  // namespace sipline
