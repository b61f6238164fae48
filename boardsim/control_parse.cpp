#include "boardsim/control_parse.h"

#include <array>
#include <string>
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

bool all_digits(std::string_view text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

// The words after "ring"; empty on success, else why not.
std::string parse_ring(std::string_view rest, ring_request_t *out) {
    ring_request_t r;
    bool caller_seen = false, name_seen = false;
    while (!(rest = trim(rest)).empty()) {
        if (rest.front() == '"') {
            size_t close = rest.find('"', 1);
            if (!caller_seen || name_seen || close == std::string_view::npos) {
                return "a quoted name follows a number and ends with a quote";
            }
            if (close - 1 > CONTROL_NAME_MAX) {
                return "name too long";
            }
            r.name = std::string(rest.substr(1, close - 1));
            name_seen = true;
            rest.remove_prefix(close + 1);
            continue;
        }
        std::string_view word = rest.substr(0, rest.find_first_of(" \t"));
        rest.remove_prefix(word.size());
        if (word == "badsum") {
            r.bad_checksum = true;
        } else if (word.substr(0, 6) == "rings=") {
            std::string_view count = word.substr(6);
            if (!all_digits(count) || count.size() > 3 || std::stoi(std::string(count)) < 1 ||
                std::stoi(std::string(count)) > CONTROL_RINGS_MAX) {
                return "rings=N takes 1 to 100";
            }
            r.rings = std::stoi(std::string(count));
        } else if (!caller_seen && (word == "private" || word == "unavailable")) {
            (word == "private" ? r.withheld : r.unavailable) = true;
            caller_seen = true;
        } else if (!caller_seen && all_digits(word) && word.size() <= CONTROL_NUMBER_MAX) {
            r.number = std::string(word);
            caller_seen = true;
        } else {
            return "ring takes a number (or private, unavailable), a quoted name, rings=N, badsum";
        }
    }
    *out = std::move(r);
    return {};
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
        if (command == Command::ring) {
            std::string why = parse_ring(rest, &out->ring);
            if (why.empty()) {
                out->command = command;
                out->argument.clear();
            }
            return why;
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
