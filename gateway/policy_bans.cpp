#include "gateway/policy_internal.h"

namespace sipline {

ban_table::ban_table(int32_t ban_after, int32_t ban_seconds, double window, size_t capacity)
    : window_(window), capacity_(capacity), ban_after_(ban_after), ban_seconds_(ban_seconds) {}

void ban_table::configure(int32_t ban_after, int32_t ban_seconds) {
    std::lock_guard<std::mutex> lock(mutex_);
    ban_after_ = ban_after;
    ban_seconds_ = ban_seconds;
}

bool ban_table::banned(uint32_t source, double now) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = entries_.find(source);
    if (found == entries_.end() || found->second.banned_until == 0) {
        return false;
    }
    if (now < found->second.banned_until) {
        return true;
    }
    entries_.erase(found);
    return false;
}

// Drops what no longer counts: ended bans and failures outside the window; then, if the table
// is still full, the unbanned source with the fewest failures. False when every entry is a ban.
bool ban_table::make_room(double now) {
    for (auto it = entries_.begin(); it != entries_.end();) {
        const entry &e = it->second;
        bool over = e.banned_until != 0 ? now >= e.banned_until : now - e.window_start > window_;
        it = over ? entries_.erase(it) : std::next(it);
    }
    if (entries_.size() < capacity_) {
        return true;
    }
    auto weakest = entries_.end();
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
        if (it->second.banned_until == 0 &&
            (weakest == entries_.end() || it->second.failures < weakest->second.failures)) {
            weakest = it;
        }
    }
    if (weakest == entries_.end()) {
        return false;
    }
    entries_.erase(weakest);
    return true;
}

int32_t ban_table::list(double now, gateway_ban_t *bans, int32_t room) {
    std::lock_guard<std::mutex> lock(mutex_);
    int32_t count = 0;
    for (const auto &[source, e] : entries_) {
        if (count < room && e.banned_until != 0 && now < e.banned_until) {
            bans[count++] = gateway_ban_t{source, e.banned_until - now};
        }
    }
    return count;
}

bool ban_table::fail(uint32_t source, double now) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (ban_after_ <= 0) {
        return false;
    }
    auto found = entries_.find(source);
    if (found == entries_.end()) {
        if (entries_.size() >= capacity_ && !make_room(now)) {
            return false;
        }
        found = entries_.emplace(source, entry{now, 0, 0}).first;
    }
    entry &e = found->second;
    if (e.banned_until != 0) {
        return false;
    }
    if (now - e.window_start > window_) {
        e.window_start = now;
        e.failures = 0;
    }
    if (++e.failures < ban_after_) {
        return false;
    }
    e.banned_until = now + ban_seconds_;
    return true;
}

}  // namespace sipline
