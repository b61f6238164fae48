// The simulated line's control protocol: one command a line ("ring", "digits D", "press D",
// "hangup", "say FILE", "status"), one reply a line ("OK ..." or "ERR reason"). digits hands
// keys to the board's digit collection; press plays them as DTMF tone pairs in what the far
// party says.
#pragma once

#include <string>
#include <string_view>

namespace sipline::boardsim {

enum class Command { ring, digits, press, hangup, say, status };

struct control_command_t {
    Command command = Command::status;
    std::string argument;  // the keys of digits and press, the file of say
};

// Longest command line accepted, without its line end.
inline constexpr size_t CONTROL_LINE_MAX = 1024;
// Most keys one digits or press command presses.
inline constexpr size_t CONTROL_DIGITS_MAX = 64;

// Empty on success, else the reason for the "ERR" reply. A trailing carriage return is ignored.
std::string control_parse(std::string_view line, control_command_t *out);

}  // namespace sipline::boardsim
