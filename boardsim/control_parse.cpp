#include "boardsim/control_parse.h"

#include <array>
#include <utility>

namespace sipline::boardsim {
namespace {

constexpr std::string_view KEYS = "0123456789*#ABCD";

std::string_view trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
        text.remove_suffix(1);
    }
    return text;
}

}  // namespace

std::string control_parse(std::string_view line, control_command_t *out) {
    line = trim(line);
    if (line.empty()) {
        return "empty command";
    }
    if (line.size() > CONTROL_LINE_MAX) {
        return "line too long";
    }
    size_t space = line.find_first_of(" \t");
    std::string_view word = line.substr(0, space);
    std::string_view rest = space == std::string_view::npos ? "" : trim(line.substr(space));

    static constexpr std::array<std::pair<std::string_view, Command>, 6> words{{
        {"ring", Command::ring},
        {"digits", Command::digits},
        {"press", Command::press},
        {"hangup", Command::hangup},
        {"say", Command::say},
        {"status", Command::status},
    }};
    for (const auto &[name, command] : words) {
        if (word != name) {
            continue;
        }
        bool keys = command == Command::digits || command == Command::press;
        bool takes_argument = keys || command == Command::say;
        if (takes_argument && rest.empty()) {
            return std::string(name) + " needs an argument";
        }
        if (!takes_argument && !rest.empty()) {
            return std::string(name) + " takes no argument";
        }
        if (keys) {
            if (rest.size() > CONTROL_DIGITS_MAX) {
                return "too many digits";
            }
            for (char key : rest) {
                if (KEYS.find(key) == std::string_view::npos) {
                    return "not a key: use 0-9, *, #, A-D";
                }
            }
        }
        out->command = command;
        out->argument = std::string(rest);
        return {};
    }
    return "unknown command (ring, digits D, press D, hangup, say FILE, status)";
}

}  // namespace sipline::boardsim
