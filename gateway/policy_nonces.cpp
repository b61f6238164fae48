#include <sys/random.h>

#include <cinttypes>
#include <cstdio>

#include "gateway/policy_internal.h"
#include "sip/message/digest.h"

namespace sipline {

namespace {

constexpr size_t kStampLength = 32;  // 16 hex digits of time, 16 of count
constexpr size_t kMacLength = 32;

std::string random_hex(size_t bytes) {
    std::string raw(bytes, '\0');
    size_t filled = 0;
    while (filled < bytes) {
        ssize_t got = getrandom(raw.data() + filled, bytes - filled, 0);
        if (got > 0) {
            filled += static_cast<size_t>(got);
        }
    }
    std::string hex;
    for (unsigned char c : raw) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02x", c);
        hex += pair;
    }
    return hex;
}

}  // namespace

nonce_table::nonce_table(double lifetime, size_t capacity)
    : lifetime_(lifetime), capacity_(capacity), secret_(random_hex(32)) {}

std::string nonce_table::mac(const std::string &stamp, uint32_t source) const {
    std::string text = secret_ + ":" + stamp + ":" + std::to_string(source);
    char hash[DIGEST_HEX_SIZE];
    DigestHash(DIGEST_SHA256, text.data(), text.size(), hash);
    return std::string(hash, kMacLength);
}

void nonce_table::expire(double now) {
    while (!order_.empty()) {
        auto found = entries_.find(order_.front());
        if (found != entries_.end() && now - found->second.issued <= lifetime_ &&
            entries_.size() < capacity_) {
            return;
        }
        if (found != entries_.end()) {
            entries_.erase(found);
        }
        order_.pop_front();
    }
}

std::string nonce_table::issue(uint32_t source, double now) {
    std::lock_guard<std::mutex> lock(mutex_);
    expire(now);
    // The time in the nonce lets a nonce that left the table still be told stale from forged.
    char stamp[kStampLength + 1];
    std::snprintf(stamp, sizeof stamp, "%016" PRIx64 "%016" PRIx64,
                  static_cast<uint64_t>(now * 1000), issued_count_++);
    std::string nonce = std::string(stamp) + mac(stamp, source);
    entries_[nonce] = entry{source, now, 0};
    order_.push_back(nonce);
    return nonce;
}

nonce_table::verdict nonce_table::use(const std::string &nonce, uint32_t source, double now,
                                      uint32_t nc, bool consume) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = entries_.find(nonce);
    if (found == entries_.end() || found->second.source != source) {
        if (nonce.size() == kStampLength + kMacLength &&
            DigestEqual(mac(nonce.substr(0, kStampLength), source).c_str(),
                        nonce.c_str() + kStampLength)) {
            return verdict::stale;
        }
        return verdict::unknown;
    }
    if (now - found->second.issued > lifetime_) {
        return verdict::stale;
    }
    if (nc <= found->second.last_nc) {
        return verdict::replayed;
    }
    if (consume) {
        found->second.last_nc = nc;
    }
    return verdict::fresh;
}

}  // namespace sipline
