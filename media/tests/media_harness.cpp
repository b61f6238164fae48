// One call's media bridge on the simulated line, driven without the call state machine: for the
// scripts that put GStreamer and tshark on the other side, and for the bench.
//   media_harness PEER_PORT SECONDS
//   media_harness --measure FILE.wav   (frequency and level of a 16-bit tone)
// The board's settings come from BOARDSIM_* (MEDIA_HARNESS_ECHO_CANCEL=0 turns the line echo
// canceller off); the session receives on port 10000 and sends to
// 127.0.0.1:PEER_PORT. At the end it prints what the line heard and the process's CPU time.
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "board/board.h"
#include "boardsim/boardsim.h"
#include "media/bridge_state.h"
#include "media/gsm_codec.h"
#include "media/line_echo.h"
#include "media/probe.h"
#include "media/session.h"
#include "media/tests/tone.h"
#include "media/threads.h"
#include "sip/uas/request.h"
#include "sip/uas/tests/fake_gateway.h"

namespace sipline::testing {
namespace {

struct harness_gateway : call_variables {
    std::atomic<int> remote_hangups{0};
};

const termination_t HANGUP[1] = {{TERM_LAST, TERM_ON_HANGUP, 0, 0x0B, 0, 0, nullptr}};
const stream_format_t MULAW = {3, 7, 0x40, 8};

// Each list is written by one audio thread only and read after both have ended.
struct path_samples {
    std::vector<double> seconds;
    int64_t calls = 0;
    int64_t units = 0;
};
path_samples in_samples, out_samples;

void note(path_samples &p, double seconds, int32_t units) {
    ++p.calls;
    p.units += units;
    if (units > 0) {
        p.seconds.push_back(seconds);
    }
}

std::atomic<double> bridge_cpu{0};
const media_probe_t BENCH_PROBE = {
    [](double seconds, int32_t blocks) { note(in_samples, seconds, blocks); },
    [](double seconds, int32_t packets) { note(out_samples, seconds, packets); },
    [](const char *thread, double seconds) {
        std::printf("thread %s cpu %.4f s\n", thread, seconds);
        bridge_cpu = bridge_cpu + seconds;
    },
};

void print_path(const char *name, const char *calls, const char *units, path_samples &p) {
    std::sort(p.seconds.begin(), p.seconds.end());
    auto at = [&p](double q) {
        return p.seconds.empty()
                   ? 0.0
                   : p.seconds[static_cast<size_t>(q * static_cast<double>(p.seconds.size() - 1))] *
                         1e6;
    };
    std::printf("%s: %lld %s, %lld %s, p50 %.1f us, p99 %.1f us, max %.1f us\n", name,
                static_cast<long long>(p.calls), calls, static_cast<long long>(p.units), units,
                at(0.5), at(0.99), at(1.0));
}

double cpu_seconds();

// libgsm's own cost for a call of this length: one encode and one decode per 20 ms.
double gsm_floor(double seconds) {
    gsm_codec encoder;
    gsm_codec decoder;
    std::vector<int16_t> tone = make_tone(700, 8000, 160);
    uint8_t frame[GSM_FRAME_BYTES];
    int16_t back[GSM_FRAME_SAMPLES];
    const int frames = static_cast<int>(seconds * 50);
    const double start = cpu_seconds();
    for (int i = 0; i < frames; ++i) {
        encoder.encode(tone.data(), frame);
        decoder.decode(frame, back);
    }
    return cpu_seconds() - start;
}

double cpu_seconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

int run(uint16_t peer_port, double seconds) {
    harness_gateway call;
    sip_gateway_t g = call.record();
    g.PostEvent = [](void *context, int32_t type) {
        if (type == EV_REMOTE_HANGUP) {
            static_cast<harness_gateway *>(context)->remote_hangups++;
        }
    };
    g.context = &call;
    SipGatewayRegister(&g);
    request_t *invite = RequestCreate(TRANSPORT_UDP, -1, nullptr);
    invite->to.uri.user = strdup("5551234");
    invite->to.uri.host = strdup("gw.sipline.test");
    call.CurrentRequest = invite;

    RtpMutex = CreateMutex(false);
    shdwnhandle = CreateEvent(false, nullptr);
    RescheduleEvent = CreateEvent(false, nullptr);
    HANDLE schedule = CreateThread(RTPScheduleProc, nullptr, 0);

    int32_t board = dx_open_device("dxxxB1", 0);
    uint32_t size = 0;
    FWBuffersize = dx_get_board_parameter(board, BOARD_FIRMWARE_BUFFER, &size) == 0
                       ? static_cast<int32_t>(size & 0xFFFF)
                       : 768;
    dx_close_device(board);
    int32_t line = dx_open_device("dxxxB1C1", 0);
    int32_t record = dx_open_device("dxxxB1C3", 0);
    dx_sethook(line, DX_OFFHOOK, EV_SYNC);
    dial_params_t quick{0, 0};
    dx_dial(line, "5551234", &quick, EV_ASYNC);
    if (srl_wait_event(2000) != 0 || srl_event_type() != EV_DIAL_DONE) {
        std::fprintf(stderr, "media_harness: the line did not connect\n");
        return 1;
    }
    PlayStream = tuvo_create_buffer(32, FWBuffersize);
    RecordStream = tuvo_create_buffer(32, FWBuffersize);
    dx_play(line, nullptr, HANGUP, &MULAW, EV_ASYNC);
    tuvo_start_play(line, PlayStream);
    dx_rec(record, nullptr, HANGUP, &MULAW, RECORD_MODE);
    tuvo_start_record(record, RecordStream);
    RecordStreamEvent = OpenEvent("dxxxB1C3TUVOEvent");

    std::snprintf(RTPDestAddress, sizeof RTPDestAddress, "127.0.0.1");
    RTPDestPort = peer_port;
    LocalPort = RTP_PORT;
    if (setup_connection() != 0) {
        return 1;
    }
    // What an offer of that codec alone agrees (the bench measures a call per codec).
    if (const char *codec = std::getenv("MEDIA_HARNESS_CODEC"); codec != nullptr) {
        const int32_t agreed = SdpCodecByName(codec);
        if (agreed == SDP_CODEC_NONE) {
            std::fprintf(stderr, "media_harness: unknown codec %s\n", codec);
            return 1;
        }
        CallMedia = MediaDescriptionEmpty();
        CallMedia.payload_type[agreed] = static_cast<int8_t>(SdpCodecStaticPayloadType(agreed));
        CallMedia.send_codec = static_cast<int8_t>(agreed);
        CallMedia.direction = SDP_SENDRECV;
    }
    // MEDIA_HARNESS_ECHO_CANCEL=0: the line echo canceller off, for its cost in the bench.
    if (const char *cancel = std::getenv("MEDIA_HARNESS_ECHO_CANCEL"); cancel != nullptr) {
        line_echo_t echo;
        echo.cancel = std::strcmp(cancel, "0") != 0;
        MediaSetLineEcho(echo);
    }
    const bool bench = std::getenv("MEDIA_HARNESS_BENCH") != nullptr;
    if (bench) {
        MediaProbe = &BENCH_PROBE;
    }
    const double cpu_start = cpu_seconds();
    const auto start = std::chrono::steady_clock::now();
    HANDLE in = CreateThread(InTh, nullptr, 0);
    HANDLE out = CreateThread(OutTh, nullptr, 0);
    while (MediaStop == 0 &&
           std::chrono::steady_clock::now() - start < std::chrono::duration<double>(seconds)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    PulseEvent(shdwnhandle);
    MediaStop = 1;
    WaitForSingleObject(in, INFINITE);
    WaitForSingleObject(out, INFINITE);
    const double cpu = cpu_seconds() - cpu_start;
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    WaitForSingleObject(RtpMutex, INFINITE);
    CloseMediaSession("hangup");
    ReleaseMutex(RtpMutex);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    dx_stop_io(line, 0);
    dx_stop_io(record, 0);
    std::printf("status %s\n", boardsim_command("status").c_str());
    boardsim_shutdown();

    if (const char *capture = std::getenv("BOARDSIM_CAPTURE"); capture != nullptr) {
        std::FILE *f = std::fopen(capture, "rb");
        std::vector<uint8_t> all;
        if (f != nullptr) {
            uint8_t buffer[4096];
            size_t n;
            while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) {
                all.insert(all.end(), buffer, buffer + n);
            }
            std::fclose(f);
        }
        constexpr size_t HEADER = 58;
        tone_seen t = all.size() > HEADER
                          ? measure(expand_all(all.data() + HEADER, all.size() - HEADER))
                          : tone_seen{};
        std::printf("heard hz=%.1f rms=%.1f samples=%zu\n", t.hz, t.rms, t.samples);
    }
    std::printf("remote hangups %d\n", call.remote_hangups.load());
    std::printf("cpu %.4f s over %.2f s\n", cpu, wall);
    if (bench) {
        print_path("in", "RTP datagrams", "blocks committed", in_samples);
        print_path("out", "blocks recorded", "packets sent", out_samples);
        std::printf("gsm floor %.4f s\n", gsm_floor(wall));
    }
    QuitRequested = 1;
    for (int i = 0; i < 200 && WaitForSingleObject(schedule, 10) != WAIT_OBJECT_0; ++i) {
        SetEvent(RescheduleEvent);
    }
    for (HANDLE h :
         {in, out, schedule, RecordStreamEvent, RtpMutex, shdwnhandle, RescheduleEvent}) {
        CloseHandle(h);
    }
    RequestFree(call.CurrentRequest.exchange(nullptr));
    if (bench) {
        std::printf("bridge cpu %.4f s over %.2f s\n", bridge_cpu.load(), wall);
    }
    std::fflush(stdout);
    return 0;
}

// A 16-bit PCM WAV as a decoder wrote it: its samples after the "data" chunk's header.
int measure_wav(const char *file) {
    std::FILE *f = std::fopen(file, "rb");
    if (f == nullptr) {
        std::fprintf(stderr, "media_harness: cannot read %s\n", file);
        return 1;
    }
    std::vector<uint8_t> all;
    uint8_t buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) {
        all.insert(all.end(), buffer, buffer + n);
    }
    std::fclose(f);
    size_t at = 12;
    while (at + 8 <= all.size() && std::memcmp(&all[at], "data", 4) != 0) {
        at += 8 + (all[at + 4] | all[at + 5] << 8 | all[at + 6] << 16 | size_t{all[at + 7]} << 24);
    }
    std::vector<int16_t> samples;
    for (size_t i = at + 8; i + 1 < all.size(); i += 2) {
        samples.push_back(static_cast<int16_t>(all[i] | all[i + 1] << 8));
    }
    tone_seen t = measure(samples);
    std::printf("decoded hz=%.1f rms=%.1f samples=%zu\n", t.hz, t.rms, t.samples);
    return 0;
}

}  // namespace
}  // namespace sipline::testing

int main(int argc, char **argv) {
    if (argc == 3 && std::strcmp(argv[1], "--measure") == 0) {
        return sipline::testing::measure_wav(argv[2]);
    }
    if (argc != 3) {
        std::fprintf(stderr, "usage: media_harness PEER_PORT SECONDS\n");
        return 2;
    }
    return sipline::testing::run(static_cast<uint16_t>(std::atoi(argv[1])), std::atof(argv[2]));
}
