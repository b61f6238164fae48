#include "service/status_request.h"

#include <gtest/gtest.h>

#include <string>

namespace sipline {
namespace {

TEST(StatusRequest, Table) {
    struct row {
        std::string text;
        int32_t kind;
    } rows[] = {
        {"status", STATUS_REQUEST_STATUS},
        {"status\n", STATUS_REQUEST_STATUS},
        {"status\r\n", STATUS_REQUEST_STATUS},
        {"  status  \n", STATUS_REQUEST_STATUS},
        {"calls\n", STATUS_REQUEST_CALLS},
        {"", STATUS_REQUEST_BAD},
        {"\n", STATUS_REQUEST_BAD},
        {"   \n", STATUS_REQUEST_BAD},
        {"STATUS\n", STATUS_REQUEST_BAD},
        {"status\ncalls\n", STATUS_REQUEST_BAD},
        {"statusx\n", STATUS_REQUEST_BAD},
        {std::string("status\0\n", 8), STATUS_REQUEST_BAD},
        {std::string(STATUS_REQUEST_MOST + 1, ' '), STATUS_REQUEST_BAD},
    };
    for (const row &r : rows) {
        EXPECT_EQ(StatusRequestParse(r.text.data(), r.text.size()), r.kind)
            << "\"" << r.text << "\"";
    }
    EXPECT_EQ(StatusRequestParse(nullptr, 0), STATUS_REQUEST_BAD);
}

}  // namespace
}  // namespace sipline
