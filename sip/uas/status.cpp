#include "sip/uas/status.h"

#include <mutex>

namespace sipline {

const char *StatusText[STATUS_MAX + 1];

namespace {

struct status_entry {
    int code;
    const char *reason;
};

constexpr status_entry kStatusTable[] = {
    {100, "Trying"},
    {180, "Ringing"},
    {181, "Call Is Being Forwarded"},
    {182, "Queued"},
    {200, "OK"},
    {201, "Created"},
    {300, "Multiple Choices"},
    {301, "Moved Permanently"},
    {302, "Moved Temporarily"},
    {305, "Use Proxy"},
    {380, "Alternative Service"},
    {400, "Bad Request"},
    {401, "Unauthorized"},
    {402, "Payment Required"},
    {403, "Forbidden"},
    {404, "Not Found"},
    {405, "Method Not Allowed"},
    {406, "Not Acceptable"},
    {407, "Proxy Authentication Required"},
    {408, "Request Time-out"},
    {409, "Conflict"},
    {410, "Gone"},
    {411, "Length Required"},
    {412, "Precondition Failed"},
    {413, "Request Entity Too Large"},
    {414, "Request-URI Too Large"},
    {415, "Unsupported Media Type"},
    {420, "Bad Extension"},
    {422, "Session Interval Too Small"},
    {480, "Temporarily unavailable"},
    {481, "Invalid Call-ID"},
    {482, "Loop detected"},
    {483, "Too many hops"},
    {484, "Address incomplete"},
    {485, "Ambiguous"},
    {486, "Busy here"},
    {487, "Request Terminated"},
    {488, "Not Acceptable Here"},
    {491, "Request Pending"},
    {500, "Internal Server Error"},
    {501, "Not Implemented"},
    {502, "Bad Gateway"},
    {503, "Service Unavailable"},
    {504, "Gateway Time-out"},
    {505, "SIP Version not supported"},
    {600, "Busy"},
    {603, "Decline"},
    {604, "Does Not Exist Anywhere"},
    {606, "Not Acceptable"},
};

}  // namespace

void StatusTextInit() {
    // Several threads (the gateway's start-up and a test) may ask; the table is written once.
    static std::once_flag filled;
    std::call_once(filled, [] {
        for (const status_entry &entry : kStatusTable) {
            StatusText[entry.code] = entry.reason;
        }
    });
}

}  // namespace sipline
