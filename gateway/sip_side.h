// The gateway's door to the SIP user-agent server: the call variables it hands over, the
// record of the call in progress, and the listener thread.
#pragma once

#include <cstdint>

#include "config/settings.h"

namespace sipline {

struct gateway_policy_t;

namespace sip_side {

// Fills the status texts and gives the SIP side the gateway's call variables, its way of
// posting board events, and the security policy that admits INVITEs and ignores banned
// sources (none when null), and the settings it takes from the gateway's (the SIP port, the
// outbound credentials; the built-in ones when null). Before the listener starts; the policy and
// the settings outlive it.
void Connect(gateway_policy_t *policy, const gateway_settings_t *settings = nullptr);
// Makes a fresh, idle record for the next call the current one, releasing any it replaces.
void NewCurrentRequest();
// Leaves no current record (the state machine has released it, or it is released here).
void DropCurrentRequest();
// Thread routine: the SIP listener on the address (a sockaddr_in) its parameter points at.
uint32_t ReceiveUDPThread(void *port);

}  // namespace sip_side
}  // namespace sipline
