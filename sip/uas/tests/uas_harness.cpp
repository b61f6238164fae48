// A stand-in gateway for end-to-end tests: runs the SIP side on port 5060 and plays a small
// call state machine on its main thread, driven by the events the SIP side posts. The number
// dialled chooses the behaviour:
//   2000       answer 200 with SDP, and once acknowledged hang up with a BYE after 0.5 s;
//   3000       never answer, wait for a CANCEL;
//   any other  answer 200 with SDP and stay connected until the caller's BYE.
// Arguments: pairs of access-log destination and format ("-" for the default format).
// UAS_HARNESS_ADDRESS, when set, is the host's dotted address (Contact, the BYE's Via) in place
// of 127.0.0.1, for callers on another network.
// SIGUSR1 prints "RECORDS n" (live request records); SIGUSR2 interrupts the listener's receive
// (only the listener thread takes it); SIGTERM ends the program.
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

#include "board/board.h"
#include "sip/uas/access_log.h"
#include "sip/uas/gateway.h"
#include "sip/uas/outgoing.h"
#include "sip/uas/request.h"
#include "sip/uas/response.h"
#include "sip/uas/status.h"
#include "sip/uas/tests/fake_gateway.h"
#include "sip/uas/transport.h"

using namespace sipline;

namespace {

sipline::testing::call_variables call;

constexpr const char *kSdpOffer =
    "v=0\r\no=- 1 1 IN IP4 127.0.0.1\r\ns=sipline\r\nc=IN IP4 127.0.0.1\r\nt=0 0\r\n"
    "m=audio 10000 RTP/AVP 3\r\n";

std::mutex events_mutex;
std::condition_variable events_ready;
std::deque<int32_t> events;

volatile sig_atomic_t stop_requested = 0;
volatile sig_atomic_t count_requested = 0;

void post_event(void *, int32_t type) {
    std::lock_guard<std::mutex> lock(events_mutex);
    events.push_back(type);
    events_ready.notify_one();
}

double now() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

void new_call_record() {
    request_t *old = CurrentRequestExchange(RequestCreate(TRANSPORT_UDP, -1, nullptr));
    RequestFree(old);
    call.HangupSignalled.store(0);
    call.CallState.store(ST_WTRING);
}

void answer_call() {
    request_t *r = call.CurrentRequest.load();
    printf("HARNESS answering %s\n", call.DialString);
    fflush(stdout);
    ResponseCopyHeaders(r);
    RequestSetStatus(r, 200, "OK");
    ResponseSetBody(r, kSdpOffer, "application/sdp", -1);
    double start = now();
    WaitForSingleObject(r->mutex, INFINITE);
    ResponseSend(r, 1, 0);
    ReleaseMutex(r->mutex);
    printf("HARNESS 200 returned after %.1f s acked=%d\n", now() - start, r->acked.load());
    fflush(stdout);
}

void hang_up_locally() {
    request_t *r = call.CurrentRequest.load();
    snprintf(r->cseq.method, sizeof r->cseq.method, "%s", "BYE");
    RequestDialogHeaders(r);
    r->acked.store(0);
    double start = now();
    WaitForSingleObject(r->mutex, INFINITE);
    RequestSend(r, 1, 0);
    ReleaseMutex(r->mutex);
    printf("HARNESS BYE returned after %.1f s\n", now() - start);
    new_call_record();
}

void process_event(int32_t type) {
    int32_t state = call.CallState.load();
    printf("HARNESS event %d state %d dial %s rtp %s:%d ttl %d\n", type, state, call.DialString,
           call.RTPDestAddress, call.RTPDestPort.load(), call.RTPDestTTL.load());
    fflush(stdout);
    if (state == ST_SIPINV) {
        if (strcmp(call.DialString, "3000") == 0) {
            call.CallState.store(ST_TXDIAL);
            return;
        }
        call.CallState.store(ST_CONNECTING);
        answer_call();
        if (call.CallState.load() == ST_CONNECTING) {
            call.CallState.store(ST_CLEANUP);
        }
        if (strcmp(call.DialString, "2000") == 0 && call.CurrentRequest.load()->acked.load() != 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
            hang_up_locally();
        }
    } else if (state == ST_CLEANUP && type == EV_REMOTE_HANGUP) {
        printf("HARNESS remote hangup\n");
        // The line's play and record take a moment to stop; a repeated BYE meets the call then.
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        new_call_record();
    } else if (state == ST_CLEANUP) {
        printf("HARNESS call ended\n");
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        new_call_record();
    }
    fflush(stdout);
}

void on_interrupt(int) {}

void on_signal(int signal) {
    if (signal == SIGUSR1) {
        count_requested = 1;
    } else {
        stop_requested = 1;
    }
}

}  // namespace

int main(int argc, char **argv) {
    setvbuf(stdout, nullptr, _IOLBF, 0);
    signal(SIGTERM, on_signal);
    signal(SIGINT, on_signal);
    signal(SIGUSR1, on_signal);
    for (int i = 1; i + 1 < argc; i += 2) {
        LogInit(argv[i], strcmp(argv[i + 1], "-") == 0 ? nullptr : argv[i + 1]);
    }
    StatusTextInit();
    sip_gateway_t gateway = call.record();
    if (const char *address = getenv("UAS_HARNESS_ADDRESS")) {
        gateway.HostAddress = address;
    }
    gateway.PostEvent = post_event;
    SipGatewayRegister(&gateway);
    call.CurrentRequest.store(RequestCreate(TRANSPORT_UDP, -1, nullptr));

    // No SA_RESTART: the listener's receive returns EINTR, a transient error it must survive.
    struct sigaction interrupt {};
    interrupt.sa_handler = on_interrupt;
    sigaction(SIGUSR2, &interrupt, nullptr);
    sigset_t usr2;
    sigemptyset(&usr2);
    sigaddset(&usr2, SIGUSR2);
    pthread_sigmask(SIG_BLOCK, &usr2, nullptr);
    std::thread listener([usr2] {
        pthread_sigmask(SIG_UNBLOCK, &usr2, nullptr);
        ReceiveUDP(nullptr);
    });
    while (stop_requested == 0) {
        int32_t type = -1;
        {
            std::unique_lock<std::mutex> lock(events_mutex);
            events_ready.wait_for(lock, std::chrono::milliseconds(100),
                                  [] { return !events.empty(); });
            if (!events.empty()) {
                type = events.front();
                events.pop_front();
            }
        }
        if (type >= 0) {
            process_event(type);
        }
        if (count_requested != 0) {
            count_requested = 0;
            printf("RECORDS %d\n", RequestLiveCount());
        }
    }
    ReceiveUDPStop();
    listener.join();
    LogClose();
    printf("HARNESS stopped\n");
    fflush(stdout);
    // Request threads may still be waiting out their deadlines; they are not joined.
    _exit(0);
}
