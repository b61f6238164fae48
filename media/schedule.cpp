#include "media/schedule.h"

#include <atomic>
#include <cmath>
#include <cstdio>
#include <new>

#include "media/bridge_state.h"
#include "media/schedule_internal.h"
#include "media/session.h"

namespace sipline {

schedule_entry_t *ScheduleList = nullptr;

namespace {

std::mutex &schedule_mutex() {
    static std::mutex mutex;
    return mutex;
}

// Written by tests between their runs of the schedule thread; read by it.
std::atomic<rtperror (*)(int32_t, rtp_event_t *)> run_hook{RTPExecute};
std::atomic<void (*)(rtp_event_t *)> discard_hook{RTPDiscardEvent};

// Unlinks every entry for which drop(entry) holds; the caller holds the lock. The unlinked
// entries are returned as a chain, to be released outside the lock.
template <typename Drop>
schedule_entry_t *unlink_if(Drop drop) {
    schedule_entry_t *dropped = nullptr;
    schedule_entry_t **at = &ScheduleList;
    while (*at != nullptr) {
        schedule_entry_t *e = *at;
        if (drop(*e)) {
            *at = e->next;
            e->next = dropped;
            dropped = e;
        } else {
            at = &e->next;
        }
    }
    return dropped;
}

void discard_chain(schedule_entry_t *chain) {
    while (chain != nullptr) {
        schedule_entry_t *next = chain->next;
        ScheduleDiscardEntry(chain);
        chain = next;
    }
}

}  // namespace

std::unique_lock<std::mutex> ScheduleLock() {
    return std::unique_lock<std::mutex>(schedule_mutex());
}

void ScheduleRTPEvent(int32_t context, rtp_event_t *event, const timeval *due) {
    auto *entry = new (std::nothrow) schedule_entry_t{};
    if (entry == nullptr || due == nullptr) {
        delete entry;
        discard_hook.load()(event);  // the deadline is dropped, its event not leaked
        return;
    }
    entry->context = context;
    entry->event = event;
    entry->due = due->tv_sec + due->tv_usec / 1000000.0;
    ScheduleInsert(entry);
}

void ScheduleInsert(schedule_entry_t *entry) {
    bool earliest = false;
    {
        std::unique_lock lock = ScheduleLock();
        if (ScheduleList == nullptr || entry->due < ScheduleList->due) {
            entry->next = ScheduleList;
            ScheduleList = entry;
            earliest = true;
        } else {
            schedule_entry_t *at = ScheduleList;
            while (at->next != nullptr && !(at->next->due > entry->due)) {
                at = at->next;
            }
            entry->next = at->next;
            at->next = entry;
        }
    }
    if (earliest) {
        std::printf("Inserting new or earlier\n");
        // Set, not pulsed: the schedule thread resets it before it reads the head, so an
        // insertion between that reading and its wait still ends the wait.
        if (RescheduleEvent != nullptr) {
            SetEvent(RescheduleEvent);
        }
    }
}

uint32_t ScheduleSleepLength(double now) {
    std::unique_lock lock = ScheduleLock();
    if (ScheduleList == nullptr) {
        return INFINITE;
    }
    double delta = ScheduleList->due - now;
    if (delta <= 0) {
        return 0;
    }
    return static_cast<uint32_t>(std::ceil(delta * 1000.0));
}

schedule_entry_t *ScheduleTakeDue(double now) {
    std::unique_lock lock = ScheduleLock();
    schedule_entry_t *head = ScheduleList;
    if (head == nullptr || head->due > now) {
        return nullptr;
    }
    ScheduleList = head->next;
    head->next = nullptr;
    return head;
}

void ScheduleDiscardEntry(schedule_entry_t *entry) {
    if (entry == nullptr) {
        return;
    }
    discard_hook.load()(entry->event);
    delete entry;
}

void ScheduleDiscardContext(int32_t context) {
    schedule_entry_t *chain = nullptr;
    {
        std::unique_lock lock = ScheduleLock();
        chain = unlink_if([context](const schedule_entry_t &e) { return e.context == context; });
    }
    discard_chain(chain);
}

void ScheduleDiscardClosed() {
    const bool open = MediaSessionOpen();
    const int32_t current = RtpContext;
    schedule_entry_t *chain = nullptr;
    {
        std::unique_lock lock = ScheduleLock();
        chain = unlink_if(
            [open, current](const schedule_entry_t &e) { return !open || e.context != current; });
    }
    discard_chain(chain);
}

int32_t ScheduleLength() {
    std::unique_lock lock = ScheduleLock();
    int32_t n = 0;
    for (const schedule_entry_t *e = ScheduleList; e != nullptr; e = e->next) {
        ++n;
    }
    return n;
}

void ScheduleSetHooks(const schedule_hooks_t &hooks) {
    run_hook = hooks.run != nullptr ? hooks.run : RTPExecute;
    discard_hook = hooks.discard != nullptr ? hooks.discard : RTPDiscardEvent;
}

rtperror ScheduleRun(int32_t context, rtp_event_t *event) {
    return run_hook.load()(context, event);
}

}  // namespace sipline
