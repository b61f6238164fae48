#include "support/system.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <ctime>
#include <deque>
#include <mutex>

namespace sipline {

void gettimeofday(timeval *tv, void * /*timezone*/) {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tv->tv_sec = static_cast<int32_t>(now.tv_sec);
    tv->tv_usec = static_cast<int32_t>(now.tv_nsec / 1000000 * 1000);
}

double time_now() {
    timeval now{};
    gettimeofday(&now, nullptr);
    return now.tv_sec + now.tv_usec / 1000000.0;
}

namespace {

struct start {
    void *(*routine)(void *);
    void *argument;
};

void *run(void *data) {
    start s = *static_cast<start *>(data);
    delete static_cast<start *>(data);
    return s.routine(s.argument);
}

}  // namespace

int thread_create(thread_t *thread, void * /*attributes*/, void *(*routine)(void *),
                  void *argument) {
    *thread = 0;
    pthread_t created{};
    auto *s = new start{routine, argument};
    if (pthread_create(&created, nullptr, run, s) != 0) {
        delete s;
        return 1;
    }
    pthread_detach(created);
    *thread = created;
    return 0;
}

// A counting semaphore with at most one stored count, as the condition objects were built on.
// A raise while threads wait hands the count straight to one of them, so that the raiser's
// own wait right after (cond_broadcast) cannot take it back before the waiter runs.
struct cond_object {
    std::mutex lock;
    std::condition_variable wake;
    int count = 1;  // starts signalled once
    // Threads in a wait, oldest first; a raise grants the count to the oldest of them.
    std::deque<bool *> waiting;
    int number = 0;  // "cond%d"
    std::atomic<int> references{1};

    void raise() {
        std::lock_guard guard(lock);
        if (!waiting.empty()) {
            *waiting.front() = true;
            waiting.pop_front();
            wake.notify_all();
        } else {
            count = 1;
        }
    }

    // True when a count was taken, false on time-out.
    bool take(std::chrono::milliseconds limit) {
        std::unique_lock guard(lock);
        if (count > 0) {
            count--;
            return true;
        }
        bool granted = false;
        waiting.push_back(&granted);
        // Woken for another waiter's grant, or spuriously: the predicate decides.
        if (wake.wait_for(guard, limit, [&granted] { return granted; })) {
            return true;
        }
        waiting.erase(std::find(waiting.begin(), waiting.end(), &granted));
        return false;
    }
};

namespace {

std::atomic<int> cond_counter{0};

}  // namespace

int cond_init(cond_t *cond) {
    cond->object = new cond_object;
    cond->object->number = cond_counter.fetch_add(1);
    return 1;
}

int cond_signal(cond_t *cond) {
    cond->object->raise();
    return 0;
}

int cond_broadcast(cond_t *cond) {
    // Each pass releases one waiter; a pass whose count nobody took ends the loop and takes
    // the count back, so none is left behind.
    do {
        cond->object->raise();
    } while (!cond->object->take(std::chrono::milliseconds(1)));
    return 0;
}

int cond_timedwait(cond_t *cond, HANDLE *mutex, const timeval *deadline) {
    timeval now{};
    gettimeofday(&now, nullptr);
    ReleaseMutex(*mutex);
    // To the millisecond, rounded up: RFC 3261's timers start at T1 = 500 ms, and a wait cut to
    // whole seconds sent a 200's first retransmission in the same millisecond as the 200.
    const int64_t left_us = (int64_t{deadline->tv_sec} - now.tv_sec) * 1000000 +
                            (int64_t{deadline->tv_usec} - now.tv_usec);
    const int64_t wait_ms = left_us <= 0 ? 0 : (left_us + 999) / 1000;
    bool woken = cond->object->take(std::chrono::milliseconds(wait_ms));
    WaitForSingleObject(*mutex, INFINITE);
    return woken ? 0 : COND_TIMEDOUT;
}

int cond_wait_ms(cond_t *cond, HANDLE *mutex, uint32_t milliseconds) {
    ReleaseMutex(*mutex);
    bool woken = cond->object->take(std::chrono::milliseconds(milliseconds));
    WaitForSingleObject(*mutex, INFINITE);
    return woken ? 0 : COND_TIMEDOUT;
}

void cond_share(cond_t *copy, const cond_t *original) {
    copy->object = original->object;
    if (copy->object != nullptr) {
        copy->object->references.fetch_add(1);
    }
}

void cond_release(cond_t *cond) {
    if (cond->object != nullptr && cond->object->references.fetch_sub(1) == 1) {
        delete cond->object;
    }
    cond->object = nullptr;
}

void openlog(const char * /*ident*/, int /*option*/, int /*facility*/) {}

void syslog(int /*priority*/, const char * /*format*/, ...) {}

void closelog() {}

}  // namespace sipline
