// The call records file across logrotate's rename and a reload.
#include "service/cdr_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "service/call_record.h"

namespace sipline {
namespace {

std::string contents(const std::string &path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

int lines(const std::string &text) {
    int n = 0;
    for (char c : text) {
        n += c == '\n';
    }
    return n;
}

call_report_t a_call(const char *number) {
    call_report_t c;
    c.start_ms = 1765316401250;
    c.end_ms = c.start_ms + 1000;
    snprintf(c.number, sizeof c.number, "%s", number);
    snprintf(c.end_reason, sizeof c.end_reason, "%s", "bye");
    return c;
}

class CdrFile : public ::testing::Test {
  protected:
    void SetUp() override {
        char dir[] = "/tmp/sipline-cdr-XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        dir_ = dir;
    }
    void TearDown() override {
        for (const char *name : {"/cdr.csv", "/cdr.csv.1", "/cdr.jsonl"}) {
            unlink((dir_ + name).c_str());
        }
        rmdir(dir_.c_str());
    }
    std::string dir_;
};

TEST_F(CdrFile, AfterARotationAndAReloadTheRecordsGoToTheNewFile) {
    cdr_file cdr;
    std::string error;
    const std::string path = dir_ + "/cdr.csv";
    ASSERT_EQ(cdr.open(path, CDR_CSV, &error), 0) << error;
    ASSERT_TRUE(cdr.write(a_call("111")));
    ASSERT_EQ(rename(path.c_str(), (path + ".1").c_str()), 0);
    ASSERT_TRUE(cdr.write(a_call("222")));  // before the reload: still the renamed file
    ASSERT_EQ(cdr.reopen(path, CDR_CSV, &error), 0) << error;
    ASSERT_TRUE(cdr.write(a_call("333")));

    const std::string old_file = contents(path + ".1");
    const std::string new_file = contents(path);
    EXPECT_EQ(lines(old_file), 3);  // header, 111, 222
    EXPECT_NE(old_file.find("222"), std::string::npos);
    EXPECT_EQ(lines(new_file), 2) << "the new file starts with its own header";
    EXPECT_EQ(new_file.rfind(CallRecordCsvHeader(), 0), 0u);
    EXPECT_NE(new_file.find("333"), std::string::npos);
}

TEST_F(CdrFile, AReopenOfTheSameFileAddsNoSecondHeader) {
    cdr_file cdr;
    std::string error;
    const std::string path = dir_ + "/cdr.csv";
    ASSERT_EQ(cdr.open(path, CDR_CSV, &error), 0) << error;
    ASSERT_TRUE(cdr.write(a_call("111")));
    ASSERT_EQ(cdr.reopen(path, CDR_CSV, &error), 0) << error;
    ASSERT_TRUE(cdr.write(a_call("222")));
    EXPECT_EQ(lines(contents(path)), 3);
}

TEST_F(CdrFile, AFailedReopenKeepsTheOldFileAndNoneStopsTheRecords) {
    cdr_file cdr;
    std::string error;
    const std::string path = dir_ + "/cdr.jsonl";
    ASSERT_EQ(cdr.open(path, CDR_JSONL, &error), 0) << error;
    EXPECT_EQ(cdr.reopen(dir_ + "/no/such/folder/cdr.jsonl", CDR_JSONL, &error), -1);
    EXPECT_NE(error.find("no/such/folder"), std::string::npos) << error;
    EXPECT_TRUE(cdr.write(a_call("111")));
    EXPECT_EQ(lines(contents(path)), 1);

    ASSERT_EQ(cdr.reopen("", CDR_JSONL, &error), 0);
    EXPECT_FALSE(cdr.write(a_call("222")));
    EXPECT_EQ(lines(contents(path)), 1);
}

}  // namespace
}  // namespace sipline
