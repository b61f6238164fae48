#include "gateway/command_line.h"

#include <cstring>
#include <string>
#include <string_view>

namespace sipline {

namespace {

constexpr const char *kUsage =
    "usage: sipline [--config FILE | -c FILE]\n"
    "       sipline --check-config FILE   print the effective settings, or the first error\n"
    "       sipline status [--socket PATH | --config FILE] [calls]\n"
    "                                     ask the running gateway what it is doing\n";

constexpr const char *kOpenWarning =
    "sipline: warning: no --config: anyone who can reach this gateway may dial any number on "
    "its line (see the README's \"Security\" section)\n";

// The board is opened by its fixed name and channels so far: other values would be a gateway
// that does not do what its file says, so they are refused like any bad setting.
bool board_supported(const board_settings_t &board, const char *file, std::string *error) {
    const board_settings_t fixed;
    if (board.device == fixed.device && board.line_channel == fixed.line_channel &&
        board.record_channel == fixed.record_channel) {
        return true;
    }
    *error = std::string(file) + ": board: expected device \"" + fixed.device +
             "\", line_channel " + std::to_string(fixed.line_channel) + " and record_channel " +
             std::to_string(fixed.record_channel) + ", the only board this build drives";
    return false;
}

int read_file(const char *file, gateway_settings_t *settings, FILE *err) {
    std::string error;
    if (ReadSettingsFile(file, settings, &error) != COMMAND_RUN) {
        std::fprintf(err, "sipline: %s\n", error.c_str());
        return COMMAND_FAIL;
    }
    return COMMAND_RUN;
}

}  // namespace

int ReadSettingsFile(const char *file, gateway_settings_t *settings, std::string *error) {
    settings_error_t fault;
    gateway_settings_t read;
    if (SettingsRead(file, &read, &fault) != 0) {
        *error = SettingsErrorText(fault);
        return COMMAND_FAIL;
    }
    if (!board_supported(read.board, file, error)) {
        return COMMAND_FAIL;
    }
    *settings = std::move(read);
    return COMMAND_RUN;
}

int ReadCommandLine(int argc, char **argv, gateway_settings_t *settings, FILE *out, FILE *err) {
    const char *config = nullptr;
    const char *check = nullptr;
    for (int i = 1; i < argc; ++i) {
        std::string_view argument = argv[i];
        bool takes_file =
            argument == "--config" || argument == "-c" || argument == "--check-config";
        if (argument == "--help" || argument == "-h") {
            std::fputs(kUsage, out);
            return COMMAND_EXIT;
        }
        if (!takes_file || i + 1 >= argc || (config != nullptr || check != nullptr)) {
            std::fprintf(err, "sipline: %s %s\n%s",
                         takes_file && i + 1 >= argc ? "a file must follow" : "unexpected", argv[i],
                         kUsage);
            return COMMAND_FAIL;
        }
        (argument == "--check-config" ? check : config) = argv[++i];
    }
    if (check != nullptr) {
        gateway_settings_t checked;
        if (read_file(check, &checked, err) != COMMAND_RUN) {
            return COMMAND_FAIL;
        }
        SettingsPrint(checked, out);
        return COMMAND_EXIT;
    }
    if (config == nullptr) {
        *settings = gateway_settings_t{};
        std::fputs(kOpenWarning, err);
        return COMMAND_RUN;
    }
    return read_file(config, settings, err);
}

}  // namespace sipline
