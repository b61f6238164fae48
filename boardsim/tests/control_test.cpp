#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>

#include "boardsim/control_parse.h"
#include "boardsim/settings.h"
#include "boardsim/tests/board_fixture.h"
#include "boardsim/wav.h"

namespace sipline::testing {
namespace {

using boardsim::Command;
using boardsim::control_command_t;
using boardsim::control_parse;

TEST(ControlParse, CommandsAndTheirArguments) {
    struct Case {
        const char *line;
        const char *error;  // empty: accepted
        Command command;
        const char *argument;
    };
    const Case cases[] = {
        {"ring", "", Command::ring, ""},
        {"  ring \r", "", Command::ring, ""},
        {"hangup", "", Command::hangup, ""},
        {"status", "", Command::status, ""},
        {"digits 0123456789*#ABCD", "", Command::digits, "0123456789*#ABCD"},
        {"digits\t12#", "", Command::digits, "12#"},
        {"press 5#", "", Command::press, "5#"},
        {"press 0123456789*#ABCD", "", Command::press, "0123456789*#ABCD"},
        {"say /tmp/a file.wav", "", Command::say, "/tmp/a file.wav"},
        {"", "empty command", Command::status, ""},
        {"\r", "empty command", Command::status, ""},
        {"RING", "unknown command", Command::status, ""},
        {"ringing", "unknown command", Command::status, ""},
        {"ring now", "ring takes a number", Command::status, ""},
        {"status please", "status takes no argument", Command::status, ""},
        {"digits", "digits needs an argument", Command::status, ""},
        {"digits 12x", "not a key", Command::status, ""},
        {"digits 1 2", "not a key", Command::status, ""},
        {"digits e", "not a key", Command::status, ""},
        {"press", "press needs an argument", Command::status, ""},
        {"press 5 #", "not a key", Command::status, ""},
        {"say", "say needs an argument", Command::status, ""},
    };
    for (const Case &c : cases) {
        control_command_t out;
        std::string error = control_parse(c.line, &out);
        if (*c.error == '\0') {
            EXPECT_EQ(error, "") << c.line;
            EXPECT_EQ(out.command, c.command) << c.line;
            EXPECT_EQ(out.argument, c.argument) << c.line;
        } else {
            EXPECT_EQ(error.rfind(c.error, 0), 0u) << c.line << " -> " << error;
        }
    }
    control_command_t out;
    EXPECT_EQ(control_parse("digits " + std::string(65, '1'), &out), "too many digits");
    EXPECT_EQ(control_parse("press " + std::string(65, '1'), &out), "too many digits");
    EXPECT_EQ(control_parse(std::string(2000, 'x'), &out), "line too long");
    EXPECT_EQ(control_parse(std::string_view("ring\0x", 6), &out).rfind("unknown", 0), 0u);
}

TEST(Settings, ValuesAreCheckedBeforeUse) {
    int32_t block = 0;
    bool fails = false;
    EXPECT_TRUE(boardsim::parse_block("160", &block, &fails));
    EXPECT_EQ(block, 160);
    EXPECT_TRUE(boardsim::parse_block("fail", &block, &fails));
    EXPECT_TRUE(fails);
    for (const char *bad : {"", "12", "161", "800", "-160", "160x", "1e3"}) {
        EXPECT_FALSE(boardsim::parse_block(bad, &block, &fails)) << bad;
    }
    double seconds = 0;
    EXPECT_TRUE(boardsim::parse_seconds("2.5", &seconds));
    EXPECT_EQ(seconds, 2.5);
    for (const char *bad : {"", "-1", "soon", "1s", "nan", "inf", "1e9"}) {
        EXPECT_FALSE(boardsim::parse_seconds(bad, &seconds)) << bad;
    }
}

std::vector<uint8_t> wav_image(uint16_t format, uint16_t channels, uint32_t rate, uint16_t bits,
                               std::vector<uint8_t> data) {
    auto put = [](std::vector<uint8_t> &v, uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i) {
            v.push_back(static_cast<uint8_t>(value >> (8 * i)));
        }
    };
    std::vector<uint8_t> w = {'R', 'I', 'F', 'F'};
    put(w, static_cast<uint32_t>(36 + data.size()), 4);
    w.insert(w.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    put(w, 16, 4);
    put(w, format, 2);
    put(w, channels, 2);
    put(w, rate, 4);
    put(w, rate * channels * bits / 8, 4);
    put(w, channels * bits / 8, 2);
    put(w, bits, 2);
    w.insert(w.end(), {'d', 'a', 't', 'a'});
    put(w, static_cast<uint32_t>(data.size()), 4);
    w.insert(w.end(), data.begin(), data.end());
    return w;
}

TEST(Wav, ReadsMonoEightKilohertzPcmAndMulaw) {
    struct Case {
        const char *what;
        std::vector<uint8_t> image;
        const char *error;  // empty: accepted
        std::vector<uint8_t> samples;
    };
    const Case cases[] = {
        {"16-bit PCM", wav_image(1, 1, 8000, 16, {0, 0, 0x00, 0x80}), "", {0xFF, 0x00}},
        {"mu-law", wav_image(7, 1, 8000, 8, {0x12, 0x34}), "", {0x12, 0x34}},
        {"stereo", wav_image(1, 2, 8000, 16, {0, 0, 0, 0}), "not mono", {}},
        {"16 kHz", wav_image(1, 1, 16000, 16, {0, 0}), "not 8000", {}},
        {"8-bit PCM", wav_image(1, 1, 8000, 8, {0x80}), "neither", {}},
        {"no samples", wav_image(7, 1, 8000, 8, {}), "no samples", {}},
        {"not RIFF", std::vector<uint8_t>(44, 'x'), "not a RIFF", {}},
        {"empty", {}, "not a RIFF", {}},
        {"no data", {'R', 'I', 'F', 'F', 4, 0, 0, 0, 'W', 'A', 'V', 'E'}, "no fmt", {}},
    };
    for (const Case &c : cases) {
        std::vector<uint8_t> out = {0xAA};
        std::string error = boardsim::wav_to_mulaw(c.image.data(), c.image.size(), &out);
        if (*c.error == '\0') {
            EXPECT_EQ(error, "") << c.what;
            EXPECT_EQ(out, c.samples) << c.what;
        } else {
            EXPECT_EQ(error.rfind(c.error, 0), 0u) << c.what << ": " << error;
            EXPECT_EQ(out, std::vector<uint8_t>{0xAA}) << c.what << " left untouched";
        }
    }
    // A header that claims more data than the file holds (a writer stopped early).
    std::vector<uint8_t> cut = wav_image(7, 1, 8000, 8, {1, 2, 3, 4});
    cut.resize(cut.size() - 2);
    std::vector<uint8_t> out;
    EXPECT_EQ(boardsim::wav_to_mulaw(cut.data(), cut.size(), &out), "");
    EXPECT_EQ(out, (std::vector<uint8_t>{1, 2}));
}

TEST(Wav, MulawEncodingFollowsG711) {
    EXPECT_EQ(boardsim::linear_to_mulaw(0), 0xFF);
    EXPECT_EQ(boardsim::linear_to_mulaw(-1), 0x7F);
    EXPECT_EQ(boardsim::linear_to_mulaw(32767), 0x80);
    EXPECT_EQ(boardsim::linear_to_mulaw(-32768), 0x00);
    EXPECT_EQ(boardsim::test_signal().size(), 8000u);
}

using ControlTest = BoardTest;

TEST_F(ControlTest, RepliesFollowTheLine) {
    int32_t line = open_channel(1);
    struct Step {
        const char *command;
        const char *reply;  // its beginning
    };
    const Step steps[] = {
        {"digits 1", "ERR no call on the line"},
        {"press 1", "ERR no call on the line"},
        {"hangup", "ERR no call on the line"},
        {"status", "OK hook=on line=idle dialled= played=0 recorded=0 prompts="},
        {"ring", "OK ringing"},
        {"ring", "ERR the line is busy"},
        {"hangup", "OK hung up"},
        {"say /no/such.wav", "ERR /no/such.wav cannot be read"},
        {"wave", "ERR unknown command"},
        {"", "ERR empty command"},
    };
    for (const Step &s : steps) {
        std::string reply = boardsim_command(s.command);
        EXPECT_EQ(reply.rfind(s.reply, 0), 0u) << s.command << " -> " << reply;
    }
    EXPECT_EQ(next_event().type, TDX_CST);
    dx_sethook(line, DX_OFFHOOK, EV_SYNC);
    EXPECT_EQ(boardsim_command("ring"), "ERR the line is off-hook");
}

class SocketClient {
  public:
    explicit SocketClient(const std::string &path) {
        fd_ = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
        connected_ = connect(fd_, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    }
    ~SocketClient() { close(fd_); }
    bool connected() const { return connected_; }
    void send_text(const std::string &text) {
        ASSERT_EQ(send(fd_, text.data(), text.size(), MSG_NOSIGNAL),
                  static_cast<ssize_t>(text.size()));
    }
    // The next reply line, or "<none>" after two seconds.
    std::string reply() {
        while (pending_.find('\n') == std::string::npos) {
            pollfd p{fd_, POLLIN, 0};
            char piece[512];
            if (poll(&p, 1, 2000) != 1) {
                return "<none>";
            }
            ssize_t n = recv(fd_, piece, sizeof piece, 0);
            if (n <= 0) {
                return "<closed>";
            }
            pending_.append(piece, static_cast<size_t>(n));
        }
        size_t end = pending_.find('\n');
        std::string line = pending_.substr(0, end);
        pending_.erase(0, end + 1);
        return line;
    }

  private:
    int fd_ = -1;
    bool connected_ = false;
    std::string pending_;
};

TEST_F(ControlTest, TheSocketAnswersEachLine) {
    open_channel(1);
    SocketClient client(path("control.sock"));
    ASSERT_TRUE(client.connected());
    client.send_text("status\nbogus\r\nri");
    EXPECT_EQ(client.reply().rfind("OK hook=on", 0), 0u);
    EXPECT_EQ(client.reply().rfind("ERR unknown command", 0), 0u);
    client.send_text("ng\n");
    EXPECT_EQ(client.reply(), "OK ringing");
    client.send_text(std::string(5000, 'z') + "\nstatus\n");
    EXPECT_EQ(client.reply(), "ERR line too long");
    EXPECT_EQ(client.reply().rfind("OK hook=on line=ringing", 0), 0u);
    SocketClient second(path("control.sock"));
    ASSERT_TRUE(second.connected());
    second.send_text("hangup\n");
    EXPECT_EQ(second.reply(), "OK hung up");
    EXPECT_EQ(next_event().type, TDX_CST);
}

TEST_F(ControlTest, TheSocketGoesWithTheBoard) {
    open_channel(1);
    EXPECT_TRUE(std::filesystem::exists(path("control.sock")));
    boardsim_shutdown();
    EXPECT_FALSE(std::filesystem::exists(path("control.sock")));
}

}  // namespace
}  // namespace sipline::testing
