// The address a registrar saw the gateway at. Each learned value takes a record of its own that
// is never written again: readers on any thread hold its text without a lock, and the records are
// few (SIP_LEARNED_MOST), since a NAT changes its mapping rarely.
#include <arpa/inet.h>

#include <atomic>
#include <mutex>
#include <string_view>

#include "sip/uas/gateway.h"

namespace sipline {
namespace {

struct learned_t {
    char address[INET_ADDRSTRLEN];
    int32_t port;
};

learned_t records[SIP_LEARNED_MOST];  // filled in order under `learning`
std::atomic<const learned_t *> learned{nullptr};
std::mutex learning;
int32_t changes = 0;  // under learning

}  // namespace

void SipLearnPublicAddress(const sockaddr_in *seen) {
    learned_t seen_as{};
    inet_ntop(AF_INET, &seen->sin_addr, seen_as.address, sizeof seen_as.address);
    seen_as.port = ntohs(seen->sin_port);
    std::lock_guard<std::mutex> lock(learning);
    const learned_t *now = learned.load(std::memory_order_acquire);
    if ((now != nullptr && std::string_view(now->address) == seen_as.address &&
         now->port == seen_as.port) ||
        changes >= SIP_LEARNED_MOST) {
        return;
    }
    records[changes] = seen_as;
    learned.store(&records[changes], std::memory_order_release);
    changes += 1;
}

const char *SipLearnedAddress() {
    const learned_t *now = learned.load(std::memory_order_acquire);
    return now != nullptr ? now->address : nullptr;
}

int32_t SipLearnedPort() {
    const learned_t *now = learned.load(std::memory_order_acquire);
    return now != nullptr ? now->port : 0;
}

}  // namespace sipline
