#include "service/http_server.h"

#include <arpa/inet.h>
#include <microhttpd.h>

#include <cerrno>
#include <cstring>
#include <string_view>

namespace sipline {
namespace {

// Slow or idle clients are cut off, and a few connections are enough for a scraper and a
// browser: the server must never hold the gateway's resources for a stranger.
constexpr unsigned CONNECTION_LIMIT = 16;
constexpr unsigned CONNECTION_TIMEOUT_S = 10;

MHD_Result queue(MHD_Connection *connection, const http_answer_t &answer) {
    // MHD_RESPMEM_MUST_COPY: the body is freed by libmicrohttpd when the response is done.
    MHD_Response *response = MHD_create_response_from_buffer(
        answer.body.size(), const_cast<char *>(answer.body.data()), MHD_RESPMEM_MUST_COPY);
    if (response == nullptr) {
        return MHD_NO;
    }
    if (!answer.content_type.empty()) {
        MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE,
                                answer.content_type.c_str());
    }
    MHD_add_response_header(response, MHD_HTTP_HEADER_CACHE_CONTROL, "no-store");
    if (answer.status == MHD_HTTP_METHOD_NOT_ALLOWED) {
        MHD_add_response_header(response, MHD_HTTP_HEADER_ALLOW, "GET, HEAD");
    }
    const MHD_Result queued =
        MHD_queue_response(connection, static_cast<unsigned>(answer.status), response);
    MHD_destroy_response(response);
    return queued;
}

MHD_Result on_request(void *context, MHD_Connection *connection, const char *url,
                      const char *method, const char *, const char *, size_t *upload_size,
                      void **) {
    const auto &on_get = *static_cast<const http_server::handler *>(context);
    const std::string_view verb = method != nullptr ? method : "";
    if (verb != MHD_HTTP_METHOD_GET && verb != MHD_HTTP_METHOD_HEAD) {
        // A body is not read: the connection is closed after the answer.
        *upload_size = 0;
        return queue(connection, {MHD_HTTP_METHOD_NOT_ALLOWED, "text/plain", "GET only\n"});
    }
    return queue(connection, on_get(url != nullptr ? url : "/"));
}

}  // namespace

http_server::~http_server() {
    stop();
}

int http_server::start(const std::string &listen, handler on_get, std::string *error) {
    const size_t colon = listen.rfind(':');
    sockaddr_in address{};
    address.sin_family = AF_INET;
    if (colon == std::string::npos ||
        inet_pton(AF_INET, listen.substr(0, colon).c_str(), &address.sin_addr) != 1) {
        *error = listen + ": not an address:port";
        return -1;
    }
    address.sin_port = htons(static_cast<uint16_t>(std::stoi(listen.substr(colon + 1))));
    on_get_ = std::move(on_get);
    errno = 0;
    daemon_ = MHD_start_daemon(
        MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_POLL, ntohs(address.sin_port), nullptr, nullptr,
        on_request, &on_get_, MHD_OPTION_SOCK_ADDR, &address, MHD_OPTION_CONNECTION_LIMIT,
        CONNECTION_LIMIT, MHD_OPTION_CONNECTION_TIMEOUT, CONNECTION_TIMEOUT_S, MHD_OPTION_END);
    if (daemon_ == nullptr) {
        *error = listen + ": " + (errno != 0 ? std::strerror(errno) : "cannot listen");
        return -1;
    }
    return 0;
}

void http_server::stop() {
    if (daemon_ != nullptr) {
        MHD_stop_daemon(daemon_);
        daemon_ = nullptr;
    }
}

}  // namespace sipline
