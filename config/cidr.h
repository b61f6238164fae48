// IPv4 address blocks written as "a.b.c.d/n" or as one address, for the source allow-list.
#pragma once

#include <cstdint>

namespace sipline {

struct cidr_t {
    uint32_t network;  // host byte order, host bits cleared
    uint32_t mask;
};

// 0 and *block filled; -1 for anything else than a dotted address with an optional /0../32.
int CidrParse(const char *text, cidr_t *block);
// address in host byte order.
bool CidrContains(const cidr_t &block, uint32_t address);

}  // namespace sipline
