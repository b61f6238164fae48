// The SIP message model and its parser: the start line in words, the Request-URI as a uri_t, and
// the header section as headers of comma-separated elements with ;attribute=value parameters.
#pragma once

#include <cstdint>

#include "sip/message/uri.h"

namespace sipline {

struct parser_parameter_t {
    char *attribute;
    char *value;  // without surrounding quotes; null when written without "="
    parser_parameter_t *next;
};

// Elements and parameters that the parser makes hold their texts in the record's own
// allocation: release them only through RFC822_Free / RFC822_ParameterFree, never field by field.
struct parser_element_t {
    char *element;  // the whole text between the commas, leading white space removed
    // Split headers: the part before the first parameter, comments removed, trimmed (owned).
    // Whole headers: the same pointer as element.
    char *value;
    char *comment;  // left null by the parser
    parser_parameter_t *parameters;
    parser_element_t *next;
};

struct parser_header_t {
    char *name;  // as written in its first occurrence
    parser_element_t *elements;
    parser_element_t *last_element;
    parser_header_t *next;
};

// The kinds of message in parser_t::type.
inline constexpr int32_t MESSAGE_NONE = 0;
inline constexpr int32_t MESSAGE_REQUEST = 1;
inline constexpr int32_t MESSAGE_RESPONSE = 2;

struct parser_t {
    int32_t type;  // 0 nothing usable, 1 request, 2 response
    char *method;
    char *URI_string;
    uri_t uri;
    int32_t status;  // -1 until a status is parsed
    char *reason;
    char *protocol;
    char *version;
    char *header_body;  // borrowed: points into the parsed text
    // Distinct names in the reverse order of their first appearance.
    parser_header_t *headers;
    int32_t header_length;  // offset of the body from the start of the text; 0 without headers
};

// How a header's value is stored: split at commas into elements with parameters, or whole.
inline constexpr int RFC822_WHOLE = 0;
inline constexpr int RFC822_SPLIT = 1;

// The text is modified in place (NUL bytes are written into it). 0 on success, -1 on failure; the
// record is filled in both cases and must be released with MessageFree.
int MessageParse(char *text, parser_t *message);
// Deep copy of every field except header_body, which is null in the copy. 0, or -1 when memory
// ran out (the target then holds no headers).
int MessageDuplicate(parser_t *target, const parser_t *source);
// Releases what the record owns; the record itself belongs to its container.
void MessageFree(parser_t *message);

// New copies (release with free()), or null; all safe on a null message.
char *MessageGetMethod(const parser_t *message);
char *MessageGetReason(const parser_t *message);
char *MessageGetProtocol(const parser_t *message);
char *MessageGetVersion(const parser_t *message);
// Shares the record's strings.
uri_t MessageGetURI(const parser_t *message);
int32_t MessageGetStatus(const parser_t *message);

// Parses the header section up to the empty line. *length (when given) receives the offset just
// past the empty line, or where the walk stopped. The result is that of the last line parsed.
int RFC822_Parse(char *text, int32_t *length, parser_header_t **headers);
// One logical header line of the given length, merged into *headers. 0, -1 (no ":"), -2
// (unclosed quote or comment in a split header).
int RFC822_HeaderLine(char *line, int32_t length, parser_header_t **headers);
// RFC822_SPLIT or RFC822_WHOLE for a header name.
int RFC822_HeaderClass(const char *name);
parser_element_t *RFC822_ElementAdd(parser_header_t *header, int handling, const char *text);
// Fills element->value and element->parameters from text. 0, or -1 on a malformed parameter part
// (the parameters read so far stay).
int RFC822_ElementParse(parser_element_t *element, const char *text);
int RFC822_Duplicate(parser_header_t **target, const parser_header_t *source);
int RFC822_ParameterDuplicate(parser_parameter_t **target, const parser_parameter_t *source);
void RFC822_Free(parser_header_t *headers);
void RFC822_ParameterFree(parser_parameter_t *parameters);
parser_header_t *RFC822_Find(parser_header_t *headers, const char *name);
parser_header_t *RFC822_FindEither(parser_header_t *headers, const char *name, const char *other);
// Counting from 1; since equal names are merged only n = 1 can find anything.
parser_header_t *RFC822_FindNth(parser_header_t *headers, const char *name, int n);
// The index-th element's value (index 0 is the first), or with an attribute that element's
// parameter value. The record's own strings; null when absent.
char *RFC822_ElementValue(parser_header_t *header, int index, const char *attribute);
// "" for a parameter without value, null when there is no such parameter.
char *RFC822_ParameterValue(parser_parameter_t *parameters, const char *attribute);

}  // namespace sipline
