// DTMF detection on the line path, as the gateway will run it over what it records (mu-law
// decoded to linear): every key at the levels, twists and frequency errors of ITU-T Q.24,
// counted once at every alignment with the detector's blocks; talk-off over espeak-ng speech
// (made at run time by bench/dtmf_speech.sh, or read from the folder given as argument), the
// demo's sentences, the gateway's prompts and white noise; and the detector's CPU cost.
#include <time.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "boardsim/wav.h"
#include "dsp/dtmf.h"
#include "dsp/g711.h"

namespace {

using namespace sipline;
namespace fs = std::filesystem;

constexpr int RATE = 8000;
// In keypad order: row k / 4 (low group), column k % 4 (high group).
const std::string KEYS = "123A456B789C*0#D";
constexpr int LOW[4] = {697, 770, 852, 941};
constexpr int HIGH[4] = {1209, 1336, 1477, 1633};

double peak(double dbm0) {
    return 32767.0 * std::pow(10.0, (dbm0 - 3.14) / 20.0);
}

// Mu-law in, linear out: what the gateway's detector sees of the recorded stream.
std::vector<int16_t> line_path(const std::vector<double> &signal) {
    std::vector<int16_t> out;
    out.reserve(signal.size());
    for (double v : signal) {
        auto s = static_cast<int16_t>(std::lround(std::clamp(v, -32768.0, 32767.0)));
        out.push_back(dsp::ulaw_to_linear(dsp::linear_to_ulaw(s)));
    }
    return out;
}

std::string detect(const std::vector<int16_t> &samples) {
    std::string keys;
    dsp::DtmfDetector detector([&](char key, bool down) {
        if (down) {
            keys += key;
        }
    });
    for (size_t at = 0; at < samples.size(); at += 160) {
        detector.feed(samples.data() + at,
                      static_cast<int>(std::min<size_t>(160, samples.size() - at)));
    }
    return keys;
}

struct Case {
    const char *name;
    double low_dbm0, high_dbm0;
    double frequency_error;  // +0.015: every tone 1.5 % high
    bool must_detect;
};

void detection_table() {
    const Case cases[] = {
        {"-10 dBm0 per tone", -10, -10, 0, true},
        {"-25 dBm0 per tone", -25, -25, 0, true},
        {"twist +4 dB (low -14, high -10 dBm0)", -14, -10, 0, true},
        {"twist +4 dB (low -29, high -25 dBm0)", -29, -25, 0, true},
        {"twist -8 dB (low -10, high -18 dBm0)", -10, -18, 0, true},
        {"twist -8 dB (low -25, high -33 dBm0)", -25, -33, 0, true},
        {"frequencies +1.0 %, -10 dBm0", -10, -10, +0.010, true},
        {"frequencies -1.0 %, -10 dBm0", -10, -10, -0.010, true},
        {"frequencies +1.5 %, -10 dBm0", -10, -10, +0.015, true},
        {"frequencies -1.5 %, -10 dBm0", -10, -10, -0.015, true},
        {"frequencies +3.5 %, -10 dBm0 (reject)", -10, -10, +0.035, false},
        {"frequencies -3.5 %, -10 dBm0 (reject)", -10, -10, -0.035, false},
        {"-45 dBm0 per tone (reject)", -45, -45, 0, false},
    };
    std::mt19937 random(4733);
    std::uniform_real_distribution<double> phase(0, 2 * std::numbers::pi);
    std::printf(
        "Detection (16 keys x 102 block alignments, random phases, 100 ms on, mu-law;\n"
        "other: found twice or as another key):\n");
    std::printf("  %-40s %14s %7s %7s  %s\n", "case", "found once", "missed", "other",
                "keys missed");
    for (const Case &c : cases) {
        int once = 0, missed = 0, twice = 0, expected = 0;
        std::string missed_keys;
        for (size_t k = 0; k < KEYS.size(); ++k) {
            double f1 = LOW[k / 4] * (1 + c.frequency_error);
            double f2 = HIGH[k % 4] * (1 + c.frequency_error);
            for (int offset = 0; offset < 102; ++offset, ++expected) {
                std::vector<double> s(static_cast<size_t>(offset) + 400, 0.0);
                double p1 = phase(random), p2 = phase(random);
                for (int i = 0; i < 800; ++i) {
                    double t = static_cast<double>(i) / RATE;
                    s.push_back(peak(c.low_dbm0) * std::sin(2 * std::numbers::pi * f1 * t + p1) +
                                peak(c.high_dbm0) * std::sin(2 * std::numbers::pi * f2 * t + p2));
                }
                s.insert(s.end(), 800, 0.0);
                std::string keys = detect(line_path(s));
                if (keys == std::string(1, KEYS[k])) {
                    ++once;
                } else if (keys.empty()) {
                    ++missed;
                    if (missed_keys.find(KEYS[k]) == std::string::npos) {
                        missed_keys += KEYS[k];
                    }
                } else {
                    ++twice;
                }
            }
        }
        std::printf("  %-40s %6d / %5d %7d %7d  %s\n", c.name, once, expected, missed, twice,
                    c.must_detect ? missed_keys.c_str() : "(none should be found)");
    }
}

std::vector<int16_t> read_speech(const fs::path &file) {
    std::vector<uint8_t> mulaw;
    if (file.extension() == ".vox") {
        std::error_code error;
        mulaw.resize(static_cast<size_t>(fs::file_size(file, error)));
        std::ifstream in(file, std::ios::binary);
        in.read(reinterpret_cast<char *>(mulaw.data()), static_cast<std::streamsize>(mulaw.size()));
        mulaw.resize(static_cast<size_t>(in.gcount()));
    } else if (std::string why = boardsim::wav_load(file.string(), &mulaw); !why.empty()) {
        std::fprintf(stderr, "dtmf_bench: %s: %s\n", file.c_str(), why.c_str());
        return {};
    }
    std::vector<int16_t> out;
    out.reserve(mulaw.size());
    for (uint8_t m : mulaw) {
        out.push_back(dsp::ulaw_to_linear(m));
    }
    return out;
}

double thread_seconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

void talk_off_and_cpu(const fs::path &folder) {
    std::vector<fs::path> files;
    for (const auto &entry : fs::directory_iterator(folder)) {
        if (entry.path().extension() == ".wav") {
            files.push_back(entry.path());
        }
    }
    for (const char *prompt : {"enter.vox", "notfound.vox"}) {
        files.push_back(fs::path(SIPLINE_SOURCE_DIR) / "gateway/prompts" / prompt);
    }
    std::sort(files.begin(), files.end());
    std::printf("\nTalk-off (false keys; speech normalised to -3 dBFS peak, through mu-law):\n");
    std::vector<int16_t> all;
    int false_keys = 0;
    for (const fs::path &file : files) {
        std::vector<int16_t> speech = read_speech(file);
        std::string keys = detect(speech);
        false_keys += static_cast<int>(keys.size());
        std::printf("  %-28s %7.1f s  %d false keys %s\n", file.filename().c_str(),
                    static_cast<double>(speech.size()) / RATE, static_cast<int>(keys.size()),
                    keys.c_str());
        all.insert(all.end(), speech.begin(), speech.end());
    }
    double minutes = static_cast<double>(all.size()) / RATE / 60;
    std::printf("  total: %d false keys in %.1f minutes of speech\n", false_keys, minutes);

    std::mt19937 random(1);
    std::normal_distribution<double> noise(0, peak(-20) / std::sqrt(2.0));
    std::vector<double> hiss(static_cast<size_t>(10 * 60 * RATE));
    for (double &v : hiss) {
        v = noise(random);
    }
    std::printf("  white noise, -20 dBm0, 10 minutes: %zu false keys\n",
                detect(line_path(hiss)).size());

    if (all.empty()) {
        return;
    }
    constexpr int ROUNDS = 3;
    double best = 1e9;
    for (int round = 0; round < ROUNDS; ++round) {
        double start = thread_seconds();
        detect(all);
        best = std::min(best, thread_seconds() - start);
    }
    double audio_seconds = static_cast<double>(all.size()) / RATE;
    double per_second_us = best / audio_seconds * 1e6;
    std::printf(
        "\nCPU: %.1f us per second of audio, %.4f %% of a core per detector (best of %d "
        "runs over %.0f s of speech, 160-sample blocks)\n",
        per_second_us, per_second_us / 1e4, ROUNDS, audio_seconds);
}

}  // namespace

int main(int argc, char **argv) {
    detection_table();
    fs::path folder;
    bool made = false;
    if (argc > 1) {
        folder = argv[1];
    } else {
        folder = fs::temp_directory_path() / ("dtmf_bench." + std::to_string(::getpid()));
        std::string command = std::string("bash '") + SIPLINE_SOURCE_DIR +
                              "/bench/dtmf_speech.sh' '" + folder.string() + "'";
        if (std::system(command.c_str()) != 0) {
            std::printf("\nTalk-off skipped: the speech could not be made (espeak-ng, sox)\n");
            fs::remove_all(folder);
            return 0;
        }
        made = true;
    }
    talk_off_and_cpu(folder);
    if (made) {
        fs::remove_all(folder);
    }
    return 0;
}
