// The gateway registered to the owner's PBX like a phone (RFC 3261 section 10): a thread that
// registers, refreshes at 90 % of the granted time, retries failures after 20 s doubling to
// 10 minutes, probes the registrar with OPTIONS while registered, and unregisters at the end.
// Its state is one line on standard output per change, "Registration: ...".
#pragma once

#include <netinet/in.h>

#include "config/settings.h"

namespace sipline {

// Starts the thread when the settings name a registrar; nothing otherwise. Once, after the SIP
// listener has started (the REGISTER goes out from its socket).
void RegistrationStart(const gateway_settings_t &settings);
// Ends the thread and, when a binding stands, sends the REGISTER with expires=0 and waits a few
// seconds for its answer. From the exit handler; does nothing when nothing was started.
void RegistrationStop();
// 1 when the source is the registrar's or the outbound proxy's address (as last resolved).
int RegistrationFromRegistrar(const sockaddr_in *source);

}  // namespace sipline
