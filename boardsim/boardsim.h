// The simulated voice board's own controls, beside the board interface it implements: for the
// tests, and for the process's exit.
#pragma once

#include <string>
#include <string_view>

namespace sipline {

// Stops the board: its threads end, the line goes on-hook, the capture file is completed and
// the control socket removed. The next board call starts it afresh, reading its settings again.
// Runs by itself at exit.
void boardsim_shutdown();

// Runs one command of the control protocol as if it came from the socket; the reply has no
// line end.
std::string boardsim_command(std::string_view line);

}  // namespace sipline
