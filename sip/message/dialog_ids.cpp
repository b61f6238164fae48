#include <limits>

#include "sip/message/fields.h"
#include "sip/message/text.h"

namespace sipline {

char *SIP_CallID(const parser_t *message) {
    if (message == nullptr) {
        return nullptr;
    }
    return RFC822_ElementValue(RFC822_FindEither(message->headers, "Call-ID", "i"), 0, nullptr);
}

sip_cseq_t SIP_CSeq(const parser_t *message) {
    sip_cseq_t cseq{};
    if (message == nullptr) {
        return cseq;
    }
    const char *value = RFC822_ElementValue(RFC822_Find(message->headers, "CSeq"), 0, nullptr);
    if (value == nullptr) {
        return cseq;
    }
    // Read as "%u %20s" would, with the number saturated rather than wrapped.
    const char *p = value;
    while (is_space(*p)) {
        ++p;
    }
    if (!is_digit(*p)) {
        return cseq;
    }
    uint64_t number = 0;
    for (; is_digit(*p); ++p) {
        number = std::min<uint64_t>(number * 10 + static_cast<uint64_t>(*p - '0'),
                                    std::numeric_limits<uint32_t>::max());
    }
    cseq.number = static_cast<uint32_t>(number);
    while (is_space(*p)) {
        ++p;
    }
    int length = 0;
    while (*p != '\0' && !is_space(*p) && length < CSEQ_METHOD_MAX) {
        cseq.method[length++] = *p++;
    }
    cseq.method[length] = '\0';
    return cseq;
}

}  // namespace sipline
