// The system layer: the millisecond clock, detached threads, condition objects with
// whole-second deadlines, and a system log that discards.
#pragma once

#include <pthread.h>

#include <cstdint>

#include "host/host.h"

namespace sipline {

struct timeval {
    int32_t tv_sec;
    int32_t tv_usec;  // a multiple of 1000: the clock has millisecond resolution
};

void gettimeofday(timeval *tv, void *timezone);
double time_now();

using thread_t = pthread_t;
// 0 on success, 1 on failure (handle then 0). The thread runs detached.
int thread_create(thread_t *thread, void *attributes, void *(*routine)(void *), void *argument);

// The result of cond_timedwait when the deadline passed.
inline constexpr int COND_TIMEDOUT = 145;

struct cond_object;
// A condition object: starts signalled once and stores at most one signal. Copies of the
// handle share one object (shared ownership); cond_release drops one reference.
struct cond_t {
    cond_object *object;
};

int cond_init(cond_t *cond);
int cond_signal(cond_t *cond);
int cond_broadcast(cond_t *cond);
// The caller holds *mutex; it is released for the wait and held again on return. Waits are
// computed from whole seconds of the absolute deadline.
int cond_timedwait(cond_t *cond, HANDLE *mutex, const timeval *deadline);
// As cond_timedwait, but for a limit in milliseconds from now, without the whole-second rounding.
int cond_wait_ms(cond_t *cond, HANDLE *mutex, uint32_t milliseconds);
// Shares the object: the copy keeps it alive after the original is released.
void cond_share(cond_t *copy, const cond_t *original);
void cond_release(cond_t *cond);

void openlog(const char *ident, int option, int facility);
void syslog(int priority, const char *format, ...) __attribute__((format(printf, 2, 3)));
void closelog();

}  // namespace sipline
