// What a reload takes at once and what waits for a restart.
#include "gateway/reload.h"

#include <gtest/gtest.h>

namespace sipline {
namespace {

TEST(ReloadRestartSections, NameTheSectionsThatOnlyARestartTakes) {
    struct Case {
        const char *what;
        void (*change)(gateway_settings_t &);
        const char *sections;
    };
    const Case cases[] = {
        {"nothing", [](gateway_settings_t &) {}, ""},
        {"security and directory",
         [](gateway_settings_t &s) {
             s.security.users.push_back({"bob", "builder", ""});
             s.security.dial_deny = {"09.*"};
             s.directory.push_back({"200", "sip:200@192.0.2.1", 0});
             s.log.access_log = "/var/log/sipline/access.log";
         },
         ""},
        {"SIP port", [](gateway_settings_t &s) { s.sip.port = 5070; }, "[sip]"},
        {"listen address", [](gateway_settings_t &s) { s.sip.listen = "192.0.2.1"; }, "[sip]"},
        {"external address",
         [](gateway_settings_t &s) { s.sip.external_address = "gw.example.org"; }, "[sip]"},
        {"codecs", [](gateway_settings_t &s) { s.rtp.codecs = {"PCMA"}; }, "[rtp]"},
        {"RTP port and board",
         [](gateway_settings_t &s) {
             s.rtp.port = 12000;
             s.board.record_channel = 2;
         },
         "[rtp], [board]"},
        {"outbound password", [](gateway_settings_t &s) { s.outbound.password = "x"; },
         "[outbound]"},
        {"metrics and status listeners",
         [](gateway_settings_t &s) {
             s.metrics.listen = "127.0.0.1:9100";
             s.service.socket = "/tmp/s.sock";
         },
         "[metrics], [service]"},
        {"call records", [](gateway_settings_t &s) { s.log.cdr = "/var/log/sipline/cdr.csv"; },
         ""},
    };
    for (const Case &c : cases) {
        gateway_settings_t running;
        gateway_settings_t next;
        c.change(next);
        EXPECT_EQ(ReloadRestartSections(running, next), c.sections) << c.what;
    }
}

TEST(ReloadRequest, IsRefusedBeforeStartUpAndWithoutAFile) {
    char text[256] = "";
    FILE *err = fmemopen(text, sizeof text, "w");
    ASSERT_NE(err, nullptr);
    EXPECT_EQ(ReloadRequest(err), -1);
    std::fclose(err);
    EXPECT_STREQ(text, "sipline: reload refused: still starting\n");
}

}  // namespace
}  // namespace sipline
