#include "gateway/channels.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "gateway/globals.h"

namespace sipline {

channel_t Channels[4] = {};
HANDLE StreamEvents[4] = {};
uint8_t SilenceBlock[SILENCE_BYTES];
const stream_format_t StreamFormat = MULAW_8K_FORMAT;
dial_params_t DialParams = {};

namespace {

constexpr int32_t DEFAULT_FIRMWARE_BUFFER = 768;

// The stream buffers of the call before last: an audio thread of the last call may still be
// ending while the next one is set up, so a buffer is freed one whole call after it was
// replaced.
stream_t RetiredStreams[4] = {};

void set_entry(termination_t *entry, uint16_t type, uint16_t condition, uint16_t length,
               uint16_t flags) {
    entry->type = type;
    entry->condition = condition;
    entry->length = length;
    entry->flags = flags;
    entry->data = 0;
}

void prepare_line_channel() {
    int32_t device = Channels[LINE_CHANNEL].device;
    LineDevice = device;
    int32_t one = 1;
    dx_channel_setting(device, CHANNEL_SETTING_RINGS);
    dx_set_channel_parameter(device, CHANNEL_PARAMETER_1, &one);
    dx_sethook(device, DX_ONHOOK, EV_SYNC);
    dx_after_onhook(device);
}

// The audio threads take the line's streams from the media bridge's variables.
void publish_streams() {
    PlayStream = Channels[LINE_CHANNEL].stream;
    RecordStream = Channels[RECORD_CHANNEL].stream;
    RecordStreamEvent = StreamEvents[RECORD_CHANNEL];
}

// What failed, with the board's own error code and text for the channel.
void report_board_error(const channel_t &ch, const char *what) {
    std::fprintf(stderr, "ERROR: %d: %s: %s: %s\n", srl_last_error_code(ch.device),
                 srl_device_name(ch.device), what, srl_last_error_text(ch.device));
}

// The first preparation of a channel, at start-up, and the one before every later call differ
// where noted; the lists each leaves are the ones the board has always been given.
enum class preparation_t { at_start_up, between_calls };

constexpr int PREPARE_FAILED = -1;   // printed; the process ends with status 1
constexpr int PREPARE_NO_EVENT = 1;  // printed; preparation stops, the process goes on

int prepare_channel(int32_t i, preparation_t when) {
    const bool first = when == preparation_t::at_start_up;
    channel_t &ch = Channels[i];
    if (first) {
        // Channel numbers are single digits: the name always fits.
        std::snprintf(ch.name, sizeof ch.name, "%sC%d", BOARD_NAME, i % 10);
    } else {
        ResetEvent(StreamEvents[i]);
    }
    ch.device = dx_open_device(ch.name, 0);
    if (ch.device == -1) {
        std::fprintf(stderr, "Error opening %s\n", ch.name);
        return PREPARE_FAILED;
    }
    // At start-up only the first I/O entry is cleared and it links on to the second, so the
    // first call's play and record also end after 200 digits; later lists end at the first
    // entry, on hang-up alone.
    dx_clear_termination_list(ch.io_list, first ? 1 : 2);
    set_entry(&ch.io_list[0], first ? TERM_NEXT_ENTRY : TERM_LAST, TERM_ON_HANGUP, 0,
              HANGUP_TERM_FLAGS);
    set_entry(&ch.io_list[1], TERM_LAST, TERM_ON_MAX_DIGITS, 200, 0);
    dx_clear_termination_list(ch.digit_list, 1);
    set_entry(&ch.digit_list[0], TERM_LAST, TERM_ON_DIGIT, DIGIT_MASK_POUND, 1);
    // Start-up leaves the prompt list as cleared; it is filled only between calls.
    if (!first) {
        dx_clear_termination_list(ch.prompt_list, 1);
        set_entry(&ch.prompt_list[0], TERM_LAST, TERM_ON_HANGUP, 0, HANGUP_TERM_FLAGS);
    }
    ch.io_done = 0;
    if (!first) {
        tuvo_free_buffer(RetiredStreams[i]);
        RetiredStreams[i] = ch.stream;
    }
    ch.stream = tuvo_create_buffer(STREAM_BLOCKS, FWBuffersize);
    if (ch.stream == nullptr) {
        // Start-up reports this failure on standard output, a later preparation on standard
        // error, as the two always have.
        std::fprintf(first ? stdout : stderr, "Failed to allocate TUVO Buffer\n");
        return PREPARE_FAILED;
    }
    // The stream events live as long as the process: opened once, reset before each call.
    if (first) {
        char event_name[32];
        std::snprintf(event_name, sizeof event_name, "%sTUVOEvent", ch.name);
        StreamEvents[i] = OpenEvent(event_name);
        if (StreamEvents[i] == nullptr) {
            std::printf("Error opening event: %d\n", errno);
            return PREPARE_NO_EVENT;
        }
    }
    return 0;
}

// Both channels, 1 then 3, then what the line and the audio threads need. A failure stops at
// once: the remaining channel and the line are left as they are.
int prepare_channels(preparation_t when) {
    for (int32_t i = LINE_CHANNEL; i <= RECORD_CHANNEL; i += 2) {
        int result = prepare_channel(i, when);
        if (result != 0) {
            return result;
        }
    }
    publish_streams();
    prepare_line_channel();
    std::memset(SilenceBlock, 0xFF, sizeof SilenceBlock);
    LocalPort = RTP_PORT;
    return 0;
}

}  // namespace

int OpenBoard() {
    int32_t board = dx_open_device(BOARD_NAME, 0);
    if (board == -1) {
        std::fprintf(stderr, "Error opening %s\n", BOARD_NAME);
        std::fprintf(stderr, "Error opening board: %s\n", BOARD_NAME);
        std::fprintf(stderr, "bdname default = %s\n", BOARD_NAME);
        return -1;
    }
    int32_t size = 0;
    if (dx_get_board_parameter(board, BOARD_FIRMWARE_BUFFER, &size) == 0) {
        FWBuffersize = size & 0xFFFF;
        std::printf("Size of Firmware Buffer for Record = %d\n", FWBuffersize);
    } else {
        FWBuffersize = DEFAULT_FIRMWARE_BUFFER;
        std::fprintf(stderr, "Default Size of Firmware Buffer for Record = %d\n", FWBuffersize);
    }
    dx_close_device(board);

    int result = prepare_channels(preparation_t::at_start_up);
    if (result == PREPARE_FAILED) {
        return -1;
    }
    if (result == 0) {
        std::printf("Board initialized\n");
    }
    return 0;
}

int InitGlobals() {
    CallLoopRunning = 1;
    HangupSignalled = 0;
    MediaStop = 0;
    if (prepare_channels(preparation_t::between_calls) != 0) {
        return -1;
    }
    LocalAddress = nullptr;
    ResetEvent(shdwnhandle);
    ResetEvent(RescheduleEvent);
    return 0;
}

int StartPlaying(int32_t channel) {
    channel_t &ch = Channels[channel];
    if (dx_play(ch.device, nullptr, ch.io_list, &StreamFormat, EV_ASYNC) == -1) {
        report_board_error(ch, "dx_play()");
        return -1;
    }
    tuvo_empty_buffer(ch.stream);
    // Two blocks of silence go first, so that the board has something to play while the
    // network's first packets are on their way.
    for (int n = 0; n < 2; ++n) {
        uint8_t *block = tuvo_next_free_block(ch.stream);
        if (block == nullptr) {
            break;
        }
        // A block longer than the silence kept at hand is silence all the same.
        std::memset(block, 0xFF, static_cast<size_t>(FWBuffersize));
        std::memcpy(
            block, SilenceBlock,
            static_cast<size_t>(FWBuffersize < SILENCE_BYTES ? FWBuffersize : SILENCE_BYTES));
        tuvo_commit_block(ch.stream, FWBuffersize);
    }
    if (tuvo_start_play(ch.device, ch.stream) == -1) {
        report_board_error(ch, "StartPlaying");
        return -1;
    }
    return 0;
}

int StartRecording(int32_t channel) {
    channel_t &ch = Channels[channel];
    if (dx_rec(ch.device, nullptr, ch.io_list, &StreamFormat, RECORD_MODE) == -1) {
        report_board_error(ch, "dx_rec");
        return -1;
    }
    tuvo_empty_buffer(ch.stream);
    if (tuvo_start_record(ch.device, ch.stream) == -1) {
        report_board_error(ch, "StartRecording");
        return -1;
    }
    std::printf("Exiting start Recording\n");
    return 0;
}

}  // namespace sipline
