#include "sip/uas/transport.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "sip/uas/dispatch.h"
#include "sip/uas/gateway.h"
#include "sip/uas/outgoing.h"
#include "support/error.h"

namespace sipline {

namespace {

// The listening socket while ReceiveUDP runs (-1 otherwise); ReceiveUDPStop reads it from
// another thread.
std::atomic<int> listening{-1};
std::atomic<bool> stopping{false};
// Written only by tests, before any message is received.
std::atomic<request_thread_starter_t> thread_starter{nullptr};

const char *transport_name(int32_t) {
    return "UDP";
}

// Errors a socket reports for one datagram and then goes on working: a signal, the ICMP
// "port unreachable" that an earlier send left behind, a passing lack of memory.
bool transient(int error) {
    return error == EINTR || error == ECONNREFUSED || error == EAGAIN || error == ENOBUFS ||
           error == ENOMEM || error == EHOSTUNREACH || error == ENETUNREACH;
}

struct socket_guard {
    int fd;
    ~socket_guard() {
        if (fd >= 0) {
            close(fd);
        }
    }
};

int start_thread(void *(*routine)(void *), request_t *r) {
    request_thread_starter_t starter = thread_starter.load();
    if (starter == nullptr) {
        starter = thread_create;
    }
    thread_t thread{};
    return starter(&thread, nullptr, routine, r);
}

}  // namespace

void RequestSetThreadStarter(request_thread_starter_t starter) {
    thread_starter.store(starter);
}

void RequestProcess(request_t *r) {
    void *(*routine)(void *) = nullptr;
    if (r->message.type == MESSAGE_REQUEST) {
        routine = RequestProcessThread;
    } else if (r->message.type == MESSAGE_RESPONSE) {
        routine = ResponseProcessThread;
    } else {
        RequestFree(r);
        return;
    }
    int result = start_thread(routine, r);
    if (result != 0) {
        Error("RequestProcess", "couldn't start thread: %d", result);
        RequestFree(r);
    }
}

void DatagramProcess(char *text, int32_t length, int socket, const sockaddr_in *sender) {
    int32_t offset = 0;
    for (;;) {
        request_t *r = RequestCreate(TRANSPORT_UDP, socket, sender);
        if (MessageParse(text + offset, &r->message) < 0) {
            if (r->message.type == MESSAGE_REQUEST) {
                RequestSetStatus(r, 400, nullptr);
            } else {
                r->message.type = MESSAGE_NONE;
            }
        }
        int32_t header_length = std::clamp(r->message.header_length, 0, length - offset);
        offset += header_length;
        int32_t content_length = HTTP_ContentLength(&r->message);
        if (content_length > 0) {
            content_length = std::min(content_length, length - offset);
            r->body = static_cast<char *>(malloc(static_cast<size_t>(content_length) + 1));
            memcpy(r->body, text + offset, static_cast<size_t>(content_length));
            r->body[content_length] = '\0';
            r->body_length = content_length;
            offset += content_length;
        }
        RequestProcess(r);
        if (!(offset + 1 < length && header_length > 0)) {
            break;
        }
    }
}

void *ReceiveUDP(void *argument) {
    printf("UDP listener started\n");
    socket_guard listener{::socket(AF_INET, SOCK_DGRAM, 0)};
    if (listener.fd < 0) {
        return nullptr;
    }
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    local.sin_port = htons(SIP_PORT);
    if (argument != nullptr) {
        local = *static_cast<const sockaddr_in *>(argument);
    }
    if (bind(listener.fd, reinterpret_cast<sockaddr *>(&local), sizeof local) < 0) {
        Error("ReceiveUDP", "bind\n");
        return nullptr;
    }
    stopping.store(false);
    listening.store(listener.fd);
    std::vector<char> storage(UDP_BUFFER_SIZE + 1);
    char *buffer = storage.data();
    for (;;) {
        sockaddr_in from{};
        socklen_t from_length = sizeof from;
        ssize_t received = recvfrom(listener.fd, buffer, UDP_BUFFER_SIZE, 0,
                                    reinterpret_cast<sockaddr *>(&from), &from_length);
        if (stopping.load()) {
            break;
        }
        if (received < 0) {
            int error = errno;
            Error("ReceiveUDP", "recvfrom\n");
            if (transient(error)) {
                continue;
            }
            break;
        }
        // A banned source costs one lookup: no record, no thread, no log line.
        const sip_gateway_t *gateway = SipGateway();
        if (gateway->IgnoreSource(gateway->admission, &from) != 0) {
            continue;
        }
        buffer[received] = '\0';
        char address[INET_ADDRSTRLEN];
        inet_ntop(AF_INET, &from.sin_addr, address, sizeof address);
        Debug("ReceiveUDP", "received UDP packet (length %d) from %s:%d:\n%s\n",
              static_cast<int>(received), address, ntohs(from.sin_port), buffer);
        printf("Received packet from %s:\n%s\n", address, buffer);
        // Answers and requests leave from the port they came to (RFC 3581 section 4): a NAT in
        // front of the caller lets back only what comes from where it sent.
        DatagramProcess(buffer, static_cast<int32_t>(received), listener.fd, &from);
    }
    listening.store(-1);
    return nullptr;
}

int SipListeningSocket() {
    return listening.load();
}

void ReceiveUDPStop() {
    stopping.store(true);
    int fd = listening.load();
    if (fd >= 0) {
        // Wakes the blocked receive, which then sees the stop request.
        shutdown(fd, SHUT_RDWR);
    }
}

int ResponseSendSocket(request_t *r, const char *text, int32_t length) {
    const sockaddr_in &to = r->via.address;
    char address[INET_ADDRSTRLEN];
    inet_ntop(AF_INET, &to.sin_addr, address, sizeof address);
    Debug("ResponseSendSocket", "Sending %d bytes to socket %d  via %s:\n%s\n", length, r->socket,
          transport_name(r->transport), text);
    printf("Sending %d bytes to  %s port %d via %s\n%s\n", length, address, ntohs(to.sin_port),
           transport_name(r->transport), text);
    if (to.sin_family == 0) {
        Error("ResponseSendSocket", "Missing Via");
        return -1;
    }
    if (sendto(r->socket, text, static_cast<size_t>(length), 0,
               reinterpret_cast<const sockaddr *>(&to), sizeof to) < 0) {
        Error("ResponseSendSocket", "type=%d", r->transport);
        perror("ResponseSend");
        return -1;
    }
    return 0;
}

}  // namespace sipline
