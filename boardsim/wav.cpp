#include "boardsim/wav.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <numbers>

namespace sipline::boardsim {
namespace {

constexpr uint16_t FORMAT_PCM = 1;
constexpr uint16_t FORMAT_MULAW = 7;
constexpr uint32_t RATE = 8000;
constexpr size_t MAX_FILE = 64u << 20;

uint32_t le32(const uint8_t *p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}
uint16_t le16(const uint8_t *p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

void put32(uint8_t *p, uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<uint8_t>(v >> (8 * i));
    }
}
void put16(uint8_t *p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

// RIFF, fmt (18 bytes: a non-PCM format carries cbSize), fact, data.
constexpr size_t HEADER = 12 + 8 + 18 + 8 + 4 + 8;

}  // namespace

uint8_t linear_to_mulaw(int16_t sample) {
    constexpr int BIAS = 0x84;
    constexpr int CLIP = 32635;
    int value = sample;
    int sign = 0;
    if (value < 0) {
        value = -value;
        sign = 0x80;
    }
    if (value > CLIP) {
        value = CLIP;
    }
    value += BIAS;
    int exponent = 7;
    for (int mask = 0x4000; (value & mask) == 0 && exponent > 0; mask >>= 1) {
        --exponent;
    }
    int mantissa = (value >> (exponent + 3)) & 0x0F;
    return static_cast<uint8_t>(~(sign | exponent << 4 | mantissa));
}

std::string wav_to_mulaw(const uint8_t *data, size_t size, std::vector<uint8_t> *out) {
    if (size < 12 || std::memcmp(data, "RIFF", 4) != 0 || std::memcmp(data + 8, "WAVE", 4) != 0) {
        return "not a RIFF WAVE file";
    }
    bool have_format = false;
    uint16_t format = 0;
    uint16_t bits = 0;
    size_t at = 12;
    while (size - at >= 8) {
        const uint8_t *chunk = data + at;
        uint32_t length = le32(chunk + 4);
        size_t body = at + 8;
        size_t available = size - body;
        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            if (length < 16 || available < 16) {
                return "short fmt chunk";
            }
            format = le16(chunk + 8);
            uint16_t channels = le16(chunk + 10);
            uint32_t rate = le32(chunk + 12);
            bits = le16(chunk + 22);
            if (channels != 1) {
                return "not mono";
            }
            if (rate != RATE) {
                return "not 8000 samples per second";
            }
            if (!(format == FORMAT_PCM && bits == 16) && !(format == FORMAT_MULAW && bits == 8)) {
                return "neither 16-bit PCM nor 8-bit mu-law";
            }
            have_format = true;
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            if (!have_format) {
                return "data before fmt";
            }
            // A writer that never finished its header leaves the length too large: take what is
            // there.
            size_t bytes = length < available ? length : available;
            std::vector<uint8_t> samples;
            if (format == FORMAT_MULAW) {
                samples.assign(data + body, data + body + bytes);
            } else {
                samples.reserve(bytes / 2);
                for (size_t i = 0; i + 1 < bytes; i += 2) {
                    samples.push_back(linear_to_mulaw(static_cast<int16_t>(le16(data + body + i))));
                }
            }
            if (samples.empty()) {
                return "no samples";
            }
            *out = std::move(samples);
            return {};
        }
        if (length > available) {
            break;
        }
        at = body + length + (length & 1);
        if (at > size) {
            break;
        }
    }
    return have_format ? "no data chunk" : "no fmt chunk";
}

std::string wav_load(const std::string &path, std::vector<uint8_t> *out) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return "cannot be read: " + std::string(std::strerror(errno));
    }
    std::vector<uint8_t> image;
    char piece[4096];
    while (file.read(piece, sizeof piece) || file.gcount() > 0) {
        image.insert(image.end(), piece, piece + file.gcount());
        if (image.size() > MAX_FILE) {
            return "larger than 64 MiB";
        }
    }
    return wav_to_mulaw(image.data(), image.size(), out);
}

std::vector<uint8_t> test_signal() {
    std::vector<uint8_t> samples(RATE);
    for (size_t i = 0; i < samples.size(); ++i) {
        double phase = 2 * std::numbers::pi * 1004.0 * static_cast<double>(i) / RATE;
        samples[i] = linear_to_mulaw(static_cast<int16_t>(8000 * std::sin(phase)));
    }
    return samples;
}

std::string Capture::open(const std::string &path) {
    close();
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd_ < 0) {
        return std::strerror(errno);
    }
    data_bytes_ = 0;
    write_header();
    return {};
}

void Capture::write(const uint8_t *bytes, size_t count) {
    if (fd_ < 0 || count == 0 || data_bytes_ > UINT32_MAX - HEADER - count) {
        return;
    }
    ssize_t written = ::pwrite(fd_, bytes, count, static_cast<off_t>(HEADER + data_bytes_));
    if (written > 0) {
        data_bytes_ += static_cast<uint32_t>(written);
        write_header();
    }
}

void Capture::close() {
    if (fd_ >= 0) {
        write_header();
        ::close(fd_);
        fd_ = -1;
    }
}

void Capture::write_header() {
    uint8_t h[HEADER] = {};
    std::memcpy(h, "RIFF", 4);
    put32(h + 4, static_cast<uint32_t>(HEADER - 8 + data_bytes_));
    std::memcpy(h + 8, "WAVE", 4);
    std::memcpy(h + 12, "fmt ", 4);
    put32(h + 16, 18);
    put16(h + 20, FORMAT_MULAW);
    put16(h + 22, 1);
    put32(h + 24, RATE);
    put32(h + 28, RATE);  // bytes per second
    put16(h + 32, 1);     // block align
    put16(h + 34, 8);     // bits per sample
    put16(h + 36, 0);     // cbSize
    std::memcpy(h + 38, "fact", 4);
    put32(h + 42, 4);
    put32(h + 46, data_bytes_);
    std::memcpy(h + 50, "data", 4);
    put32(h + 54, data_bytes_);
    if (::pwrite(fd_, h, sizeof h, 0) != static_cast<ssize_t>(sizeof h)) {
        return;  // the data stays; a later write tries the header again
    }
}

}  // namespace sipline::boardsim
