#include "support/resolve.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

namespace sipline {

int resolve_host(const char *name, in_addr *address) {
    if (name == nullptr || *name == '\0') {
        return -1;
    }
    if (inet_pton(AF_INET, name, address) == 1) {
        return 0;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo *found = nullptr;
    if (getaddrinfo(name, nullptr, &hints, &found) != 0 || found == nullptr) {
        return -1;
    }
    *address = reinterpret_cast<sockaddr_in *>(found->ai_addr)->sin_addr;
    freeaddrinfo(found);
    return 0;
}

}  // namespace sipline
