// The ordered header lines of an outgoing message, printed as "%s: %s\r\n" lines. Name
// comparisons are ASCII case-insensitive.
#pragma once

#include <cstdint>

#include "sip/message/parser.h"
#include "support/dstring.h"

namespace sipline {

struct header_t {
    const char *name;  // not owned: callers pass literals or names that outlive the list
    char *value;       // owned
    header_t *next;
};

struct header_list_t {
    header_t *first;
    header_t *last;
};

// Nothing is added when name or value is null.
void headers_add(header_list_t *list, const char *name, const char *value);
// Replaces the first line of that name and removes the later ones; adds a line if there is none.
void headers_set(header_list_t *list, const char *name, const char *value);
// From the line after start (or the head when start is null), lines of that name are counted from
// 0; a negative index removes all of them, otherwise only the one with that count.
void headers_remove(header_list_t *list, const char *name, header_t *start, int index);
void headers_remove_all(header_list_t *list, const char *name);
void headers_remove_first(header_list_t *list, const char *name);
// Non-zero replace: headers_set, else headers_add.
void headers_printf(header_list_t *list, int replace, const char *name, const char *format, ...)
    __attribute__((format(printf, 4, 5)));
// time 0 means now; local non-zero selects local time.
void headers_add_time(header_list_t *list, const char *name, const char *format, int32_t time,
                      int local);
header_t *headers_push_front(header_list_t *list, const char *name, const char *value);
// The n-th line of that name (from 1) after *iterator (from the head when null); sets *iterator
// to it. At the end of the list: *iterator null and an empty text.
const char *headers_get(header_list_t *list, const char *name, int n, header_t **iterator);
// Every source line whose name differs from name (all when name is null), in source order.
void headers_copy_except(header_list_t *destination, const header_list_t *source, const char *name);
// One line per element of each parsed header, headers in the order of their first appearance.
// The lines borrow the parsed headers' names: the parsed message must outlive the list.
void headers_add_message(header_list_t *destination, const parser_header_t *headers);
void headers_print(dstring_t *ds, const header_list_t *list);
void headers_free(header_list_t *list);

}  // namespace sipline
