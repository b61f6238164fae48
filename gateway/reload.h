// Reloading the settings file on SIGHUP: the file is read and checked when the signal comes (a
// bad one is refused with a line on standard error, and the running settings stay), and what it
// changes is applied by the main thread once the line is idle. The security rules, the directory
// and the access log are reloaded (the log is reopened, which is how a rotated log is let go);
// the addresses and ports, the codecs, the board and the outbound credentials wait for a restart.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "config/settings.h"

namespace sipline {

struct gateway_policy_t;

// Posted to the line's channel, with no data, when a reload waits: it wakes the call loop, which
// takes it itself. The state machine never sees it (in a connected call, any event it does not
// know ends the call).
inline constexpr int32_t EV_RELOAD = 0x1ff7;

// Blocks SIGHUP in this thread and every thread it starts later, and starts the thread that
// takes it. Call before any other thread is started, WatchForEndSignals's included.
void WatchForReloadSignal();
// The settings the gateway runs with and the security policy a reload replaces the rules of;
// at the end of start-up. Before this a SIGHUP is refused.
void ReloadStart(const gateway_settings_t &settings, gateway_policy_t *policy);
// Reads and checks the running settings' file again and, when it is good, keeps it for
// ReloadApply and wakes the main thread. 0, or -1 with the reason on err. Any thread.
int ReloadRequest(FILE *err);
// Applies settings kept by ReloadRequest, if there are any and the line is idle (CallState
// ST_WTRING); else does nothing. Main thread.
void ReloadApply(FILE *err);
// The sections whose changes from running to next wait for a restart, as "[sip], [rtp]"; ""
// when there are none.
std::string ReloadRestartSections(const gateway_settings_t &running,
                                  const gateway_settings_t &next);

}  // namespace sipline
