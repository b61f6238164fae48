#include "gateway/startup.h"

#include <arpa/inet.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

#include "gateway/channels.h"
#include "gateway/directory.h"
#include "gateway/globals.h"
#include "gateway/host_identity.h"
#include "gateway/line_identity.h"
#include "gateway/policy.h"
#include "gateway/prompt_files.h"
#include "gateway/registration.h"
#include "gateway/reload.h"
#include "gateway/sdp_offer.h"
#include "gateway/sip_side.h"
#include "gateway/watch.h"
#include "media/line_echo.h"
#include "media/line_supervision.h"
#include "media/threads.h"
#include "sip/message/fields.h"
#include "sip/sdp/media_description.h"
#include "sip/uas/access_log.h"
#include "sip/uas/gateway.h"

namespace sipline {

std::atomic<bool> StartUpDone{false};

namespace {

// ReceiveUDP's parameter: it keeps the address for its whole life.
sockaddr_in SipListen{};

constexpr uint32_t THREAD_END_MS = 1000;

// The security decision the SIP side consults for the life of the process.
gateway_policy_t *Policy = nullptr;

HANDLE start_thread(thread_routine_t routine, void *argument) {
    HANDLE thread = CreateThread(routine, argument, CREATE_SUSPENDED);
    SetThreadPriority(thread, 0);
    ResumeThread(thread);
    return thread;
}

}  // namespace

void Cleanup() {
    // Two threads may exit at once (an end signal while another thread gives up): the second
    // waits here for the first's cleanup, so the process cannot end in the middle of it.
    static std::mutex cleaning;
    static bool cleaned = false;
    const std::lock_guard<std::mutex> lock(cleaning);
    if (cleaned) {
        return;
    }
    cleaned = true;
    std::printf("Cleaning up\n");
    // The binding goes while the listener still runs to receive the registrar's answer.
    RegistrationStop();
    // Threads cannot be killed here; the schedule thread ends at its next look at QuitRequested,
    // which the pulse brings forward. Before start-up has finished there is none to end.
    QuitRequested = 1;
    if (StartUpDone.load(std::memory_order_acquire) && ScheduleThread != nullptr) {
        PulseEvent(RescheduleEvent);
        WaitForSingleObject(ScheduleThread, THREAD_END_MS);
    }
    std::fflush(stdout);
}

namespace {

// The codecs of [rtp] (the default list keeps the built-in choice: GSM when the caller offers
// it, else the caller's first) and the address the gateway announces.
void TakeMediaSettings(const gateway_settings_t &settings) {
    const gateway_settings_t defaults{};
    GatewayCodecCount = 0;
    if (settings.rtp.codecs != defaults.rtp.codecs) {
        for (const std::string &name : settings.rtp.codecs) {
            const int32_t codec = SdpCodecByName(name.c_str());
            if (codec != SDP_CODEC_NONE && GatewayCodecCount < SDP_CODEC_COUNT) {
                GatewayCodecs[GatewayCodecCount++] = static_cast<int8_t>(codec);
            }
        }
    }
    std::snprintf(AdvertisedAddress, sizeof AdvertisedAddress, "%s",
                  settings.sip.external_address.empty() ? HostAddress
                                                        : settings.sip.external_address.c_str());
}

// The line's own signals: caller ID for the ring, supervision of the call. The settings were
// checked whole when read, so every tone entry reads.
void TakeLineSettings(const line_settings_t &line) {
    LineIdentityConfigure(line);
    line_supervision_t supervision;
    supervision.silence_seconds = line.silence_hangup;
    for (const std::string &entry : line.disconnect_tone) {
        dsp::ToneCadence cadence;
        if (dsp::parse_tone_cadence(SettingsToneCadence(entry), &cadence)) {
            supervision.tones.push_back(cadence);
        }
    }
    LineSupervisionConfigure(supervision);
    MediaSetLineEcho({line.echo_cancel, line.echo_tail_ms});
}

}  // namespace

void StartUp(const gateway_settings_t &settings) {
    if (StartWinsock() != 0) {
        std::fprintf(stderr, "Can't start Winsock\n");
        std::exit(1);
    }
    if (OpenBoard() != 0) {
        std::exit(1);
    }
    InitHostIdentity();
    RtpMutex = CreateMutex(false);
    if (RtpMutex == nullptr) {
        std::exit(1);
    }
    Policy = PolicyCreate(settings.security);
    if (Policy == nullptr) {
        std::fprintf(stderr, "Can't apply the security settings\n");
        std::exit(1);
    }
    if (!settings.log.access_log.empty()) {
        LogInit(settings.log.access_log.c_str(), settings.log.access_format.c_str());
    }
    SipListen.sin_family = AF_INET;
    SipListen.sin_port = htons(static_cast<uint16_t>(settings.sip.port));
    inet_pton(AF_INET, settings.sip.listen.c_str(), &SipListen.sin_addr);
    DirectoryConfigure(settings.directory);
    DirectoryRouteOthers(settings.outbound.uri, settings.registration.outbound_proxy);
    TakeMediaSettings(settings);
    TakeLineSettings(settings.line);
    // The SIP side keeps pointers into the settings for the life of the process.
    const gateway_settings_t *kept = new gateway_settings_t(settings);
    sip_side::Connect(Policy, kept);
    sip_side::NewCurrentRequest();
    CallState = ST_WTRING;
    SdpOffer = BuildSdpOffer(AdvertisedAddress);
    std::printf("SDP:\n%s\n", SdpOffer);
    HangupSignalled = 0;
    shdwnhandle = CreateEvent(false, nullptr);
    RescheduleEvent = CreateEvent(false, nullptr);
    ScheduleThread = start_thread(RTPScheduleProc, nullptr);
    ReceiveThread = start_thread(sip_side::ReceiveUDPThread, &SipListen);
    std::printf("UDP listen thread started\n");
    PromptsLocate(SIPLINE_DATA_DIR);
    ReloadStart(settings, Policy);
    RegistrationStart(settings);
    StartUpDone.store(true, std::memory_order_release);
}

int32_t GatewayBans(gateway_ban_t *bans, int32_t room) {
    if (!StartUpDone.load(std::memory_order_acquire) || Policy == nullptr) {
        return 0;
    }
    const double now =
        std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
    return PolicyBans(Policy, now, bans, room);
}

}  // namespace sipline
