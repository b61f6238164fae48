#include "gateway/reload.h"

#include <pthread.h>
#include <signal.h>

#include <mutex>
#include <optional>

#include "gateway/command_line.h"
#include "gateway/directory.h"
#include "gateway/globals.h"
#include "gateway/policy.h"
#include "gateway/watch.h"
#include "sip/uas/access_log.h"

namespace sipline {
namespace {

// All under reload_mutex. running and policy are written once by ReloadStart and then by
// ReloadApply on the main thread; pending is written by ReloadRequest (the signal thread) and
// taken by ReloadApply. The main thread learns of a pending reload by the event posted after it
// is stored.
std::mutex reload_mutex;
bool started = false;
gateway_settings_t running;
gateway_policy_t *policy = nullptr;
std::optional<gateway_settings_t> pending;

sigset_t reload_signals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGHUP);
    return set;
}

uint32_t take_reload_signal(void *) {
    sigset_t set = reload_signals();
    for (;;) {
        int signal = 0;
        if (sigwait(&set, &signal) == 0) {
            ReloadRequest(stderr);
        }
    }
}

bool same_users(const std::vector<settings_user_t> &a, const std::vector<settings_user_t> &b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i].name != b[i].name || a[i].password != b[i].password || a[i].ha1 != b[i].ha1) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::string ReloadRestartSections(const gateway_settings_t &a, const gateway_settings_t &b) {
    const bool changed[] = {
        a.sip.listen != b.sip.listen || a.sip.port != b.sip.port ||
            a.sip.external_address != b.sip.external_address,
        a.rtp.port != b.rtp.port || a.rtp.codecs != b.rtp.codecs,
        a.board.device != b.board.device || a.board.line_channel != b.board.line_channel ||
            a.board.record_channel != b.board.record_channel,
        a.outbound.user != b.outbound.user || a.outbound.password != b.outbound.password ||
            a.outbound.uri != b.outbound.uri,
        a.registration.registrar != b.registration.registrar ||
            a.registration.user != b.registration.user ||
            a.registration.password != b.registration.password ||
            a.registration.outbound_proxy != b.registration.outbound_proxy ||
            a.registration.expires != b.registration.expires ||
            a.registration.number_from != b.registration.number_from ||
            a.registration.keepalive != b.registration.keepalive,
        a.line.caller_id != b.line.caller_id ||
            a.line.answer_after_rings != b.line.answer_after_rings ||
            a.line.disconnect_tone != b.line.disconnect_tone ||
            a.line.silence_hangup != b.line.silence_hangup ||
            a.line.echo_cancel != b.line.echo_cancel || a.line.echo_tail_ms != b.line.echo_tail_ms,
        a.metrics.listen != b.metrics.listen,
        a.service.socket != b.service.socket,
    };
    const char *names[] = {"[sip]",          "[rtp]",  "[board]",   "[outbound]",
                           "[registration]", "[line]", "[metrics]", "[service]"};
    static_assert(std::size(changed) == std::size(names));
    std::string out;
    for (size_t i = 0; i < std::size(names); ++i) {
        if (changed[i]) {
            out += (out.empty() ? "" : ", ") + std::string(names[i]);
        }
    }
    return out;
}

void WatchForReloadSignal() {
    sigset_t set = reload_signals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    // The thread starts with every signal blocked, so that a SIGTERM meant for the end watcher
    // cannot land on it and end the process without its exit handlers.
    sigset_t all;
    sigset_t previous;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &previous);
    CloseHandle(CreateThread(take_reload_signal, nullptr, 0));
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

void ReloadStart(const gateway_settings_t &settings, gateway_policy_t *security) {
    std::lock_guard<std::mutex> lock(reload_mutex);
    running = settings;
    policy = security;
    started = true;
}

int ReloadRequest(FILE *err) {
    std::string file;
    {
        std::lock_guard<std::mutex> lock(reload_mutex);
        if (!started) {
            std::fprintf(err, "sipline: reload refused: still starting\n");
            return -1;
        }
        file = running.file;
    }
    if (file.empty()) {
        std::fprintf(err, "sipline: reload refused: started without --config, nothing to read\n");
        return -1;
    }
    gateway_settings_t next;
    std::string error;
    if (ReadSettingsFile(file.c_str(), &next, &error) != COMMAND_RUN) {
        std::fprintf(err, "sipline: reload refused, the running settings stay: %s\n",
                     error.c_str());
        return -1;
    }
    {
        std::lock_guard<std::mutex> lock(reload_mutex);
        pending = std::move(next);
    }
    std::fprintf(err, "sipline: reload: %s read; applied when the line is idle\n", file.c_str());
    PostLineEvent(EV_RELOAD);
    return 0;
}

void ReloadApply(FILE *err) {
    if (CallState.load() != ST_WTRING) {
        return;
    }
    std::lock_guard<std::mutex> lock(reload_mutex);
    if (!pending) {
        return;
    }
    gateway_settings_t next = std::move(*pending);
    pending.reset();
    if (PolicyReload(policy, next.security) != 0) {
        std::fprintf(err,
                     "sipline: reload refused, the running settings stay: %s: [security] "
                     "cannot be applied\n",
                     next.file.c_str());
        return;
    }
    DirectoryConfigure(next.directory);
    const log_settings_t &log = next.log;
    if (LogReplace(log.access_log.c_str(), log.access_format.c_str()) != 0) {
        std::fprintf(err, "sipline: reload: cannot open the access log %s; the old one stays\n",
                     log.access_log.c_str());
        next.log = running.log;
    }
    std::string restart = ReloadRestartSections(running, next);
    if (!restart.empty()) {
        std::fprintf(err, "sipline: reload: %s changed: taken at the next restart\n",
                     restart.c_str());
    }
    next.sip = running.sip;
    next.rtp = running.rtp;
    next.board = running.board;
    next.outbound = running.outbound;
    next.registration = running.registration;
    next.line = running.line;
    next.metrics = running.metrics;
    next.service = running.service;
    bool users_changed = !same_users(running.security.users, next.security.users);
    running = std::move(next);
    GatewayWatch()->Reloaded(GatewayWatch()->context, &running, err);
    std::fprintf(err, "sipline: reload: %s applied (%zu user%s%s)\n", running.file.c_str(),
                 running.security.users.size(), running.security.users.size() == 1 ? "" : "s",
                 users_changed ? ", changed" : "");
}

}  // namespace sipline
