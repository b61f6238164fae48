// The settings file's reader. toml++ is used header-only and without exceptions, in this one
// file: its types stay here, and a fault comes back as a value with its place in the file.
//
// toml++ 3.3.0 (Debian 12) reaches __builtin_unreachable() in its whitespace test for most
// characters from U+00A1 to U+FEFF met outside strings and comments
// (is_non_ascii_horizontal_whitespace): undefined behaviour on a typing slip. So the text is
// parsed first with every byte above 0x7f replaced by a backtick, which TOML allows inside
// strings and comments only and which never changes where they begin or end; only a text that
// passes is given to toml++ as it stands.
#define TOML_EXCEPTIONS 0
#include <arpa/inet.h>
#include <charconv>

#include <toml++/toml.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <functional>
#include <regex>
#include <set>
#include <string>
#include <string_view>

#include "config/cidr.h"
#include "config/settings.h"

namespace sipline {

namespace {

// Longest text any key takes: a path, a command or a URI.
constexpr size_t kTextMax = 1024;
// Bounds the file read, so that a wrong path (a device, a huge log) is refused quickly.
constexpr std::streamsize kFileMax = 1 << 20;

const char *type_name(const toml::node &node) {
    switch (node.type()) {
        case toml::node_type::table:
            return "a table";
        case toml::node_type::array:
            return "an array";
        case toml::node_type::string:
            return "a string";
        case toml::node_type::integer:
            return "an integer";
        case toml::node_type::floating_point:
            return "a floating-point number";
        case toml::node_type::boolean:
            return "a boolean";
        case toml::node_type::date:
            return "a date";
        case toml::node_type::time:
            return "a time";
        case toml::node_type::date_time:
            return "a date-time";
        default:
            return "nothing";
    }
}

bool ipv4(const std::string &text) {
    in_addr address{};
    return inet_pton(AF_INET, text.c_str(), &address) == 1;
}

// "" (off), or an IPv4 address and a port from 1 to 65535: "127.0.0.1:9460".
bool listen_address(const std::string &text) {
    if (text.empty()) {
        return true;
    }
    const size_t colon = text.rfind(':');
    if (colon == std::string::npos || !ipv4(text.substr(0, colon))) {
        return false;
    }
    const std::string port = text.substr(colon + 1);
    if (port.empty() || port.size() > 5 ||
        port.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    const int value = std::stoi(port);
    return value >= 1 && value <= 65535;
}

// Printable ASCII without the quote and backslash that would break a header's quoted string.
bool header_safe(const std::string &text) {
    for (unsigned char c : text) {
        if (c < 0x20 || c > 0x7e || c == '"' || c == '\\') {
            return false;
        }
    }
    return true;
}

bool host_name(const std::string &text) {
    if (text.empty() || text.size() > 253) {
        return false;
    }
    for (unsigned char c : text) {
        if (!std::isalnum(c) && c != '.' && c != '-') {
            return false;
        }
    }
    return true;
}

// A SIP URI a header may carry as it stands: "sip:" and a host, no space, quote or angle.
bool sip_uri(const std::string &text) {
    return text.rfind("sip:", 0) == 0 && text.size() > 4 && header_safe(text) &&
           text.find_first_of(" <>\t") == std::string::npos;
}

bool hex_digits(const std::string &text) {
    for (unsigned char c : text) {
        if (!std::isxdigit(c)) {
            return false;
        }
    }
    return true;
}

bool dial_number(const std::string &text) {
    if (text.empty() || text.size() > 23) {
        return false;
    }
    for (unsigned char c : text) {
        if (!std::isdigit(c) && c != '*' && c != '#') {
            return false;
        }
    }
    return true;
}

// "F1[+F2]/ON/OFF" after the country names are resolved: frequencies 100-3400 Hz, times
// 50-10000 ms; the same grammar the gateway's detector takes.
bool tone_cadence(const std::string &entry) {
    const std::string cadence = SettingsToneCadence(entry);
    std::string_view rest = cadence;
    auto take = [&rest](int low, int high) {
        int value = 0;
        auto [end, ec] = std::from_chars(rest.data(), rest.data() + rest.size(), value);
        if (ec != std::errc() || end == rest.data() || value < low || value > high) {
            return false;
        }
        rest.remove_prefix(static_cast<size_t>(end - rest.data()));
        return true;
    };
    auto skip = [&rest](char c) {
        if (rest.empty() || rest.front() != c) {
            return false;
        }
        rest.remove_prefix(1);
        return true;
    };
    if (!take(100, 3400) || (skip('+') && !take(100, 3400))) {
        return false;
    }
    return skip('/') && take(50, 10000) && skip('/') && take(50, 10000) && rest.empty();
}

// The regex compiler reports a bad pattern by throwing; the throw ends here.
bool compiles(const std::string &pattern) {
    if (pattern.empty() || pattern.size() > SETTINGS_PATTERN_MAX) {
        return false;
    }
    try {
        std::regex compiled(pattern, std::regex::ECMAScript);
        return true;
    } catch (const std::regex_error &) {
        return false;
    }
}

// The byte at a place toml++ reports in an all-ASCII text (columns count bytes there); 0 when
// the place is past the end.
unsigned char ascii_at(std::string_view text, const toml::source_position &where) {
    size_t line = 1;
    size_t start = 0;
    while (line < where.line) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) {
            return 0;
        }
        start = end + 1;
        ++line;
    }
    size_t at = start + (where.column > 0 ? where.column - 1 : 0);
    return at < text.size() ? static_cast<unsigned char>(text[at]) : 0;
}

class reader {
  public:
    reader(std::string file, settings_error_t *error) : file_(std::move(file)), error_(error) {}

    bool fail(const toml::source_region &where, const std::string &key, std::string expected) {
        error_->file = file_;
        error_->line = static_cast<int32_t>(where.begin.line);
        error_->column = static_cast<int32_t>(where.begin.column);
        error_->key = key;
        error_->expected = std::move(expected);
        return false;
    }

    bool wrong_type(const toml::node &node, const std::string &key, const std::string &expected) {
        return fail(node.source(), key, expected + ", found " + type_name(node));
    }

    bool text(const toml::node &node, const std::string &key, std::string &out,
              const std::function<bool(const std::string &)> &check, const char *expected) {
        const auto *value = node.as_string();
        if (value == nullptr) {
            return wrong_type(node, key, expected);
        }
        const std::string &got = value->get();
        if (got.size() > kTextMax || got.find('\0') != std::string::npos ||
            (check && !check(got))) {
            return fail(node.source(), key, expected);
        }
        out = got;
        return true;
    }

    bool any_text(const toml::node &node, const std::string &key, std::string &out) {
        return text(node, key, out, nullptr, "a string");
    }

    bool number(const toml::node &node, const std::string &key, int64_t low, int64_t high,
                int32_t &out) {
        std::string expected =
            "an integer from " + std::to_string(low) + " to " + std::to_string(high);
        const auto *value = node.as_integer();
        if (value == nullptr) {
            return wrong_type(node, key, expected);
        }
        int64_t got = value->get();
        if (got < low || got > high) {
            return fail(node.source(), key, expected);
        }
        out = static_cast<int32_t>(got);
        return true;
    }

    bool flag(const toml::node &node, const std::string &key, bool &out) {
        const auto *value = node.as_boolean();
        if (value == nullptr) {
            return wrong_type(node, key, "true or false");
        }
        out = value->get();
        return true;
    }

    bool texts(const toml::node &node, const std::string &key, std::vector<std::string> &out,
               const std::function<bool(const std::string &)> &check, const char *expected) {
        const auto *list = node.as_array();
        if (list == nullptr) {
            return wrong_type(node, key, std::string("an array of ") + expected);
        }
        std::vector<std::string> got;
        size_t i = 0;
        for (const toml::node &element : *list) {
            std::string item;
            if (!text(element, key + "[" + std::to_string(i++) + "]", item, check, expected)) {
                return false;
            }
            got.push_back(std::move(item));
        }
        out = std::move(got);
        return true;
    }

    bool unknown(const toml::key &key, const std::string &section, const char *known) {
        std::string name =
            section.empty() ? std::string(key.str()) : section + "." + std::string(key.str());
        return fail(key.source(), name, std::string("one of ") + known);
    }

    bool sip(const toml::table &table, sip_settings_t &out) {
        for (auto &&[key, node] : table) {
            std::string name = "sip." + std::string(key.str());
            bool ok = true;
            if (key == "listen") {
                ok = text(node, name, out.listen, ipv4, "an IPv4 address such as \"0.0.0.0\"");
            } else if (key == "port") {
                ok = number(node, name, 1, 65535, out.port);
            } else if (key == "external_address") {
                ok = text(
                    node, name, out.external_address,
                    [](const std::string &t) { return t.empty() || host_name(t); },
                    "an address or host name, or \"\"");
            } else {
                ok = unknown(key, "sip", "listen, port, external_address");
            }
            if (!ok) {
                return false;
            }
        }
        return true;
    }

    bool rtp(const toml::table &table, rtp_settings_t &out) {
        for (auto &&[key, node] : table) {
            std::string name = "rtp." + std::string(key.str());
            bool ok = true;
            if (key == "port") {
                ok = number(node, name, 1024, 65534, out.port);
                if (ok && out.port % 2 != 0) {
                    ok = fail(node.source(), name, "an even port (RTCP takes the next one)");
                }
            } else if (key == "codecs") {
                ok = choices(node, name, "codec names", settings_codec_names, out.codecs);
            } else {
                ok = unknown(key, "rtp", "port, codecs");
            }
            if (!ok) {
                return false;
            }
        }
        return true;
    }

    // A list of names from `known`, each at most once, at least one; `what` names them.
    template <size_t N>
    bool choices(const toml::node &node, const std::string &name, const char *what,
                 const char *const (&known)[N], std::vector<std::string> &out) {
        std::string expected;
        for (const char *choice : known) {
            expected += (expected.empty() ? "\"" : ", \"") + std::string(choice) + "\"";
        }
        auto listed = [&known](const std::string &t) {
            return std::find(std::begin(known), std::end(known), t) != std::end(known);
        };
        std::vector<std::string> got;
        if (!texts(node, name, got, listed, (what + (": " + expected)).c_str())) {
            return false;
        }
        if (got.empty()) {
            return fail(node.source(), name, "at least one of " + expected);
        }
        std::set<std::string> seen;
        for (const std::string &choice : got) {
            if (!seen.insert(choice).second) {
                return fail(node.source(), name, "each once, not \"" + choice + "\" twice");
            }
        }
        out = std::move(got);
        return true;
    }

    bool user(const toml::node &node, const std::string &name, settings_user_t &out) {
        const toml::table *table = node.as_table();
        if (table == nullptr) {
            return wrong_type(node, name, "a table with name and password (or ha1)");
        }
        bool has_name = false;
        for (auto &&[key, value] : *table) {
            std::string full = name + "." + std::string(key.str());
            bool ok = true;
            if (key == "name") {
                has_name = true;
                ok = text(
                    value, full, out.name,
                    [](const std::string &t) {
                        return !t.empty() && header_safe(t) && t.find(':') == std::string::npos;
                    },
                    "a user name without quote, backslash or colon");
            } else if (key == "password") {
                ok = text(
                    value, full, out.password, [](const std::string &t) { return !t.empty(); },
                    "a password that is not empty");
            } else if (key == "ha1") {
                ok = text(
                    value, full, out.ha1,
                    [](const std::string &t) {
                        return (t.size() == 32 || t.size() == 64) && hex_digits(t);
                    },
                    "32 hex digits (MD5) or 64 (SHA-256) of H(name:realm:password)");
                for (char &c : out.ha1) {
                    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
                }
            } else {
                ok = unknown(key, name, "name, password, ha1");
            }
            if (!ok) {
                return false;
            }
        }
        if (!has_name) {
            return fail(node.source(), name + ".name", "a name for every user");
        }
        if (out.password.empty() == out.ha1.empty()) {
            return fail(node.source(), name, "either password or ha1, not both nor neither");
        }
        return true;
    }

    bool security(const toml::table &table, security_settings_t &out) {
        for (auto &&[key, node] : table) {
            std::string name = "security." + std::string(key.str());
            bool ok = true;
            if (key == "allow") {
                ok = texts(
                    node, name, out.allow,
                    [](const std::string &t) {
                        cidr_t block{};
                        return CidrParse(t.c_str(), &block) == 0;
                    },
                    "IPv4 addresses or blocks such as \"192.0.2.0/24\"");
            } else if (key == "authenticate") {
                ok = flag(node, name, out.authenticate);
            } else if (key == "realm") {
                ok = text(
                    node, name, out.realm,
                    [](const std::string &t) { return !t.empty() && header_safe(t); },
                    "a realm without quote or backslash");
            } else if (key == "users") {
                ok = users(node, name, out.users);
            } else if (key == "dial_allow" || key == "dial_deny") {
                ok = texts(node, name, key == "dial_allow" ? out.dial_allow : out.dial_deny,
                           compiles, "regular expressions (ECMAScript, at most 200 characters)");
            } else if (key == "ban_after") {
                ok = number(node, name, 0, 1000, out.ban_after);
            } else if (key == "ban_seconds") {
                ok = number(node, name, 1, 7 * 86400, out.ban_seconds);
            } else if (key == "silent") {
                ok = flag(node, name, out.silent);
            } else if (key == "digest_algorithms") {
                ok = choices(node, name, "digest algorithms", settings_digest_names,
                             out.digest_algorithms);
            } else {
                ok = unknown(key, "security",
                             "allow, authenticate, realm, users, dial_allow, dial_deny, "
                             "ban_after, ban_seconds, silent, digest_algorithms");
            }
            if (!ok) {
                return false;
            }
        }
        return true;
    }

    bool users(const toml::node &node, const std::string &name, std::vector<settings_user_t> &out) {
        const toml::array *list = node.as_array();
        if (list == nullptr) {
            return wrong_type(node, name, "[[security.users]] tables");
        }
        std::vector<settings_user_t> got;
        std::set<std::string> seen;
        size_t i = 0;
        for (const toml::node &item : *list) {
            settings_user_t entry;
            std::string entry_name = name + "[" + std::to_string(i++) + "]";
            if (!user(item, entry_name, entry)) {
                return false;
            }
            if (!seen.insert(entry.name).second) {
                return fail(item.source(), entry_name + ".name",
                            "a name not given before, not \"" + entry.name + "\" again");
            }
            got.push_back(std::move(entry));
        }
        out = std::move(got);
        return true;
    }

    bool directory(const toml::node &node, std::vector<settings_directory_entry_t> &out) {
        const toml::array *list = node.as_array();
        if (list == nullptr) {
            return wrong_type(node, "directory", "[[directory]] tables");
        }
        std::vector<settings_directory_entry_t> got;
        std::set<std::string> seen;
        size_t i = 0;
        for (const toml::node &item : *list) {
            std::string name = "directory[" + std::to_string(i++) + "]";
            const toml::table *table = item.as_table();
            if (table == nullptr) {
                return wrong_type(item, name, "a table with number and uri (or media_port)");
            }
            settings_directory_entry_t entry;
            for (auto &&[key, value] : *table) {
                std::string full = name + "." + std::string(key.str());
                bool ok = true;
                if (key == "number") {
                    ok = text(value, full, entry.number, dial_number,
                              "a number of digits, * and # (at most 23)");
                } else if (key == "uri") {
                    ok = text(
                        value, full, entry.uri,
                        [](const std::string &t) {
                            return t.rfind("sip:", 0) == 0 && t.size() > 4 && header_safe(t) &&
                                   t.find(' ') == std::string::npos;
                        },
                        "a SIP URI such as \"sip:100@192.0.2.10\"");
                } else if (key == "media_port") {
                    ok = number(value, full, 1024, 65534, entry.media_port);
                } else {
                    ok = unknown(key, name, "number, uri, media_port");
                }
                if (!ok) {
                    return false;
                }
            }
            if (entry.number.empty()) {
                return fail(item.source(), name + ".number", "a number for every entry");
            }
            if (entry.uri.empty() == (entry.media_port == 0)) {
                return fail(item.source(), name, "either uri or media_port, not both nor neither");
            }
            if (!seen.insert(entry.number).second) {
                return fail(item.source(), name + ".number",
                            "a number not given before, not \"" + entry.number + "\" again");
            }
            got.push_back(std::move(entry));
        }
        out = std::move(got);
        return true;
    }

    bool log(const toml::table &table, log_settings_t &out) {
        for (auto &&[key, node] : table) {
            std::string name = "log." + std::string(key.str());
            bool ok = true;
            if (key == "access_log") {
                ok = text(
                    node, name, out.access_log, [](const std::string &t) { return t != "|"; },
                    "a file name or \"|command\"");
            } else if (key == "access_format") {
                ok = any_text(node, name, out.access_format);
            } else if (key == "cdr") {
                ok = text(node, name, out.cdr, nullptr, "a file name, or \"\"");
            } else if (key == "cdr_format") {
                ok = text(
                    node, name, out.cdr_format,
                    [](const std::string &t) { return t == "csv" || t == "jsonl"; },
                    "\"csv\" or \"jsonl\"");
            } else {
                ok = unknown(key, "log", "access_log, access_format, cdr, cdr_format");
            }
            if (!ok) {
                return false;
            }
        }
        return true;
    }

    bool board(const toml::table &table, board_settings_t &out) {
        for (auto &&[key, node] : table) {
            std::string name = "board." + std::string(key.str());
            bool ok = true;
            if (key == "device") {
                ok = text(
                    node, name, out.device,
                    [](const std::string &t) { return !t.empty() && t.size() < 32; },
                    "a board name such as \"dxxxB1\"");
            } else if (key == "line_channel") {
                ok = number(node, name, 1, 32, out.line_channel);
            } else if (key == "record_channel") {
                ok = number(node, name, 1, 32, out.record_channel);
            } else {
                ok = unknown(key, "board", "device, line_channel, record_channel");
            }
            if (!ok) {
                return false;
            }
        }
        return true;
    }

    bool outbound(const toml::table &table, outbound_settings_t &out) {
        for (auto &&[key, node] : table) {
            std::string name = "outbound." + std::string(key.str());
            bool ok = true;
            if (key == "user") {
                ok = text(node, name, out.user, header_safe,
                          "a user name without quote or backslash");
            } else if (key == "password") {
                ok = any_text(node, name, out.password);
            } else if (key == "uri") {
                ok = text(
                    node, name, out.uri,
                    [](const std::string &t) {
                        return t.empty() || (sip_uri(t) && t.find("{number}") != std::string::npos);
                    },
                    "a SIP URI with {number}, such as \"sip:{number}@pbx.example.org\", or \"\"");
            } else {
                ok = unknown(key, "outbound", "user, password, uri");
            }
            if (!ok) {
                return false;
            }
        }
        return true;
    }

    bool registration(const toml::table &table, registration_settings_t &out) {
        for (auto &&[key, node] : table) {
            std::string name = "registration." + std::string(key.str());
            bool ok = true;
            if (key == "registrar" || key == "outbound_proxy") {
                ok = text(
                    node, name, key == "registrar" ? out.registrar : out.outbound_proxy,
                    [](const std::string &t) { return t.empty() || sip_uri(t); },
                    "a SIP URI such as \"sip:pbx.example.org\", or \"\"");
            } else if (key == "user") {
                ok = text(node, name, out.user, header_safe,
                          "a user name without quote or backslash");
            } else if (key == "password") {
                ok = any_text(node, name, out.password);
            } else if (key == "expires") {
                ok = number(node, name, 10, 86400, out.expires);
            } else if (key == "number_from") {
                ok = text(
                    node, name, out.number_from,
                    [](const std::string &t) { return t == "request-uri" || t == "to"; },
                    "\"request-uri\" or \"to\"");
            } else if (key == "keepalive") {
                ok = number(node, name, 0, 3600, out.keepalive);
            } else {
                ok = unknown(key, "registration",
                             "registrar, user, password, outbound_proxy, expires, number_from, "
                             "keepalive");
            }
            if (!ok) {
                return false;
            }
        }
        return true;
    }

    bool metrics(const toml::table &table, metrics_settings_t &out) {
        for (auto &&[key, node] : table) {
            std::string name = "metrics." + std::string(key.str());
            bool ok = true;
            if (key == "listen") {
                ok = text(node, name, out.listen, listen_address,
                          "\"address:port\" such as \"127.0.0.1:9460\", or \"\"");
            } else {
                ok = unknown(key, "metrics", "listen");
            }
            if (!ok) {
                return false;
            }
        }
        return true;
    }

    bool service(const toml::table &table, service_settings_t &out) {
        for (auto &&[key, node] : table) {
            std::string name = "service." + std::string(key.str());
            bool ok = true;
            if (key == "socket") {
                ok = text(
                    node, name, out.socket, [](const std::string &t) { return t.size() < 108; },
                    "a socket path shorter than 108 bytes, or \"\"");
            } else {
                ok = unknown(key, "service", "socket");
            }
            if (!ok) {
                return false;
            }
        }
        return true;
    }

    bool line(const toml::table &table, line_settings_t &out) {
        bool rings_given = false;
        for (auto &&[key, node] : table) {
            std::string name = "line." + std::string(key.str());
            bool ok = true;
            if (key == "caller_id") {
                ok = text(
                    node, name, out.caller_id,
                    [](const std::string &t) {
                        return t == "bell" || t == "v23" || t == "dtmf" || t == "off";
                    },
                    "\"bell\", \"v23\", \"dtmf\" or \"off\"");
            } else if (key == "answer_after_rings") {
                ok = number(node, name, 1, 20, out.answer_after_rings);
                rings_given = true;
            } else if (key == "disconnect_tone") {
                ok = texts(node, name, out.disconnect_tone, tone_cadence,
                           "\"us\", \"etsi\", \"uk\" or \"F1[+F2]/ON/OFF\" (Hz 100-3400, ms "
                           "50-10000)");
            } else if (key == "silence_hangup") {
                ok = number(node, name, 0, 3600, out.silence_hangup);
            } else if (key == "echo_cancel") {
                ok = flag(node, name, out.echo_cancel);
            } else if (key == "echo_tail_ms") {
                ok = number(node, name, 8, 128, out.echo_tail_ms);
            } else {
                ok = unknown(key, "line",
                             "caller_id, answer_after_rings, disconnect_tone, silence_hangup, "
                             "echo_cancel, echo_tail_ms");
            }
            if (!ok) {
                return false;
            }
        }
        if (!rings_given) {
            out.answer_after_rings = out.caller_id == "off" ? 1 : 2;
        }
        return true;
    }

    template <typename Record>
    bool section(const toml::node &node, const std::string &name, Record &out,
                 bool (reader::*read)(const toml::table &, Record &)) {
        const toml::table *table = node.as_table();
        if (table == nullptr) {
            return wrong_type(node, name, "a table [" + name + "]");
        }
        return (this->*read)(*table, out);
    }

    bool whole(const toml::table &root, gateway_settings_t &out) {
        for (auto &&[key, node] : root) {
            std::string name(key.str());
            bool ok = true;
            if (key == "sip") {
                ok = section(node, name, out.sip, &reader::sip);
            } else if (key == "rtp") {
                ok = section(node, name, out.rtp, &reader::rtp);
            } else if (key == "security") {
                ok = section(node, name, out.security, &reader::security);
            } else if (key == "directory") {
                ok = directory(node, out.directory);
            } else if (key == "log") {
                ok = section(node, name, out.log, &reader::log);
            } else if (key == "board") {
                ok = section(node, name, out.board, &reader::board);
            } else if (key == "outbound") {
                ok = section(node, name, out.outbound, &reader::outbound);
            } else if (key == "registration") {
                ok = section(node, name, out.registration, &reader::registration);
            } else if (key == "line") {
                ok = section(node, name, out.line, &reader::line);
            } else if (key == "metrics") {
                ok = section(node, name, out.metrics, &reader::metrics);
            } else if (key == "service") {
                ok = section(node, name, out.service, &reader::service);
            } else {
                ok = unknown(key, "",
                             "sip, rtp, security, directory, log, board, outbound, registration, "
                             "line, metrics, service");
            }
            if (!ok) {
                return false;
            }
        }
        return together(root, out);
    }

    // Checks between keys, once every key has been read.
    bool together(const toml::table &root, const gateway_settings_t &out) {
        auto where = [&root](std::string_view section, std::string_view key) {
            const toml::node *node =
                root.at_path(std::string(section) + "." + std::string(key)).node();
            if (node == nullptr) {
                node = root.get(section);
            }
            return node != nullptr ? node->source() : root.source();
        };
        if (out.security.authenticate && out.security.users.empty()) {
            return fail(where("security", "authenticate"), "security.authenticate",
                        "at least one [[security.users]] when authenticate = true (add one: a "
                        "line [[security.users]], then name = \"office\" and password = "
                        "\"choose-a-long-one\" on lines of their own)");
        }
        const std::vector<std::string> &algorithms = out.security.digest_algorithms;
        for (size_t i = 0; i < out.security.users.size(); ++i) {
            const std::string &ha1 = out.security.users[i].ha1;
            const char *needed = ha1.size() == 32 ? "MD5" : "SHA-256";
            if (!ha1.empty() &&
                std::find(algorithms.begin(), algorithms.end(), needed) == algorithms.end()) {
                std::string key = "security.users[" + std::to_string(i) + "].ha1";
                return fail(
                    where("security", "digest_algorithms"), key,
                    std::string("an ha1 of an algorithm in security.digest_algorithms, not ") +
                        needed);
            }
        }
        if (out.board.line_channel == out.board.record_channel) {
            return fail(where("board", "record_channel"), "board.record_channel",
                        "a channel other than line_channel");
        }
        if (out.outbound.user.empty() != out.outbound.password.empty()) {
            return fail(where("outbound", out.outbound.user.empty() ? "user" : "password"),
                        out.outbound.user.empty() ? "outbound.user" : "outbound.password",
                        "both outbound.user and outbound.password, or neither");
        }
        const registration_settings_t &reg = out.registration;
        if (reg.user.empty() != reg.password.empty()) {
            return fail(where("registration", reg.user.empty() ? "user" : "password"),
                        reg.user.empty() ? "registration.user" : "registration.password",
                        "both registration.user and registration.password, or neither");
        }
        if (!reg.registrar.empty() && reg.user.empty() && out.outbound.user.empty()) {
            return fail(where("registration", "registrar"), "registration.user",
                        "registration.user and password (or [outbound] credentials) with a "
                        "registrar");
        }
        return true;
    }

  private:
    std::string file_;
    settings_error_t *error_;
};

}  // namespace

int SettingsParse(const char *text, size_t length, const char *file, gateway_settings_t *settings,
                  settings_error_t *error) {
    settings_error_t ignored;
    settings_error_t *report = error != nullptr ? error : &ignored;
    std::string name = file != nullptr ? file : "";
    reader read(name, report);
    std::string_view document(text != nullptr ? text : "", text != nullptr ? length : 0);
    if (document.find('\0') != std::string_view::npos) {
        toml::source_region where{};
        read.fail(where, "", "text without NUL bytes");
        return -1;
    }
    std::string ascii(document);
    for (char &c : ascii) {
        c = static_cast<unsigned char>(c) > 0x7f ? '`' : c;
    }
    toml::parse_result screened = toml::parse(std::string_view(ascii), std::string_view(name));
    if (!screened) {
        const toml::parse_error &fault = screened.error();
        bool non_ascii = ascii_at(document, fault.source().begin) > 0x7f;
        read.fail(
            fault.source(), "",
            non_ascii ? "ASCII outside strings and comments" : std::string(fault.description()));
        return -1;
    }
    toml::parse_result parsed = toml::parse(document, std::string_view(name));
    if (!parsed) {
        const toml::parse_error &fault = parsed.error();
        read.fail(fault.source(), "", std::string(fault.description()));
        return -1;
    }
    gateway_settings_t built;
    built.file = name;
    if (!read.whole(parsed.table(), built)) {
        return -1;
    }
    if (settings != nullptr) {
        *settings = std::move(built);
    }
    return 0;
}

int SettingsRead(const char *file, gateway_settings_t *settings, settings_error_t *error) {
    settings_error_t ignored;
    settings_error_t *report = error != nullptr ? error : &ignored;
    std::ifstream stream(file != nullptr ? file : "", std::ios::binary);
    if (file == nullptr || !stream) {
        *report = settings_error_t{};
        report->file = file != nullptr ? file : "";
        report->expected = "a readable file";
        return -1;
    }
    std::string content(static_cast<size_t>(kFileMax) + 1, '\0');
    stream.read(content.data(), kFileMax + 1);
    content.resize(static_cast<size_t>(stream.gcount()));
    if (content.size() > static_cast<size_t>(kFileMax)) {
        *report = settings_error_t{};
        report->file = file;
        report->expected = "a file of at most 1 MiB";
        return -1;
    }
    return SettingsParse(content.data(), content.size(), file, settings, report);
}

}  // namespace sipline
