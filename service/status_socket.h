// The status socket: a Unix stream socket where the running gateway answers one request per
// connection (service/status_request.h) with text, and the client side `sipline status` uses.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <thread>

namespace sipline {

class status_socket {
  public:
    // The text for a request (one of STATUS_REQUEST_*), from the socket's thread.
    using handler = std::function<std::string(int32_t request)>;

    status_socket() = default;
    ~status_socket();
    status_socket(const status_socket &) = delete;
    status_socket &operator=(const status_socket &) = delete;

    // Binds `path` (a stale socket file left by an ended gateway is replaced; one a running
    // gateway answers at is not) and starts the thread. 0, or -1 with the reason in *error.
    int start(const std::string &path, handler on_request, std::string *error);
    // Ends the thread and removes the socket file.
    void stop();

  private:
    void serve();
    void answer(int client);

    std::string path_;
    handler on_request_;  // set before the thread starts
    int listener_ = -1;
    int wake_[2] = {-1, -1};  // a byte in wake_[1] ends serve()
    std::thread thread_;
};

// Sends `request` to the gateway at `path` and copies its answer to `out`; 0, or 1 with the
// reason on `err` when no gateway answers there.
int StatusAsk(const std::string &path, const char *request, FILE *out, FILE *err);

}  // namespace sipline
