// One line per completed transaction, in a configurable format after the web servers' common
// log format, to files and command pipes.
#pragma once

namespace sipline {

struct request_t;

// name: a file (opened "a+"), or "|command" for a pipe to it. A null or empty format takes
// "%h %u %t \"%r\" %s".
void LogInit(const char *name, const char *format);
// Every destination replaced by this one (none for a null or empty name), opened before the
// old ones close, so that no line falls between them: the way to reopen a rotated log. -1 when
// it cannot be opened; the old destinations stay.
int LogReplace(const char *name, const char *format);
// Writes nothing for a status below 200.
void LogRequest(request_t *r);
// A line about something that is no received transaction (a call from the line and its
// caller's identity): "- - [time] " and `note`, in every destination whatever its format.
void LogNote(const char *note);
void LogClose();
// Minutes east of UTC.
int GmtOffset();

}  // namespace sipline
