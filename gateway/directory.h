// The gateway's directory of the numbers that a call from the line can reach: three built in,
// or the ones the settings give.
#pragma once

#include <string>
#include <vector>

#include "config/settings.h"

namespace sipline {

// The SIP URI of the entry found for the call in hand: the call from the line goes to it. Null
// outside such a call and for an entry without one. Main thread only.
extern const char *DestinationUri;
// The proxy the call to DestinationUri goes through (a SIP URI), or null: straight to it.
extern const char *DestinationProxy;

// Replaces the built-in entries with these when there are any (none: the built-in ones again).
// At start-up, before the first call; the entries are copied.
void DirectoryConfigure(const std::vector<settings_directory_entry_t> &entries);
// Every number the configured entries do not have (all of them when none is configured) is
// called at `uri` with "{number}" replaced, through `proxy` when it is not "". "" for `uri`:
// the directory alone. At start-up.
void DirectoryRouteOthers(const std::string &uri, const std::string &proxy);
// Built in: for "100", "101" and "102" (compared without regard to case): sets the fixed media
// ports and destination of the entry, and for "100" and "102" DestinationUri and SdpOffer.
// Configured: for a number equal to an entry's, DestinationUri for an entry with a URI, the
// media port (local and far, on this host) for one without. Returns 0; any other dial string:
// -1, nothing changed.
int LookupNumber(const char *dial);
// SdpOffer back to the offer built at start-up, and no DestinationUri, once a call that found an
// entry is over.
void ForgetDirectoryEntry();
// True while the entry found last brings an SDP body of its own in place of the gateway's offer.
bool DirectoryEntryOffers();

}  // namespace sipline
