#include "sip/uas/access_log.h"

#include <arpa/inet.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "sip/uas/request.h"
#include "support/dstring.h"
#include "support/error.h"

namespace sipline {

namespace {

enum item_code : int32_t {
    ITEM_LITERAL = 1,
    ITEM_PID = 2,
    ITEM_ENVIRONMENT = 3,
    ITEM_TIME = 4,
    ITEM_USER = 5,
    ITEM_HOST = 6,
    ITEM_ADDRESS = 7,
    ITEM_REQUEST_LINE = 8,
    ITEM_URI = 9,
    ITEM_REQUEST_HEADER = 10,
    ITEM_STATUS = 11,
    ITEM_RESPONSE_HEADER = 12,
    ITEM_DURATION = 13,
};

struct directive_t {
    char letter;
    item_code code;
};

constexpr directive_t kDirectives[] = {
    {'p', ITEM_PID},
    {'e', ITEM_ENVIRONMENT},
    {'t', ITEM_TIME},
    {'u', ITEM_USER},
    {'h', ITEM_HOST},
    {'a', ITEM_ADDRESS},
    {'r', ITEM_REQUEST_LINE},
    {'U', ITEM_URI},
    {'i', ITEM_REQUEST_HEADER},
    {'s', ITEM_STATUS},
    {'o', ITEM_RESPONSE_HEADER},
    {'T', ITEM_DURATION},
};

constexpr const char *kDefaultFormat = "%h %u %t \"%r\" %s";

struct item_t {
    item_code code;
    std::optional<std::string> value;  // literal text, or the brace argument
};

struct destination_t {
    FILE *stream;
    int32_t is_pipe;
    std::vector<item_t> items;
};

// The destination table; every use holds log_mutex, which a function-local static makes safe
// to create for the first two callers at once.
std::mutex &log_mutex() {
    static std::mutex mutex;
    return mutex;
}
std::vector<destination_t> &destinations() {
    static std::vector<destination_t> table;
    return table;
}

void add_literal(std::vector<item_t> &items, std::string &literal) {
    if (!literal.empty()) {
        items.push_back({ITEM_LITERAL, literal});
        literal.clear();
    }
}

std::vector<item_t> compile(const std::string &format) {
    std::vector<item_t> items;
    std::string literal;
    size_t i = 0;
    while (i < format.size()) {
        char c = format[i];
        if (c == '\\') {
            if (i + 1 >= format.size()) {
                break;
            }
            char next = format[i + 1];
            literal += next == 'n' ? '\n' : next == 't' ? '\t' : next;
            i += 2;
        } else if (c == '%') {
            add_literal(items, literal);
            i++;
            std::string argument;
            if (i < format.size() && format[i] == '{') {
                size_t close = format.find('}', i + 1);
                if (close == std::string::npos) {
                    break;
                }
                argument = format.substr(i + 1, close - i - 1);
                i = close + 1;
            }
            if (i >= format.size()) {
                break;
            }
            char letter = format[i++];
            for (const directive_t &d : kDirectives) {
                if (d.letter == letter) {
                    items.push_back({d.code, argument.empty()
                                                 ? std::nullopt
                                                 : std::optional<std::string>(argument)});
                    break;
                }
            }
        } else {
            literal += c;
            i++;
        }
    }
    add_literal(items, literal);
    return items;
}

const char *text(const char *s) {
    return s != nullptr ? s : "";
}

void render_time(dstring_t *line, const std::optional<std::string> &argument) {
    time_t now = time(nullptr);
    struct tm local;
    localtime_r(&now, &local);
    dstring_t part;
    dstring_init(&part);
    if (argument) {
        dstring_strftime_tm(&part, argument->c_str(), &local);
    } else {
        dstring_strftime_tm(&part, "[%d/%b/%Y:%T", &local);
        int offset = GmtOffset();
        char sign = offset < 0 ? '-' : '+';
        int minutes = offset < 0 ? -offset : offset;
        dstring_printf(&part, " %c%.2d%.2d]", sign, minutes / 60, minutes % 60);
    }
    dstring_append(line, dstring_value(&part), dstring_length(&part));
    dstring_free(&part);
}

void render(dstring_t *line, const item_t &item, request_t *r) {
    const parser_t &message = r->message;
    switch (item.code) {
        case ITEM_LITERAL:
            dstring_append(line, item.value->c_str(), static_cast<int32_t>(item.value->size()));
            break;
        case ITEM_PID:
            dstring_printf(line, "%ld", static_cast<long>(getpid()));
            break;
        case ITEM_ENVIRONMENT:
            if (item.value) {
                if (const char *value = getenv(item.value->c_str())) {
                    dstring_append(line, value, -1);
                }
            }
            break;
        case ITEM_TIME:
            render_time(line, item.value);
            break;
        case ITEM_USER:
            dstring_append(line,
                           r->authorization != nullptr && r->authorization->userid != nullptr
                               ? r->authorization->userid
                               : "-",
                           -1);
            break;
        case ITEM_HOST:
        case ITEM_ADDRESS: {
            char address[INET_ADDRSTRLEN];
            inet_ntop(AF_INET, &r->destination.sin_addr, address, sizeof address);
            dstring_append(line, address, -1);
            break;
        }
        case ITEM_REQUEST_LINE:
            dstring_append(line, text(message.method), -1);
            dstring_append(line, " ", 1);
            dstring_append(line, text(message.URI_string), -1);
            dstring_append(line, " ", 1);
            dstring_append(line, text(message.protocol), -1);
            dstring_append(line, "/", 1);
            dstring_append(line, text(message.version), -1);
            break;
        case ITEM_URI:
            dstring_append(line, text(message.URI_string), -1);
            break;
        case ITEM_REQUEST_HEADER:
            if (item.value) {
                parser_header_t *header = RFC822_Find(message.headers, item.value->c_str());
                for (parser_element_t *e = header != nullptr ? header->elements : nullptr;
                     e != nullptr; e = e->next) {
                    if (e != header->elements) {
                        dstring_append(line, ",", 1);
                    }
                    dstring_append(line, text(e->value), -1);
                }
            }
            break;
        case ITEM_STATUS:
            dstring_printf(line, "%d", r->status);
            break;
        case ITEM_RESPONSE_HEADER:
            if (item.value) {
                header_t *iterator = nullptr;
                do {
                    const char *value = headers_get(&r->headers, item.value->c_str(), 1, &iterator);
                    if (iterator != nullptr) {
                        dstring_append(line, value, -1);
                    }
                } while (iterator != nullptr);
            }
            break;
        case ITEM_DURATION:
            dstring_printf(line, "%.2f", time_now() - r->created);
            break;
    }
}

}  // namespace

int GmtOffset() {
    time_t now = time(nullptr);
    struct tm utc;
    struct tm local;
    gmtime_r(&now, &utc);
    localtime_r(&now, &local);
    int days = local.tm_yday - utc.tm_yday;
    int hours = (days < -1 ? 24 : days > 1 ? -24 : days * 24) + local.tm_hour - utc.tm_hour;
    return hours * 60 + local.tm_min - utc.tm_min;
}

namespace {

// A destination opened and its format compiled; none when the file or pipe cannot be opened.
std::optional<destination_t> open_destination(const char *name, const char *format) {
    if (name == nullptr) {
        Error("LogInit", "Invalid file name");
        return std::nullopt;
    }
    destination_t destination{};
    if (name[0] == '|') {
        destination.stream = popen(name + 1, "w");
        destination.is_pipe = 1;
        if (destination.stream == nullptr) {
            Error("LogInit", "Could not open log pipe %s", name);
            return std::nullopt;
        }
    } else {
        destination.stream = fopen(name, "a+");
        if (destination.stream == nullptr) {
            Error("LogInit", "Could not open log file %s", name);
            return std::nullopt;
        }
    }
    setvbuf(destination.stream, nullptr, _IOLBF, 0);
    destination.items = compile(format != nullptr && *format != '\0' ? format : kDefaultFormat);
    return destination;
}

void close_destination(destination_t &destination) {
    int result = destination.is_pipe ? pclose(destination.stream) : fclose(destination.stream);
    if (result != 0) {
        Error("LogClose", "Could not close log file");
    }
}

}  // namespace

void LogInit(const char *name, const char *format) {
    std::optional<destination_t> destination = open_destination(name, format);
    if (!destination) {
        return;
    }
    std::lock_guard<std::mutex> lock(log_mutex());
    destinations().push_back(std::move(*destination));
}

int LogReplace(const char *name, const char *format) {
    std::vector<destination_t> replaced;
    if (name != nullptr && *name != '\0') {
        std::optional<destination_t> destination = open_destination(name, format);
        if (!destination) {
            return -1;
        }
        replaced.push_back(std::move(*destination));
    }
    {
        std::lock_guard<std::mutex> lock(log_mutex());
        destinations().swap(replaced);
    }
    // A pipe's command may take its time to end: not while the request threads wait to log.
    for (destination_t &destination : replaced) {
        close_destination(destination);
    }
    return 0;
}

void LogRequest(request_t *r) {
    if (r == nullptr || r->status < 200) {
        return;
    }
    std::lock_guard<std::mutex> lock(log_mutex());
    dstring_t line;
    dstring_init(&line);
    for (destination_t &destination : destinations()) {
        dstring_reset(&line);
        for (const item_t &item : destination.items) {
            render(&line, item, r);
        }
        fprintf(destination.stream, "%s\n", text(dstring_value(&line)));
    }
    dstring_free(&line);
}

void LogNote(const char *note) {
    if (note == nullptr) {
        return;
    }
    std::lock_guard<std::mutex> lock(log_mutex());
    dstring_t line;
    dstring_init(&line);
    for (destination_t &destination : destinations()) {
        dstring_reset(&line);
        dstring_append(&line, "- - ", 4);
        render_time(&line, std::nullopt);
        dstring_append(&line, " ", 1);
        dstring_append(&line, note, -1);
        fprintf(destination.stream, "%s\n", text(dstring_value(&line)));
    }
    dstring_free(&line);
}

void LogClose() {
    std::lock_guard<std::mutex> lock(log_mutex());
    for (destination_t &destination : destinations()) {
        close_destination(destination);
    }
    destinations().clear();
}

}  // namespace sipline
