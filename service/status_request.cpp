#include "service/status_request.h"

#include <string_view>

namespace sipline {

int32_t StatusRequestParse(const char *data, size_t length) {
    if (data == nullptr || length > STATUS_REQUEST_MOST) {
        return STATUS_REQUEST_BAD;
    }
    std::string_view line(data, length);
    const size_t end = line.find('\n');
    if (end != std::string_view::npos) {
        if (end + 1 != line.size()) {
            return STATUS_REQUEST_BAD;  // one request per connection
        }
        line.remove_suffix(1);
    }
    if (!line.empty() && line.back() == '\r') {
        line.remove_suffix(1);
    }
    const size_t first = line.find_first_not_of(' ');
    if (first == std::string_view::npos) {
        return STATUS_REQUEST_BAD;
    }
    line = line.substr(first, line.find_last_not_of(' ') - first + 1);
    if (line == "status") {
        return STATUS_REQUEST_STATUS;
    }
    if (line == "calls") {
        return STATUS_REQUEST_CALLS;
    }
    return STATUS_REQUEST_BAD;
}

}  // namespace sipline
