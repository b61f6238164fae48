#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "support/dstring.h"

namespace sipline {
namespace {

std::string decode(const char *in) {
    char *out = base64_decode(in);
    std::string s(out);
    std::free(out);
    return s;
}

std::string encode(const std::string &in) {
    char *out = base64_encode(in.c_str());
    std::string s(out);
    std::free(out);
    return s;
}

struct Row {
    const char *in;
    const char *out;
};

TEST(Base64Decode, Table) {
    const Row rows[] = {
        {"", ""},
        {"QWxhZGRpbjpvcGVuIHNlc2FtZQ==", "Aladdin:open sesame"},
        {"YWJj", "abc"},
        {"YWJjZA==", "abcd"},
        {"YWJjZGU=", "abcde"},
        {"YWJj\r\n ZGVm", "abcdef"},  // breaks before a group are skipped
        {"  YWJj", "abc"},
        {"Pz8/", "???"},  // "/" is 63
        {"Pj4+", ">>>"},  // "+" is 62
        {"YQ", "a"},      // a short last group ends at the text's end
        {"Y", "\x60"},
        {"YWJjZ", "abc\x64"},
    };
    for (const auto &r : rows) {
        EXPECT_EQ(decode(r.in), r.out) << "input: " << r.in;
    }
    char *empty = base64_decode(nullptr);
    EXPECT_STREQ(empty, "");
    std::free(empty);
}

TEST(Base64Encode, GroupsAndPadding) {
    EXPECT_EQ(encode(""), "");
    EXPECT_EQ(encode("abc"), "YWJj");
    EXPECT_EQ(encode("abcd"), "YWJjZA==");
    EXPECT_EQ(encode("abcde"), "YWJjZGU=");
    EXPECT_EQ(encode("Aladdin:open sesame"), "QWxhZGRpbjpvcGVuIHNlc2FtZQ==");
}

TEST(Base64Encode, FoldsAfterSeventyTwoCharacters) {
    std::string in(60, 'x');
    std::string out = encode(in);
    ASSERT_EQ(out.size(), 82u);
    EXPECT_EQ(out.substr(72, 2), "\n ");
    EXPECT_EQ(out.find('\n'), 72u);
}

TEST(Base64, LongTextsRoundTrip) {
    for (size_t n : {1u, 2u, 53u, 54u, 55u, 500u, 541u, 4000u}) {
        std::string in;
        for (size_t i = 0; i < n; i++)
            in += static_cast<char>('!' + i % 90);
        EXPECT_EQ(decode(encode(in).c_str()), in) << "length " << n;
    }
}

}  // namespace
}  // namespace sipline
