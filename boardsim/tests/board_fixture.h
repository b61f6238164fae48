// A fresh simulated board for each test, its control socket in a private folder.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "board/board.h"
#include "boardsim/boardsim.h"
#include "host/host.h"

namespace sipline::testing {

struct event_seen {
    int32_t device = -1;
    int32_t type = -1;  // -1: no event came
    uint16_t code = 0;
};

inline event_seen next_event(int32_t limit_ms = 2000) {
    event_seen e;
    if (srl_wait_event(limit_ms) != 0) {
        return e;
    }
    e.device = srl_event_device();
    e.type = srl_event_type();
    std::memcpy(&e.code, srl_event_data(), sizeof e.code);
    return e;
}

// The capture file's WAV header comes before the samples heard on the line.
inline constexpr size_t CAPTURE_HEADER = 58;

inline std::vector<uint8_t> read_all(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline std::string status_of(std::string_view key) {
    std::string line = boardsim_command("status");
    std::string wanted = " " + std::string(key) + "=";
    size_t at = line.find(wanted);
    if (at == std::string::npos) {
        return "<missing>";
    }
    at += wanted.size();
    return line.substr(at, line.find(' ', at) - at);
}

inline const termination_t HANGUP_LIST[1] = {
    {TERM_LAST, TERM_ON_HANGUP, 0, HANGUP_TERM_FLAGS, 0, 0, nullptr}};
inline const termination_t POUND_LIST[1] = {
    {TERM_LAST, TERM_ON_DIGIT, DIGIT_MASK_POUND, 1, 0, 0, nullptr}};
inline const stream_format_t MULAW_8K = MULAW_8K_FORMAT;

class BoardTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/boardsim-test-XXXXXX";
        dir_ = mkdtemp(pattern);
        for (const char *name : {"BOARDSIM_SAY", "BOARDSIM_CAPTURE", "BOARDSIM_BLOCK",
                                 "BOARDSIM_HANGUP_AFTER", "BOARDSIM_ECHO", "BOARDSIM_CID",
                                 "BOARDSIM_RING", "BOARDSIM_DISCONNECT"}) {
            unsetenv(name);
        }
        setenv("BOARDSIM_CONTROL", path("control.sock").c_str(), 1);
    }
    void TearDown() override {
        boardsim_shutdown();
        EXPECT_EQ(chdir("/tmp"), 0);
        std::filesystem::remove_all(dir_);
    }

    std::string path(const std::string &name) const { return dir_ + "/" + name; }

    void write_file(const std::string &name, const std::vector<uint8_t> &bytes) const {
        std::ofstream out(path(name), std::ios::binary);
        out.write(reinterpret_cast<const char *>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
    }

    // Opens channel `number` with rings reported, as the gateway does.
    static int32_t open_channel(int number) {
        std::string name = "dxxxB1C" + std::to_string(number);
        int32_t device = dx_open_device(name.c_str(), 0);
        EXPECT_GE(device, 0) << name;
        dx_channel_setting(device, CHANNEL_SETTING_RINGS);
        return device;
    }

    // Takes the line off-hook and dials at once; returns when the far party has answered.
    static void connect_call(int32_t device) {
        ASSERT_EQ(dx_sethook(device, DX_OFFHOOK, EV_SYNC), 0);
        dial_params_t quick{0, 0};
        ASSERT_EQ(dx_dial(device, "5551234", &quick, EV_ASYNC), 0);
        event_seen e = next_event();
        ASSERT_EQ(e.type, EV_DIAL_DONE);
        ASSERT_EQ(status_of("line"), "connected");
    }

    struct call_io {
        int32_t play = -1;
        int32_t record = -1;
        stream_t out = nullptr;
        stream_t in = nullptr;
    };

    // Plays on channel 1 and records on channel 3 of a connected call until the line hangs up,
    // each through its own buffer of 32 blocks of 160 bytes.
    static void start_play_and_record(call_io &io) {
        io.play = open_channel(1);
        io.record = open_channel(3);
        connect_call(io.play);
        io.out = tuvo_create_buffer(32, 160);
        io.in = tuvo_create_buffer(32, 160);
        ASSERT_EQ(dx_play(io.play, nullptr, HANGUP_LIST, &MULAW_8K, EV_ASYNC), 0);
        ASSERT_EQ(tuvo_start_play(io.play, io.out), 0);
        ASSERT_EQ(dx_rec(io.record, nullptr, HANGUP_LIST, &MULAW_8K, RECORD_MODE), 0);
        ASSERT_EQ(tuvo_start_record(io.record, io.in), 0);
    }

    std::string dir_;
};

}  // namespace sipline::testing
