// WAV files of the simulated line: what the far party says (read) and what it hears (written).
// Audio on the line is 8-bit mu-law at 8000 samples per second.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sipline::boardsim {

// G.711 mu-law of one 16-bit linear sample.
uint8_t linear_to_mulaw(int16_t sample);

// Converts a mono 8 kHz WAV image (16-bit PCM or mu-law) into mu-law samples. Empty on success,
// else why the image cannot be used; *out is then untouched.
std::string wav_to_mulaw(const uint8_t *data, size_t size, std::vector<uint8_t> *out);
std::string wav_load(const std::string &path, std::vector<uint8_t> *out);

// One second of a 1004 Hz tone: what the far party says when nothing else is set.
std::vector<uint8_t> test_signal();

// A mu-law WAV written as the audio arrives. Data is written before the header that counts it,
// so the file is a valid WAV at every moment, also while it grows.
class Capture {
  public:
    Capture() = default;
    Capture(const Capture &) = delete;
    Capture &operator=(const Capture &) = delete;
    ~Capture() { close(); }

    std::string open(const std::string &path);  // empty on success
    void write(const uint8_t *bytes, size_t count);
    void close();
    bool is_open() const { return fd_ >= 0; }

  private:
    void write_header();
    int fd_ = -1;
    uint32_t data_bytes_ = 0;
};

}  // namespace sipline::boardsim
