#include "sip/uas/rport.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace sipline {
namespace {

TEST(Rport, AskedForByTheParameterOnly) {
    EXPECT_EQ(ViaAsksRport("SIP/2.0/UDP 10.0.0.2:5060;branch=z9hG4bK1;rport"), 1);
    EXPECT_EQ(ViaAsksRport("SIP/2.0/UDP 10.0.0.2:5060;rport;branch=z9hG4bK1"), 1);
    EXPECT_EQ(ViaAsksRport("SIP/2.0/UDP 10.0.0.2:5060 ; RPORT=5070"), 1);
    EXPECT_EQ(ViaAsksRport("SIP/2.0/UDP 10.0.0.2:5060;branch=z9hG4bKrport"), 0);
    EXPECT_EQ(ViaAsksRport("SIP/2.0/UDP rport.example.net:5060;branch=z9hG4bK1"), 0);
    EXPECT_EQ(ViaAsksRport("SIP/2.0/UDP 10.0.0.2:5060;rports"), 0);
    EXPECT_EQ(ViaAsksRport(nullptr), 0);
}

TEST(Rport, TheAnswersViaNamesTheSource) {
    sockaddr_in source{};
    source.sin_family = AF_INET;
    source.sin_port = htons(40123);
    inet_pton(AF_INET, "203.0.113.5", &source.sin_addr);
    struct row {
        const char *via;
        const char *answered;
    };
    for (const row &r : {
             row{"SIP/2.0/UDP 10.0.0.2:5060;branch=z9hG4bK1;rport",
                 "SIP/2.0/UDP 10.0.0.2:5060;branch=z9hG4bK1;received=203.0.113.5;rport=40123"},
             row{"SIP/2.0/UDP 10.0.0.2;rport;branch=z9hG4bK1",
                 "SIP/2.0/UDP 10.0.0.2;branch=z9hG4bK1;received=203.0.113.5;rport=40123"},
             row{"SIP/2.0/UDP 10.0.0.2;received=1.1.1.1;rport=1;branch=x",
                 "SIP/2.0/UDP 10.0.0.2;branch=x;received=203.0.113.5;rport=40123"},
         }) {
        char *text = ViaWithReceived(r.via, &source);
        EXPECT_STREQ(text, r.answered) << r.via;
        std::free(text);
    }
}

}  // namespace
}  // namespace sipline
