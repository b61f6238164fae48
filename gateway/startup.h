// The gateway's start-up and exit handler.
#pragma once

#include <atomic>
#include <cstdint>

#include "config/settings.h"

namespace sipline {

// Set by the main thread once start-up has finished: from then on the handles it made may be
// read by any thread.
extern std::atomic<bool> StartUpDone;

// The exit handler: says so and ends the RTCP schedule thread.
void Cleanup();
// Everything between registering Cleanup and the first cycle of calls, in its fixed order,
// with the settings read (or built in). Ends the process with status 1 when a part cannot start.
void StartUp(const gateway_settings_t &settings);

}  // namespace sipline
