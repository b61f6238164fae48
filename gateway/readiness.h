// Telling the service manager the gateway is ready (sd_notify(3), for a unit of Type=notify):
// once the SIP socket is bound, so that `systemctl start` returns when calls can come in.
#pragma once

namespace sipline {

// Waits for the SIP listener to bind; ends the process with status 1 and a line on standard
// error when it cannot (the address is taken, or not this host's). Then READY=1, when a service
// manager waits for it. After start-up, on the main thread.
void AnnounceReady(const char *listen, int port);
}  // namespace sipline
