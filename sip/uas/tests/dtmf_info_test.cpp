#include "sip/uas/dtmf_info.h"

#include <gtest/gtest.h>

namespace sipline {
namespace {

struct info_case {
    const char *name;
    const char *type;
    const char *body;
    int status;
    char key;
    int32_t duration_ms;
};

const info_case kInfoCases[] = {
    {"dtmf-relay", "application/dtmf-relay", "Signal=5\r\nDuration=160\r\n", 200, '5', 160},
    {"dtmf-relay with spaces and star", "application/dtmf-relay", "Signal= *\r\nDuration= 250\r\n",
     200, '*', 250},
    {"dtmf-relay with event number for #", "Application/DTMF-Relay", "Signal=11\nDuration=100", 200,
     '#', 100},
    {"dtmf-relay without duration", "application/dtmf-relay", "Signal=A\r\n", 200, 'A', 250},
    {"zero duration is the shortest", "application/dtmf-relay", "Signal=1\r\nDuration=0\r\n", 200,
     '1', 40},
    {"enormous duration is held to the longest", "application/dtmf-relay",
     "Signal=1\r\nDuration=99999999999999999\r\n", 200, '1', 5000},
    {"a duration beyond any number is the default", "application/dtmf-relay",
     "Signal=1\r\nDuration=999999999999999999999999\r\n", 200, '1', 250},
    {"long duration is held", "application/dtmf-relay", "Signal=1\r\nDuration=60000\r\n", 200, '1',
     5000},
    {"dtmf alone", "application/dtmf", "7", 200, '7', 250},
    {"dtmf with parameters in the type", "application/dtmf; charset=x", " d \r\n", 200, 'D', 250},
    {"empty INFO is a keep-alive", nullptr, nullptr, 200, 0, 250},
    {"garbage signal", "application/dtmf-relay", "Signal=xyz\r\n", 400, 0, 250},
    {"event out of the keys", "application/dtmf-relay", "Signal=16\r\n", 400, 0, 250},
    {"no signal line", "application/dtmf-relay", "Duration=100\r\n", 400, 0, 250},
    {"dtmf garbage", "application/dtmf", "55", 400, 0, 250},
    {"another type", "application/json", "{}", 415, 0, 250},
    {"no type", nullptr, "Signal=5", 415, 0, 250},
};

TEST(DtmfInfo, ReadsTheKeyOrRefuses) {
    for (const info_case &c : kInfoCases) {
        char key = 'x';
        int32_t ms = -1;
        EXPECT_EQ(DtmfInfoRead(c.type, c.body, &key, &ms), c.status) << c.name;
        EXPECT_EQ(key, c.key) << c.name;
        EXPECT_EQ(ms, c.duration_ms) << c.name;
    }
}

}  // namespace
}  // namespace sipline
