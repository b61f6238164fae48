#include <algorithm>

#include "boardsim/state.h"

namespace sipline {

using boardsim::Board;
using boardsim::board;
using boardsim::Channel;
using boardsim::Io;

namespace {

constexpr int32_t BLOCKS_MAX = 1024;
constexpr int32_t BLOCK_SIZE_MAX = 65536;

bool usable(const stream_buffer *buffer) {
    return !buffer->storage.empty();
}

uint8_t *slot(stream_buffer *buffer, int32_t index) {
    return buffer->storage.data() + static_cast<size_t>(index) * buffer->block_size;
}

int attach(int32_t device, stream_buffer *buffer, Io io) {
    Board &b = board();
    std::lock_guard lock(b.mutex);
    Channel *ch = boardsim::channel_of(b, device);
    if (ch == nullptr || !ch->open || ch->io != io || buffer == nullptr) {
        boardsim::fail(b, device, EDX_BADPARM,
                       io == Io::play ? "no play is running on the channel"
                                      : "no record is running on the channel");
        return -1;
    }
    {
        std::lock_guard stream_lock(buffer->mutex);
        if (!usable(buffer)) {
            boardsim::fail(b, device, EDX_BADPARM, "stream buffer was freed");
            return -1;
        }
        buffer->ready = io == Io::record ? ch->stream_event : nullptr;
    }
    ch->stream = buffer;
    auto period = std::chrono::milliseconds(buffer->block_size / 8);
    ch->due = boardsim::Clock::now() + (io == Io::record ? period : period * 0);
    b.clock_wake.notify_all();
    boardsim::succeed(b, device);
    // Loop current is a level, not an edge: an I/O that ends on hang-up, started off-hook after
    // the far party has gone, ends at once as a board's would.
    if (b.off_hook && b.line == boardsim::Line::idle) {
        boardsim::end_io_if_hung_up(b, *ch);
    }
    return 0;
}

}  // namespace

stream_t tuvo_create_buffer(int32_t blocks, int32_t block_size) {
    if (blocks < 1 || blocks > BLOCKS_MAX || block_size < 1 || block_size > BLOCK_SIZE_MAX) {
        return nullptr;
    }
    Board &b = board();
    std::lock_guard lock(b.mutex);
    stream_t handle = nullptr;
    if (b.freed.size() > boardsim::FREED_SHELLS_KEPT) {
        handle = b.freed.front();
        b.freed.pop_front();
    } else {
        b.buffers.push_back(std::make_unique<stream_buffer>());
        handle = b.buffers.back().get();
    }
    std::lock_guard stream_lock(handle->mutex);
    handle->blocks = blocks;
    handle->block_size = block_size;
    handle->storage.assign(static_cast<size_t>(blocks) * block_size, 0xFF);
    handle->lengths.assign(blocks, 0);
    handle->references.assign(static_cast<size_t>(blocks) * block_size, 0xFF);
    handle->head = handle->count = 0;
    handle->ready = nullptr;
    return handle;
}

void tuvo_free_buffer(stream_t buffer) {
    if (buffer == nullptr) {
        return;
    }
    Board &b = board();
    std::lock_guard lock(b.mutex);
    for (Channel &ch : b.channels) {
        if (ch.stream == buffer) {
            ch.stream = nullptr;
        }
    }
    std::lock_guard stream_lock(buffer->mutex);
    if (buffer->blocks == 0) {
        return;  // freed already
    }
    b.freed.push_back(buffer);
    buffer->blocks = 0;
    buffer->storage.clear();
    buffer->storage.shrink_to_fit();
    buffer->lengths.clear();
    buffer->references.clear();
    buffer->references.shrink_to_fit();
    buffer->head = buffer->count = 0;
    if (buffer->ready != nullptr) {
        ResetEvent(buffer->ready);
        buffer->ready = nullptr;
    }
}

void tuvo_empty_buffer(stream_t buffer) {
    if (buffer == nullptr) {
        return;
    }
    std::lock_guard lock(buffer->mutex);
    buffer->head = buffer->count = 0;
    if (buffer->ready != nullptr) {
        ResetEvent(buffer->ready);
    }
}

uint8_t *tuvo_next_free_block(stream_t buffer) {
    if (buffer == nullptr) {
        return nullptr;
    }
    std::lock_guard lock(buffer->mutex);
    if (!usable(buffer) || buffer->count == buffer->blocks) {
        return nullptr;
    }
    return slot(buffer, (buffer->head + buffer->count) % buffer->blocks);
}

int tuvo_commit_block(stream_t buffer, int32_t count) {
    if (buffer == nullptr) {
        return -1;
    }
    std::lock_guard lock(buffer->mutex);
    if (!usable(buffer) || buffer->count == buffer->blocks) {
        return -1;
    }
    int32_t tail = (buffer->head + buffer->count) % buffer->blocks;
    buffer->lengths[tail] = std::clamp(count, 0, buffer->block_size);
    ++buffer->count;
    return 0;
}

int tuvo_start_play(int32_t device, stream_t buffer) {
    return attach(device, buffer, Io::play);
}

int tuvo_start_record(int32_t device, stream_t buffer) {
    return attach(device, buffer, Io::record);
}

uint8_t *tuvo_next_recorded_block(stream_t buffer) {
    if (buffer == nullptr) {
        return nullptr;
    }
    std::lock_guard lock(buffer->mutex);
    if (!usable(buffer)) {
        return nullptr;
    }
    if (buffer->count == 0) {
        // The clock sets the event after releasing this lock; a reader that took the block in
        // between finds the event set and nothing to read. Reset here, it waits again instead
        // of spinning until the clock runs to reset it.
        if (buffer->ready != nullptr) {
            ResetEvent(buffer->ready);
        }
        return nullptr;
    }
    return slot(buffer, buffer->head);
}

const uint8_t *tuvo_recorded_reference(stream_t buffer) {
    if (buffer == nullptr) {
        return nullptr;
    }
    std::lock_guard lock(buffer->mutex);
    if (!usable(buffer) || buffer->count == 0) {
        return nullptr;
    }
    return buffer->references.data() + static_cast<size_t>(buffer->head) * buffer->block_size;
}

int tuvo_release_block(stream_t buffer, int32_t) {
    if (buffer == nullptr) {
        return -1;
    }
    std::lock_guard lock(buffer->mutex);
    if (!usable(buffer) || buffer->count == 0) {
        return -1;
    }
    buffer->head = (buffer->head + 1) % buffer->blocks;
    --buffer->count;
    if (buffer->count == 0 && buffer->ready != nullptr) {
        ResetEvent(buffer->ready);
    }
    return 0;
}

}  // namespace sipline
