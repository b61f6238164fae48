// The board-side resources of the one line: the board, channels 1 (line control and play) and
// 3 (record), their termination lists and stream buffers, the block of silence and the data
// format of play and record.
#pragma once

#include <cstdint>

#include "board/board.h"
#include "host/host.h"
#include "media/bridge_state.h"

namespace sipline {

struct channel_t {
    char name[16];
    int32_t device;                // -1: not open
    termination_t io_list[2];      // ends play and record
    termination_t digit_list[1];   // ends prompts and digit collection on "#"
    termination_t prompt_list[1];  // ends the "not found" prompt
    int32_t io_done;               // 1 once the channel's play or record reported its end
    stream_t stream;
};

inline constexpr const char *BOARD_NAME = "dxxxB1";
inline constexpr int32_t LINE_CHANNEL = 1;
inline constexpr int32_t RECORD_CHANNEL = 3;
inline constexpr int32_t SILENCE_BYTES = 768;
inline constexpr int32_t STREAM_BLOCKS = 32;

// Entries 1 and 3 are used; every loop over channels visits 1 and then 3. Main thread only,
// except the stream handles, which the audio threads read while their call runs.
extern channel_t Channels[4];
extern HANDLE StreamEvents[4];
extern uint8_t SilenceBlock[SILENCE_BYTES];
extern const stream_format_t StreamFormat;
extern dial_params_t DialParams;

// Start-up's preparation of the board and both channels. 0, or -1 when start-up must end with
// status 1 (the failure is printed). A stream event that cannot be opened is printed and ends
// the preparation early, and start-up goes on (0).
int OpenBoard();
// Reopens and refills both channels between calls. 0, or -1 when the process must end with
// status 1 (the failure is printed).
int InitGlobals();
int StartPlaying(int32_t channel);
int StartRecording(int32_t channel);

}  // namespace sipline
