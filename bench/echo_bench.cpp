// Line echo canceller figures on a simulated hybrid (G.168 annex D.2 model): ERLE after
// convergence for 8/16/32 ms echo and 6/10/20 dB ERL, with and without the suppressor (NLP),
// the residual level, the time to reach 30 dB, and the CPU it takes per second of audio.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

#include "dsp/echo.h"
#include "dsp/echo_path.h"

namespace {

using sipline::dsp::EchoCanceller;
using sipline::dsp::EchoPath;

constexpr int RATE = 8000;
constexpr int FRAME = 160;

// Speech-like test signal: noise shaped by a slow envelope (syllables of 100-300 ms, pauses),
// seeded, about -15 dBm0 while active.
std::vector<int16_t> speechlike(int seconds, unsigned seed) {
    std::mt19937 gen(seed);
    std::normal_distribution<double> noise(0, 3000);
    std::uniform_int_distribution<int> syllable(800, 2400);
    std::vector<int16_t> out;
    double lp = 0;
    while (out.size() < static_cast<size_t>(seconds * RATE)) {
        const int n = syllable(gen);
        const bool pause = gen() % 4 == 0;
        for (int i = 0; i < n; ++i) {
            lp = 0.6 * lp + 0.4 * noise(gen);  // a little low-pass, as voice is
            const double env = pause ? 0.02 : std::sin(M_PI * i / n);
            out.push_back(static_cast<int16_t>(std::clamp(lp * env * 1.6, -32767.0, 32767.0)));
        }
    }
    out.resize(static_cast<size_t>(seconds * RATE));
    return out;
}

double power(const int16_t *s, size_t n) {
    double sum = 0;
    for (size_t i = 0; i < n; ++i)
        sum += static_cast<double>(s[i]) * s[i];
    return sum / static_cast<double>(n) + 1e-9;
}

struct figures {
    double erle_db;
    double residual_dbm0;
    double converge_s;
    double cpu_s;
};

figures measure(int delay, double erl, bool nlp, const std::vector<int16_t> &played) {
    EchoPath path({delay, erl});
    EchoCanceller ec(EchoCanceller::kDefaultTailMs, nlp, nlp);
    std::vector<int16_t> echo(played.size()), out(played.size());
    path.echo(played.data(), echo.data(), static_cast<int>(played.size()));
    out = echo;
    const auto t0 = std::chrono::steady_clock::now();
    for (size_t at = 0; at + FRAME <= played.size(); at += FRAME) {
        ec.process(&played[at], &out[at], FRAME);
    }
    const double cpu = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    figures f{};
    f.converge_s = -1;
    // ERLE per 250 ms window over the active parts; converged when it stays at 30 dB or more.
    const size_t win = RATE / 4;
    double first_good = -1;
    for (size_t at = 0; at + win <= played.size(); at += win) {
        const double erle = 10 * std::log10(power(&echo[at], win) / power(&out[at], win));
        if (erle >= 30) {
            if (first_good < 0)
                first_good = static_cast<double>(at) / RATE;
        } else {
            first_good = -1;
        }
    }
    f.converge_s = first_good;
    const size_t from = played.size() - 2 * RATE;
    f.erle_db = 10 * std::log10(power(&echo[from], 2 * RATE) / power(&out[from], 2 * RATE));
    // dBm0 of the residual: a full-scale sine (peak 32767) is +3.14 dBm0.
    f.residual_dbm0 = 10 * std::log10(power(&out[from], 2 * RATE) / (32767.0 * 32767.0 / 2)) + 3.14;
    f.cpu_s = cpu / (static_cast<double>(played.size()) / RATE);
    return f;
}

}  // namespace

int main() {
    const auto played = speechlike(6, 42);
    std::printf("echo canceller (speexdsp MDF, 64 ms tail), 6 s of speech-like noise, seed 42\n");
    std::printf("%-6s %-6s | %-28s | %-28s\n", "delay", "ERL", "no NLP: ERLE resid conv",
                "NLP+CNG: ERLE resid conv");
    double cpu_most = 0;
    for (int delay : {8, 16, 32}) {
        for (double erl : {6.0, 10.0, 20.0}) {
            const figures a = measure(delay, erl, false, played);
            const figures b = measure(delay, erl, true, played);
            cpu_most = std::max({cpu_most, a.cpu_s, b.cpu_s});
            std::printf(
                "%3d ms %4.0f dB | %5.1f dB %6.1f dBm0 %5.2f s | %5.1f dB %6.1f dBm0 %5.2f s\n",
                delay, erl, a.erle_db, a.residual_dbm0, a.converge_s, b.erle_db, b.residual_dbm0,
                b.converge_s);
        }
    }
    std::printf("CPU: %.3f %% of a core per call at most\n", 100 * cpu_most);
    return 0;
}
