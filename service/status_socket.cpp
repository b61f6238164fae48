#include "service/status_socket.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "service/status_request.h"

namespace sipline {
namespace {

// A client has this long to send its request and take the answer: the one thread serves one
// client at a time.
constexpr int CLIENT_WAIT_MS = 1000;
constexpr time_t ASK_WAIT_S = 5;

bool unix_address(const std::string &path, sockaddr_un *address) {
    *address = {};
    address->sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address->sun_path) {
        return false;
    }
    std::memcpy(address->sun_path, path.c_str(), path.size() + 1);
    return true;
}

int connect_to(const std::string &path) {
    sockaddr_un address{};
    if (!unix_address(path, &address)) {
        errno = ENAMETOOLONG;
        return -1;
    }
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        const int saved = errno;
        close(fd);
        errno = saved;
        return -1;
    }
    return fd;
}

bool wait_for(int fd, short events) {
    pollfd p{fd, events, 0};
    int ready;
    while ((ready = poll(&p, 1, CLIENT_WAIT_MS)) < 0 && errno == EINTR) {
    }
    return ready > 0;
}

bool send_all(int fd, const std::string &text) {
    size_t sent = 0;
    while (sent < text.size()) {
        if (!wait_for(fd, POLLOUT)) {
            return false;
        }
        const ssize_t n = send(fd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno != EINTR && errno != EAGAIN) {
            return false;
        }
        sent += n > 0 ? static_cast<size_t>(n) : 0;
    }
    return true;
}

}  // namespace

status_socket::~status_socket() {
    stop();
}

int status_socket::start(const std::string &path, handler on_request, std::string *error) {
    sockaddr_un address{};
    if (!unix_address(path, &address)) {
        *error = path + ": not a usable socket path";
        return -1;
    }
    const int running = connect_to(path);
    if (running >= 0) {
        close(running);
        *error = path + ": another gateway answers there";
        return -1;
    }
    struct stat seen {};
    if (lstat(path.c_str(), &seen) == 0) {
        if (!S_ISSOCK(seen.st_mode)) {
            *error = path + ": exists and is not a socket";
            return -1;
        }
        unlink(path.c_str());
    }
    listener_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (listener_ < 0 ||
        bind(listener_, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        chmod(path.c_str(), 0660) != 0 || listen(listener_, 8) != 0 ||
        pipe2(wake_, O_CLOEXEC) != 0) {
        *error = path + ": " + std::strerror(errno);
        stop();
        return -1;
    }
    path_ = path;
    on_request_ = std::move(on_request);
    thread_ = std::thread(&status_socket::serve, this);
    return 0;
}

void status_socket::stop() {
    if (thread_.joinable()) {
        const char byte = 0;
        while (write(wake_[1], &byte, 1) < 0 && errno == EINTR) {
        }
        thread_.join();
    }
    for (int *fd : {&listener_, &wake_[0], &wake_[1]}) {
        if (*fd >= 0) {
            close(*fd);
            *fd = -1;
        }
    }
    if (!path_.empty()) {
        unlink(path_.c_str());
        path_.clear();
    }
}

void status_socket::serve() {
    for (;;) {
        pollfd p[2] = {{listener_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        // Woken by a client or by stop(); an interrupted wait just waits again.
        if (poll(p, 2, -1) < 0) {
            continue;
        }
        if (p[1].revents != 0) {
            return;
        }
        const int client = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (client >= 0) {
            answer(client);
            close(client);
        }
    }
}

void status_socket::answer(int client) {
    char request[STATUS_REQUEST_MOST + 1];
    size_t length = 0;
    // Until the line's end, the room's end, the client's end of writing, or the time limit.
    while (length < sizeof request && std::memchr(request, '\n', length) == nullptr) {
        if (!wait_for(client, POLLIN)) {
            break;
        }
        const ssize_t n = recv(client, request + length, sizeof request - length, 0);
        if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) {
            break;
        }
        length += n > 0 ? static_cast<size_t>(n) : 0;
    }
    const int32_t kind = StatusRequestParse(request, length);
    send_all(client, kind == STATUS_REQUEST_BAD ? std::string("error: unknown request; try "
                                                              "\"status\" or \"calls\"\n")
                                                : on_request_(kind));
}

int StatusAsk(const std::string &path, const char *request, FILE *out, FILE *err) {
    const int fd = connect_to(path);
    if (fd < 0) {
        std::fprintf(err, "sipline: no gateway answers at %s: %s\n", path.c_str(),
                     std::strerror(errno));
        return 1;
    }
    // A gateway that is stuck must not hang the one asking.
    const timeval limit{ASK_WAIT_S, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    std::string line = std::string(request) + "\n";
    bool ok = send(fd, line.data(), line.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(line.size());
    char buffer[4096];
    ssize_t n = 0;
    bool any = false;
    while (ok && (n = recv(fd, buffer, sizeof buffer, 0)) != 0) {
        if (n < 0) {
            ok = errno == EINTR;
            continue;
        }
        any = true;
        std::fwrite(buffer, 1, static_cast<size_t>(n), out);
    }
    close(fd);
    if (!ok || !any) {
        std::fprintf(err, "sipline: the gateway at %s did not answer\n", path.c_str());
        return 1;
    }
    return 0;
}

}  // namespace sipline
