// The host's own names and address, as the SIP side and the SDP offer give them out.
#pragma once

#include <cstddef>

namespace sipline {

// Fills HostShortName, HostAddress and HostName; ends the process when the host's own name
// does not resolve.
void InitHostIdentity();

// Cuts a host name at its first "." (a name without one stays whole).
void CutAtFirstDot(char *name);

}  // namespace sipline
