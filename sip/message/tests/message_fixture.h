// A parsed message whose text lives as long as the record, for parser and accessor tests.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sip/message/parser.h"

namespace sipline {

// The parser writes into the text, so it parses a copy; what it reported on standard error is
// kept for the tests of the parser itself.
struct ParsedMessage {
    std::vector<char> buffer;
    parser_t message{};
    int result = 0;
    std::string errors;

    explicit ParsedMessage(const std::string &text) : buffer(text.begin(), text.end()) {
        buffer.push_back('\0');
        ::testing::internal::CaptureStderr();
        result = MessageParse(buffer.data(), &message);
        errors = ::testing::internal::GetCapturedStderr();
    }
    ~ParsedMessage() { MessageFree(&message); }
    ParsedMessage(const ParsedMessage &) = delete;
    ParsedMessage &operator=(const ParsedMessage &) = delete;
    const parser_t *get() const { return &message; }
};

// A request with the given header lines (each ending in CR LF) and an empty line.
inline std::string request(const std::string &lines) {
    return "INVITE sip:1234@gw SIP/2.0\r\n" + lines + "\r\n";
}

}  // namespace sipline
