// The status socket's request line: any bytes a local client sends.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "service/status_request.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const int32_t kind = sipline::StatusRequestParse(reinterpret_cast<const char *>(data), size);
    if (kind != sipline::STATUS_REQUEST_BAD && kind != sipline::STATUS_REQUEST_STATUS &&
        kind != sipline::STATUS_REQUEST_CALLS) {
        std::abort();
    }
    return 0;
}
