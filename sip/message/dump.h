// Readable images of the message model and the authorization records, for debugging.
#pragma once

#include <cstdio>

#include "sip/message/http.h"
#include "sip/message/parser.h"

namespace sipline {

// prefix may be null; nest indents nested records by one more space; banner adds BEGIN/END lines.
int parser_dump(FILE *out, const parser_t *message, const char *prefix, int nest, int banner);
void uri_dump(FILE *out, const uri_t *uri, const char *prefix, int nest, int banner);
void uri_nv_dump(FILE *out, const uri_nv_t *nv, const char *prefix, int nest, int banner);
void parser_header_dump(FILE *out, const parser_header_t *header, const char *prefix, int nest,
                        int banner);
void parser_element_dump(FILE *out, const parser_element_t *element, const char *prefix, int nest,
                         int banner);
void parser_parameter_dump(FILE *out, const parser_parameter_t *parameter, const char *prefix,
                           int nest, int banner);
void http_authorization_dump(FILE *out, const http_authorization_t *authorization);
void http_authenticate_dump(FILE *out, const http_authenticate_t *authenticate);

}  // namespace sipline
