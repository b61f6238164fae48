#include "sip/access_log.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include "sip/request.h"

namespace sipline {
namespace {

constexpr const char *kInvite =
    "INVITE sip:1234@gw SIP/2.0\r\n"
    "Via: SIP/2.0/UDP 10.0.0.7:5060\r\n"
    "User-Agent: phone\r\n"
    "user-agent: softphone 2\r\n"
    "Call-ID: abc@10.0.0.7\r\n"
    "CSeq: 1 INVITE\r\n"
    "\r\n";

class AccessLogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        path_ = ::testing::TempDir() + "access_log_test." + std::to_string(getpid());
        unlink(path_.c_str());
        sockaddr_in peer{};
        peer.sin_family = AF_INET;
        inet_pton(AF_INET, "10.0.0.7", &peer.sin_addr);
        r_ = RequestCreate(TRANSPORT_UDP, -1, &peer);
        text_ = kInvite;
        MessageParse(text_.data(), &r_->message);
        r_->status = 200;
        headers_add(&r_->headers, "X", "one");
        headers_add(&r_->headers, "Y", "other");
        headers_add(&r_->headers, "X", "two");
    }
    void TearDown() override {
        LogClose();
        RequestFree(r_);
        unlink(path_.c_str());
    }
    // The log written with one destination in this format.
    std::string render(const char *format) {
        LogInit(path_.c_str(), format);
        LogRequest(r_);
        LogClose();
        std::ifstream in(path_);
        std::stringstream all;
        all << in.rdbuf();
        unlink(path_.c_str());
        return all.str();
    }

    std::string path_;
    std::string text_;
    request_t *r_ = nullptr;
};

struct format_case {
    const char *format;
    const char *line;  // without the line feed
};

TEST_F(AccessLogTest, RendersEachDirective) {
    setenv("SIPLINE_LOG_TEST", "value", 1);
    const format_case cases[] = {
        {"%{User-Agent}i", "phone,softphone 2"},
        {"%{X}o", "onetwo"},
        {"%{Missing}o%{Missing}i%{SIPLINE_UNSET_VARIABLE}e.", "."},
        {"%i%o%e.", "."},
        {"a\\tb", "a\tb"},
        {"a\\nb\\q", "a\nbq"},
        {"%%|%q|%", "||"},
        {"%h %a", "10.0.0.7 10.0.0.7"},
        {"%u", "-"},
        {"%r", "INVITE sip:1234@gw SIP/2.0"},
        {"%U", "sip:1234@gw"},
        {"%s", "200"},
        {"%{SIPLINE_LOG_TEST}e", "value"},
        {"%{}e|", "|"},
        {"x%{unclosed", "x"},
        {"end\\", "end"},
    };
    for (const format_case &c : cases) {
        EXPECT_EQ(render(c.format), std::string(c.line) + "\n") << "format " << c.format;
    }
    EXPECT_EQ(render("%p"), std::to_string(getpid()) + "\n");
    EXPECT_TRUE(std::regex_match(render("%T"), std::regex("[0-9]+\\.[0-9]{2}\n")));
    EXPECT_TRUE(std::regex_match(render("%{%H:%M}t"), std::regex("[0-9]{2}:[0-9]{2}\n")));
}

TEST_F(AccessLogTest, DefaultFormatIsTheCommonLogFormat) {
    setenv("TZ", "CET-1", 1);
    tzset();
    std::regex common(
        "10\\.0\\.0\\.7 - \\[[0-9]{2}/[A-Z][a-z]{2}/[0-9]{4}:[0-9]{2}:[0-9]{2}:[0-9]{2} \\+0100\\] "
        "\"INVITE sip:1234@gw SIP/2\\.0\" 200\n");
    EXPECT_TRUE(std::regex_match(render(nullptr), common)) << render(nullptr);
    EXPECT_TRUE(std::regex_match(render(""), common));
    setenv("TZ", "UTC+1:30", 1);
    tzset();
    EXPECT_EQ(GmtOffset(), -90);
    EXPECT_NE(render(nullptr).find(" -0130] "), std::string::npos);
    unsetenv("TZ");
    tzset();
}

TEST_F(AccessLogTest, ProvisionalStatusWritesNothing) {
    r_->status = 180;
    EXPECT_EQ(render("%s"), "");
}

TEST_F(AccessLogTest, WithoutDestinationNothingIsWritten) {
    LogRequest(r_);  // must not fail
    std::ifstream in(path_);
    EXPECT_FALSE(in.good());
}

TEST_F(AccessLogTest, EveryDestinationGetsTheLine) {
    std::string piped = path_ + ".pipe";
    std::string command = "|cat > " + piped;
    LogInit(path_.c_str(), "file %s");
    LogInit(command.c_str(), "pipe %s");
    LogRequest(r_);
    LogClose();  // waits for the pipe's command
    std::ifstream file(path_);
    std::ifstream pipe(piped);
    std::string line;
    std::getline(file, line);
    EXPECT_EQ(line, "file 200");
    std::getline(pipe, line);
    EXPECT_EQ(line, "pipe 200");
    unlink(piped.c_str());
}

TEST_F(AccessLogTest, OpenFailuresAreReported) {
    ::testing::internal::CaptureStderr();
    LogInit(nullptr, nullptr);
    LogInit("/nonexistent-directory/log", nullptr);
    std::string errors = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(errors.find("Error in LogInit: "), std::string::npos) << errors;
    EXPECT_NE(errors.find("Invalid file name"), std::string::npos) << errors;
    EXPECT_NE(errors.find("Could not open log file /nonexistent-directory/log"), std::string::npos)
        << errors;
}

}  // namespace
}  // namespace sipline
