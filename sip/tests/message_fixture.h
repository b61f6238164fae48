// A parsed message whose text lives as long as the record, for accessor tests.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sip/parser.h"

namespace sipline {

struct ParsedMessage {
    std::vector<char> buffer;
    parser_t message{};

    explicit ParsedMessage(const std::string &text) : buffer(text.begin(), text.end()) {
        buffer.push_back('\0');
        ::testing::internal::CaptureStderr();
        MessageParse(buffer.data(), &message);
        ::testing::internal::GetCapturedStderr();
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
