// The simulated line's control protocol: one command a line ("ring" with its caller, "digits D",
// "press D", "hangup", "say FILE", "status"), one reply a line ("OK ..." or "ERR reason"). digits
// hands keys to the board's digit collection; press plays them as DTMF tone pairs in what the far
// party says.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace sipline::boardsim {

enum class Command { ring, digits, press, hangup, say, status };

// A ring's caller: "ring [NUMBER|private|unavailable [\"NAME\"]] [rings=N] [badsum]".
struct ring_request_t {
    std::string number;  // digits; empty: the ring carries no identity
    std::string name;    // as quoted, any bytes but the quote
    bool withheld = false;
    bool unavailable = false;
    bool bad_checksum = false;  // the identity arrives damaged
    int32_t rings = 0;          // the caller gives up after so many rings; 0: until answered
};

struct control_command_t {
    Command command = Command::status;
    std::string argument;  // the keys of digits and press, the file of say
    ring_request_t ring;
};

// Longest number and name a ring command takes: room for the overlong names of the tests.
inline constexpr size_t CONTROL_NUMBER_MAX = 32;
inline constexpr size_t CONTROL_NAME_MAX = 200;
inline constexpr int32_t CONTROL_RINGS_MAX = 100;

// Longest command line accepted, without its line end.
inline constexpr size_t CONTROL_LINE_MAX = 1024;
// Most keys one digits or press command presses.
inline constexpr size_t CONTROL_DIGITS_MAX = 64;

// Empty on success, else the reason for the "ERR" reply. A trailing carriage return is ignored.
std::string control_parse(std::string_view line, control_command_t *out);

}  // namespace sipline::boardsim
