#include "sip/message/dump.h"

#include <cstring>
#include <string>

namespace sipline {

namespace {

constexpr size_t kMaxIndent = 21;

// The prefix a printer works with: nesting adds one space, up to kMaxIndent characters.
std::string working_prefix(const char *prefix, int nest) {
    std::string result = prefix == nullptr ? "" : prefix;
    if (nest != 0 && result.size() < kMaxIndent) {
        result.push_back(' ');
    }
    return result;
}

struct Printer {
    FILE *out;
    const std::string &prefix;

    void text(const char *name, const char *value) const {
        if (value == nullptr) {
            std::fprintf(out, "%s%s:NULL\n", prefix.c_str(), name);
        } else {
            std::fprintf(out, "%s%s:%s\n", prefix.c_str(), name, value);
        }
    }
    void integer(const char *name, int value) const {
        if (value == 0) {
            std::fprintf(out, "%s%s:NULL\n", prefix.c_str(), name);
        } else {
            std::fprintf(out, "%s%s:%d\n", prefix.c_str(), name, value);
        }
    }
    void pointer(const char *name, const void *value) const {
        if (value == nullptr) {
            std::fprintf(out, "%s%s:NULL\n", prefix.c_str(), name);
        } else {
            std::fprintf(out, "%s%s:%p\n", prefix.c_str(), name, value);
        }
    }
    void begin(int banner, const char *type) const {
        if (banner != 0) {
            std::fprintf(out, "%s====== BEGIN %s =====\n", prefix.c_str(), type);
        }
    }
    void end(int banner, const char *type) const {
        if (banner != 0) {
            std::fprintf(out, "%s====== END %s =====\n", prefix.c_str(), type);
        }
    }
    void null(const char *type) const {
        std::fprintf(out, "%s%s * is NULL\n", prefix.c_str(), type);
    }
};

void plain_text(FILE *out, const char *name, const char *value) {
    std::fprintf(out, "%s:%s\n", name, value == nullptr ? "NULL" : value);
}

}  // namespace

int parser_dump(FILE *out, const parser_t *message, const char *prefix, int nest, int banner) {
    std::string indent = working_prefix(prefix, nest);
    Printer print{out, indent};
    print.begin(banner, "parser_t");
    if (message == nullptr) {
        print.null("parser_t");
    } else {
        print.integer("type", message->type);
        print.text("method", message->method);
        print.text("URI_string", message->URI_string);
        uri_dump(out, &message->uri, indent.c_str(), nest, banner);
        print.integer("status", message->status);
        print.text("reason", message->reason);
        print.text("protocol", message->protocol);
        print.text("version", message->version);
        print.text("header_body", message->header_body);
        print.pointer("headers", message->headers);
        print.integer("header_length", message->header_length);
        for (const parser_header_t *header = message->headers; header != nullptr;
             header = header->next) {
            parser_header_dump(out, header, indent.c_str(), 1, banner);
        }
    }
    print.end(banner, "parser_t");
    return std::fflush(out);
}

void uri_dump(FILE *out, const uri_t *uri, const char *prefix, int nest, int banner) {
    std::string indent = working_prefix(prefix, nest);
    Printer print{out, indent};
    print.begin(banner, "uri_t");
    if (uri == nullptr) {
        print.null("uri_t");
    } else {
        print.text("scheme", uri->scheme);
        print.text("user", uri->user);
        print.text("password", uri->password);
        print.text("host", uri->host);
        print.integer("port", uri->port);
        print.text("path", uri->path);
        print.text("search", uri->search);
        uri_nv_dump(out, uri->parameters, indent.c_str(), nest, banner);
        uri_nv_dump(out, uri->headers, indent.c_str(), nest, banner);
    }
    print.end(banner, "uri_t");
    std::fflush(out);
}

void uri_nv_dump(FILE *out, const uri_nv_t *nv, const char *prefix, int nest, int banner) {
    std::string indent = working_prefix(prefix, nest);
    Printer print{out, indent};
    print.begin(banner, "uri_nv_t");
    if (nv == nullptr) {
        print.null("uri_nv_t");
    } else {
        print.text("name", nv->name);
        print.text("value", nv->value);
    }
    print.end(banner, "uri_nv_t");
    std::fflush(out);
}

void parser_header_dump(FILE *out, const parser_header_t *header, const char *prefix, int nest,
                        int banner) {
    std::string indent = working_prefix(prefix, nest);
    Printer print{out, indent};
    print.begin(banner, "parser_header_t");
    if (header == nullptr) {
        print.null("parser_header_t");
    } else {
        print.text("name", header->name);
        print.pointer("elements", header->elements);
        print.pointer("last_element", header->last_element);
        print.pointer("next", header->next);
        for (const parser_element_t *element = header->elements; element != nullptr;
             element = element->next) {
            parser_element_dump(out, element, indent.c_str(), 1, banner);
        }
    }
    print.end(banner, "parser_header_t");
    std::fflush(out);
}

void parser_element_dump(FILE *out, const parser_element_t *element, const char *prefix, int nest,
                         int banner) {
    std::string indent = working_prefix(prefix, nest);
    Printer print{out, indent};
    print.begin(banner, "parser_element_t");
    if (element == nullptr) {
        std::fprintf(out, "%s * is NULL\n", "parser_element_t");
    } else {
        print.text("element", element->element);
        print.text("value", element->value);
        print.text("comment", element->comment);
        print.pointer("parameters", element->parameters);
        print.pointer("next", element->next);
        for (const parser_parameter_t *parameter = element->parameters; parameter != nullptr;
             parameter = parameter->next) {
            parser_parameter_dump(out, parameter, indent.c_str(), 1, banner);
        }
    }
    print.end(banner, "parser_element_t");
    std::fflush(out);
}

void parser_parameter_dump(FILE *out, const parser_parameter_t *parameter, const char *prefix,
                           int nest, int banner) {
    std::string indent = working_prefix(prefix, nest);
    Printer print{out, indent};
    print.begin(banner, "parser_parameter_t");
    if (parameter == nullptr) {
        print.null("parser_parameter_t");
    } else {
        print.text("attribute", parameter->attribute);
        print.text("value", parameter->value);
        print.pointer("next", parameter->next);
    }
    print.end(banner, "parser_parameter_t");
    std::fflush(out);
}

void http_authorization_dump(FILE *out, const http_authorization_t *authorization) {
    std::fprintf(out, "\n====== BEGIN http_authorization_t =====\n");
    if (authorization == nullptr) {
        std::fprintf(out, "http_authorization_t * is NULL\n");
    } else {
        const http_authorization_t &a = *authorization;
        const std::pair<const char *, const char *> fields[] = {
            {"method", a.method},
            {"http_method", a.http_method},
            {"userid", a.userid},
            {"password", a.password},
            {"realm", a.realm},
            {"nonce", a.nonce},
            {"digest_uri", a.digest_uri},
            {"response_digest", a.response_digest},
            {"entity_digest", a.entity_digest},
            {"opaque", a.opaque},
            {"algorithm", a.algorithm},
            {"version", a.version},
            {"signed_by", a.signed_by},
            {"signature", a.signature},
        };
        for (const auto &[name, value] : fields) {
            plain_text(out, name, value);
        }
        if (a.valid == 0) {
            std::fprintf(out, "valid:NULL\n");
        } else {
            std::fprintf(out, "valid:%d\n", a.valid);
        }
    }
    std::fprintf(out, "====== END http_authorization_t =====\n");
    std::fflush(out);
}

void http_authenticate_dump(FILE *out, const http_authenticate_t *authenticate) {
    std::fprintf(out, "\n====== BEGIN http_authenticate_t =====\n");
    if (authenticate == nullptr) {
        std::fprintf(out, "http_authenticate_t * is NULL\n");
    } else {
        const http_authenticate_t &a = *authenticate;
        const std::pair<const char *, const char *> fields[] = {
            {"method", a.method}, {"http_method", a.http_method},
            {"realm", a.realm},   {"domain", a.domain},
            {"nonce", a.nonce},   {"opaque", a.opaque},
            {"stale", a.stale},   {"algorithm", a.algorithm},
        };
        for (const auto &[name, value] : fields) {
            plain_text(out, name, value);
        }
    }
    std::fprintf(out, "====== END http_authenticate_t =====\n");
    std::fflush(out);
}

}  // namespace sipline
