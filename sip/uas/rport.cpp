#include "sip/uas/rport.h"

#include <arpa/inet.h>
#include <strings.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace sipline {
namespace {

// The parameters of a Via value start at its first ";" (RFC 3261 section 20.42).
struct parameter {
    size_t start;  // of its name, after the ";"
    size_t end;    // of the whole parameter (the next ";" or the end)
    std::string_view name;
};

template <typename Visit>
void each_parameter(std::string_view via, Visit &&visit) {
    size_t at = via.find(';');
    while (at != std::string_view::npos) {
        const size_t start = at + 1;
        const size_t end = std::min(via.find(';', start), via.size());
        std::string_view whole = via.substr(start, end - start);
        std::string_view name = whole.substr(0, whole.find('='));
        while (!name.empty() && (name.front() == ' ' || name.front() == '\t')) {
            name.remove_prefix(1);
        }
        while (!name.empty() && (name.back() == ' ' || name.back() == '\t')) {
            name.remove_suffix(1);
        }
        if (!visit(parameter{start, end, name})) {
            return;
        }
        at = end < via.size() ? end : std::string_view::npos;
    }
}

bool named(std::string_view name, std::string_view wanted) {
    return name.size() == wanted.size() &&
           strncasecmp(name.data(), wanted.data(), name.size()) == 0;
}

}  // namespace

int ViaAsksRport(const char *via) {
    if (via == nullptr) {
        return 0;
    }
    int found = 0;
    each_parameter(via, [&](const parameter &p) {
        found = named(p.name, "rport") ? 1 : 0;
        return found == 0;
    });
    return found;
}

int ViaReceivedAt(const char *via, sockaddr_in *seen) {
    if (via == nullptr) {
        return 0;
    }
    std::string_view text = via;
    std::string address;
    int32_t port = 0;
    each_parameter(text, [&](const parameter &p) {
        std::string_view whole = text.substr(p.start, p.end - p.start);
        const size_t equals = whole.find('=');
        std::string_view value = equals == std::string_view::npos ? "" : whole.substr(equals + 1);
        while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) {
            value.remove_prefix(1);
        }
        while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) {
            value.remove_suffix(1);
        }
        if (named(p.name, "received") && value.size() < INET_ADDRSTRLEN) {
            address = value;
        } else if (named(p.name, "rport")) {
            port = 0;
            for (char c : value) {
                port = c >= '0' && c <= '9' && port <= 65535 ? port * 10 + (c - '0') : 70000;
            }
            if (port > 65535) {
                port = 0;
            }
        }
        return true;
    });
    sockaddr_in out{};
    out.sin_family = AF_INET;
    if (address.empty() || inet_pton(AF_INET, address.c_str(), &out.sin_addr) != 1) {
        return 0;
    }
    out.sin_port = htons(static_cast<uint16_t>(port));
    *seen = out;
    return 1;
}

char *ViaWithReceived(const char *via, const sockaddr_in *source) {
    std::string_view text = via != nullptr ? via : "";
    char address[INET_ADDRSTRLEN] = "";
    inet_ntop(AF_INET, &source->sin_addr, address, sizeof address);
    const std::string port = std::to_string(ntohs(source->sin_port));
    std::string out;
    size_t copied = 0;
    // The "rport" and "received" the request carried are replaced by the ones seen.
    each_parameter(text, [&](const parameter &p) {
        if (named(p.name, "rport") || named(p.name, "received")) {
            out.append(text.substr(copied, p.start - 1 - copied));
            copied = p.end;
        }
        return true;
    });
    out.append(text.substr(copied));
    out += ";received=";
    out += address;
    out += ";rport=" + port;
    return strdup(out.c_str());
}

}  // namespace sipline
