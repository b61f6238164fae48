#include "gateway/command_line.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "gateway/directory.h"
#include "gateway/globals.h"

namespace sipline {
namespace {

struct outcome {
    int result;
    std::string out;
    std::string err;
};

outcome run(std::vector<std::string> words, gateway_settings_t *settings) {
    words.insert(words.begin(), "sipline");
    std::vector<char *> argv;
    for (std::string &word : words) {
        argv.push_back(word.data());
    }
    char *out_text = nullptr;
    char *err_text = nullptr;
    size_t out_size = 0;
    size_t err_size = 0;
    FILE *out = open_memstream(&out_text, &out_size);
    FILE *err = open_memstream(&err_text, &err_size);
    int result = ReadCommandLine(static_cast<int>(argv.size()), argv.data(), settings, out, err);
    std::fclose(out);
    std::fclose(err);
    outcome o{result, std::string(out_text, out_size), std::string(err_text, err_size)};
    std::free(out_text);
    std::free(err_text);
    return o;
}

std::string write_file(const std::string &name, const std::string &text) {
    std::string path = ::testing::TempDir() + name + "." + std::to_string(getpid());
    std::ofstream(path) << text;
    return path;
}

TEST(ReadCommandLine, WithoutSettingsRunsBuiltInOnesAndWarnsOnce) {
    gateway_settings_t settings;
    settings.sip.port = 1;
    outcome o = run({}, &settings);
    EXPECT_EQ(o.result, COMMAND_RUN);
    EXPECT_EQ(settings.sip.port, 5060);
    EXPECT_NE(o.err.find("anyone who can reach this gateway may dial any number"),
              std::string::npos)
        << o.err;
    EXPECT_EQ(o.err.find('\n'), o.err.size() - 1) << "the warning is one line";
}

TEST(ReadCommandLine, ConfigReadsTheFileInEitherSpelling) {
    std::string path = write_file("cl_good.toml", "[sip]\nport = 5070\n");
    for (const char *option : {"--config", "-c"}) {
        gateway_settings_t settings;
        outcome o = run({option, path}, &settings);
        EXPECT_EQ(o.result, COMMAND_RUN) << option << o.err;
        EXPECT_EQ(settings.sip.port, 5070) << option;
        EXPECT_EQ(o.err, "") << option;
    }
    unlink(path.c_str());
}

TEST(ReadCommandLine, CheckConfigPrintsTheSettingsOrTheFirstError) {
    std::string good = write_file("cl_check.toml", "[rtp]\ncodecs = [\"PCMA\"]\n");
    std::string bad = write_file("cl_bad.toml", "[rtp]\ncodecs = \"PCMA\"\n");
    gateway_settings_t settings;
    outcome o = run({"--check-config", good}, &settings);
    EXPECT_EQ(o.result, COMMAND_EXIT);
    EXPECT_NE(o.out.find("codecs = [\"PCMA\"]\n"), std::string::npos) << o.out;
    o = run({"--check-config", bad}, &settings);
    EXPECT_EQ(o.result, COMMAND_FAIL);
    EXPECT_EQ(o.err, "sipline: " + bad +
                         ":2:10: rtp.codecs: expected an array of codec names: \"GSM\", \"PCMU\", "
                         "\"PCMA\", found a string\n");
    unlink(good.c_str());
    unlink(bad.c_str());
}

TEST(ReadCommandLine, ABoardOtherThanTheOneDrivenIsRefused) {
    std::string path = write_file("cl_board.toml", "[board]\nline_channel = 2\n");
    gateway_settings_t settings;
    outcome o = run({"--check-config", path}, &settings);
    EXPECT_EQ(o.result, COMMAND_FAIL);
    EXPECT_NE(o.err.find("board: expected device \"dxxxB1\", line_channel 1"), std::string::npos)
        << o.err;
    EXPECT_EQ(run({"-c", path}, &settings).result, COMMAND_FAIL);
    unlink(path.c_str());
}

TEST(ReadCommandLine, BadArgumentsFail) {
    gateway_settings_t settings;
    for (const std::vector<std::string> &words : {std::vector<std::string>{"--config"},
                                                  {"-x"},
                                                  {"extra"},
                                                  {"-c", "a", "-c", "b"},
                                                  {"--config", "/nonexistent.toml"}}) {
        outcome o = run(words, &settings);
        EXPECT_EQ(o.result, COMMAND_FAIL) << words[0];
        EXPECT_NE(o.err, "") << words[0];
    }
    EXPECT_EQ(run({"--help"}, &settings).result, COMMAND_EXIT);
}

TEST(DirectoryConfigure, ConfiguredEntriesReplaceTheBuiltInOnes) {
    DirectoryConfigure({{"0612345678", "sip:office@192.0.2.10", 0}, {"7", "", 9000}});
    EXPECT_EQ(LookupNumber("100"), -1) << "a built-in entry stayed";
    ASSERT_EQ(LookupNumber("0612345678"), 0);
    EXPECT_STREQ(DestinationUri, "sip:office@192.0.2.10");
    ForgetDirectoryEntry();
    ASSERT_EQ(LookupNumber("7"), 0);
    EXPECT_EQ(DestinationUri, nullptr);
    EXPECT_EQ(RTPDestPort.load(), 9000);
    EXPECT_EQ(LocalPort, 9000);
    EXPECT_EQ(LookupNumber("77"), -1);
    DirectoryConfigure({});
    EXPECT_EQ(LookupNumber("100"), 0) << "the built-in entries did not come back";
    ForgetDirectoryEntry();
}

TEST(DirectoryRouteOthers, EveryNumberButTheConfiguredOnesGoesToThePbx) {
    DirectoryRouteOthers("sip:{number}@pbx.example.org", "sip:192.0.2.1");
    ASSERT_EQ(LookupNumber("100"), 0);
    EXPECT_STREQ(DestinationUri, "sip:100@pbx.example.org") << "a built-in entry stood in";
    EXPECT_STREQ(DestinationProxy, "sip:192.0.2.1");
    ForgetDirectoryEntry();
    EXPECT_EQ(DestinationProxy, nullptr);
    ASSERT_EQ(LookupNumber("*31#0612"), 0);
    EXPECT_STREQ(DestinationUri, "sip:*31%230612@pbx.example.org") << "# stays unescaped";
    ForgetDirectoryEntry();
    DirectoryConfigure({{"0612345678", "sip:office@192.0.2.10", 0}});
    ASSERT_EQ(LookupNumber("0612345678"), 0);
    EXPECT_STREQ(DestinationUri, "sip:office@192.0.2.10") << "the directory's own URI lost";
    ForgetDirectoryEntry();
    ASSERT_EQ(LookupNumber("555"), 0);
    EXPECT_STREQ(DestinationUri, "sip:555@pbx.example.org");
    ForgetDirectoryEntry();
    DirectoryRouteOthers("", "");
    DirectoryConfigure({});
    EXPECT_EQ(LookupNumber("555"), -1) << "the PBX stayed after it was removed";
}

}  // namespace
}  // namespace sipline
