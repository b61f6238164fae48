#include <cstring>
#include <string_view>

#include "sip/message/parser.h"
#include "sip/message/text.h"

namespace sipline {

namespace {

enum class Due { FIRST_WORD, URI, VERSION, STATUS, REASON, HEADERS };

char *copy_of(const char *text) {
    return text_copy(text);
}

}  // namespace

int MessageParse(char *text, parser_t *message) {
    std::memset(message, 0, sizeof *message);
    message->status = -1;
    if (text == nullptr) {
        return -1;
    }
    auto fail = [message] {
        message->type = MESSAGE_NONE;
        return -1;
    };
    char *p = text;
    Due due = Due::FIRST_WORD;
    for (;;) {
        while (is_space(*p)) {
            ++p;
        }
        if (*p == '\0') {
            return 0;
        }
        char *start = p;
        switch (due) {
            case Due::FIRST_WORD: {
                while (is_alpha(*p) || *p == '-') {
                    ++p;
                }
                std::string_view word(start, static_cast<size_t>(p - start));
                if (*p == '/') {
                    std::free(message->protocol);
                    message->protocol = text_copy(word);
                    if (message->type == MESSAGE_NONE) {
                        message->type = MESSAGE_RESPONSE;
                    }
                    ++p;
                    due = Due::VERSION;
                } else if (is_space(*p) || *p == '\0') {
                    if (message->type != MESSAGE_NONE) {
                        return fail();
                    }
                    message->type = MESSAGE_REQUEST;
                    message->method = text_copy(word);
                    due = Due::URI;
                } else {
                    return fail();
                }
                break;
            }
            case Due::URI: {
                while (*p != '\0' && !is_space(*p)) {
                    ++p;
                }
                message->URI_string = text_copy(std::string_view(start, p - start));
                message->uri = URI_Parse(message->URI_string);
                due = Due::FIRST_WORD;
                break;
            }
            case Due::VERSION: {
                while (is_digit(*p) || *p == '.') {
                    ++p;
                }
                if (!is_space(*p) && *p != '\0') {
                    return fail();
                }
                message->version = text_copy(std::string_view(start, p - start));
                due = message->type == MESSAGE_RESPONSE ? Due::STATUS : Due::HEADERS;
                break;
            }
            case Due::STATUS: {
                while (is_digit(*p)) {
                    ++p;
                }
                if (!is_space(*p) && *p != '\0') {
                    return fail();
                }
                message->status = static_cast<int32_t>(text_decimal(start));
                due = Due::REASON;
                break;
            }
            case Due::REASON: {
                while (*p != '\0' && *p != '\r' && *p != '\n') {
                    ++p;
                }
                message->reason = text_copy(std::string_view(start, p - start));
                due = Due::HEADERS;
                break;
            }
            case Due::HEADERS: {
                message->header_body = start;
                int32_t length = 0;
                int result = RFC822_Parse(start, &length, &message->headers);
                if (result < 0) {
                    return -1;
                }
                message->header_length = static_cast<int32_t>(start - text) + length;
                return 0;
            }
        }
    }
}

int MessageDuplicate(parser_t *target, const parser_t *source) {
    std::memset(target, 0, sizeof *target);
    target->status = -1;
    if (source == nullptr) {
        return 0;
    }
    target->type = source->type;
    target->method = copy_of(source->method);
    target->URI_string = copy_of(source->URI_string);
    target->uri = URI_Duplicate(&source->uri);
    target->status = source->status;
    target->reason = copy_of(source->reason);
    target->protocol = copy_of(source->protocol);
    target->version = copy_of(source->version);
    target->header_body = nullptr;
    target->header_length = source->header_length;
    return RFC822_Duplicate(&target->headers, source->headers);
}

void MessageFree(parser_t *message) {
    if (message == nullptr) {
        return;
    }
    for (char **field : {&message->method, &message->URI_string, &message->reason,
                         &message->protocol, &message->version}) {
        std::free(*field);
        *field = nullptr;
    }
    RFC822_Free(message->headers);
    message->headers = nullptr;
    message->header_body = nullptr;
    URI_Free(&message->uri);
}

char *MessageGetMethod(const parser_t *message) {
    return message == nullptr ? nullptr : copy_of(message->method);
}

char *MessageGetReason(const parser_t *message) {
    return message == nullptr ? nullptr : copy_of(message->reason);
}

char *MessageGetProtocol(const parser_t *message) {
    return message == nullptr ? nullptr : copy_of(message->protocol);
}

char *MessageGetVersion(const parser_t *message) {
    return message == nullptr ? nullptr : copy_of(message->version);
}

uri_t MessageGetURI(const parser_t *message) {
    return message == nullptr ? uri_t{} : message->uri;
}

int32_t MessageGetStatus(const parser_t *message) {
    return message == nullptr ? 0 : message->status;
}

}  // namespace sipline
