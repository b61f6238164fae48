// Caller-ID messages as a damaged line may deliver them, read as an FSK message (with and
// without its checksum) and as a DTMF string. What is accepted must hold only what a SIP header
// and a log line can carry: digits for the number, printable ASCII for the name.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "dsp/caller_id.h"

namespace {

void check(const sipline::dsp::CallerId &id) {
    if (id.number.size() > sipline::dsp::CALLER_ID_NUMBER_MAX ||
        id.name.size() > sipline::dsp::CALLER_ID_NAME_MAX) {
        std::abort();
    }
    for (char c : id.number) {
        if (c < '0' || c > '9') {
            std::abort();
        }
    }
    for (char c : id.name) {
        if (c < 0x20 || c > 0x7e || c == 0) {
            std::abort();
        }
    }
    if (id.number.empty() && id.number_absence == sipline::dsp::CallerIdAbsence::none) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    sipline::dsp::CallerId id;
    if (sipline::dsp::caller_id_read(data, size, &id) == sipline::dsp::CALLER_ID_OK) {
        check(id);
    }
    sipline::dsp::CallerId checked;
    if (sipline::dsp::caller_id_read_checked(data, size, &checked) == sipline::dsp::CALLER_ID_OK) {
        check(checked);
    }
    sipline::dsp::CallerId dtmf;
    if (sipline::dsp::caller_id_read_dtmf(
            std::string_view(reinterpret_cast<const char *>(data), size), &dtmf) ==
        sipline::dsp::CALLER_ID_OK) {
        check(dtmf);
    }
    return 0;
}
