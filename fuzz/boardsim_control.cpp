// The simulated line's control protocol reads whatever a client writes to its socket.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "boardsim/control_parse.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    sipline::boardsim::control_command_t command;
    sipline::boardsim::control_parse(std::string_view(reinterpret_cast<const char *>(data), size),
                                     &command);
    return 0;
}
