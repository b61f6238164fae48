// The gateway's start-up and exit handler.
#pragma once

#include <cstdint>

namespace sipline {

// The exit handler: says so and ends the RTCP schedule thread.
void Cleanup();
// Everything between registering Cleanup and the first cycle of calls, in its fixed order.
void StartUp();

}  // namespace sipline
