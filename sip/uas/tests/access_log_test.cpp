#include "sip/uas/access_log.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "sip/uas/request.h"

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

// The text has the shape: in the shape, "9" stands for any digit, "A" for an upper-case and "a"
// for a lower-case letter, "*" for one or more digits or dots; other characters stand for
// themselves.
bool has_shape(const std::string &text, const std::string &shape) {
    size_t t = 0;
    for (char s : shape) {
        if (t >= text.size()) {
            return false;
        }
        unsigned char c = static_cast<unsigned char>(text[t]);
        if (s == '*') {
            if (!isdigit(c) && c != '.') {
                return false;
            }
            while (t < text.size() &&
                   (isdigit(static_cast<unsigned char>(text[t])) || text[t] == '.')) {
                t++;
            }
            continue;
        }
        bool ok = s == '9'   ? isdigit(c) != 0
                  : s == 'A' ? isupper(c) != 0
                  : s == 'a' ? islower(c) != 0
                             : c == static_cast<unsigned char>(s);
        if (!ok) {
            return false;
        }
        t++;
    }
    return t == text.size();
}

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
    std::string duration = render("%T");
    EXPECT_TRUE(has_shape(duration, "*\n") && duration.find('.') == duration.size() - 4)
        << duration;
    EXPECT_TRUE(has_shape(render("%{%H:%M}t"), "99:99\n"));
}

TEST_F(AccessLogTest, DefaultFormatIsTheCommonLogFormat) {
    setenv("TZ", "CET-1", 1);
    tzset();
    const char *common =
        "10.0.0.7 - [99/Aaa/9999:99:99:99 +0100] \"INVITE sip:1234@gw SIP/2.0\" 200\n";
    EXPECT_TRUE(has_shape(render(nullptr), common)) << render(nullptr);
    EXPECT_TRUE(has_shape(render(""), common));
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

TEST_F(AccessLogTest, ReplacingReopensARotatedLogAndKeepsTheOldOneWhenTheNewFails) {
    std::string rotated = path_ + ".1";
    LogInit(path_.c_str(), "first %s");
    LogRequest(r_);
    ASSERT_EQ(rename(path_.c_str(), rotated.c_str()), 0);
    ASSERT_EQ(LogReplace(path_.c_str(), "second %s"), 0);
    LogRequest(r_);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(LogReplace("/nonexistent-directory/log", nullptr), -1);
    ::testing::internal::GetCapturedStderr();
    LogRequest(r_);  // still to the reopened file
    ASSERT_EQ(LogReplace("", nullptr), 0);
    LogRequest(r_);  // nowhere
    auto content = [](const std::string &file) {
        std::ifstream in(file);
        std::stringstream all;
        all << in.rdbuf();
        return all.str();
    };
    EXPECT_EQ(content(rotated), "first 200\n") << "the rotated file got lines after the reopening";
    EXPECT_EQ(content(path_), "second 200\nsecond 200\n");
    unlink(rotated.c_str());
}

}  // namespace
}  // namespace sipline
