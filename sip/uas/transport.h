// SIP over UDP: the socket on port 5060 that everything is received on and sent from.
#pragma once

#include <cstdint>

#include "sip/uas/request.h"

namespace sipline {

inline constexpr int UDP_BUFFER_SIZE = 8192;

// The listener thread: receives, splits each datagram into messages and hands every message
// to RequestProcess. argument: the const sockaddr_in to listen on, or null for every address at
// SIP_PORT. Returns 0 when the listening socket fails or is shut down.
void *ReceiveUDP(void *argument);
// Ends ReceiveUDP from another thread (the gateway itself never does).
void ReceiveUDPStop();
// The socket ReceiveUDP listens on (port 5060) while it runs, else -1. The gateway's own
// INVITE goes out from it, so that the callee's answers, sent back to the sender's port or to
// the Via's, both reach the listener.
int SipListeningSocket();

// Sends the text as one datagram from the record's socket to its Via address. 0 or -1.
int ResponseSendSocket(request_t *r, const char *text, int32_t length);

// The messages of one datagram, in order: one new record each, handed to RequestProcess.
// The text is modified (the parser writes into it); length excludes the NUL after it.
void DatagramProcess(char *text, int32_t length, int socket, const sockaddr_in *sender);

// Runs the record on a thread of its own, by message type; frees records of no type.
void RequestProcess(request_t *r);

// How RequestProcess starts its threads: thread_create unless a test replaces it (null
// restores it).
using request_thread_starter_t = int (*)(thread_t *thread, void *attributes,
                                         void *(*routine)(void *), void *argument);
void RequestSetThreadStarter(request_thread_starter_t starter);

}  // namespace sipline
