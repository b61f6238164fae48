// sipline: a gateway between SIP telephony and one analogue telephone line. It takes its
// settings from a TOML file (--config), or runs with built-in ones; it prints its progress
// until it is ended from outside.
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "gateway/call_cycle.h"
#include "gateway/command_line.h"
#include "gateway/ending.h"
#include "gateway/readiness.h"
#include "gateway/reload.h"
#include "gateway/startup.h"
#include "service/service.h"

int main(int argc, char **argv) {
    if (argc > 1 && std::string_view(argv[1]) == "status") {
        return sipline::StatusCommand(argc - 1, argv + 1, stdout, stderr);
    }
    sipline::gateway_settings_t settings;
    switch (sipline::ReadCommandLine(argc, argv, &settings, stdout, stderr)) {
        case sipline::COMMAND_EXIT:
            return 0;
        case sipline::COMMAND_FAIL:
            return 2;
        default:
            break;
    }
    std::atexit(sipline::Cleanup);
    std::at_quick_exit(sipline::Cleanup);
    // A log shows a call as it happens, also when it is piped.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    sipline::WatchForReloadSignal();
    sipline::WatchForEndSignals();
    if (sipline::ServiceStart(settings, stderr) != 0) {
        return 1;
    }
    sipline::StartUp(settings);
    sipline::AnnounceReady(settings.sip.listen.c_str(), settings.sip.port);
    sipline::RunCallCycles();
    sipline::AwaitEndFromOutside();
    return 0;
}
