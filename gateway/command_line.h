// sipline's command line: which settings to run with, or a check of a settings file.
#pragma once

#include <string>

#include "config/settings.h"

namespace sipline {

// What main does after reading its arguments.
inline constexpr int COMMAND_RUN = 0;   // start the gateway with *settings
inline constexpr int COMMAND_EXIT = 1;  // done (help, or a check that passed): exit 0
inline constexpr int COMMAND_FAIL = 2;  // a bad argument or settings file: exit 2

// Usage: sipline [--config FILE | -c FILE] | --check-config FILE | --help. Messages go to the
// streams given; without a settings file, the built-in settings and a warning on err.
int ReadCommandLine(int argc, char **argv, gateway_settings_t *settings, FILE *out, FILE *err);
// A settings file read and checked whole, the board included: COMMAND_RUN and *settings filled,
// or COMMAND_FAIL, *settings untouched and *error "FILE:LINE:COLUMN: KEY: expected WHAT".
int ReadSettingsFile(const char *file, gateway_settings_t *settings, std::string *error);

}  // namespace sipline
