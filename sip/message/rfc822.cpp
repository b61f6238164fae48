#include <malloc.h>

#include <cstring>
#include <iterator>
#include <string_view>

#include "sip/message/parser.h"
#include "sip/message/text.h"
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

// The table indexed by name length, so that a look-up compares only names of the right length.
struct ClassIndex {
    static constexpr size_t kLongest = 20;
    static constexpr size_t kPerLength = 12;
    uint8_t entries[kLongest + 1][kPerLength] = {};
    uint8_t counts[kLongest + 1] = {};

    constexpr ClassIndex() {
        for (size_t i = 0; i < std::size(kHeaderNames); ++i) {
            size_t length = kHeaderNames[i].name.size();
            entries[length][counts[length]++] = static_cast<uint8_t>(i);
        }
    }
};

constexpr ClassIndex kClassIndex;

int header_class(std::string_view name) {
    if (name.empty() || name.size() > ClassIndex::kLongest) {
        return RFC822_WHOLE;
    }
    char first = to_lower(name[0]);
    for (uint8_t i = 0; i < kClassIndex.counts[name.size()]; ++i) {
        const HeaderName &entry = kHeaderNames[kClassIndex.entries[name.size()][i]];
        if (entry.name[0] == first && text_equal_nocase(entry.name, name)) {
            return entry.handling;
        }
    }
    return RFC822_WHOLE;
}

// Equality of a stored NUL-terminated name with a name of known length, without measuring the
// stored one first.
bool name_equals(const char *stored, std::string_view name) {
    for (char c : name) {
        if (*stored == '\0' || to_lower(*stored) != to_lower(c)) {
            return false;
        }
        ++stored;
    }
    return *stored == '\0';
}

parser_header_t *find(parser_header_t *headers, std::string_view name) {
    for (parser_header_t *header = headers; header != nullptr; header = header->next) {
        if (name_equals(header->name, name)) {
            return header;
        }
    }
    return nullptr;
}

// Elements and parameters made by the parser carry their texts in the same allocation as the
// record (one malloc instead of three); texts set any other way are separate allocations.
bool in_block(const void *block, const char *text) {
    auto *start = static_cast<const char *>(block);
    if (text == nullptr) {
        return false;
    }
    return text >= start && text < start + malloc_usable_size(const_cast<void *>(block));
}

void free_elements(parser_element_t *element) {
    while (element != nullptr) {
        parser_element_t *next = element->next;
        // The parser puts the element's text right after the record: no size look-up then.
        bool made_here = element->element == reinterpret_cast<char *>(element + 1);
        if (element->value != element->element && !in_block(element, element->value)) {
            std::free(element->value);
        }
        if (!made_here && !in_block(element, element->element)) {
            std::free(element->element);
        }
        std::free(element->comment);
        RFC822_ParameterFree(element->parameters);
        std::free(element);
        element = next;
    }
}

void free_header(parser_header_t *header) {
    free_elements(header->elements);
    if (!in_block(header, header->name)) {
        std::free(header->name);
    }
    std::free(header);
}

// A header record made by the parser carries its name in the same allocation.
parser_header_t *new_header(std::string_view name) {
    auto *header =
        static_cast<parser_header_t *>(std::malloc(sizeof(parser_header_t) + name.size() + 1));
    char *text = reinterpret_cast<char *>(header + 1);
    std::memcpy(text, name.data(), name.size());
    text[name.size()] = '\0';
    header->name = text;
    header->elements = nullptr;
    header->last_element = nullptr;
    header->next = nullptr;
    return header;
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

// The bytes that end a run of plain value text in an element: a parameter, a comment, a quoted
// string or an address.
struct ValueStops {
    bool stops[256] = {};
    constexpr ValueStops() {
        for (unsigned char c : {';', '(', '"', '<'}) {
            stops[c] = true;
        }
    }
    constexpr bool operator[](unsigned char c) const { return stops[c]; }
};

constexpr ValueStops kValueStops;

size_t skip_space(std::string_view text, size_t pos) {
    while (pos < text.size() && is_space(text[pos])) {
        ++pos;
    }
    return pos;
}

// A parameter record with room for its attribute and a value of up to value_room characters.
parser_parameter_t *new_parameter(std::string_view attribute, size_t value_room) {
    size_t size = sizeof(parser_parameter_t) + attribute.size() + 1 + value_room + 1;
    auto *parameter = static_cast<parser_parameter_t *>(std::malloc(size));
    char *texts = reinterpret_cast<char *>(parameter + 1);
    std::memcpy(texts, attribute.data(), attribute.size());
    texts[attribute.size()] = '\0';
    parameter->attribute = texts;
    parameter->value = nullptr;
    parameter->next = nullptr;
    return parameter;
}

char *value_room(parser_parameter_t *parameter, std::string_view attribute) {
    return parameter->attribute + attribute.size() + 1;
}

// Finds the end of a quoted parameter value that starts after its opening quote and the length
// it has once its backslashes are dropped. *closed tells whether the closing quote was found.
size_t quoted_end(std::string_view text, size_t pos, size_t *length, bool *closed) {
    *length = 0;
    *closed = false;
    while (pos < text.size()) {
        char c = text[pos];
        if (c == '"') {
            *closed = true;
            return pos + 1;
        }
        if (c == '\\' && pos + 1 < text.size()) {
            ++pos;
        }
        ++*length;
        ++pos;
    }
    return pos;
}

// Copies a quoted value into out: a backslash is dropped and the character after it taken as
// it is.
void unquote(std::string_view text, size_t pos, char *out) {
    while (pos < text.size() && text[pos] != '"') {
        if (text[pos] == '\\' && pos + 1 < text.size()) {
            ++pos;
        }
        *out++ = text[pos++];
    }
    *out = '\0';
}

// RFC822_ElementParse over a text of known length. The value is written to value_out when it
// is given (room for text.size() + 1 characters), else to a new allocation.
int element_parse(parser_element_t *element, std::string_view text, char *value_out) {
    size_t pos = skip_space(text, 0);

    char *value =
        value_out != nullptr ? value_out : static_cast<char *>(std::malloc(text.size() - pos + 1));
    size_t length = 0;
    while (pos < text.size() && text[pos] != ';') {
        // Runs of ordinary bytes are copied whole.
        size_t run = pos;
        while (run < text.size() && !kValueStops[static_cast<unsigned char>(text[run])]) {
            ++run;
        }
        if (run > pos) {
            std::memcpy(value + length, text.data() + pos, run - pos);
            length += run - pos;
            pos = run;
            continue;
        }
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
            size_t close = text.find('>', pos);
            size_t end = close == std::string_view::npos ? text.size() : close + 1;
            std::memcpy(value + length, text.data() + pos, end - pos);
            length += end - pos;
            pos = end;
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
        std::string_view name = text.substr(name_start, pos - name_start);
        while (pos < text.size() && text[pos] != '=' && text[pos] != ';') {
            pos = text[pos] == '(' ? skip_comment(text, pos) : pos + 1;
        }
        if (pos >= text.size() || text[pos] == ';') {
            *tail = new_parameter(name, 0);
            tail = &(*tail)->next;
            continue;
        }
        pos = skip_space(text, pos + 1);
        if (pos < text.size() && text[pos] == '"') {
            size_t quoted_length = 0;
            bool closed = false;
            size_t end = quoted_end(text, pos + 1, &quoted_length, &closed);
            parser_parameter_t *parameter = new_parameter(name, quoted_length);
            parameter->value = value_room(parameter, name);
            unquote(text, pos + 1, parameter->value);
            *tail = parameter;
            tail = &parameter->next;
            pos = end;
            if (!closed) {
                return -1;
            }
        } else {
            size_t value_start = pos;
            while (pos < text.size() && !is_space(text[pos]) && text[pos] != ';') {
                ++pos;
            }
            parser_parameter_t *parameter = new_parameter(name, pos - value_start);
            parameter->value = value_room(parameter, name);
            std::memcpy(parameter->value, text.data() + value_start, pos - value_start);
            parameter->value[pos - value_start] = '\0';
            *tail = parameter;
            tail = &parameter->next;
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

// RFC822_ElementAdd over a text of known length: the element, its text and its value share one
// allocation.
parser_element_t *element_add(parser_header_t *header, int handling, std::string_view text) {
    size_t room = text.size() + 1;
    size_t size = sizeof(parser_element_t) + room + (handling == RFC822_SPLIT ? room : 0);
    auto *element = static_cast<parser_element_t *>(std::malloc(size));
    char *texts = reinterpret_cast<char *>(element + 1);
    std::memcpy(texts, text.data(), text.size());
    texts[text.size()] = '\0';
    element->element = texts;
    element->value = texts;
    element->comment = nullptr;
    element->parameters = nullptr;
    element->next = nullptr;
    if (handling == RFC822_SPLIT) {
        element_parse(element, text, texts + room);
        if (std::strcmp(element->value, texts) == 0) {
            element->value = texts;
        }
    }
    if (header->last_element == nullptr) {
        header->elements = element;
    } else {
        header->last_element->next = element;
    }
    header->last_element = element;
    return element;
}

}  // namespace

int RFC822_HeaderClass(const char *name) {
    if (name == nullptr || *name == '\0') {
        return RFC822_WHOLE;
    }
    return header_class(name);
}

int RFC822_ElementParse(parser_element_t *element, const char *text) {
    return element_parse(element, text == nullptr ? "" : text, nullptr);
}

parser_element_t *RFC822_ElementAdd(parser_header_t *header, int handling, const char *text) {
    return element_add(header, handling, text == nullptr ? "" : text);
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
        prepared = new_header(name);
        header = prepared;
    }
    // Equal names in any letter case have the same handling.
    int handling = header_class(name);

    if (handling == RFC822_WHOLE) {
        pos = skip_space(text, pos);
        element_add(header, handling, text.substr(pos));
    } else {
        for (;;) {
            pos = skip_space(text, pos);
            size_t start = pos;
            bool quoted = false;
            int comment = 0;
            while (pos < text.size()) {
                if (!quoted && comment == 0) {
                    // Outside quotes and comments only these three matter; the line ends in
                    // the NUL written above (a NUL inside the line is an ordinary byte).
                    pos += std::strcspn(line + pos, ",\"(");
                    if (pos >= text.size() || text[pos] == ',') {
                        break;
                    }
                    quoted = text[pos] == '"';
                    comment = text[pos] == '(' ? 1 : 0;
                    ++pos;
                    continue;
                }
                char c = text[pos];
                bool escaped = text[pos - 1] == '\\';
                if (quoted) {
                    quoted = !(c == '"' && !escaped);
                } else if (c == '(' && !escaped) {
                    ++comment;
                } else if (c == ')' && !escaped) {
                    --comment;
                }
                ++pos;
            }
            if (quoted || comment > 0) {
                if (prepared != nullptr) {
                    free_header(prepared);
                }
                return -2;
            }
            bool at_comma = pos < text.size();
            line[pos] = '\0';
            element_add(header, handling, text.substr(start, pos - start));
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
    for (;; ++i) {
        const char *lf = std::strchr(text + i, '\n');
        if (lf == nullptr) {
            i += std::strlen(text + i);
            break;
        }
        i = static_cast<size_t>(lf - text);
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
        if (!in_block(parameters, parameters->attribute)) {
            std::free(parameters->attribute);
        }
        if (!in_block(parameters, parameters->value)) {
            std::free(parameters->value);
        }
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
    // The first letters sort out nearly every header before a whole comparison.
    char first = name != nullptr ? to_lower(*name) : '\0';
    char other_first = other != nullptr ? to_lower(*other) : '\0';
    for (parser_header_t *header = headers; header != nullptr; header = header->next) {
        char letter = header->name != nullptr ? to_lower(*header->name) : '\0';
        if ((letter == first && text_equal_nocase(header->name, name)) ||
            (letter == other_first && text_equal_nocase(header->name, other))) {
            return header;
        }
    }
    return nullptr;
}

parser_header_t *RFC822_FindNth(parser_header_t *headers, const char *name, int n) {
    char first = name != nullptr ? to_lower(*name) : '\0';
    int count = 0;
    for (parser_header_t *header = headers; header != nullptr; header = header->next) {
        char letter = header->name != nullptr ? to_lower(*header->name) : '\0';
        if (letter == first && text_equal_nocase(header->name, name) && ++count == n) {
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
