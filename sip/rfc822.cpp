#include <string_view>

#include "sip/parser.h"
#include "sip/text.h"
#include "support/error.h"

namespace sipline {

namespace {

struct HeaderName {
    std::string_view name;
    int handling;
};

// RFC 3261 section 7.3.1: headers whose values are comma-separated lists are split into
// elements; the others (and every unknown name) are kept whole. Compact forms stand beside their
// full names.
constexpr HeaderName kHeaderNames[] = {
    {"accept", RFC822_SPLIT},
    {"accept-encoding", RFC822_SPLIT},
    {"accept-language", RFC822_SPLIT},
    {"allow", RFC822_SPLIT},
    {"authorization", RFC822_SPLIT},
    {"i", RFC822_SPLIT},
    {"call-id", RFC822_SPLIT},
    {"m", RFC822_SPLIT},
    {"contact", RFC822_SPLIT},
    {"e", RFC822_SPLIT},
    {"content-encoding", RFC822_SPLIT},
    {"l", RFC822_SPLIT},
    {"content-length", RFC822_SPLIT},
    {"c", RFC822_WHOLE},
    {"content-type", RFC822_WHOLE},
    {"cseq", RFC822_SPLIT},
    {"date", RFC822_WHOLE},
    {"encryption", RFC822_SPLIT},
    {"expires", RFC822_SPLIT},
    {"f", RFC822_WHOLE},
    {"from", RFC822_WHOLE},
    {"hide", RFC822_SPLIT},
    {"max-forwards", RFC822_SPLIT},
    {"organization", RFC822_WHOLE},
    {"priority", RFC822_SPLIT},
    {"proxy-authenticate", RFC822_SPLIT},
    {"proxy-authorization", RFC822_SPLIT},
    {"require", RFC822_SPLIT},
    {"referer", RFC822_WHOLE},
    {"record-route", RFC822_SPLIT},
    {"response-key", RFC822_SPLIT},
    {"retry-after", RFC822_SPLIT},
    {"route", RFC822_SPLIT},
    {"server", RFC822_WHOLE},
    {"s", RFC822_WHOLE},
    {"subject", RFC822_WHOLE},
    {"t", RFC822_WHOLE},
    {"to", RFC822_WHOLE},
    {"timestamp", RFC822_SPLIT},
    {"unsupported", RFC822_SPLIT},
    {"user-agent", RFC822_WHOLE},
    {"v", RFC822_SPLIT},
    {"via", RFC822_SPLIT},
    {"warning", RFC822_SPLIT},
    {"www-authenticate", RFC822_SPLIT},
};

int header_class(std::string_view name) {
    if (name.empty()) {
        return RFC822_WHOLE;
    }
    for (const HeaderName &entry : kHeaderNames) {
        if (entry.name.size() == name.size() && entry.name[0] == to_lower(name[0]) &&
            text_equal_nocase(entry.name, name)) {
            return entry.handling;
        }
    }
    return RFC822_WHOLE;
}

parser_header_t *find(parser_header_t *headers, std::string_view name) {
    for (parser_header_t *header = headers; header != nullptr; header = header->next) {
        if (text_equal_nocase(std::string_view(header->name), name)) {
            return header;
        }
    }
    return nullptr;
}

void free_elements(parser_element_t *element) {
    while (element != nullptr) {
        parser_element_t *next = element->next;
        if (element->value != element->element) {
            std::free(element->value);
        }
        std::free(element->element);
        std::free(element->comment);
        RFC822_ParameterFree(element->parameters);
        std::free(element);
        element = next;
    }
}

void free_header(parser_header_t *header) {
    free_elements(header->elements);
    std::free(header->name);
    std::free(header);
}

// Scans a comment that starts at text[pos] == '('; returns the position after its closing
// parenthesis, or the end. Parentheses after a backslash do not count.
size_t skip_comment(std::string_view text, size_t pos) {
    int depth = 0;
    for (; pos < text.size(); ++pos) {
        char c = text[pos];
        bool escaped = pos > 0 && text[pos - 1] == '\\';
        if (c == '(' && !escaped) {
            ++depth;
        } else if (c == ')' && !escaped) {
            if (--depth == 0) {
                return pos + 1;
            }
        }
    }
    return pos;
}

size_t skip_space(std::string_view text, size_t pos) {
    while (pos < text.size() && is_space(text[pos])) {
        ++pos;
    }
    return pos;
}

// The value of a quoted parameter starting after its opening quote: a backslash is dropped and
// the character after it taken as it is. *closed tells whether the closing quote was found.
char *quoted_value(std::string_view text, size_t *pos, bool *closed) {
    auto *value = static_cast<char *>(std::malloc(text.size() - *pos + 1));
    size_t length = 0;
    size_t p = *pos;
    *closed = false;
    while (p < text.size()) {
        char c = text[p];
        if (c == '"') {
            *closed = true;
            ++p;
            break;
        }
        if (c == '\\' && p + 1 < text.size()) {
            ++p;
            c = text[p];
        }
        value[length++] = c;
        ++p;
    }
    value[length] = '\0';
    *pos = p;
    return value;
}

}  // namespace

int RFC822_HeaderClass(const char *name) {
    if (name == nullptr || *name == '\0') {
        return RFC822_WHOLE;
    }
    return header_class(name);
}

int RFC822_ElementParse(parser_element_t *element, const char *source) {
    std::string_view text(source == nullptr ? "" : source);
    size_t pos = skip_space(text, 0);

    auto *value = static_cast<char *>(std::malloc(text.size() - pos + 1));
    size_t length = 0;
    while (pos < text.size() && text[pos] != ';') {
        char c = text[pos];
        if (c == '(') {
            pos = skip_comment(text, pos);
            continue;
        }
        value[length++] = c;
        ++pos;
        if (c == '"') {
            while (pos < text.size()) {
                char q = text[pos];
                value[length++] = q;
                ++pos;
                if (q == '"' && text[pos - 2] != '\\') {
                    break;
                }
            }
        } else if (c == '<') {
            while (pos < text.size()) {
                char q = text[pos];
                value[length++] = q;
                ++pos;
                if (q == '>') {
                    break;
                }
            }
        }
    }
    while (length > 0 && is_space(value[length - 1])) {
        --length;
    }
    value[length] = '\0';
    element->value = value;

    parser_parameter_t **tail = &element->parameters;
    while (*tail != nullptr) {
        tail = &(*tail)->next;
    }
    while (pos < text.size()) {
        // pos is at a ';'.
        pos = skip_space(text, pos + 1);
        size_t name_start = pos;
        while (pos < text.size() && is_alnum(text[pos])) {
            ++pos;
        }
        auto *parameter =
            static_cast<parser_parameter_t *>(std::calloc(1, sizeof(parser_parameter_t)));
        parameter->attribute = text_copy(text.substr(name_start, pos - name_start));
        *tail = parameter;
        tail = &parameter->next;
        while (pos < text.size() && text[pos] != '=' && text[pos] != ';') {
            pos = text[pos] == '(' ? skip_comment(text, pos) : pos + 1;
        }
        if (pos >= text.size() || text[pos] == ';') {
            continue;
        }
        pos = skip_space(text, pos + 1);
        if (pos < text.size() && text[pos] == '"') {
            ++pos;
            bool closed = false;
            parameter->value = quoted_value(text, &pos, &closed);
            if (!closed) {
                return -1;
            }
        } else {
            size_t value_start = pos;
            while (pos < text.size() && !is_space(text[pos]) && text[pos] != ';') {
                ++pos;
            }
            parameter->value = text_copy(text.substr(value_start, pos - value_start));
        }
        for (;;) {
            pos = skip_space(text, pos);
            if (pos < text.size() && text[pos] == '(') {
                pos = skip_comment(text, pos);
                continue;
            }
            break;
        }
        if (pos < text.size() && text[pos] != ';') {
            return -1;
        }
    }
    return 0;
}

parser_element_t *RFC822_ElementAdd(parser_header_t *header, int handling, const char *text) {
    auto *element = static_cast<parser_element_t *>(std::calloc(1, sizeof(parser_element_t)));
    element->element = text_copy(text == nullptr ? "" : text);
    if (handling == RFC822_SPLIT) {
        RFC822_ElementParse(element, element->element);
    } else {
        element->value = element->element;
    }
    if (header->last_element == nullptr) {
        header->elements = element;
    } else {
        header->last_element->next = element;
    }
    header->last_element = element;
    return element;
}

int RFC822_HeaderLine(char *line, int32_t length, parser_header_t **headers) {
    if (line == nullptr || length < 0) {
        return -1;
    }
    if (length > 0 && line[length - 1] == '\r') {
        --length;
    }
    line[length] = '\0';
    std::string_view text(line, static_cast<size_t>(length));

    size_t pos = 0;
    while (pos < text.size() && text[pos] != ':' && !is_space(text[pos])) {
        ++pos;
    }
    if (pos >= text.size()) {
        return -1;
    }
    std::string_view name = text.substr(0, pos);
    pos = skip_space(text, pos);
    if (pos >= text.size() || text[pos] != ':') {
        return -1;
    }
    ++pos;

    parser_header_t *header = find(*headers, name);
    parser_header_t *prepared = nullptr;
    if (header == nullptr) {
        prepared = static_cast<parser_header_t *>(std::calloc(1, sizeof *prepared));
        prepared->name = text_copy(name);
        header = prepared;
    }
    int handling = header_class(std::string_view(header->name));

    if (handling == RFC822_WHOLE) {
        pos = skip_space(text, pos);
        RFC822_ElementAdd(header, handling, line + pos);
    } else {
        for (;;) {
            pos = skip_space(text, pos);
            size_t start = pos;
            bool quoted = false;
            int comment = 0;
            for (; pos < text.size(); ++pos) {
                char c = text[pos];
                bool escaped = pos > 0 && text[pos - 1] == '\\';
                if (quoted) {
                    quoted = !(c == '"' && !escaped);
                } else if (comment > 0) {
                    if (c == '(' && !escaped) {
                        ++comment;
                    } else if (c == ')' && !escaped) {
                        --comment;
                    }
                } else if (c == '"') {
                    quoted = true;
                } else if (c == '(') {
                    comment = 1;
                } else if (c == ',') {
                    break;
                }
            }
            if (quoted || comment > 0) {
                if (prepared != nullptr) {
                    free_header(prepared);
                }
                return -2;
            }
            bool at_comma = pos < text.size();
            line[pos] = '\0';
            RFC822_ElementAdd(header, handling, line + start);
            if (!at_comma) {
                break;
            }
            ++pos;
        }
    }

    if (prepared != nullptr) {
        prepared->next = *headers;
        *headers = prepared;
    }
    return 0;
}

int RFC822_Parse(char *text, int32_t *length, parser_header_t **headers) {
    *headers = nullptr;
    int result = 0;
    if (text == nullptr) {
        if (length != nullptr) {
            *length = 0;
        }
        return 0;
    }
    size_t line_start = 0;
    size_t i = 0;
    for (; text[i] != '\0'; ++i) {
        if (text[i] != '\n') {
            continue;
        }
        char after = text[i + 1];
        if (after == ' ' || after == '\t') {
            continue;
        }
        size_t end = 0;
        if (after == '\n') {
            end = i + 1;
        } else if (after == '\r' && text[i + 2] == '\n') {
            end = i + 2;
        }
        if (end != 0) {
            if (i > line_start) {
                result = RFC822_HeaderLine(text + line_start, static_cast<int32_t>(i - line_start),
                                           headers);
            }
            if (length != nullptr) {
                *length = static_cast<int32_t>(end + 1);
            }
            return result;
        }
        result =
            RFC822_HeaderLine(text + line_start, static_cast<int32_t>(i - line_start), headers);
        if (result < 0) {
            break;
        }
        line_start = i + 1;
    }
    Error("RFC822_Parse", "didn't detect \"\\n\\n\"");
    if (length != nullptr) {
        *length = static_cast<int32_t>(i);
    }
    return result;
}

int RFC822_ParameterDuplicate(parser_parameter_t **target, const parser_parameter_t *source) {
    *target = nullptr;
    parser_parameter_t **tail = target;
    for (; source != nullptr; source = source->next) {
        auto *copy = static_cast<parser_parameter_t *>(std::calloc(1, sizeof(parser_parameter_t)));
        if (copy == nullptr) {
            Error("RFC822_ParameterDuplicate", "Couldn't allocate duplicate parameter");
            RFC822_ParameterFree(*target);
            *target = nullptr;
            return -1;
        }
        copy->attribute = text_copy(source->attribute);
        copy->value = text_copy(source->value);
        *tail = copy;
        tail = &copy->next;
    }
    return 0;
}

int RFC822_Duplicate(parser_header_t **target, const parser_header_t *source) {
    *target = nullptr;
    parser_header_t **tail = target;
    for (; source != nullptr; source = source->next) {
        auto *header = static_cast<parser_header_t *>(std::calloc(1, sizeof(parser_header_t)));
        if (header == nullptr) {
            Error("RFC822_Duplicate", "Couldn't allocate duplicate header");
            RFC822_Free(*target);
            *target = nullptr;
            return -1;
        }
        header->name = text_copy(source->name);
        *tail = header;
        tail = &header->next;
        for (const parser_element_t *element = source->elements; element != nullptr;
             element = element->next) {
            auto *copy = static_cast<parser_element_t *>(std::calloc(1, sizeof(parser_element_t)));
            if (copy == nullptr) {
                Error("RFC822_Duplicate", "Couldn't allocate duplicate element");
                RFC822_Free(*target);
                *target = nullptr;
                return -1;
            }
            copy->element = text_copy(element->element);
            copy->value =
                element->value == element->element ? copy->element : text_copy(element->value);
            if (header->last_element == nullptr) {
                header->elements = copy;
            } else {
                header->last_element->next = copy;
            }
            header->last_element = copy;
            if (RFC822_ParameterDuplicate(&copy->parameters, element->parameters) < 0) {
                RFC822_Free(*target);
                *target = nullptr;
                return -1;
            }
        }
    }
    return 0;
}

void RFC822_Free(parser_header_t *headers) {
    while (headers != nullptr) {
        parser_header_t *next = headers->next;
        free_header(headers);
        headers = next;
    }
}

void RFC822_ParameterFree(parser_parameter_t *parameters) {
    while (parameters != nullptr) {
        parser_parameter_t *next = parameters->next;
        std::free(parameters->attribute);
        std::free(parameters->value);
        std::free(parameters);
        parameters = next;
    }
}

parser_header_t *RFC822_Find(parser_header_t *headers, const char *name) {
    if (name == nullptr) {
        return nullptr;
    }
    return find(headers, name);
}

parser_header_t *RFC822_FindEither(parser_header_t *headers, const char *name, const char *other) {
    for (parser_header_t *header = headers; header != nullptr; header = header->next) {
        if (text_equal_nocase(header->name, name) || text_equal_nocase(header->name, other)) {
            return header;
        }
    }
    return nullptr;
}

parser_header_t *RFC822_FindNth(parser_header_t *headers, const char *name, int n) {
    int count = 0;
    for (parser_header_t *header = headers; header != nullptr; header = header->next) {
        if (text_equal_nocase(header->name, name) && ++count == n) {
            return header;
        }
    }
    return nullptr;
}

char *RFC822_ElementValue(parser_header_t *header, int index, const char *attribute) {
    if (header == nullptr || index < 0) {
        return nullptr;
    }
    parser_element_t *element = header->elements;
    for (; element != nullptr && index > 0; --index) {
        element = element->next;
    }
    if (element == nullptr) {
        return nullptr;
    }
    if (attribute == nullptr) {
        return element->value;
    }
    return RFC822_ParameterValue(element->parameters, attribute);
}

char *RFC822_ParameterValue(parser_parameter_t *parameters, const char *attribute) {
    static char empty[] = "";
    for (parser_parameter_t *p = parameters; p != nullptr; p = p->next) {
        if (text_equal_nocase(p->attribute, attribute)) {
            return p->value == nullptr ? empty : p->value;
        }
    }
    return nullptr;
}

}  // namespace sipline
