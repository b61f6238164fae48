// The tables behind the gateway's security decision, for the decision and its tests.
#pragma once

#include <cstdint>
#include <deque>
#include <mutex>
#include <regex>
#include <string>
#include <unordered_map>
#include <vector>

#include "gateway/watch.h"

namespace sipline {

// Nonces handed out in challenges, each bound to the source it was given to and answerable for
// POLICY_NONCE_SECONDS; the highest nonce count used with each refuses replays (RFC 2617
// section 3.2.2). A nonce that fell out of the bounded table is recognised by its own MAC and
// called stale, so that an honest client simply tries again.
class nonce_table {
  public:
    enum class verdict { fresh, stale, unknown, replayed };

    nonce_table(double lifetime, size_t capacity);
    std::string issue(uint32_t source, double now);
    // Takes the nonce count when consume is set and the nonce is fresh for this source.
    verdict use(const std::string &nonce, uint32_t source, double now, uint32_t nc, bool consume);

  private:
    struct entry {
        uint32_t source;
        double issued;
        uint32_t last_nc;
    };
    std::string mac(const std::string &stamp, uint32_t source) const;
    void expire(double now);

    const double lifetime_;
    const size_t capacity_;
    std::string secret_;  // hex, drawn once; read-only after construction
    // Both under mutex_; order_ holds the nonces in the order they were issued.
    std::mutex mutex_;
    std::unordered_map<std::string, entry> entries_;
    std::deque<std::string> order_;
    uint64_t issued_count_ = 0;
};

// Failures per source within a window; ban_after of them ban the source for ban_seconds.
class ban_table {
  public:
    ban_table(int32_t ban_after, int32_t ban_seconds, double window, size_t capacity);
    bool banned(uint32_t source, double now);
    // Counts one failure; true when it is the one that bans the source.
    bool fail(uint32_t source, double now);
    // New limits for what comes next; bans in force run to their end.
    void configure(int32_t ban_after, int32_t ban_seconds);
    // The bans in force, up to `room`; their number.
    int32_t list(double now, gateway_ban_t *bans, int32_t room);

  private:
    struct entry {
        double window_start;
        int32_t failures;
        double banned_until;  // 0 when not banned
    };
    bool make_room(double now);

    const double window_;
    const size_t capacity_;
    std::mutex mutex_;  // guards entries_, ban_after_ and ban_seconds_
    int32_t ban_after_;
    double ban_seconds_;
    std::unordered_map<uint32_t, entry> entries_;
};

// dial_allow and dial_deny, each matched against the whole number.
class dial_rules {
  public:
    // False when a pattern does not compile.
    bool set(const std::vector<std::string> &allow, const std::vector<std::string> &deny);
    bool permits(const std::string &number) const;

  private:
    std::vector<std::regex> allow_;
    std::vector<std::regex> deny_;
};

}  // namespace sipline
