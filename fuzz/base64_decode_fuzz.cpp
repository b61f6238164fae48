// base64_decode over any text.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "support/dstring.h"

using namespace sipline;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string text(reinterpret_cast<const char *>(data), size);
    std::free(base64_decode(text.c_str()));
    return 0;
}
