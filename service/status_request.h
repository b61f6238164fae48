// The requests the status socket takes: one line of text, at most STATUS_REQUEST_MOST bytes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sipline {

inline constexpr size_t STATUS_REQUEST_MOST = 256;

inline constexpr int32_t STATUS_REQUEST_BAD = -1;
inline constexpr int32_t STATUS_REQUEST_STATUS = 0;  // "status": the gateway's state now
inline constexpr int32_t STATUS_REQUEST_CALLS = 1;   // "calls": the last calls and their quality

// One of the STATUS_REQUEST_ values for the bytes received: a word, optional spaces around
// it, ended by "\n" or "\r\n" or by the end of the bytes.
int32_t StatusRequestParse(const char *data, size_t length);

}  // namespace sipline
