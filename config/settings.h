// The gateway's settings: one plain record, filled with defaults, then from a TOML file read once
// and checked whole at start-up. Everything below the gateway gets its values passed in.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace sipline {

struct sip_settings_t {
    std::string listen = "0.0.0.0";  // the IPv4 address the SIP socket binds
    int32_t port = 5060;
    std::string external_address;  // the address the gateway announces behind NAT; "" none
};

struct rtp_settings_t {
    int32_t port = 10000;  // even: RTCP takes the next one
    // The gateway's own preference among the formats both sides have, most wanted first, and
    // the order of its own offers. Names from settings_codec_names.
    std::vector<std::string> codecs{"GSM", "PCMU", "PCMA"};
};

struct settings_user_t {
    std::string name;
    std::string password;  // "" when ha1 is given
    // H(name:realm:password), lower-case hex: 32 digits for MD5, 64 for SHA-256; "" when the
    // password is given.
    std::string ha1;
};

struct security_settings_t {
    std::vector<std::string> allow;  // "a.b.c.d/n" or "a.b.c.d"; empty: every source
    bool authenticate = false;
    std::string realm = "sipline";
    std::vector<settings_user_t> users;
    std::vector<std::string> dial_allow;  // ECMAScript regexes over the whole number; empty: any
    std::vector<std::string> dial_deny;
    int32_t ban_after = 5;  // 0: no bans
    int32_t ban_seconds = 600;
    bool silent = false;
    // The challenges a 401 offers, in this order (RFC 8760): clients that read only the first,
    // or that give up on one they do not know, need their own first or alone.
    std::vector<std::string> digest_algorithms{"MD5", "SHA-256"};
};

struct settings_directory_entry_t {
    std::string number;
    std::string uri;         // "" for an entry reached by its media port alone
    int32_t media_port = 0;  // 0 for an entry with a URI
};

struct log_settings_t {
    std::string access_log;  // a file, "|command", or "" for no access log
    std::string access_format;
    std::string cdr;                 // the call records' file, "" for none
    std::string cdr_format = "csv";  // "csv" or "jsonl"
};

struct board_settings_t {
    std::string device = "dxxxB1";
    int32_t line_channel = 1;
    int32_t record_channel = 3;
};

struct outbound_settings_t {
    std::string user;  // "" sends no credentials
    std::string password;
    // "sip:{number}@pbx.example.org": every number dialled on the line goes there, {number}
    // replaced; "" dials the directory alone.
    std::string uri;
};

// Registration to the owner's PBX (RFC 3261 section 10); registrar "" registers nowhere.
struct registration_settings_t {
    std::string registrar;  // "sip:pbx.example.org" or "sip:pbx.example.org:5070"
    std::string user;       // "" takes [outbound] user and password
    std::string password;
    std::string outbound_proxy;  // a SIP URI requests go through; "" straight to the registrar
    int32_t expires = 3600;
    std::string number_from = "request-uri";  // or "to": where a routed call's number is read
    int32_t keepalive = 30;                   // seconds between OPTIONS; 0 sends none
};

// The line's own signals: the caller's identity with the ring, and how the line says that its
// party has hung up while the loop stays up.
struct line_settings_t {
    std::string caller_id = "off";  // "bell", "v23", "dtmf" or "off"
    // Rings before the gateway answers when no identity came sooner; when the file leaves it
    // out, 2 with caller ID, 1 (answer at once) without.
    int32_t answer_after_rings = 1;
    // Disconnect tones that end a call: "us" (480+620 Hz 500/500 ms), "etsi" (425 Hz
    // 500/500 ms), "uk" (400 Hz 375/375 ms) or "F1[+F2]/ON/OFF" in Hz and ms. Empty: none.
    std::vector<std::string> disconnect_tone;
    int32_t silence_hangup = 0;  // seconds of silence from the line that end a call; 0: never
    // The line echo canceller on what the line returns of what it is played; its tail (ms).
    bool echo_cancel = true;
    int32_t echo_tail_ms = 64;
};

// The cadence descriptor of a disconnect_tone entry ("480+620/500/500" for "us"); the entry
// itself when it is one already.
std::string SettingsToneCadence(const std::string &entry);

struct metrics_settings_t {
    std::string listen;  // "address:port" of the Prometheus and status page server; "" off
};

struct service_settings_t {
    // The Unix socket `sipline status` asks; "" for none.
    std::string socket = "/run/sipline/status.sock";
};

struct gateway_settings_t {
    sip_settings_t sip;
    rtp_settings_t rtp;
    security_settings_t security;
    // Empty: the built-in entries stay.
    std::vector<settings_directory_entry_t> directory;
    log_settings_t log;
    board_settings_t board;
    outbound_settings_t outbound;
    registration_settings_t registration;
    line_settings_t line;
    metrics_settings_t metrics;
    service_settings_t service;
    std::string file;  // the file read, "" for the built-in settings
};

// What went wrong in a settings file: where, which key, what was expected there.
struct settings_error_t {
    std::string file;
    int32_t line = 0;  // from 1; 0 when the whole file is concerned
    int32_t column = 0;
    std::string key;  // dotted, with indexes: "security.users[1].name"
    std::string expected;
};

// The codec names that rtp.codecs may hold, in the gateway's default order.
inline constexpr const char *settings_codec_names[] = {"GSM", "PCMU", "PCMA"};
// The names that security.digest_algorithms may hold.
inline constexpr const char *settings_digest_names[] = {"MD5", "SHA-256"};
// Longest pattern in dial_allow and dial_deny, so that a pattern cannot exhaust the stack of
// the regex compiler.
inline constexpr size_t SETTINGS_PATTERN_MAX = 200;

// 0 and *settings filled (defaults for what the text leaves out), or -1 and *error filled with
// the first fault; *settings is untouched on failure.
int SettingsParse(const char *text, size_t length, const char *file, gateway_settings_t *settings,
                  settings_error_t *error);
// SettingsParse over a file's content.
int SettingsRead(const char *file, gateway_settings_t *settings, settings_error_t *error);
// "FILE:LINE:COLUMN: KEY: expected WHAT" (the parts that are known).
std::string SettingsErrorText(const settings_error_t &error);
// The effective settings as TOML, every key shown; passwords and ha1 values as "(hidden)".
void SettingsPrint(const gateway_settings_t &settings, FILE *stream);

}  // namespace sipline
