// URI_Parse over any bytes, then printing, copying and comparing the result.
#include <cstdint>
#include <string>

#include "sip/message/uri.h"
#include "support/dstring.h"

using namespace sipline;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string text(reinterpret_cast<const char *>(data), size);
    uri_t uri = URI_Parse(text.c_str());
    uri_t copy = URI_Duplicate(&uri);
    if (URI_Compare(&uri, &copy) != 1) {
        __builtin_trap();
    }
    dstring_t ds;
    dstring_init(&ds);
    URI_Print(&copy, &ds, 0);
    dstring_free(&ds);
    URI_Free(&copy);
    URI_Free(&uri);
    return 0;
}
