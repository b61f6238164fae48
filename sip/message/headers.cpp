#include "sip/message/headers.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

#include "sip/message/text.h"

namespace sipline {

namespace {

header_t *new_line(const char *name, char *value) {
    auto *line = static_cast<header_t *>(std::calloc(1, sizeof(header_t)));
    line->name = name;
    line->value = value;
    return line;
}

void append_line(header_list_t *list, header_t *line) {
    if (list->last == nullptr) {
        list->first = line;
    } else {
        list->last->next = line;
    }
    list->last = line;
}

bool same_name(const header_t *line, const char *name) {
    return text_equal_nocase(line->name, name);
}

}  // namespace

void headers_add(header_list_t *list, const char *name, const char *value) {
    if (name == nullptr || value == nullptr) {
        return;
    }
    append_line(list, new_line(name, text_copy(value)));
}

void headers_set(header_list_t *list, const char *name, const char *value) {
    if (name == nullptr || value == nullptr) {
        return;
    }
    for (header_t *line = list->first; line != nullptr; line = line->next) {
        if (same_name(line, name)) {
            std::free(line->value);
            line->value = text_copy(value);
            headers_remove(list, name, line, -1);
            return;
        }
    }
    headers_add(list, name, value);
}

void headers_remove(header_list_t *list, const char *name, header_t *start, int index) {
    header_t *previous = start;
    header_t *line = start == nullptr ? list->first : start->next;
    int count = 0;
    while (line != nullptr) {
        header_t *next = line->next;
        if (!same_name(line, name)) {
            previous = line;
            line = next;
            continue;
        }
        bool remove = index < 0 || count == index;
        ++count;
        if (!remove) {
            previous = line;
            line = next;
            continue;
        }
        if (previous == nullptr) {
            list->first = next;
        } else {
            previous->next = next;
        }
        if (list->last == line) {
            list->last = previous;
        }
        std::free(line->value);
        std::free(line);
        line = next;
        if (index >= 0) {
            return;
        }
    }
}

void headers_remove_all(header_list_t *list, const char *name) {
    headers_remove(list, name, nullptr, -1);
}

void headers_remove_first(header_list_t *list, const char *name) {
    headers_remove(list, name, nullptr, 0);
}

void headers_printf(header_list_t *list, int replace, const char *name, const char *format, ...) {
    // A value of PRINTF_MAX characters or more is cut rather than written past the buffer.
    char value[PRINTF_MAX];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(value, sizeof value, format, arguments);
    va_end(arguments);
    if (replace != 0) {
        headers_set(list, name, value);
    } else {
        headers_add(list, name, value);
    }
}

void headers_add_time(header_list_t *list, const char *name, const char *format, int32_t time,
                      int local) {
    if (name == nullptr) {
        return;
    }
    dstring_t ds;
    dstring_init(&ds);
    dstring_strftime(&ds, format, time, local);
    char *value = dstring_value(&ds);
    append_line(list, new_line(name, value != nullptr ? value : text_copy("")));
}

header_t *headers_push_front(header_list_t *list, const char *name, const char *value) {
    header_t *line = new_line(name, text_copy(value == nullptr ? "" : value));
    line->next = list->first;
    list->first = line;
    if (list->last == nullptr) {
        list->last = line;
    }
    return line;
}

const char *headers_get(header_list_t *list, const char *name, int n, header_t **iterator) {
    header_t *line = *iterator == nullptr ? list->first : (*iterator)->next;
    int count = 0;
    for (; line != nullptr; line = line->next) {
        if (same_name(line, name) && ++count == n) {
            *iterator = line;
            return line->value;
        }
    }
    *iterator = nullptr;
    return "";
}

void headers_copy_except(header_list_t *destination, const header_list_t *source,
                         const char *name) {
    for (const header_t *line = source->first; line != nullptr; line = line->next) {
        if (name == nullptr || !same_name(line, name)) {
            headers_add(destination, line->name, line->value);
        }
    }
}

void headers_add_message(header_list_t *destination, const parser_header_t *headers) {
    std::vector<const parser_header_t *> reversed;
    for (const parser_header_t *header = headers; header != nullptr; header = header->next) {
        reversed.push_back(header);
    }
    for (auto it = reversed.rbegin(); it != reversed.rend(); ++it) {
        for (const parser_element_t *element = (*it)->elements;
             element != nullptr && element->element != nullptr; element = element->next) {
            headers_add(destination, (*it)->name, element->element);
        }
    }
}

void headers_print(dstring_t *ds, const header_list_t *list) {
    for (const header_t *line = list->first; line != nullptr; line = line->next) {
        // Appended piecewise: a value may be longer than one formatted append allows.
        dstring_append(ds, line->name, -1);
        dstring_append(ds, ": ", 2);
        dstring_append(ds, line->value, -1);
        dstring_append(ds, "\r\n", 2);
    }
}

void headers_free(header_list_t *list) {
    header_t *line = list->first;
    while (line != nullptr) {
        header_t *next = line->next;
        std::free(line->value);
        std::free(line);
        line = next;
    }
    list->first = nullptr;
    list->last = nullptr;
}

}  // namespace sipline
