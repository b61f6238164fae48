// sipline: a gateway between SIP telephony and one analogue telephone line. It takes no
// arguments and no settings; it prints its progress until it is ended from outside.
#include <cstdio>
#include <cstdlib>

#include "gateway/call_cycle.h"
#include "gateway/ending.h"
#include "gateway/startup.h"

int main() {
    std::atexit(sipline::Cleanup);
    std::at_quick_exit(sipline::Cleanup);
    // A log shows a call as it happens, also when it is piped.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    sipline::WatchForEndSignals();
    sipline::StartUp();
    sipline::RunCallCycles();
    return 0;
}
