#include "gateway/host_identity.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "gateway/globals.h"
#include "support/resolve.h"

namespace sipline {

void CutAtFirstDot(char *name) {
    if (char *dot = std::strchr(name, '.')) {
        *dot = '\0';
    }
}

void InitHostIdentity() {
    char full[sizeof HostShortName] = "";
    gethostname(full, sizeof full);
    full[sizeof full - 1] = '\0';
    std::memcpy(HostShortName, full, sizeof full);
    std::printf("IP shortname: %s\n", HostShortName);
    CutAtFirstDot(HostShortName);

    in_addr address{};
    if (resolve_host(full, &address) != 0) {
        std::fprintf(stderr, "gethostbyname error\n");
        std::exit(1);
    }
    inet_ntop(AF_INET, &address, HostAddress, sizeof HostAddress);
    std::printf("IP address: %s\n", HostAddress);

    sockaddr_in socket_address{};
    socket_address.sin_family = AF_INET;
    socket_address.sin_addr = address;
    // An address without a reverse entry keeps the name the host gives itself rather than no
    // name at all.
    if (getnameinfo(reinterpret_cast<sockaddr *>(&socket_address), sizeof socket_address, HostName,
                    sizeof HostName, nullptr, 0, NI_NAMEREQD) != 0) {
        std::snprintf(HostName, sizeof HostName, "%s", full);
    }
    std::printf("IP name: %s\n", HostName);
}

}  // namespace sipline
