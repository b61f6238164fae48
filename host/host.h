// Stand-ins for the kernel services that the gateway was written against: manual-reset events
// (optionally named), mutexes with timed waits, threads that start suspended, and one wait over
// one or several of them. All objects are reached through a HANDLE and released by CloseHandle.
#pragma once

#include <cstdint>

namespace sipline {

struct host_object;
using HANDLE = host_object *;

inline constexpr uint32_t INFINITE = 0xFFFFFFFFu;
inline constexpr uint32_t WAIT_OBJECT_0 = 0;
inline constexpr uint32_t WAIT_TIMEOUT = 258;
inline constexpr uint32_t WAIT_FAILED = 0xFFFFFFFFu;
// Most handles one wait may name, as on the original platform.
inline constexpr uint32_t MAXIMUM_WAIT_OBJECTS = 64;

// Events. Every event is manual-reset: it stays signalled until reset. A name makes the event
// findable with OpenEvent; creating an existing name returns that event (its state unchanged).
HANDLE CreateEvent(bool initially_signalled, const char *name);
HANDLE OpenEvent(const char *name);  // null when no event has that name
bool SetEvent(HANDLE event);
bool ResetEvent(HANDLE event);
// Wakes exactly the threads waiting on the event at this moment, then leaves it unsignalled.
bool PulseEvent(HANDLE event);

// Mutexes: owned by one thread, recursive; acquired with WaitForSingleObject.
HANDLE CreateMutex(bool initially_owned);
bool ReleaseMutex(HANDLE mutex);

// Threads. The handle is signalled once the routine has returned.
using thread_routine_t = uint32_t (*)(void *argument);
inline constexpr uint32_t CREATE_SUSPENDED = 0x4;
// flags: 0 or CREATE_SUSPENDED. Null when the thread cannot be started.
HANDLE CreateThread(thread_routine_t routine, void *argument, uint32_t flags);
// Lets a suspended thread run; returns the previous suspend count, or -1 on a bad handle.
int32_t ResumeThread(HANDLE thread);
// Priorities have no effect here; accepted for fidelity with the callers.
bool SetThreadPriority(HANDLE thread, int priority);
// The routine's result once it has ended; false while it still runs.
bool GetExitCodeThread(HANDLE thread, uint32_t *code);

// Waits until the object is signalled (an event set or pulsed, a mutex acquired, a thread
// ended) or the limit in milliseconds passes. WAIT_OBJECT_0, WAIT_TIMEOUT or WAIT_FAILED.
uint32_t WaitForSingleObject(HANDLE object, uint32_t milliseconds);
// With wait_all false: WAIT_OBJECT_0 + index of the first signalled handle in the list.
// With wait_all true: WAIT_OBJECT_0 once all are signalled at the same time.
uint32_t WaitForMultipleObjects(uint32_t count, const HANDLE *objects, bool wait_all,
                                uint32_t milliseconds);

// Releases the handle. A thread's handle may be closed while it runs (it goes on detached);
// a named event stays findable while any handle to it is open.
bool CloseHandle(HANDLE object);

// Sockets are the BSD API used directly; there is nothing to start. Always 0.
int StartWinsock();

}  // namespace sipline
