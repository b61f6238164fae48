// One received datagram, cut into messages and records as the listener does; the records are
// released instead of being run.
#include <netinet/in.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "sip/uas/request.h"
#include "sip/uas/transport.h"

namespace {

int release_starter(sipline::thread_t *, void *, void *(*)(void *), void *argument) {
    sipline::RequestFree(static_cast<sipline::request_t *>(argument));
    return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > sipline::UDP_BUFFER_SIZE) {
        return 0;
    }
    sipline::RequestSetThreadStarter(release_starter);
    std::vector<char> text(data, data + size);
    text.push_back('\0');
    sockaddr_in sender{};
    sipline::DatagramProcess(text.data(), static_cast<int32_t>(size), -1, &sender);
    return 0;
}
