#include <cerrno>
#include <cstring>
#include <fstream>
#include <string>

#include "boardsim/state.h"

namespace sipline {

using boardsim::Board;
using boardsim::board;
using boardsim::Channel;
using boardsim::Clock;
using boardsim::Io;
using boardsim::Line;

namespace {

constexpr auto HOOK_TIME = std::chrono::milliseconds(50);
constexpr size_t LIST_MAX = 16;  // entries followed before a list is taken as looping
constexpr size_t PROMPT_MAX = 16u << 20;

// The conditions of a termination list, following its types the way the board reads them.
std::vector<boardsim::Condition> read_list(const termination_t *entry) {
    std::vector<boardsim::Condition> conditions;
    while (entry != nullptr && entry->type != TERM_END_OF_LIST && conditions.size() < LIST_MAX) {
        conditions.push_back({entry->condition, entry->length});
        switch (entry->type) {
            case TERM_NEXT_ENTRY:
                ++entry;
                break;
            case TERM_FOLLOW_LINK:
                entry = entry->link;
                break;
            default:
                entry = nullptr;
                break;
        }
    }
    return conditions;
}

// An I/O ends on its own list's conditions alone: no digit counted for an earlier one carries over.
void begin_io(Channel &ch, Io io, const termination_t *list) {
    ch.io = io;
    ch.conditions = read_list(list);
    ch.digits_counted = 0;
}

// The channel for a voice call on `device`, locked and started; null (with the device's last
// error set) when it is not an open channel or, if `idle` is asked, it runs an I/O already.
Channel *usable_channel(Board &b, int32_t device, bool idle) {
    Channel *ch = boardsim::channel_of(b, device);
    if (ch == nullptr || !ch->open) {
        boardsim::fail(b, device, EDX_BADDEV, "device is not an open channel");
        return nullptr;
    }
    if (idle && ch->io != Io::none) {
        boardsim::fail(b, device, EDX_BUSY, "channel is busy with another I/O");
        return nullptr;
    }
    return ch;
}

bool format_supported(const stream_format_t *f) {
    const stream_format_t &mulaw = MULAW_8K_FORMAT;
    return f != nullptr && f->file_format == mulaw.file_format &&
           f->data_format == mulaw.data_format && f->sample_rate == mulaw.sample_rate &&
           f->bits_per_sample == mulaw.bits_per_sample;
}

int start_stream_io(int32_t device, const void *files, const termination_t *list,
                    const stream_format_t *format, uint16_t mode, Io io, uint16_t wanted_mode) {
    Board &b = board();
    std::unique_lock lock(b.mutex);
    boardsim::ensure_started(b, lock);
    Channel *ch = usable_channel(b, device, true);
    if (ch == nullptr) {
        return -1;
    }
    if (files != nullptr || mode != wanted_mode) {
        boardsim::fail(b, device, EDX_BADPARM, "only streaming I/O in its own mode is supported");
        return -1;
    }
    if (!format_supported(format)) {
        boardsim::fail(b, device, EDX_BADPROD, "unsupported data format");
        return -1;
    }
    begin_io(*ch, io, list);
    ch->stream = nullptr;
    boardsim::succeed(b, device);
    return 0;
}

}  // namespace

int32_t dx_open_device(const char *name, int32_t) {
    Board &b = board();
    std::unique_lock lock(b.mutex);
    boardsim::ensure_started(b, lock);
    std::string wanted = name == nullptr ? "" : name;
    auto remember = [&] {
        for (const std::string &o : b.opened) {
            if (o == wanted) {
                return;
            }
        }
        b.opened.push_back(wanted);
    };
    if (wanted == "dxxxB1") {
        if (b.board_open) {
            boardsim::fail(b, -1, EDX_BUSY, "device already open: dxxxB1");
            return -1;
        }
        b.board_open = true;
        remember();
        boardsim::succeed(b, boardsim::BOARD_HANDLE);
        return boardsim::BOARD_HANDLE;
    }
    for (Channel &ch : b.channels) {
        if (ch.number == 0 || ch.name != wanted) {
            continue;
        }
        if (ch.open) {
            boardsim::fail(b, -1, EDX_BUSY, "device already open: " + wanted);
            return -1;
        }
        ch.open = true;
        ch.rings_reported = false;
        ch.io = Io::none;
        ch.term_mask = 0;
        ch.pending_digits.clear();
        if (ch.stream_event == nullptr) {
            ch.stream_event = CreateEvent(false, (ch.name + "TUVOEvent").c_str());
        }
        remember();
        boardsim::succeed(b, boardsim::channel_handle(ch.number));
        return boardsim::channel_handle(ch.number);
    }
    boardsim::fail(b, -1, EDX_BADDEV, "no such device: " + wanted);
    return -1;
}

int dx_close_device(int32_t device) {
    Board &b = board();
    std::lock_guard lock(b.mutex);
    if (device == boardsim::BOARD_HANDLE && b.board_open) {
        b.board_open = false;
        return 0;
    }
    Channel *ch = usable_channel(b, device, false);
    if (ch == nullptr) {
        return -1;
    }
    // Closing ends a running I/O without an event: nobody waits for it any more.
    if (ch->io == Io::prompt) {
        ch->prompt_running = false;
        b.prompt_ended.notify_all();
    }
    ch->io = Io::none;
    ch->stream = nullptr;
    ch->digit_target = nullptr;
    ch->conditions.clear();
    ch->open = false;
    ch->rings_reported = false;
    return 0;
}

int dx_get_board_parameter(int32_t device, uint32_t parameter, void *value) {
    Board &b = board();
    std::unique_lock lock(b.mutex);
    boardsim::ensure_started(b, lock);
    if (device != boardsim::BOARD_HANDLE || !b.board_open) {
        boardsim::fail(b, device, EDX_BADDEV, "device is not the open board");
        return -1;
    }
    if (parameter != BOARD_FIRMWARE_BUFFER || value == nullptr) {
        boardsim::fail(b, device, EDX_BADPARM, "unknown board parameter");
        return -1;
    }
    if (b.settings.block_read_fails) {
        boardsim::fail(b, device, EDX_BADPARM, "board parameter cannot be read");
        return -1;
    }
    int32_t block = b.settings.block;
    std::memcpy(value, &block, sizeof block);
    boardsim::succeed(b, device);
    return 0;
}

int dx_set_channel_parameter(int32_t device, uint32_t parameter, const void *value) {
    Board &b = board();
    std::lock_guard lock(b.mutex);
    if (usable_channel(b, device, false) == nullptr) {
        return -1;
    }
    if (parameter != CHANNEL_PARAMETER_1 || value == nullptr) {
        boardsim::fail(b, device, EDX_BADPARM, "unknown channel parameter");
        return -1;
    }
    boardsim::succeed(b, device);
    return 0;
}

int dx_channel_setting(int32_t device, int32_t setting) {
    Board &b = board();
    std::lock_guard lock(b.mutex);
    Channel *ch = usable_channel(b, device, false);
    if (ch == nullptr) {
        return -1;
    }
    if (setting != CHANNEL_SETTING_RINGS) {
        boardsim::fail(b, device, EDX_BADPARM, "unknown channel setting");
        return -1;
    }
    ch->rings_reported = true;
    boardsim::succeed(b, device);
    return 0;
}

int dx_after_onhook(int32_t device) {
    Board &b = board();
    std::lock_guard lock(b.mutex);
    if (usable_channel(b, device, false) == nullptr) {
        return -1;
    }
    boardsim::succeed(b, device);
    return 0;
}

int dx_clear_termination_list(termination_t *list, int32_t count) {
    if (list == nullptr || count < 1) {
        return -1;
    }
    for (int32_t i = 0; i < count; ++i) {
        list[i] = termination_t{};
    }
    return 0;
}

int dx_sethook(int32_t device, int32_t hook, uint16_t mode) {
    Board &b = board();
    std::unique_lock lock(b.mutex);
    boardsim::ensure_started(b, lock);
    if (usable_channel(b, device, false) == nullptr) {
        return -1;
    }
    if ((hook != DX_ONHOOK && hook != DX_OFFHOOK) || (mode != EV_SYNC && mode != EV_ASYNC)) {
        boardsim::fail(b, device, EDX_BADPARM, "bad hook state or mode");
        return -1;
    }
    b.off_hook = hook == DX_OFFHOOK;
    if (b.off_hook && b.line == Line::ringing) {
        boardsim::connect_line(b);
    } else if (!b.off_hook && (b.line == Line::connected || b.line == Line::dialling)) {
        b.line = Line::idle;
        b.dial_done_at.reset();
        b.hangup_at.reset();
        b.far_party_gone = false;
        b.disconnect_tone.stop();
    }
    if (mode == EV_ASYNC) {
        b.hook_done_at = Clock::now() + HOOK_TIME;
        b.hook_done_device = device;
        b.clock_wake.notify_all();
    }
    boardsim::succeed(b, device);
    return 0;
}

int dx_play_prompt(int32_t device, const char *file, const termination_t *list, int32_t mode) {
    Board &b = board();
    std::unique_lock lock(b.mutex);
    boardsim::ensure_started(b, lock);
    Channel *ch = usable_channel(b, device, true);
    if (ch == nullptr) {
        return -1;
    }
    if (file == nullptr || mode != 0) {
        boardsim::fail(b, device, EDX_BADPARM, "a prompt is played synchronously from a file");
        return -1;
    }
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        boardsim::fail(b, device, EDX_NOFILE,
                       std::string("cannot open ") + file + ": " + std::strerror(errno));
        return -1;
    }
    std::vector<uint8_t> samples;
    char piece[4096];
    while ((in.read(piece, sizeof piece) || in.gcount() > 0) && samples.size() < PROMPT_MAX) {
        samples.insert(samples.end(), piece, piece + in.gcount());
    }
    begin_io(*ch, Io::prompt, list);
    ch->prompt = std::move(samples);
    ch->prompt_at = 0;
    ch->prompt_running = true;
    ch->due = Clock::now();
    b.prompts.emplace_back(file);
    if (boardsim::pending_digit_ends(*ch)) {
        boardsim::end_io(b, *ch, TM_DIGIT);
    }
    b.clock_wake.notify_all();
    b.prompt_ended.wait(lock, [&] { return !ch->prompt_running; });
    if (b.exiting) {
        // Ended by the exit handler: the caller must not go on with a board that is gone.
        b.prompt_ended.wait(lock, [] { return false; });
    }
    boardsim::succeed(b, device);
    return 0;
}

int dx_getdig(int32_t device, const termination_t *list, char *digits, uint16_t mode) {
    Board &b = board();
    std::unique_lock lock(b.mutex);
    boardsim::ensure_started(b, lock);
    Channel *ch = usable_channel(b, device, true);
    if (ch == nullptr) {
        return -1;
    }
    if (digits == nullptr || mode != EV_ASYNC) {
        boardsim::fail(b, device, EDX_BADPARM, "digits are collected asynchronously into a buffer");
        return -1;
    }
    begin_io(*ch, Io::getdig, list);
    ch->collected.clear();
    ch->digit_target = digits;
    boardsim::succeed(b, device);
    boardsim::start_getdig(b, *ch);
    return 0;
}

void dx_reset_dial_parameters(dial_params_t *params) {
    if (params != nullptr) {
        params->digit_ms = 100;
        params->pause_ms = 300;
    }
}

int dx_dial(int32_t device, const char *number, const dial_params_t *params, uint16_t mode) {
    Board &b = board();
    std::unique_lock lock(b.mutex);
    boardsim::ensure_started(b, lock);
    if (usable_channel(b, device, false) == nullptr) {
        return -1;
    }
    if (number == nullptr || mode != EV_ASYNC) {
        boardsim::fail(b, device, EDX_BADPARM, "dialling is asynchronous and needs a number");
        return -1;
    }
    if (!b.off_hook) {
        boardsim::fail(b, device, EDX_HOOK, "the line is on-hook");
        return -1;
    }
    if (b.line != Line::idle) {
        boardsim::fail(b, device, EDX_BUSY, "the line is busy");
        return -1;
    }
    dial_params_t timing{};
    dx_reset_dial_parameters(&timing);
    if (params != nullptr && params->digit_ms >= 0 && params->pause_ms >= 0 &&
        params->digit_ms <= 1000 && params->pause_ms <= 10000) {
        timing = *params;
    }
    b.dialled.assign(number, strnlen(number, 64));
    b.line = Line::dialling;
    b.dial_done_at = Clock::now() + std::chrono::milliseconds(
                                        timing.pause_ms +
                                        timing.digit_ms * static_cast<int64_t>(b.dialled.size()));
    b.dial_device = device;
    b.clock_wake.notify_all();
    boardsim::succeed(b, device);
    return 0;
}

int dx_stop_io(int32_t device, int32_t) {
    Board &b = board();
    std::lock_guard lock(b.mutex);
    Channel *ch = usable_channel(b, device, false);
    if (ch == nullptr) {
        return -1;
    }
    if (ch->io != Io::none) {
        boardsim::end_io(b, *ch, TM_STOPPED);
    }
    boardsim::succeed(b, device);
    return 0;
}

int32_t dx_termination_mask(int32_t device) {
    Board &b = board();
    std::lock_guard lock(b.mutex);
    Channel *ch = boardsim::channel_of(b, device);
    return ch == nullptr ? -1 : ch->term_mask;
}

int dx_play(int32_t device, const void *files, const termination_t *list,
            const stream_format_t *format, uint16_t mode) {
    return start_stream_io(device, files, list, format, mode, Io::play, EV_ASYNC);
}

int dx_rec(int32_t device, const void *files, const termination_t *list,
           const stream_format_t *format, uint16_t mode) {
    return start_stream_io(device, files, list, format, mode, Io::record, RECORD_MODE);
}

}  // namespace sipline
