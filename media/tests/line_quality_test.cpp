// The call's audio on an imperfect line and network: the hybrid's echo cancelled on the way to
// the caller, and the caller's audio through a relay that delays, reorders, duplicates and
// drops packets, played on the line whole and in order.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cmath>
#include <fstream>
#include <sstream>

#include "dsp/echo_path.h"
#include "media/line_echo.h"
#include "media/playout.h"
#include "media/tests/bridge_fixture.h"

namespace sipline::testing {
namespace {

constexpr uint32_t PEER_SSRC = 0x5eed0001;
constexpr double FULL_SCALE_SINE_POWER = 32767.0 * 32767.0 / 2;  // +3.14 dBm0

double power(const std::vector<int16_t> &s, size_t from, size_t to) {
    double sum = 0;
    to = std::min(to, s.size());
    for (size_t i = from; i < to; ++i) {
        sum += static_cast<double>(s[i]) * s[i];
    }
    return to > from ? sum / static_cast<double>(to - from) + 1e-9 : 1e-9;
}

double dbm0(double p) {
    return 10 * std::log10(p / FULL_SCALE_SINE_POWER) + 3.14;
}

// Speech-like noise: bursts of low-passed noise of 100-300 ms, seeded, about -15 dBm0.
std::vector<int16_t> speechlike(size_t samples, unsigned seed) {
    std::mt19937 gen(seed);
    std::normal_distribution<double> noise(0, 3000);
    std::vector<int16_t> out;
    double lp = 0;
    while (out.size() < samples) {
        const int n = 800 + static_cast<int>(gen() % 1600);
        for (int i = 0; i < n; ++i) {
            lp = 0.6 * lp + 0.4 * noise(gen);
            const double v = lp * 1.6 * (0.3 + 0.7 * std::sin(std::numbers::pi * i / n));
            out.push_back(static_cast<int16_t>(std::clamp(v, -32767.0, 32767.0)));
        }
    }
    out.resize(samples);
    return out;
}

double goertzel(const std::vector<int16_t> &s, size_t from, size_t to, double hz) {
    const double w = 2 * std::numbers::pi * hz / 8000;
    double s1 = 0, s2 = 0;
    to = std::min(to, s.size());
    for (size_t i = from; i < to; ++i) {
        const double s0 = s[i] + 2 * std::cos(w) * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    const double n = static_cast<double>(to - from);
    return 2 * std::sqrt(std::max(s1 * s1 + s2 * s2 - 2 * std::cos(w) * s1 * s2, 0.0)) / n;
}

class LineQualityTest : public BridgeTest {
  protected:
    // Each test starts from the default canceller setting and leaves it so.
    void TearDown() override {
        MediaSetLineEcho({});
        BridgeTest::TearDown();
    }

    // The far party on the line says `samples` (looped), or is silent.
    void line_says(const std::vector<int16_t> &samples) {
        write_file("say.wav", wav_of(samples));
        setenv("BOARDSIM_SAY", path("say.wav").c_str(), 1);
    }

    // Sends `audio` as PCMU to `port` at its pace while a thread collects what the gateway
    // sends the caller (PCMU or GSM), decoded; returns that.
    std::vector<int16_t> talk(const std::vector<int16_t> &audio, uint16_t port) {
        std::vector<int16_t> sent_back;
        std::atomic<bool> done{false};
        std::thread collector([&] {
            gsm_codec decoder;
            while (!done) {
                std::vector<uint8_t> d = peer_rtp_.receive(50);
                rtp_seen r = parse_rtp(d);
                if (r.version == 2 && r.pt == RTP_PAYLOAD_PCMU) {
                    for (uint8_t b : r.payload) {
                        sent_back.push_back(mulaw_expand(b));
                    }
                } else if (r.version == 2 && r.pt == RTP_PAYLOAD_GSM &&
                           r.payload.size() == GSM_FRAME_BYTES) {
                    std::vector<int16_t> frame(GSM_FRAME_SAMPLES);
                    decoder.decode(r.payload.data(), frame.data());
                    sent_back.insert(sent_back.end(), frame.begin(), frame.end());
                }
            }
        });
        auto next = std::chrono::steady_clock::now();
        for (size_t at = 0, n = 0; at + 160 <= audio.size(); at += 160, ++n) {
            std::vector<uint8_t> payload;
            for (size_t i = 0; i < 160; ++i) {
                payload.push_back(mulaw_compress(audio[at + i]));
            }
            peer_rtp_.send_to(port,
                              rtp_packet(RTP_PAYLOAD_PCMU, static_cast<uint16_t>(500 + n),
                                         static_cast<uint32_t>(at), PEER_SSRC, n == 0, payload));
            next += std::chrono::milliseconds(20);
            std::this_thread::sleep_until(next);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        done = true;
        collector.join();
        return sent_back;
    }
};

TEST_F(LineQualityTest, TheHybridsEchoIsCancelledBy30dBWithinASecond) {
    setenv("BOARDSIM_ECHO", "16ms,10dB", 1);
    // The canceller as the gateway starts it when the settings leave it alone.
    MediaSetLineEcho(line_echo_t{});
    line_says(std::vector<int16_t>(8000, 0));
    start_call();
    const std::vector<int16_t> caller = speechlike(3 * 8000, 3);
    const std::vector<int16_t> back = talk(caller, local_port_);
    ASSERT_GT(back.size(), 2u * 8000) << "the gateway sends the line's audio";
    // What the hybrid returned: the caller's audio, as the line played it, through the same
    // echo path; its level over the second after the first.
    std::vector<int16_t> played(caller.size()), echo(caller.size());
    for (size_t i = 0; i < caller.size(); ++i) {
        played[i] = mulaw_expand(mulaw_compress(caller[i]));
    }
    dsp::EchoPath path({16, 10});
    path.echo(played.data(), echo.data(), static_cast<int>(played.size()));
    const double returned = dbm0(power(echo, 8000, 2 * 8000));
    // What reached the caller after the first second of the call's audio; the audio before the
    // caller's first packet reached the line is silence and does not count.
    const double residual = dbm0(power(back, back.size() - 8000 - 4000, back.size() - 4000));
    std::printf("echo returned %.1f dBm0, residual %.1f dBm0: ERLE %.1f dB\n", returned, residual,
                returned - residual);
    EXPECT_GE(returned - residual, 30)
        << "echo returned " << returned << " dBm0, residual " << residual << " dBm0";
}

TEST_F(LineQualityTest, InDoubleTalkTheLinesToneArrivesWithin3dBOfItsLevel) {
    setenv("BOARDSIM_ECHO", "16ms,10dB", 1);
    MediaSetLineEcho(line_echo_t{});
    const double peak = 32767.0 * std::pow(10.0, (-20 - 3.14) / 20.0);  // -20 dBm0
    line_says(make_tone(700, peak, 8000));
    start_call();
    const std::vector<int16_t> back = talk(speechlike(3 * 8000, 5), local_port_);
    ASSERT_GT(back.size(), 2u * 8000);
    const double heard = goertzel(back, back.size() - 12000, back.size() - 4000, 700);
    std::printf("the line's tone arrives at %+.2f dB\n", 20 * std::log10(heard / peak));
    EXPECT_NEAR(20 * std::log10(heard / peak), 0, 3) << "the line party's tone is not cut";
}

TEST_F(LineQualityTest, WithTheCancellerOffTheEchoReachesTheCaller) {
    setenv("BOARDSIM_ECHO", "16ms,10dB", 1);
    line_says(std::vector<int16_t>(8000, 0));
    MediaSetLineEcho({false, 64});
    start_call();
    const std::vector<int16_t> back = talk(speechlike(2 * 8000, 3), local_port_);
    MediaSetLineEcho({});
    ASSERT_GT(back.size(), 8000u);
    EXPECT_GT(dbm0(power(back, back.size() - 8000, back.size() - 4000)), -40)
        << "the hybrid's echo is there to cancel";
}

struct relay_summary {
    std::vector<long> dropped, duplicated, reordered;
    long received = 0;
    std::string text;
};

std::vector<long> json_list(const std::string &text, const std::string &key) {
    std::vector<long> out;
    size_t at = text.find("\"" + key + "\": [");
    if (at == std::string::npos) {
        return out;
    }
    at = text.find('[', at) + 1;
    const size_t end = text.find(']', at);
    std::stringstream items(text.substr(at, end - at));
    std::string item;
    while (std::getline(items, item, ',')) {
        if (item.find_first_not_of(' ') != std::string::npos) {
            out.push_back(std::stol(item));
        }
    }
    return out;
}

TEST_F(LineQualityTest, AToneThroughAnImpairedNetworkIsPlayedWholeAndInOrder) {
    setenv("BOARDSIM_CAPTURE", path("heard.wav").c_str(), 1);
    start_call();
    const std::string port_file = path("relay.port");
    const std::string summary_file = path("relay.json");
    const std::string relay = std::string(SIPLINE_SOURCE_DIR) + "/scripts/impair_relay.py";
    const std::string to = "127.0.0.1:" + std::to_string(local_port_);
    pid_t pid = fork();
    if (pid == 0) {
        execlp("python3", "python3", relay.c_str(), "--listen", "0", "--to", to.c_str(), "--seed",
               "11", "--jitter-ms", "20", "--spike-ms", "100", "--spike-every", "1.5", "--loss",
               "3", "--burst-most", "3", "--reorder", "1", "--dup", "2", "--idle", "0.5",
               "--duration", "20", "--port-file", port_file.c_str(), "--summary",
               summary_file.c_str(), static_cast<char *>(nullptr));
        _exit(127);
    }
    ASSERT_GT(pid, 0);
    uint16_t relay_port = 0;
    for (int tries = 0; tries < 500 && relay_port == 0; ++tries) {
        std::ifstream in(port_file);
        int p = 0;
        if (in >> p) {
            relay_port = static_cast<uint16_t>(p);
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    ASSERT_NE(relay_port, 0) << "the relay did not start";
    constexpr double AMPLITUDE = 8000;
    talk(make_tone(1000, AMPLITUDE, 6 * 8000), relay_port);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "relay status " << status;
    stop_call();
    relay_summary relayed;
    const std::vector<uint8_t> bytes = read_all(summary_file);
    relayed.text.assign(bytes.begin(), bytes.end());
    relayed.dropped = json_list(relayed.text, "dropped");
    relayed.duplicated = json_list(relayed.text, "duplicated");
    dsp::JitterStats s;
    ASSERT_TRUE(MediaLastPlayoutStats(&s));
    std::printf(
        "relay: %s\nbuffer: received %lld lost %lld late %lld duplicated %lld concealed "
        "%lld delay %d ms (most %d)\n",
        relayed.text.c_str(), static_cast<long long>(s.received), static_cast<long long>(s.lost),
        static_cast<long long>(s.late), static_cast<long long>(s.duplicated),
        static_cast<long long>(s.concealed), s.delay_ms, s.delay_most_ms);
    EXPECT_EQ(s.lost, static_cast<long long>(relayed.dropped.size())) << "every drop seen";
    EXPECT_EQ(s.duplicated, static_cast<long long>(relayed.duplicated.size()));
    EXPECT_EQ(s.received + s.lost, 300) << "every packet accounted for";
    EXPECT_LE(s.delay_most_ms, 200);
    EXPECT_LE(s.late, 300 / 20) << "a few packets of the first stalls at most";

    const std::vector<int16_t> line = heard();
    size_t first = 0, last = line.size();
    while (first < line.size() && std::abs(line[first]) < 1000)
        ++first;
    while (last > first && std::abs(line[last - 1]) < 1000)
        --last;
    ASSERT_GT(last - first, 5u * 8000) << "about six seconds of tone reach the line";
    // The longest run of silence inside the tone: no gap outlasts the concealment's fade.
    size_t quiet = 0, longest = 0;
    for (size_t i = first; i < last; ++i) {
        quiet = std::abs(line[i]) < 200 ? quiet + 1 : 0;
        longest = std::max(longest, quiet);
    }
    EXPECT_LE(longest, 60u * 8) << "longest silence " << longest / 8 << " ms";
    // Spectral purity: the tone's share of the power. A packet played out of order breaks the
    // sine's phase twice and spreads its power; concealment keeps it.
    size_t impure = 0, windows = 0;
    for (size_t at = first; at + 160 <= last; at += 160, ++windows) {
        const double a = goertzel(line, at, at + 160, 1000);
        const double share = a * a / 2 / power(line, at, at + 160);
        if (share < 0.5 && power(line, at, at + 160) > 200 * 200) {
            ++impure;
        }
    }
    const double a = goertzel(line, first, last, 1000);
    EXPECT_GE(a * a / 2 / power(line, first, last), 0.9) << "the tone's share of the power";
    EXPECT_LE(impure, windows / 20) << impure << " of " << windows << " frames impure";
}

}  // namespace
}  // namespace sipline::testing
