#include <string>
#include <vector>

#include "config/settings.h"

namespace sipline {

namespace {

// TOML basic string: the characters that need an escape get one.
std::string quoted(const std::string &text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7f) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string list(const std::vector<std::string> &items) {
    std::string out = "[";
    for (size_t i = 0; i < items.size(); ++i) {
        out += (i == 0 ? "" : ", ") + quoted(items[i]);
    }
    return out + "]";
}

const char *boolean(bool value) {
    return value ? "true" : "false";
}

}  // namespace

std::string SettingsErrorText(const settings_error_t &error) {
    std::string text = error.file.empty() ? "(settings)" : error.file;
    if (error.line > 0) {
        text += ":" + std::to_string(error.line) + ":" + std::to_string(error.column);
    }
    text += ": ";
    if (!error.key.empty()) {
        text += error.key + ": ";
    }
    return text + "expected " + error.expected;
}

void SettingsPrint(const gateway_settings_t &s, FILE *out) {
    std::fprintf(out, "# Effective settings%s%s\n", s.file.empty() ? " (built in)" : " of ",
                 s.file.c_str());
    std::fprintf(out, "[sip]\nlisten = %s\nport = %d\nexternal_address = %s\n\n",
                 quoted(s.sip.listen).c_str(), s.sip.port, quoted(s.sip.external_address).c_str());
    std::fprintf(out, "[rtp]\nport = %d\ncodecs = %s\n\n", s.rtp.port, list(s.rtp.codecs).c_str());
    const security_settings_t &security = s.security;
    std::fprintf(
        out,
        "[security]\nallow = %s\nauthenticate = %s\nrealm = %s\ndial_allow = %s\n"
        "dial_deny = %s\nban_after = %d\nban_seconds = %d\nsilent = %s\ndigest_algorithms = %s\n\n",
        list(security.allow).c_str(), boolean(security.authenticate),
        quoted(security.realm).c_str(), list(security.dial_allow).c_str(),
        list(security.dial_deny).c_str(), security.ban_after, security.ban_seconds,
        boolean(security.silent), list(security.digest_algorithms).c_str());
    for (const settings_user_t &user : security.users) {
        std::fprintf(out, "[[security.users]]\nname = %s\n%s = \"(hidden)\"\n\n",
                     quoted(user.name).c_str(), user.ha1.empty() ? "password" : "ha1");
    }
    for (const settings_directory_entry_t &entry : s.directory) {
        std::fprintf(out, "[[directory]]\nnumber = %s\n", quoted(entry.number).c_str());
        if (entry.uri.empty()) {
            std::fprintf(out, "media_port = %d\n\n", entry.media_port);
        } else {
            std::fprintf(out, "uri = %s\n\n", quoted(entry.uri).c_str());
        }
    }
    std::fprintf(out, "[log]\naccess_log = %s\naccess_format = %s\ncdr = %s\ncdr_format = %s\n\n",
                 quoted(s.log.access_log).c_str(), quoted(s.log.access_format).c_str(),
                 quoted(s.log.cdr).c_str(), quoted(s.log.cdr_format).c_str());
    std::fprintf(out, "[board]\ndevice = %s\nline_channel = %d\nrecord_channel = %d\n\n",
                 quoted(s.board.device).c_str(), s.board.line_channel, s.board.record_channel);
    std::fprintf(out, "[outbound]\nuser = %s\npassword = %s\n", quoted(s.outbound.user).c_str(),
                 s.outbound.password.empty() ? "\"\"" : "\"(hidden)\"");
    std::fprintf(out, "uri = %s\n", quoted(s.outbound.uri).c_str());
    const registration_settings_t &reg = s.registration;
    std::fprintf(out,
                 "\n[registration]\nregistrar = %s\nuser = %s\npassword = %s\n"
                 "outbound_proxy = %s\nexpires = %d\nnumber_from = %s\nkeepalive = %d\n",
                 quoted(reg.registrar).c_str(), quoted(reg.user).c_str(),
                 reg.password.empty() ? "\"\"" : "\"(hidden)\"", quoted(reg.outbound_proxy).c_str(),
                 reg.expires, quoted(reg.number_from).c_str(), reg.keepalive);
    std::fprintf(out,
                 "\n[line]\ncaller_id = %s\nanswer_after_rings = %d\ndisconnect_tone = %s\n"
                 "silence_hangup = %d\n",
                 quoted(s.line.caller_id).c_str(), s.line.answer_after_rings,
                 list(s.line.disconnect_tone).c_str(), s.line.silence_hangup);
    std::fprintf(out, "echo_cancel = %s\necho_tail_ms = %d\n",
                 s.line.echo_cancel ? "true" : "false", s.line.echo_tail_ms);
    std::fprintf(out, "\n[metrics]\nlisten = %s\n\n[service]\nsocket = %s\n",
                 quoted(s.metrics.listen).c_str(), quoted(s.service.socket).c_str());
}

std::string SettingsToneCadence(const std::string &entry) {
    static constexpr struct {
        const char *country;
        const char *cadence;
    } kCountries[] = {
        {"us", "480+620/500/500"},  // ANSI T1.401 busy
        {"etsi", "425/500/500"},    // ETSI ES 201 970 busy, most of Europe
        {"uk", "400/375/375"},      // BT SIN 350 busy
    };
    for (const auto &row : kCountries) {
        if (entry == row.country) {
            return row.cadence;
        }
    }
    return entry;
}

}  // namespace sipline
