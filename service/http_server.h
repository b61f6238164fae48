// The embedded HTTP server of the metrics and the status page: libmicrohttpd behind one RAII
// owner, answering GET and HEAD from a handler; other methods get 405.
#pragma once

#include <functional>
#include <string>

struct MHD_Daemon;

namespace sipline {

struct http_answer_t {
    int status = 200;
    std::string content_type;
    std::string body;
};

class http_server {
  public:
    // The answer to a GET of `path` (without its query); from the server's own thread.
    using handler = std::function<http_answer_t(const std::string &path)>;

    http_server() = default;
    ~http_server();
    http_server(const http_server &) = delete;
    http_server &operator=(const http_server &) = delete;

    // listen: "a.b.c.d:port". 0, or -1 with the reason in *error.
    int start(const std::string &listen, handler on_get, std::string *error);
    void stop();

  private:
    MHD_Daemon *daemon_ = nullptr;
    handler on_get_;  // set before the daemon starts, read by its thread only
};

}  // namespace sipline
