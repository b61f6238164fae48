// Error and trace reporting for the SIP code and the support library.
#pragma once

#include <cstdint>

namespace sipline {

// Trace lines are written only while this is non-zero; nothing in the system sets it.
extern int32_t DebugEnabled;

void Error(const char *function, const char *format, ...) __attribute__((format(printf, 2, 3)));
[[noreturn]] void Fatal(const char *function, const char *format, ...)
    __attribute__((format(printf, 2, 3)));
void Debug(const char *function, const char *format, ...) __attribute__((format(printf, 2, 3)));
// Null: the system log (which discards); "stderr": standard error; else a file opened "a+".
void ErrorInit(const char *destination);
void ErrorClose();

}  // namespace sipline
