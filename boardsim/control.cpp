#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "boardsim/boardsim.h"
#include "boardsim/control_parse.h"
#include "boardsim/state.h"

namespace sipline {
namespace boardsim {
namespace {

constexpr int POLL_MS = 100;  // how soon the thread notices the board stopping
constexpr size_t CLIENTS_MAX = 16;

struct Client {
    int fd;
    std::string pending;
    bool discarding = false;  // inside an over-long line, up to its end
};

std::string execute(Board &b, const control_command_t &c) {
    switch (c.command) {
        case Command::ring: {
            std::string why = start_ringing(b, c.ring);
            return why.empty() ? "OK ringing" : "ERR " + why;
        }
        case Command::digits:
            if (b.line != Line::connected) {
                return "ERR no call on the line";
            }
            for (char digit : c.argument) {
                line_hears_digit(b, digit);
            }
            return "OK pressed " + c.argument;
        case Command::press:
            if (b.line != Line::connected) {
                return "ERR no call on the line";
            }
            if (!press_keys(b, c.argument)) {
                return "ERR too many keys waiting to be pressed";
            }
            return "OK pressing " + c.argument;
        case Command::hangup:
            if (b.line == Line::idle) {
                return "ERR no call on the line";
            }
            far_party_hangs_up(b);
            return "OK hung up";
        case Command::say: {
            std::vector<uint8_t> said;
            std::string why = wav_load(c.argument, &said);
            if (!why.empty()) {
                return "ERR " + c.argument + " " + why;
            }
            b.say = std::move(said);
            b.say_at = 0;
            return "OK saying " + c.argument;
        }
        case Command::status:
            return "OK " + status_line(b);
    }
    return "ERR unknown command";
}

std::string answer(Board &b, std::string_view line) {
    control_command_t command;
    std::string why = control_parse(line, &command);
    if (!why.empty()) {
        return "ERR " + why;
    }
    std::unique_lock lock(b.mutex);
    ensure_started(b, lock);
    return execute(b, command);
}

// A client that does not read its replies is dropped rather than let it stall the line's
// commands (and the board's shutdown).
bool reply(const Client &client, const std::string &text) {
    std::string line = text + "\n";
    size_t sent = 0;
    while (sent < line.size()) {
        ssize_t n =
            ::send(client.fd, line.data() + sent, line.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        sent += static_cast<size_t>(n);
    }
    return true;
}

// Splits what arrived into lines and answers each; false when the client is gone.
bool serve(Board &b, Client &client) {
    char piece[512];
    ssize_t n = ::recv(client.fd, piece, sizeof piece, 0);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
        return true;
    }
    if (n <= 0) {
        return false;
    }
    for (ssize_t i = 0; i < n; ++i) {
        char c = piece[i];
        if (c == '\n') {
            if (!client.discarding && !reply(client, answer(b, client.pending))) {
                return false;
            }
            client.pending.clear();
            client.discarding = false;
        } else if (!client.discarding) {
            client.pending += c;
            if (client.pending.size() > CONTROL_LINE_MAX + 1) {
                if (!reply(client, "ERR line too long")) {
                    return false;
                }
                client.pending.clear();
                client.discarding = true;
            }
        }
    }
    return true;
}

}  // namespace

int control_listen(const std::string &path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        std::fprintf(stderr, "boardsim: control socket path too long: %s\n", path.c_str());
        return -1;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    // A socket left behind by an earlier run is in the way; anything else at the path is not
    // ours to remove.
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode)) {
        ::unlink(path.c_str());
    }
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        ::listen(fd, 8) != 0) {
        std::fprintf(stderr, "boardsim: cannot listen on %s: %s; the line takes no commands\n",
                     path.c_str(), std::strerror(errno));
        if (fd >= 0) {
            ::close(fd);
        }
        return -1;
    }
    return fd;
}

void control_run(Board &b) {
    int listener = -1;
    {
        std::lock_guard lock(b.mutex);
        listener = b.listener;
    }
    std::vector<Client> clients;
    while (!b.stopping) {
        std::vector<pollfd> fds;
        if (listener >= 0) {
            fds.push_back({listener, POLLIN, 0});
        }
        for (const Client &c : clients) {
            fds.push_back({c.fd, POLLIN, 0});
        }
        int ready = ::poll(fds.data(), fds.size(), POLL_MS);
        if (ready <= 0) {
            continue;
        }
        size_t first_client = listener >= 0 ? 1 : 0;
        for (size_t i = clients.size(); i-- > 0;) {
            if (fds[first_client + i].revents != 0 && !serve(b, clients[i])) {
                ::close(clients[i].fd);
                clients.erase(clients.begin() + static_cast<std::ptrdiff_t>(i));
            }
        }
        if (listener >= 0 && (fds[0].revents & POLLIN) != 0) {
            int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0 && clients.size() < CLIENTS_MAX) {
                clients.push_back({fd, {}, false});
            } else if (fd >= 0) {
                Client refused{fd, {}, false};
                reply(refused, "ERR too many connections");
                ::close(fd);
            }
        }
    }
    for (const Client &c : clients) {
        ::close(c.fd);
    }
}

}  // namespace boardsim

std::string boardsim_command(std::string_view line) {
    return boardsim::answer(boardsim::board(), line);
}

}  // namespace sipline
