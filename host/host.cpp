#include "host/host.h"

#include <array>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

namespace sipline {

// All objects share one lock, so that a wait over several handles sees their states change
// atomically with respect to each other. Each waiting thread has a condition variable of its own,
// registered with the objects it waits on, so that a change wakes only the threads waiting on
// that object: with one shared condition variable every record block and every release of the
// RTP mutex woke every waiting thread of the process. The waiters are woken after the lock is
// released: woken under it, a waiter ran only to block on the lock and was woken a second time.
namespace {

enum class kind { event, mutex, thread };

// One per thread, reused by all its waits; shared so that a thread that wakes waiters after
// releasing the lock keeps the record alive while the waiter returns, or ends, meanwhile.
struct waiter {
    std::condition_variable wake;
};

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
    // The threads waiting on this object now. Under the kernel lock.
    std::vector<std::shared_ptr<waiter>> waiters;
};

namespace {

struct kernel_state {
    std::mutex lock;
    std::unordered_map<std::string, host_object *> named_events;
};

// Never destroyed: a thread may still wait in a host wait while the process exits, and
// destroying a condition variable that has waiters blocks exit for ever.
kernel_state &kernel() {
    static auto *state = new kernel_state;
    return *state;
}

// The waiters of the objects that changed under the kernel lock, woken when this goes out of
// scope: declared before the lock, so that the lock is released first. A waiter woken for a wait
// it has already left wakes for nothing in its next one, and looks again.
class pending_wakes {
  public:
    pending_wakes() = default;
    ~pending_wakes() {
        for (size_t i = 0; i < count_ && i < few_.size(); i++) {
            few_[i]->wake.notify_one();
        }
        for (const auto &w : more_) {
            w->wake.notify_one();
        }
    }
    pending_wakes(const pending_wakes &) = delete;
    pending_wakes &operator=(const pending_wakes &) = delete;

    // The kernel lock is held.
    void take(const host_object *object) {
        for (const auto &w : object->waiters) {
            if (count_ < few_.size()) {
                few_[count_] = w;
            } else {
                more_.push_back(w);
            }
            count_++;
        }
    }

  private:
    // Most objects have one waiter or none; more go to the heap.
    std::array<std::shared_ptr<waiter>, 4> few_;
    size_t count_ = 0;
    std::vector<std::shared_ptr<waiter>> more_;
};

// Set once this thread's record is destroyed: trivially destructible, so readable to the end.
thread_local bool waiter_destroyed = false;

// This thread's waiter record. The thread that calls exit() destroys its thread-locals before
// the process's exit handlers run, and those may still wait (the gateway's clean-up waits for
// the line to go on-hook): such waits share one record made for them, kept for the process's
// life.
const std::shared_ptr<waiter> &own_waiter() {
    struct slot {
        std::shared_ptr<waiter> record = std::make_shared<waiter>();
        ~slot() { waiter_destroyed = true; }
    };
    thread_local const slot mine;
    if (waiter_destroyed) {
        static const auto *after_exit = new std::shared_ptr<waiter>(std::make_shared<waiter>());
        return *after_exit;
    }
    return mine.record;
}

// Registers the thread's waiter with each of the objects for as long as it lives; the kernel
// lock is held whenever one is made or destroyed.
class registration {
  public:
    registration(const std::shared_ptr<waiter> &w, const HANDLE *objects, uint32_t count)
        : w_(w), objects_(objects), count_(count) {
        for (uint32_t i = 0; i < count_; i++) {
            objects_[i]->waiters.push_back(w_);
        }
    }
    ~registration() {
        for (uint32_t i = 0; i < count_; i++) {
            auto &list = objects_[i]->waiters;
            for (auto it = list.begin(); it != list.end(); ++it) {
                if (*it == w_) {
                    list.erase(it);
                    break;
                }
            }
        }
    }
    registration(const registration &) = delete;
    registration &operator=(const registration &) = delete;

  private:
    const std::shared_ptr<waiter> &w_;
    const HANDLE *objects_;
    uint32_t count_;
};

void release_locked(host_object *object) {
    if (--object->handles > 0) {
        return;
    }
    if (!object->name.empty()) {
        kernel().named_events.erase(object->name);
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
        std::unique_lock lock(kernel().lock);
        HANDLE objects[1] = {self};
        registration registered(own_waiter(), objects, 1);
        own_waiter()->wake.wait(lock, [self] { return self->suspended == 0; });
    }
    uint32_t code = self->routine(self->argument);
    pending_wakes wakes;
    std::lock_guard lock(kernel().lock);
    self->ended = true;
    self->exit_code = code;
    wakes.take(self);
    release_locked(self);
}

}  // namespace

HANDLE CreateEvent(bool initially_signalled, const char *name) {
    std::lock_guard lock(kernel().lock);
    if (name != nullptr && *name != '\0') {
        auto found = kernel().named_events.find(name);
        if (found != kernel().named_events.end()) {
            found->second->handles++;
            return found->second;
        }
    }
    auto *event = new host_object(kind::event);
    event->signalled = initially_signalled;
    if (name != nullptr && *name != '\0') {
        event->name = name;
        kernel().named_events.emplace(event->name, event);
    }
    return event;
}

HANDLE OpenEvent(const char *name) {
    if (name == nullptr) {
        return nullptr;
    }
    std::lock_guard lock(kernel().lock);
    auto found = kernel().named_events.find(name);
    if (found == kernel().named_events.end()) {
        return nullptr;
    }
    found->second->handles++;
    return found->second;
}

bool SetEvent(HANDLE event) {
    if (event == nullptr || event->type != kind::event) {
        return false;
    }
    pending_wakes wakes;
    std::lock_guard lock(kernel().lock);
    event->signalled = true;
    wakes.take(event);
    return true;
}

bool ResetEvent(HANDLE event) {
    if (event == nullptr || event->type != kind::event) {
        return false;
    }
    std::lock_guard lock(kernel().lock);
    event->signalled = false;
    return true;
}

bool PulseEvent(HANDLE event) {
    if (event == nullptr || event->type != kind::event) {
        return false;
    }
    pending_wakes wakes;
    std::lock_guard lock(kernel().lock);
    event->pulses++;
    event->signalled = false;
    wakes.take(event);
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
    pending_wakes wakes;
    std::lock_guard lock(kernel().lock);
    if (mutex->depth == 0 || mutex->owner != std::this_thread::get_id()) {
        return false;
    }
    if (--mutex->depth == 0) {
        mutex->owner = std::thread::id{};
        wakes.take(mutex);
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
    pending_wakes wakes;
    std::lock_guard lock(kernel().lock);
    int32_t previous = thread->suspended;
    if (thread->suspended > 0 && --thread->suspended == 0) {
        wakes.take(thread);
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
    std::lock_guard lock(kernel().lock);
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
    std::unique_lock lock(kernel().lock);
    std::array<uint64_t, MAXIMUM_WAIT_OBJECTS> seen;
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
    const std::shared_ptr<waiter> &w = own_waiter();
    registration registered(w, objects, count);
    if (milliseconds == INFINITE) {
        // Woken for nothing (the object changed again before this thread ran, or the wake was
        // meant for an earlier wait of this thread): look again.
        while ((which = pick()) == count) {
            w->wake.wait(lock);
        }
        return WAIT_OBJECT_0 + which;
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while ((which = pick()) == count) {
        if (w->wake.wait_until(lock, deadline) == std::cv_status::timeout) {
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
    std::lock_guard lock(kernel().lock);
    release_locked(object);
    return true;
}

int StartWinsock() {
    return 0;
}

}  // namespace sipline
