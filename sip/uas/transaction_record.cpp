#include "sip/uas/transaction_record.h"

#include <cstdlib>
#include <cstring>
#include <string>

namespace sipline {
namespace {

std::string own_branch(request_t *r) {
    header_t *line = nullptr;
    const char *value = headers_get(&r->headers, "Via", 1, &line);
    std::string via = value != nullptr ? value : "";
    size_t at = via.find(";branch=");
    if (at == std::string::npos) {
        return "";
    }
    at += std::strlen(";branch=");
    return via.substr(at, via.find(';', at) - at);
}

}  // namespace

request_t *TransactionRecordCreate(request_t *r) {
    request_t *t = RequestCreate(r->transport, r->socket, nullptr);
    t->via.address = r->via.address;
    t->call_id = r->call_id != nullptr ? strdup(r->call_id) : nullptr;
    t->cseq = r->cseq;
    t->branches = new sip_branch_t[1]{};
    t->branch_count = 1;
    t->branches[0].text = strdup(own_branch(r).c_str());
    cond_init(&t->branches[0].cond);
    RequestRegister(t);
    return t;
}

}  // namespace sipline
