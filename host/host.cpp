#include "host/host.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

namespace sipline {

// All objects share one lock and one condition variable: a wait over several handles must see
// their states change atomically with respect to each other, and the gateway waits on a handful
// of objects a few dozen times a second, far below the point where one lock would matter.
namespace {

enum class kind { event, mutex, thread };

}  // namespace

struct host_object {
    explicit host_object(kind k) : type(k) {}
    kind type;
    // Events: state and the count of pulses, so that a waiter can tell that a pulse happened
    // while it waited even though the state is already reset again.
    bool signalled = false;
    uint64_t pulses = 0;
    std::string name;
    int handles = 1;
    // Mutexes: owning thread and recursion depth.
    std::thread::id owner{};
    int depth = 0;
    // Threads.
    thread_routine_t routine = nullptr;
    void *argument = nullptr;
    int suspended = 0;
    bool ended = false;
    uint32_t exit_code = 0;
};

namespace {

std::mutex kernel;
std::condition_variable changed;
std::unordered_map<std::string, host_object *> named_events;

void release_locked(host_object *object) {
    if (--object->handles > 0) {
        return;
    }
    if (!object->name.empty()) {
        named_events.erase(object->name);
    }
    delete object;
}

// Whether the object is signalled for a waiter that started waiting at pulse count `seen`.
bool ready(host_object *object, uint64_t seen) {
    switch (object->type) {
        case kind::event:
            return object->signalled || object->pulses != seen;
        case kind::mutex:
            return object->depth == 0 || object->owner == std::this_thread::get_id();
        case kind::thread:
            return object->ended;
    }
    return false;
}

// A successful wait on a mutex acquires it.
void take(host_object *object) {
    if (object->type == kind::mutex) {
        object->owner = std::this_thread::get_id();
        object->depth++;
    }
}

void thread_main(host_object *self) {
    {
        std::unique_lock lock(kernel);
        changed.wait(lock, [self] { return self->suspended == 0; });
    }
    uint32_t code = self->routine(self->argument);
    std::lock_guard lock(kernel);
    self->ended = true;
    self->exit_code = code;
    changed.notify_all();
    release_locked(self);
}

}  // namespace

HANDLE CreateEvent(bool initially_signalled, const char *name) {
    std::lock_guard lock(kernel);
    if (name != nullptr && *name != '\0') {
        auto found = named_events.find(name);
        if (found != named_events.end()) {
            found->second->handles++;
            return found->second;
        }
    }
    auto *event = new host_object(kind::event);
    event->signalled = initially_signalled;
    if (name != nullptr && *name != '\0') {
        event->name = name;
        named_events.emplace(event->name, event);
    }
    return event;
}

HANDLE OpenEvent(const char *name) {
    if (name == nullptr) {
        return nullptr;
    }
    std::lock_guard lock(kernel);
    auto found = named_events.find(name);
    if (found == named_events.end()) {
        return nullptr;
    }
    found->second->handles++;
    return found->second;
}

bool SetEvent(HANDLE event) {
    if (event == nullptr || event->type != kind::event) {
        return false;
    }
    std::lock_guard lock(kernel);
    event->signalled = true;
    changed.notify_all();
    return true;
}

bool ResetEvent(HANDLE event) {
    if (event == nullptr || event->type != kind::event) {
        return false;
    }
    std::lock_guard lock(kernel);
    event->signalled = false;
    return true;
}

bool PulseEvent(HANDLE event) {
    if (event == nullptr || event->type != kind::event) {
        return false;
    }
    std::lock_guard lock(kernel);
    event->pulses++;
    event->signalled = false;
    changed.notify_all();
    return true;
}

HANDLE CreateMutex(bool initially_owned) {
    auto *mutex = new host_object(kind::mutex);
    if (initially_owned) {
        mutex->owner = std::this_thread::get_id();
        mutex->depth = 1;
    }
    return mutex;
}

bool ReleaseMutex(HANDLE mutex) {
    if (mutex == nullptr || mutex->type != kind::mutex) {
        return false;
    }
    std::lock_guard lock(kernel);
    if (mutex->depth == 0 || mutex->owner != std::this_thread::get_id()) {
        return false;
    }
    if (--mutex->depth == 0) {
        mutex->owner = std::thread::id{};
        changed.notify_all();
    }
    return true;
}

HANDLE CreateThread(thread_routine_t routine, void *argument, uint32_t flags) {
    if (routine == nullptr) {
        return nullptr;
    }
    auto *thread = new host_object(kind::thread);
    thread->routine = routine;
    thread->argument = argument;
    thread->suspended = (flags & CREATE_SUSPENDED) != 0 ? 1 : 0;
    thread->handles = 2;  // the caller's handle and the running thread's own
    try {
        std::thread(thread_main, thread).detach();
    } catch (const std::system_error &) {
        delete thread;
        return nullptr;
    }
    return thread;
}

int32_t ResumeThread(HANDLE thread) {
    if (thread == nullptr || thread->type != kind::thread) {
        return -1;
    }
    std::lock_guard lock(kernel);
    int32_t previous = thread->suspended;
    if (thread->suspended > 0 && --thread->suspended == 0) {
        changed.notify_all();
    }
    return previous;
}

bool SetThreadPriority(HANDLE thread, int /*priority*/) {
    return thread != nullptr && thread->type == kind::thread;
}

bool GetExitCodeThread(HANDLE thread, uint32_t *code) {
    if (thread == nullptr || thread->type != kind::thread || code == nullptr) {
        return false;
    }
    std::lock_guard lock(kernel);
    if (!thread->ended) {
        return false;
    }
    *code = thread->exit_code;
    return true;
}

uint32_t WaitForSingleObject(HANDLE object, uint32_t milliseconds) {
    return WaitForMultipleObjects(1, &object, false, milliseconds);
}

uint32_t WaitForMultipleObjects(uint32_t count, const HANDLE *objects, bool wait_all,
                                uint32_t milliseconds) {
    if (count == 0 || count > MAXIMUM_WAIT_OBJECTS || objects == nullptr) {
        return WAIT_FAILED;
    }
    for (uint32_t i = 0; i < count; i++) {
        if (objects[i] == nullptr) {
            return WAIT_FAILED;
        }
    }
    std::unique_lock lock(kernel);
    std::vector<uint64_t> seen(count);
    for (uint32_t i = 0; i < count; i++) {
        seen[i] = objects[i]->pulses;
    }
    // Which handle ends the wait, or count when none does yet.
    auto pick = [&]() -> uint32_t {
        if (wait_all) {
            for (uint32_t i = 0; i < count; i++) {
                if (!ready(objects[i], seen[i])) {
                    return count;
                }
            }
            for (uint32_t i = 0; i < count; i++) {
                take(objects[i]);
            }
            return 0;
        }
        for (uint32_t i = 0; i < count; i++) {
            if (ready(objects[i], seen[i])) {
                take(objects[i]);
                return i;
            }
        }
        return count;
    };
    uint32_t which = pick();
    if (which < count) {
        return WAIT_OBJECT_0 + which;
    }
    if (milliseconds == INFINITE) {
        // Woken for nothing (another object changed): look again.
        while ((which = pick()) == count) {
            changed.wait(lock);
        }
        return WAIT_OBJECT_0 + which;
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while ((which = pick()) == count) {
        if (changed.wait_until(lock, deadline) == std::cv_status::timeout) {
            which = pick();
            return which < count ? WAIT_OBJECT_0 + which : WAIT_TIMEOUT;
        }
    }
    return WAIT_OBJECT_0 + which;
}

bool CloseHandle(HANDLE object) {
    if (object == nullptr) {
        return false;
    }
    std::lock_guard lock(kernel);
    release_locked(object);
    return true;
}

int StartWinsock() {
    return 0;
}

}  // namespace sipline
