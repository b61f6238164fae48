#include "config/cidr.h"

#include <arpa/inet.h>

#include <charconv>
#include <cstring>
#include <string>
#include <string_view>

namespace sipline {

int CidrParse(const char *text, cidr_t *block) {
    if (text == nullptr) {
        return -1;
    }
    std::string_view whole(text);
    size_t slash = whole.find('/');
    std::string address(whole.substr(0, slash));
    int bits = 32;
    if (slash != std::string_view::npos) {
        std::string_view length = whole.substr(slash + 1);
        auto [end, fault] = std::from_chars(length.data(), length.data() + length.size(), bits);
        if (length.empty() || length.size() > 2 || fault != std::errc() ||
            end != length.data() + length.size() || bits < 0 || bits > 32) {
            return -1;
        }
    }
    in_addr parsed{};
    if (inet_pton(AF_INET, address.c_str(), &parsed) != 1) {
        return -1;
    }
    // A shift by 32 is undefined, so /0 has its own mask.
    uint32_t mask = bits == 0 ? 0 : ~uint32_t{0} << (32 - bits);
    block->mask = mask;
    block->network = ntohl(parsed.s_addr) & mask;
    return 0;
}

bool CidrContains(const cidr_t &block, uint32_t address) {
    return (address & block.mask) == block.network;
}

}  // namespace sipline
