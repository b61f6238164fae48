// A compact text image of parsed headers for table-driven tests:
// one line per header, "Name: value{attr=value,attr}|value2".
#pragma once

#include <string>

#include "sip/message/parser.h"

namespace sipline {

inline std::string describe(const parser_header_t *headers) {
    std::string out;
    for (const parser_header_t *h = headers; h != nullptr; h = h->next) {
        out += h->name;
        out += ":";
        for (const parser_element_t *e = h->elements; e != nullptr; e = e->next) {
            if (e != h->elements) {
                out += "|";
            }
            out += e->value == nullptr ? "(null)" : e->value;
            if (e->parameters != nullptr) {
                out += "{";
                for (const parser_parameter_t *p = e->parameters; p != nullptr; p = p->next) {
                    if (p != e->parameters) {
                        out += ",";
                    }
                    out += p->attribute;
                    if (p->value != nullptr) {
                        out += "=";
                        out += p->value;
                    }
                }
                out += "}";
            }
        }
        out += "\n";
    }
    return out;
}

}  // namespace sipline
