// A SIP message parsed from a copy of its text, which stays alive as long as the message that
// points into it.
#pragma once

#include <string_view>
#include <vector>

#include "sip/message/parser.h"

namespace sipline {

class parsed_message {
  public:
    explicit parsed_message(std::string_view text) : text_(text.begin(), text.end()) {
        text_.push_back('\0');
        MessageParse(text_.data(), &message);
    }
    ~parsed_message() { MessageFree(&message); }
    parsed_message(const parsed_message &) = delete;
    parsed_message &operator=(const parsed_message &) = delete;

    parser_t message{};

  private:
    std::vector<char> text_;
};

}  // namespace sipline
