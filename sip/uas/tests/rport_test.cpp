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

TEST(Rport, WhereTheFarEndSawTheGatewayIsReadFromItsAnswersVia) {
    struct row {
        const char *via;
        int found;
        const char *address;
        int port;
    };
    for (const row &r : {
             row{"SIP/2.0/UDP 192.168.1.5:5060;branch=z9hG4bK1;rport=40123;received=203.0.113.5", 1,
                 "203.0.113.5", 40123},
             row{"SIP/2.0/UDP 192.168.1.5:5060;RECEIVED = 203.0.113.5 ;rport", 1, "203.0.113.5", 0},
             row{"SIP/2.0/UDP 192.168.1.5;received=203.0.113.5;rport=65536", 1, "203.0.113.5", 0},
             row{"SIP/2.0/UDP 192.168.1.5;received=203.0.113.5;rport=99999999999999999999", 1,
                 "203.0.113.5", 0},
             row{"SIP/2.0/UDP 192.168.1.5;received=203.0.113.5;rport=12a", 1, "203.0.113.5", 0},
             row{"SIP/2.0/UDP 192.168.1.5;rport=40123", 0, "", 0},
             row{"SIP/2.0/UDP 192.168.1.5;received=gw.example.org;rport=40123", 0, "", 0},
             row{"SIP/2.0/UDP 192.168.1.5;received=2001:db8::1", 0, "", 0},
             row{"SIP/2.0/UDP 192.168.1.5;received=203.0.113.5.7", 0, "", 0},
             row{"SIP/2.0/UDP 192.168.1.5;received=", 0, "", 0},
             row{"", 0, "", 0},
         }) {
        sockaddr_in seen{};
        EXPECT_EQ(ViaReceivedAt(r.via, &seen), r.found) << r.via;
        if (r.found == 1) {
            char address[INET_ADDRSTRLEN] = "";
            inet_ntop(AF_INET, &seen.sin_addr, address, sizeof address);
            EXPECT_STREQ(address, r.address) << r.via;
            EXPECT_EQ(ntohs(seen.sin_port), r.port) << r.via;
        }
    }
    sockaddr_in untouched{};
    EXPECT_EQ(ViaReceivedAt(nullptr, &untouched), 0);
}

}  // namespace
}  // namespace sipline
