// The system's own strptime: POSIX conversion letters in the POSIX locale only.
#pragma once

#include <ctime>

namespace sipline {

// The position after the last character consumed, or null on a mismatch. Only the fields that
// the conversions name are written.
char *strptime(const char *input, const char *format, struct tm *tm);

}  // namespace sipline
