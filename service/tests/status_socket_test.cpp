#include "service/status_socket.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "service/status_request.h"

namespace sipline {
namespace {

class StatusSocket : public ::testing::Test {
  protected:
    void SetUp() override {
        char folder[] = "/tmp/sipline-status-XXXXXX";
        ASSERT_NE(mkdtemp(folder), nullptr);
        folder_ = folder;
        path_ = folder_ + "/status.sock";
    }
    void TearDown() override { rmdir(folder_.c_str()); }

    // What StatusAsk printed, and its status.
    std::pair<int, std::string> ask(const char *request) {
        char *text = nullptr;
        size_t size = 0;
        FILE *out = open_memstream(&text, &size);
        FILE *err = std::fopen("/dev/null", "w");
        const int status = StatusAsk(path_, request, out, err);
        std::fclose(out);
        std::fclose(err);
        std::string got(text, size);
        std::free(text);
        return {status, got};
    }

    static std::string answer(int32_t request) {
        return request == STATUS_REQUEST_CALLS ? "the calls\n" : "line: idle\n";
    }

    std::string folder_, path_;
};

TEST_F(StatusSocket, AnswersEachRequestAndRefusesOthers) {
    status_socket server;
    std::string error;
    ASSERT_EQ(server.start(path_, answer, &error), 0) << error;
    EXPECT_EQ(ask("status"), (std::pair<int, std::string>{0, "line: idle\n"}));
    EXPECT_EQ(ask("calls"), (std::pair<int, std::string>{0, "the calls\n"}));
    const auto [status, text] = ask("shutdown");
    EXPECT_EQ(status, 0);
    EXPECT_EQ(text.rfind("error: unknown request", 0), 0u) << text;
    server.stop();
    EXPECT_NE(access(path_.c_str(), F_OK), 0) << "the socket file outlived the server";
    EXPECT_EQ(ask("status").first, 1) << "an answer with no gateway running";
}

TEST_F(StatusSocket, RunningGatewayKeepsItsSocketAndAStaleOneIsReplaced) {
    status_socket first, second;
    std::string error;
    ASSERT_EQ(first.start(path_, answer, &error), 0) << error;
    EXPECT_EQ(second.start(path_, answer, &error), -1);
    EXPECT_NE(error.find("another gateway"), std::string::npos) << error;
    EXPECT_EQ(ask("status").first, 0) << "the second start broke the first's socket";

    // A socket file without a server behind it, as a killed gateway leaves it.
    first.stop();
    const int stale = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path_.c_str());
    ASSERT_EQ(bind(stale, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    close(stale);
    ASSERT_EQ(second.start(path_, answer, &error), 0) << error;
    EXPECT_EQ(ask("status").second, "line: idle\n");
}

TEST_F(StatusSocket, AClientThatSendsNothingDoesNotHoldTheServer) {
    status_socket server;
    std::string error;
    ASSERT_EQ(server.start(path_, answer, &error), 0) << error;
    const int silent = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path_.c_str());
    ASSERT_EQ(connect(silent, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    EXPECT_EQ(ask("status").second, "line: idle\n");
    close(silent);
}

TEST_F(StatusSocket, RefusesAPathThatIsNotASocket) {
    FILE *file = std::fopen(path_.c_str(), "w");
    ASSERT_NE(file, nullptr);
    std::fclose(file);
    status_socket server;
    std::string error;
    EXPECT_EQ(server.start(path_, answer, &error), -1);
    EXPECT_NE(error.find("not a socket"), std::string::npos) << error;
    EXPECT_EQ(access(path_.c_str(), F_OK), 0) << "a file that is not a socket was removed";
    unlink(path_.c_str());
}

}  // namespace
}  // namespace sipline
