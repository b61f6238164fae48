// SIP and hierarchical URIs (RFC 3261 section 19.1, RFC 2396), parsed by one table-driven scanner.
#pragma once

#include <cstdint>

#include "support/dstring.h"

namespace sipline {

// One URI parameter or header. A parameter written without "=" has a null value.
struct uri_nv_t {
    char *name;
    char *value;
};

// Every text is owned and null when absent. Each array ends with an entry whose name is null; a
// URI without parameters (or headers) has no array at all.
struct uri_t {
    char *scheme;  // "*" for the URI that is "*" alone
    char *user;
    char *password;
    char *host;
    int32_t port;  // 0 when absent
    char *path;    // hierarchical form only
    char *search;  // query after a path
    uri_nv_t *parameters;
    uri_nv_t *headers;
};

uri_t URI_Parse(const char *text);
uri_t URI_Duplicate(const uri_t *uri);
// Releases every text and both arrays; the fields are null afterwards.
void URI_Free(uri_t *uri);
// Empties the string, then writes the URI; dotted non-zero prints the host's resolved address.
void URI_Print(const uri_t *uri, dstring_t *ds, int dotted);
// 1 when both name the same resource, else 0. Passwords, parameters and headers are not compared.
int URI_Compare(const uri_t *a, const uri_t *b);
// Parses at most the first 127 characters and prints the result with the dotted host.
void URI_Canonical(const char *text, dstring_t *ds);
// Trace print on standard output.
void URI_Dump(const char *scheme, const char *user, const char *password, const char *host,
              int32_t port, const char *path, const char *search, const uri_nv_t *parameters,
              const uri_nv_t *headers);

}  // namespace sipline
