// The one way the system turns a host name into an IPv4 address: dotted text is converted,
// anything else is looked up by name and its first IPv4 address taken.
#pragma once

#include <netinet/in.h>

namespace sipline {

// 0 and *address (network order) on success, -1 when the name cannot be resolved.
int resolve_host(const char *name, in_addr *address);

}  // namespace sipline
