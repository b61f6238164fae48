#include "gateway/command_line.h"

#include <cstring>
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
bool board_supported(const board_settings_t &board, FILE *err, const char *file) {
    const board_settings_t fixed;
    if (board.device == fixed.device && board.line_channel == fixed.line_channel &&
        board.record_channel == fixed.record_channel) {
        return true;
    }
    std::fprintf(err,
                 "sipline: %s: board: expected device \"%s\", line_channel %d and "
                 "record_channel %d, the only board this build drives\n",
                 file, fixed.device.c_str(), fixed.line_channel, fixed.record_channel);
    return false;
}

int read_file(const char *file, gateway_settings_t *settings, FILE *err) {
    settings_error_t error;
    gateway_settings_t read;
    if (SettingsRead(file, &read, &error) != 0) {
        std::fprintf(err, "sipline: %s\n", SettingsErrorText(error).c_str());
        return COMMAND_FAIL;
    }
    if (!board_supported(read.board, err, file)) {
        return COMMAND_FAIL;
    }
    *settings = std::move(read);
    return COMMAND_RUN;
}

}  // namespace

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
