// The gateway's watchers as one service: the call records file, the status socket that
// `sipline status` asks, and the HTTP server of the metrics and the status page. The program
// starts it after the signal handling and before the gateway's own start-up.
#pragma once

#include <cstdio>

#include "config/settings.h"

namespace sipline {

// Registers the gateway's watch hooks, opens the call records file and starts the servers that
// the settings ask for. 0; or -1, with the reason on `err`, when a file or address the settings
// name cannot be had (a status socket that cannot be made is only warned about: the default
// place may not exist outside an installed service).
int ServiceStart(const gateway_settings_t &settings, FILE *err);
// The exit handler: the call in progress ends with reason "shutdown" and its record is written;
// the status socket's file is removed. Any thread, more than once.
void ServiceStop();

// `sipline status [--socket PATH | --config FILE] [calls]`: argv[0] is "status". The exit
// status: 0, 1 when no gateway answers, 2 for a bad argument.
int StatusCommand(int argc, char **argv, FILE *out, FILE *err);

}  // namespace sipline
