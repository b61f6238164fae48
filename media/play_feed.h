// Fills the line's play stream with a continuous run of mu-law samples: every byte given is
// written once, in order, in blocks of the stream's block size. A frame of audio may span two
// blocks; the part of a block not yet filled waits for the next packet's audio.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "board/board.h"

namespace sipline {

class play_feed {
  public:
    // keep_going tells whether the call still runs; it is asked while the stream is full.
    play_feed(stream_t stream, int32_t block_size, std::function<bool()> keep_going);

    // Appends the samples and commits every block they complete. A full stream is retried
    // about once a block's time, `stall_mark` printed once per stall. False when the call
    // ended while waiting for room (the samples not yet committed are dropped).
    bool write(const uint8_t *samples, size_t count, char stall_mark);

    size_t pending() const { return pending_.size(); }
    int64_t blocks_committed() const { return committed_; }
    int64_t stalls() const { return stalls_; }

  private:
    bool commit_block(const uint8_t *samples, char stall_mark);

    stream_t stream_;
    size_t block_;
    std::function<bool()> keep_going_;
    std::vector<uint8_t> pending_;
    int64_t committed_ = 0;
    int64_t stalls_ = 0;
};

}  // namespace sipline
