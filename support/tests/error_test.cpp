#include "support/error.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

namespace sipline {
namespace {

using ::testing::MatchesRegex;

struct ErrorReports : ::testing::Test {
    std::string path = ::testing::TempDir() + "sipline_error_test.log";
    void SetUp() override {
        std::remove(path.c_str());
        ErrorInit(path.c_str());
    }
    void TearDown() override {
        ErrorClose();
        ErrorInit("stderr");
        std::remove(path.c_str());
    }
    std::string written() {
        std::fflush(nullptr);
        std::ifstream in(path);
        std::stringstream all;
        all << in.rdbuf();
        return all.str();
    }
};

constexpr const char *stamp = "[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{3}: ";

TEST_F(ErrorReports, LineFormat) {
    errno = 0;
    Error("SIP_Via", "Invalid protocol %s", "TCP");
    EXPECT_THAT(written(),
                MatchesRegex(std::string(stamp) + "Error in SIP_Via: Invalid protocol TCP\n"));
}

TEST_F(ErrorReports, NoSecondLineFeed) {
    errno = 0;
    Error("LogInit", "done\n");
    EXPECT_THAT(written(), MatchesRegex(std::string(stamp) + "Error in LogInit: done\n"));
}

TEST_F(ErrorReports, ErrnoIsReportedWithItsText) {
    errno = 2;
    Error("SIP_Via", "Invalid protocol %s", "TCP");
    EXPECT_THAT(written(),
                MatchesRegex(
                    std::string(stamp) +
                    "Error in SIP_Via: No such file or directory \\(2\\): Invalid protocol TCP\n"));
    errno = 0;
}

TEST_F(ErrorReports, OverlongReportIsCutNotOverrun) {
    errno = 0;
    std::string big(5000, 'z');
    Error("f", "%s", big.c_str());
    std::string line = written();
    EXPECT_EQ(line.size(), 1023u);
    EXPECT_EQ(line.back(), '\n');
}

TEST(ErrorDestination, SystemLogDiscards) {
    ErrorInit(nullptr);
    ::testing::internal::CaptureStderr();
    Error("f", "lost");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    ErrorInit("stderr");
    ::testing::internal::CaptureStderr();
    errno = 0;
    Error("f", "seen");
    EXPECT_THAT(::testing::internal::GetCapturedStderr(),
                ::testing::EndsWith("Error in f: seen\n"));
}

TEST(ErrorDestination, UnopenableFileIsFatal) {
    EXPECT_DEATH(ErrorInit("/nonexistent-dir/x.log"),
                 "Fatal error in ErrorInit: .*Couldn't open error log /nonexistent-dir/x.log");
    ErrorInit("stderr");
}

TEST(Fatal, NeverReturns) {
    EXPECT_DEATH(Fatal("main", "bye %d", 1), "Fatal error in main: bye 1");
}

TEST(Debug, SilentWhileDisabled) {
    ::testing::internal::CaptureStdout();
    Debug("f", "nothing\n");
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
}

TEST(Debug, PrefixedWithTimeAndFunction) {
    DebugEnabled = 1;
    ::testing::internal::CaptureStdout();
    Debug("RequestSend", "sent %d\n", 3);
    std::string out = ::testing::internal::GetCapturedStdout();
    DebugEnabled = 0;
    EXPECT_THAT(out, MatchesRegex(" *[0-9]+\\.[0-9]{3} RequestSend\\(\\): sent 3\n"));
}

}  // namespace
}  // namespace sipline
