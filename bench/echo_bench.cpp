// Line echo canceller figures on a simulated hybrid (G.168 annex D.2 model): ERLE after
// convergence for 8/16/32 ms echo and 6/10/20 dB ERL, with and without the suppressor (NLP),
// the residual level, the time to reach 30 dB (over speech with pauses, and over a talker who
// never pauses), and the CPU it takes per second of audio.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
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

// Speech-like noise without pauses, as ITU-T G.168's composite source keeps the far end
// talking: the time a canceller takes to learn, apart from the time the talker pauses.
std::vector<int16_t> continuous(int seconds, unsigned seed) {
    std::mt19937 gen(seed);
    std::normal_distribution<double> noise(0, 3000);
    std::vector<int16_t> out(static_cast<size_t>(seconds * RATE));
    double lp = 0;
    for (auto &v : out) {
        lp = 0.6 * lp + 0.4 * noise(gen);
        v = static_cast<int16_t>(std::clamp(lp * 1.6, -32767.0, 32767.0));
    }
    return out;
}

// What a run of the canceller left: the echo and the output, sample for sample.
struct run_out {
    std::vector<int16_t> echo, out;
    double cpu_s;
};

int tail_ms = EchoCanceller::kDefaultTailMs;

run_out cancel(int delay, double erl, bool nlp, bool comfort, const std::vector<int16_t> &played) {
    EchoPath path({delay, erl});
    EchoCanceller ec(tail_ms, nlp, comfort);
    run_out r{std::vector<int16_t>(played.size()), {}, 0};
    path.echo(played.data(), r.echo.data(), static_cast<int>(played.size()));
    r.out = r.echo;
    const auto t0 = std::chrono::steady_clock::now();
    for (size_t at = 0; at + FRAME <= played.size(); at += FRAME) {
        ec.process(&played[at], &r.out[at], FRAME);
    }
    const double cpu = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    r.cpu_s = cpu / (static_cast<double>(played.size()) / RATE);
    return r;
}

double dbm0(double p) {
    return 10 * std::log10(p / (32767.0 * 32767.0 / 2)) + 3.14;  // full-scale sine: +3.14 dBm0
}

// The start of the first 250-ms window from which every window where the echo is heard (above
// -50 dBm0; the talker's pauses hold nothing to cancel) has an ERLE of 30 dB or more.
double converged_at(const run_out &r) {
    const size_t win = RATE / 4;
    double first_good = -1;
    for (size_t at = 0; at + win <= r.echo.size(); at += win) {
        const double echo = power(&r.echo[at], win);
        if (dbm0(echo) < -50) {
            continue;
        }
        if (10 * std::log10(echo / power(&r.out[at], win)) >= 30) {
            if (first_good < 0)
                first_good = static_cast<double>(at) / RATE;
        } else {
            first_good = -1;
        }
    }
    return first_good;
}

struct figures {
    double erle_db;
    double residual_dbm0;
    double converge_s;
    double converge_continuous_s;
    double cpu_s;
};

// nlp: the suppressor, with comfort noise for the residual's level; the ERLE and convergence
// are of the echo alone, without the comfort noise that fills what the suppressor took.
figures measure(int delay, double erl, bool nlp, const std::vector<int16_t> &played,
                const std::vector<int16_t> &steady) {
    const run_out echo_only = cancel(delay, erl, nlp, false, played);
    const run_out with_noise = nlp ? cancel(delay, erl, true, true, played) : echo_only;
    figures f{};
    f.converge_s = converged_at(echo_only);
    f.converge_continuous_s = converged_at(cancel(delay, erl, nlp, false, steady));
    const size_t from = played.size() - 2 * RATE;
    const double echo = power(&echo_only.echo[from], 2 * RATE);
    f.erle_db = 10 * std::log10(echo / power(&echo_only.out[from], 2 * RATE));
    f.residual_dbm0 = dbm0(power(&with_noise.out[from], 2 * RATE));
    f.cpu_s = std::max(echo_only.cpu_s, with_noise.cpu_s);
    return f;
}

}  // namespace

// echo_bench [TAIL_MS]: the tail (echo_tail_ms), 64 ms when not given.
int main(int argc, char **argv) {
    if (argc > 1) {
        tail_ms = std::atoi(argv[1]);
    }
    const auto played = speechlike(6, 42);
    const auto steady = continuous(4, 42);
    std::printf(
        "echo canceller (speexdsp MDF, %d ms tail), 6 s of speech-like noise, seed 42;\n"
        "convergence: to 30 dB ERLE over the talker's speech (its pauses skipped), and\n"
        "in brackets with the talker never pausing; residual with NLP includes its\n"
        "comfort noise\n",
        tail_ms);
    std::printf("%-6s %-6s | %-33s | %-33s\n", "delay", "ERL", "no NLP: ERLE resid conv",
                "NLP+CNG: ERLE resid conv");
    double cpu_most = 0;
    for (int delay : {8, 16, 32}) {
        for (double erl : {6.0, 10.0, 20.0}) {
            const figures a = measure(delay, erl, false, played, steady);
            const figures b = measure(delay, erl, true, played, steady);
            cpu_most = std::max({cpu_most, a.cpu_s, b.cpu_s});
            std::printf(
                "%3d ms %4.0f dB | %5.1f dB %6.1f dBm0 %5.2f (%4.2f) s | %5.1f dB %6.1f "
                "dBm0 %5.2f (%4.2f) s\n",
                delay, erl, a.erle_db, a.residual_dbm0, a.converge_s, a.converge_continuous_s,
                b.erle_db, b.residual_dbm0, b.converge_s, b.converge_continuous_s);
        }
    }
    std::printf("CPU: %.3f %% of a core per call at most\n", 100 * cpu_most);
    return 0;
}
